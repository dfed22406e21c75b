// One-line explanations of the driver's result codes and of the tool's own
// exit statuses, for standard error and the "message" of JSON output.
#pragma once

#include <cstdint>
#include <string>

namespace pesolink::cli {

constexpr int ExitUsage = 64;   // malformed command line: nothing was sent
constexpr int ExitRaised = 70;  // the driver raised a failure (its text follows)

std::string ResultText(int32_t result);

// "none", "even", "space", ... for a parity code.
std::string ParityText(int32_t parity);

}  // namespace pesolink::cli
