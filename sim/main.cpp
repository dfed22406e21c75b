// pesolink-sim: a simulated scale on 127.0.0.1 and/or a pseudo-terminal,
// steered by commands on standard input.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "sim/SimScale.h"
#include "sim/SimServer.h"

using namespace pesolink::sim;

namespace {

std::mutex outMu;

void Say(const std::string& line) {
    std::lock_guard<std::mutex> lock(outMu);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::string Hex(const std::vector<uint8_t>& v) {
    std::string s;
    char b[4];
    for (size_t i = 0; i < v.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", v[i]);
        s += b;
    }
    return s;
}

std::optional<long long> Number(const std::string& s, long long lo, long long hi) {
    if (s.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (errno || *end || v < lo || v > hi) return std::nullopt;
    return v;
}

std::optional<uint32_t> Address(const std::string& s) {
    unsigned a, b, c, d;
    char extra;
    if (std::sscanf(s.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &extra) != 4 || a > 255 || b > 255 || c > 255 ||
        d > 255)
        return std::nullopt;
    return a << 24 | b << 16 | c << 8 | d;
}

std::string AddressText(uint32_t v) {
    return std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 0xFF) + "." + std::to_string(v >> 8 & 0xFF) + "." +
           std::to_string(v & 0xFF);
}

std::string MacText(const std::array<uint8_t, 6>& m) {
    char b[24];
    std::snprintf(b, sizeof b, "%02X:%02X:%02X:%02X:%02X:%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    return b;
}

std::optional<std::array<uint8_t, 6>> Mac(const std::string& s) {
    unsigned v[6];
    char extra;
    if (std::sscanf(s.c_str(), "%x:%x:%x:%x:%x:%x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &extra) != 6)
        return std::nullopt;
    std::array<uint8_t, 6> m{};
    for (int i = 0; i < 6; ++i) {
        if (v[i] > 255) return std::nullopt;
        m[static_cast<size_t>(i)] = static_cast<uint8_t>(v[i]);
    }
    return m;
}

std::optional<std::vector<uint8_t>> HexBytes(const std::string& s) {
    std::string digits;
    for (char c : s)
        if (c != ' ' && c != ':' && c != ',') digits += c;
    if (digits.size() % 2) return std::nullopt;
    std::vector<uint8_t> out;
    for (size_t i = 0; i < digits.size(); i += 2) {
        auto v = Number("0x" + digits.substr(i, 2), 0, 255);
        if (!v) return std::nullopt;
        out.push_back(static_cast<uint8_t>(*v));
    }
    return out;
}

void PrintState(const ScaleState& s) {
    std::ostringstream o;
    o << "weight " << s.weight << " division " << int(s.division) << " stable " << int(s.stable) << " net "
      << int(s.net) << " zero " << int(s.zero) << " tare " << s.tare << " zeroSet " << s.zeroSet << "\n"
      << "serial " << s.serial << " name \"" << s.name << "\" interfaces 0x" << std::hex << int(s.interfaces)
      << std::dec << "\n"
      << "ethernet " << AddressText(s.ethIp) << " " << AddressText(s.ethMask) << " " << AddressText(s.ethGateway)
      << " port " << s.ethPort << " mac " << MacText(s.ethMac) << "\n"
      << "wifi ssid \"" << s.ssid << "\" key \"" << s.key << "\" " << AddressText(s.wifiIp) << " "
      << AddressText(s.wifiMask) << " " << AddressText(s.wifiGateway) << " ap " << AddressText(s.apIp) << " port "
      << s.wifiPort << " mac " << MacText(s.wifiMac) << "\n"
      << "refuseTare " << s.refuseTare << " refuseZero " << s.refuseZero << " refuseName " << s.refuseName
      << " ethernetError " << s.ethernetError << " wifiError " << s.wifiError << " ignoreBadChecksum "
      << s.ignoreBadChecksum;
    Say(o.str());
}

const char* HelpText =
    "commands:\n"
    "  weight N | tare N | name TEXT\n"
    "  set FIELD VALUE   fields: weight division stable net zero tare serial name interfaces\n"
    "                    ethIp ethMask ethGateway ethPort ssid key wifiIp wifiMask wifiGateway apIp wifiPort\n"
    "                    ethMac wifiMac refuseTare refuseZero refuseName ethernetError wifiError\n"
    "                    ignoreBadChecksum\n"
    "  fault KIND [cmd=C] [count=N] [delay=MS] [pieces=A,B,..] [surplus=N] [code=E] [short=N] [raw=HEX]\n"
    "             [after-weight=N]  (the weight shown once the faulted reply is built)\n"
    "        KIND: silence delay split surplus error refuse short badchecksum badheader drop raw\n"
    "  clear             remove every fault\n"
    "  line BAUD,PARITY  serial line setting to answer at (parity 0 none 1 odd 2 even 3 mark 4 space)\n"
    "  drop              close every TCP connection\n"
    "  single on|off     TCP: accept a connection only while no other one is open\n"
    "  requests          list the request frames received;  forget: clear that list\n"
    "  state | help | quit";

bool SetField(ScaleState& s, const std::string& field, const std::string& value) {
    auto num = [&](long long lo, long long hi) { return Number(value, lo, hi); };
    auto byteField = [&](uint8_t& f) {
        if (auto v = num(0, 255)) return f = static_cast<uint8_t>(*v), true;
        return false;
    };
    auto flag = [&](bool& f) {
        if (value == "on" || value == "1") return f = true, true;
        if (value == "off" || value == "0") return f = false, true;
        return false;
    };
    auto addr = [&](uint32_t& f) {
        if (auto v = Address(value)) return f = *v, true;
        return false;
    };
    auto port = [&](uint16_t& f) {
        if (auto v = num(0, 65535)) return f = static_cast<uint16_t>(*v), true;
        return false;
    };
    auto mac = [&](std::array<uint8_t, 6>& f) {
        if (auto v = Mac(value)) return f = *v, true;
        return false;
    };
    if (field == "weight" || field == "tare") {
        auto v = num(INT32_MIN, INT32_MAX);
        if (!v) return false;
        (field == "weight" ? s.weight : s.tare) = static_cast<int32_t>(*v);
        return true;
    }
    if (field == "serial") {
        auto v = num(0, UINT32_MAX);
        if (!v) return false;
        s.serial = static_cast<uint32_t>(*v);
        return true;
    }
    if (field == "name") return s.name = value, true;
    if (field == "ssid") return s.ssid = value, true;
    if (field == "key") return s.key = value, true;
    if (field == "division") return byteField(s.division);
    if (field == "stable") return byteField(s.stable);
    if (field == "net") return byteField(s.net);
    if (field == "zero") return byteField(s.zero);
    if (field == "interfaces") return byteField(s.interfaces);
    if (field == "ethIp") return addr(s.ethIp);
    if (field == "ethMask") return addr(s.ethMask);
    if (field == "ethGateway") return addr(s.ethGateway);
    if (field == "wifiIp") return addr(s.wifiIp);
    if (field == "wifiMask") return addr(s.wifiMask);
    if (field == "wifiGateway") return addr(s.wifiGateway);
    if (field == "apIp") return addr(s.apIp);
    if (field == "ethPort") return port(s.ethPort);
    if (field == "wifiPort") return port(s.wifiPort);
    if (field == "ethMac") return mac(s.ethMac);
    if (field == "wifiMac") return mac(s.wifiMac);
    if (field == "refuseTare") return flag(s.refuseTare);
    if (field == "refuseZero") return flag(s.refuseZero);
    if (field == "refuseName") return flag(s.refuseName);
    if (field == "ethernetError") return flag(s.ethernetError);
    if (field == "wifiError") return flag(s.wifiError);
    if (field == "ignoreBadChecksum") return flag(s.ignoreBadChecksum);
    return false;
}

std::optional<Fault> ParseFault(std::istringstream& in, std::string& error) {
    static const std::pair<const char*, FaultKind> kinds[] = {
        {"silence", FaultKind::Silence}, {"delay", FaultKind::Delay},       {"split", FaultKind::Split},
        {"surplus", FaultKind::Surplus}, {"error", FaultKind::ErrorReply},  {"refuse", FaultKind::Refuse},
        {"short", FaultKind::Short},     {"badchecksum", FaultKind::BadChecksum},
        {"badheader", FaultKind::BadHeader}, {"drop", FaultKind::Drop},     {"raw", FaultKind::Raw}};
    std::string kind;
    in >> kind;
    Fault f{FaultKind::Silence};
    bool known = false;
    for (const auto& [name, k] : kinds)
        if (kind == name) f.kind = k, known = true;
    if (!known) {
        error = "unknown fault kind '" + kind + "'";
        return std::nullopt;
    }
    std::string opt;
    while (in >> opt) {
        const auto eq = opt.find('=');
        const std::string key = opt.substr(0, eq), value = eq == std::string::npos ? "" : opt.substr(eq + 1);
        std::optional<long long> v;
        if (key == "cmd" && (v = Number(value, -1, 255))) f.command = static_cast<int>(*v);
        else if (key == "count" && (v = Number(value, -1, 1000000))) f.count = static_cast<int>(*v);
        else if (key == "delay" && (v = Number(value, 0, 3600000))) f.delayMs = static_cast<int>(*v);
        else if (key == "surplus" && (v = Number(value, 0, 65536))) f.surplus = static_cast<int>(*v);
        else if (key == "code" && (v = Number(value, 0, 255))) f.errorCode = static_cast<uint8_t>(*v);
        else if (key == "short" && (v = Number(value, 0, 65536))) f.shortBy = static_cast<int>(*v);
        else if (key == "raw" && HexBytes(value)) f.raw = *HexBytes(value);
        else if (key == "after-weight" && (v = Number(value, INT32_MIN, INT32_MAX))) f.weightAfter = static_cast<int32_t>(*v);
        else if (key == "pieces") {
            std::istringstream ps(value);
            std::string piece;
            while (std::getline(ps, piece, ',')) {
                auto n = Number(piece, 0, 65536);
                if (!n) {
                    error = "bad piece size '" + piece + "'";
                    return std::nullopt;
                }
                f.pieces.push_back(static_cast<int>(*n));
            }
        } else {
            error = "bad fault option '" + opt + "'";
            return std::nullopt;
        }
    }
    return f;
}

bool ParseLine(const std::string& s, uint32_t& baud, int& parity) {
    const auto comma = s.find(',');
    auto b = Number(s.substr(0, comma), 0, 4000000);
    auto p = comma == std::string::npos ? std::optional<long long>(0) : Number(s.substr(comma + 1), 0, 4);
    if (!b || !p) return false;
    baud = static_cast<uint32_t>(*b);
    parity = static_cast<int>(*p);
    return true;
}

// Runs one command line; false when the program should end.
bool Command(const std::string& line, SimScale& scale, SimServer& server) {
    std::istringstream in(line);
    std::string cmd;
    if (!(in >> cmd)) return true;
    std::string rest;
    std::getline(in >> std::ws, rest);
    if (cmd == "quit" || cmd == "exit") return false;
    if (cmd == "help") {
        Say(HelpText);
    } else if (cmd == "state") {
        PrintState(scale.State());
    } else if (cmd == "weight" || cmd == "tare" || cmd == "name") {
        bool ok = true;
        scale.Update([&](ScaleState& s) { ok = SetField(s, cmd, rest); });
        Say(ok ? "ok" : "error: bad value '" + rest + "'");
    } else if (cmd == "set") {
        std::istringstream rs(rest);
        std::string field, value;
        rs >> field;
        std::getline(rs >> std::ws, value);
        bool ok = true;
        scale.Update([&](ScaleState& s) { ok = SetField(s, field, value); });
        Say(ok ? "ok" : "error: bad field or value '" + rest + "'");
    } else if (cmd == "fault") {
        std::istringstream fs(rest);
        std::string error;
        if (auto f = ParseFault(fs, error)) {
            scale.AddFault(*f);
            Say("ok");
        } else {
            Say("error: " + error);
        }
    } else if (cmd == "clear") {
        scale.ClearFaults();
        Say("ok");
    } else if (cmd == "line") {
        uint32_t baud;
        int parity;
        if (ParseLine(rest, baud, parity)) {
            server.SetLineSetting(baud, parity);
            Say("ok");
        } else {
            Say("error: expected BAUD,PARITY");
        }
    } else if (cmd == "drop") {
        server.DropTcpClients();
        Say("ok");
    } else if (cmd == "single") {
        if (rest == "on" || rest == "off") {
            server.SetSingleConnection(rest == "on");
            Say("ok");
        } else {
            Say("error: expected on or off");
        }
    } else if (cmd == "requests") {
        for (const auto& r : scale.Requests()) Say(Hex(r));
        Say("ok");
    } else if (cmd == "forget") {
        scale.ClearRequests();
        Say("ok");
    } else {
        Say("error: unknown command '" + cmd + "' (try help)");
    }
    return true;
}

void Usage() {
    std::fputs(
        "usage: pesolink-sim [--tcp PORT] [--pty LINKPATH] [--line BAUD,PARITY] [--pace] [--quiet]\n"
        "                    [--ready-file PATH] [--exit-on-eof]\n"
        "  --tcp PORT         listen on 127.0.0.1:PORT (0 = any free port)\n"
        "  --pty LINKPATH     open a raw pseudo-terminal and link LINKPATH to it ('-' = no link)\n"
        "  --line BAUD,PARITY answer the pty only at this setting (default 4800,2; 0 = any)\n"
        "  --pace             the pty takes each byte's line time, as a real line would\n"
        "  --quiet            do not print the requests\n"
        "  --ready-file PATH  once listening, write the port and/or pty path there, one a line\n"
        "  --exit-on-eof      end at the end of standard input even when it is not a terminal\n"
        "Without --tcp and --pty it listens on a free TCP port. It ends on SIGTERM, SIGINT, the\n"
        "command quit, or the end of a terminal's input.\n",
        stderr);
}

}  // namespace

int main(int argc, char** argv) {
    std::optional<uint16_t> tcpPort;
    std::optional<std::string> ptyLink;
    std::string readyFile;
    uint32_t baud = 4800;
    int parity = 2;
    bool quiet = false, exitOnEof = false, pace = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::optional<std::string> {
            if (i + 1 >= argc) return std::nullopt;
            return std::string(argv[++i]);
        };
        std::optional<std::string> v;
        if (a == "--tcp" && (v = next())) {
            auto p = Number(*v, 0, 65535);
            if (!p) return Usage(), 2;
            tcpPort = static_cast<uint16_t>(*p);
        } else if (a == "--pty" && (v = next())) {
            ptyLink = *v == "-" ? std::string() : *v;
        } else if (a == "--line" && (v = next())) {
            if (!ParseLine(*v, baud, parity)) return Usage(), 2;
        } else if (a == "--ready-file" && (v = next())) {
            readyFile = *v;
        } else if (a == "--pace") {
            pace = true;
        } else if (a == "--quiet") {
            quiet = true;
        } else if (a == "--exit-on-eof") {
            exitOnEof = true;
        } else {
            Usage();
            return a == "--help" || a == "-h" ? 0 : 2;
        }
    }
    if (!tcpPort && !ptyLink) tcpPort = 0;

    // Signals are taken through a descriptor; the server threads inherit the mask.
    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGINT);
    sigaddset(&sigs, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &sigs, nullptr);
    signal(SIGPIPE, SIG_IGN);
    const int sigFd = signalfd(-1, &sigs, SFD_CLOEXEC);

    SimScale scale;
    if (!quiet) scale.SetRequestObserver([](const std::vector<uint8_t>& f) { Say("request " + Hex(f)); });
    SimServer server(scale);
    server.SetLineSetting(baud, parity);
    server.SetLinePacing(pace);
    std::string ready;
    try {
        if (tcpPort) {
            const uint16_t port = server.ListenTcp(*tcpPort);
            Say("tcp 127.0.0.1:" + std::to_string(port));
            ready += std::to_string(port) + "\n";
        }
        if (ptyLink) {
            const std::string path = server.OpenPty(*ptyLink);
            Say("pty " + path);
            ready += path + "\n";
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pesolink-sim: %s\n", e.what());
        return 1;
    }
    if (!readyFile.empty()) {
        // Written whole, then renamed, so a waiting script never sees half of it.
        const std::string tmp = readyFile + ".tmp";
        FILE* f = std::fopen(tmp.c_str(), "w");
        if (!f || std::fputs(ready.c_str(), f) < 0 || std::fclose(f) != 0 ||
            std::rename(tmp.c_str(), readyFile.c_str()) != 0) {
            std::fprintf(stderr, "pesolink-sim: cannot write %s: %s\n", readyFile.c_str(), std::strerror(errno));
            return 1;
        }
    }

    const bool stopAtEof = exitOnEof || isatty(STDIN_FILENO);
    bool stdinOpen = true;
    std::string pending;
    for (bool running = true; running;) {
        pollfd p[2] = {{sigFd, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[0].revents) break;
        if (!p[1].revents) continue;
        char buf[4096];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (!pending.empty()) running = Command(pending, scale, server);
            pending.clear();
            stdinOpen = false;
            if (stopAtEof) break;
            continue;
        }
        pending.append(buf, static_cast<size_t>(n));
        for (size_t nl; running && (nl = pending.find('\n')) != std::string::npos;) {
            std::string line = pending.substr(0, nl);
            pending.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            running = Command(line, scale, server);
        }
    }
    server.Stop();
    scale.SetRequestObserver(nullptr);
    return 0;
}
