#include "cli/Usage.h"

#include <cstdlib>

#include "driver/IpText.h"
#include "driver/platform/Platform.h"

namespace pesolink::cli {

namespace {

struct CommandInfo {
    const char* name;
    const char* synopsis;
    std::vector<std::string> options;  // named options besides --json and --help
    const char* help;
};

const std::vector<CommandInfo>& Commands() {
    static const std::vector<CommandInfo> commands = {
        {"weight", "weight TARGET [--watch [--interval MS]] [--json]", {"--watch", "--interval"},
         "Reads the weight once: the value as the scale reports it, its division code and the marks\n"
         "stable (or unstable), net and zero, each shown when the scale's byte for it is not 0.\n"
         "  --watch          read again and again, rewriting one line, until Ctrl+C\n"
         "  --interval MS    pause between two readings of --watch, 0 to 86400000 (default 1000)\n"},
        {"tare", "tare TARGET [VALUE] [--json]", {},
         "Without VALUE reads the scale's tare; with VALUE (0 to 2147483647) sets it.\n"},
        {"zero", "zero TARGET [--json]", {}, "Sets the scale to zero.\n"},
        {"info", "info TARGET [--json]", {},
         "Shows the serial number, the name, the line setting the scale answered at (serial\n"
         "targets), the Ethernet and Wi-Fi settings and the access point's address, network name\n"
         "and key. A scale without Ethernet or Wi-Fi shows that section as not available.\n"},
        {"set-name", "set-name TARGET --name TEXT [--json]", {"--name"},
         "Sets the scale's name (at most 25 characters; an empty text clears it).\n"},
        {"set-ethernet", "set-ethernet TARGET [--ip A] [--mask M] [--gateway G] [--port N] [--json]",
         {"--ip", "--mask", "--gateway", "--port"},
         "Reads the Ethernet settings, changes those given and writes all four back.\n"
         "Addresses are dotted a.b.c.d (groups 0 to 255, the first group 1 to 255); port 0 to 65535.\n"},
        {"set-wifi",
         "set-wifi TARGET [--ssid TEXT] [--key TEXT] [--ip A] [--mask M] [--gateway G] [--port N] [--json]",
         {"--ssid", "--key", "--ip", "--mask", "--gateway", "--port"},
         "Reads the Wi-Fi station settings, changes those given and writes them back; the access\n"
         "point's address stays as the scale has it. Network name at most 32 characters, key at\n"
         "most 64; addresses and port as for set-ethernet.\n"},
        {"set-ap", "set-ap TARGET --ip A [--json]", {"--ip"},
         "Sets the address of the scale's own Wi-Fi access point; the station settings stay.\n"},
    };
    return commands;
}

const CommandInfo* FindCommand(const std::string& name) {
    for (const CommandInfo& c : Commands())
        if (name == c.name) return &c;
    return nullptr;
}

const std::string TargetKinds =
    "a serial port (COM3), the scale's TCP endpoint (192.168.1.10:5001)"
#ifndef _WIN32
    " or a serial device path (/dev/ttyUSB0)"
#endif
    ;
const std::string TargetHelp =
    "TARGET is a serial port (COM3) or the scale's TCP endpoint (192.168.1.10:5001)"
#ifndef _WIN32
    ",\nor a serial device path (/dev/ttyUSB0)"
#endif
    ".\n";

const char* StatusHelp =
    "Exit status: the driver's result code (0 success; 1 no usable connection, 2 no valid\n"
    "reply, 4 interface not available, 5 refused, 7 unrecognised response, others the scale's\n"
    "own codes), 64 a malformed command line (nothing was sent), 70 a failure the driver raised.\n"
    "--json prints one JSON object per reading or command on standard output.\n";

std::string CommandHelp(const CommandInfo& c) {
    return std::string("usage: pesolink ") + c.synopsis + "\n\n" + c.help + "\n" + TargetHelp + StatusHelp;
}

std::optional<long long> Number(const std::string& s, long long lo, long long hi) {
    if (s.empty() || s.size() > 12) return std::nullopt;
    for (char c : s)
        if (c < '0' || c > '9') return std::nullopt;
    const long long v = std::strtoll(s.c_str(), nullptr, 10);
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

std::string Address(const std::string& option, const std::string& value) {
    if (CheckIpStr(platform::FromUtf8(value)) != 0)
        throw UsageError(option + " " + value +
                         ": not an address a.b.c.d (four groups 0 to 255, the first 1 to 255)");
    return value;
}

std::string Text(const std::string& option, const std::string& value, std::size_t most) {
    if (TextLength(value) > most)
        throw UsageError(option + ": at most " + std::to_string(most) + " characters");
    for (const char c : value)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            throw UsageError(option + ": control characters cannot be sent");
    return value;
}

template <typename T>
void SetOnce(std::optional<T>& field, const std::string& option, T value) {
    if (field) throw UsageError(option + " given twice");
    field = std::move(value);
}

}  // namespace

std::size_t TextLength(const std::string& utf8) { return platform::FromUtf8(utf8).size(); }

std::string ToolHelp() {
    std::string text = "usage: pesolink COMMAND TARGET [ARGUMENTS] [--json]\n"
                       "       pesolink COMMAND --help\n\n"
                       "Reads and sets a scale through the OstrelPesolink driver.\n\ncommands:\n";
    for (const CommandInfo& c : Commands()) text += std::string("  ") + c.synopsis + "\n";
    return text + "\n" + TargetHelp + StatusHelp;
}

Invocation ParseArguments(const std::vector<std::string>& args) {
    Invocation inv;
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::optional<std::string>>> options;
    bool help = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            help = true;
        } else if (a.rfind("--", 0) == 0) {
            const auto eq = a.find('=');
            if (eq != std::string::npos) options.emplace_back(a.substr(0, eq), a.substr(eq + 1));
            else options.emplace_back(a, std::nullopt);
            // A value may also follow as the next argument; taken below.
            if (eq == std::string::npos && a != "--json" && a != "--watch" && i + 1 < args.size() &&
                args[i + 1].rfind("--", 0) != 0)
                options.back().second = args[++i];
        } else {
            positional.push_back(a);
        }
    }
    if (!positional.empty() && positional[0] == "help") {
        help = true;
        positional.erase(positional.begin());
    }

