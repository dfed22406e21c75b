// The command line of pesolink: commands, targets and named options, their
// checks (made before anything is sent) and the help texts.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/Target.h"

namespace pesolink::cli {

// A malformed command line; the message says what is wrong.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Invocation {
    std::string command;       // weight, tare, zero, info, set-name, set-ethernet, set-wifi, set-ap
    std::string help;          // set instead of the rest when --help was asked for
    Target target;
    bool json = false;
    bool watch = false;
    uint32_t intervalMs = 1000;
    std::optional<int32_t> tare;  // tare TARGET VALUE
    // Named options of the set commands, UTF-8 as given.
    std::optional<std::string> name, ssid, key, ip, mask, gateway;
    std::optional<int32_t> port;
};

// Arguments after the program name, UTF-8. Throws UsageError.
Invocation ParseArguments(const std::vector<std::string>& args);

std::string ToolHelp();

// Characters of a text, as the driver counts them (UTF-16 code units).
std::size_t TextLength(const std::string& utf8);

}  // namespace pesolink::cli