    const CommandInfo* command = positional.empty() ? nullptr : FindCommand(positional[0]);
    if (!positional.empty() && command == nullptr) throw UsageError("unknown command \"" + positional[0] + "\"");
    if (help) {
        inv.help = command ? CommandHelp(*command) : ToolHelp();
        return inv;
    }
    if (command == nullptr) throw UsageError("no command given");
    inv.command = command->name;

    for (const auto& [option, value] : options) {
        if (option == "--json") {
            if (value) throw UsageError("--json takes no value");
            inv.json = true;
            continue;
        }
        bool known = false;
        for (const std::string& o : command->options) known = known || o == option;
        if (!known) throw UsageError(option + " is not an option of " + inv.command);
        if (option == "--watch") {
            if (value) throw UsageError("--watch takes no value");
            inv.watch = true;
            continue;
        }
        if (!value) throw UsageError(option + " needs a value");
        const std::string& v = *value;
        if (option == "--interval") {
            const auto ms = Number(v, 0, 86400000);
            if (!ms) throw UsageError("--interval " + v + ": milliseconds from 0 to 86400000");
            inv.intervalMs = static_cast<uint32_t>(*ms);
        } else if (option == "--port") {
            const auto port = Number(v, 0, 65535);
            if (!port) throw UsageError("--port " + v + ": a port from 0 to 65535");
            SetOnce(inv.port, option, static_cast<int32_t>(*port));
        } else if (option == "--name") {
            SetOnce(inv.name, option, Text(option, v, 25));
        } else if (option == "--ssid") {
            SetOnce(inv.ssid, option, Text(option, v, 32));
        } else if (option == "--key") {
            SetOnce(inv.key, option, Text(option, v, 64));
        } else if (option == "--ip") {
            SetOnce(inv.ip, option, Address(option, v));
        } else if (option == "--mask") {
            SetOnce(inv.mask, option, Address(option, v));
        } else if (option == "--gateway") {
            SetOnce(inv.gateway, option, Address(option, v));
        }
    }
    bool intervalGiven = false;
    for (const auto& o : options) intervalGiven = intervalGiven || o.first == "--interval";
    if (intervalGiven && !inv.watch) throw UsageError("--interval goes with --watch");

    if (positional.size() < 2) throw UsageError(inv.command + ": no TARGET given");
    const auto target = ParseTarget(positional[1]);
    if (!target)
        throw UsageError("\"" + positional[1] + "\" is not a TARGET: expected " + TargetKinds);
    inv.target = *target;

    const std::size_t most = inv.command == "tare" ? 3 : 2;
    if (positional.size() > most) throw UsageError(inv.command + ": unexpected argument \"" + positional[most] + "\"");
    if (positional.size() == 3) {
        const auto tare = Number(positional[2], 0, 2147483647);
        if (!tare) throw UsageError("tare " + positional[2] + ": a tare from 0 to 2147483647");
        inv.tare = static_cast<int32_t>(*tare);
    }

    if (inv.command == "set-name" && !inv.name) throw UsageError("set-name needs --name");
    if (inv.command == "set-ap" && !inv.ip) throw UsageError("set-ap needs --ip");
    if (inv.command == "set-ethernet" && !inv.ip && !inv.mask && !inv.gateway && !inv.port)
        throw UsageError("set-ethernet needs at least one of --ip, --mask, --gateway, --port");
    if (inv.command == "set-wifi" && !inv.ssid && !inv.key && !inv.ip && !inv.mask && !inv.gateway && !inv.port)
        throw UsageError("set-wifi needs at least one of --ssid, --key, --ip, --mask, --gateway, --port");
    return inv;
}

}  // namespace pesolink::cli
