#include "tests/wine/SimLink.h"

#include <cstdlib>

#include "link/TextNumber.h"

namespace pesolink::wine_test {

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

HANDLE OpenFifo(const std::string& path, DWORD access) {
    const std::wstring wide(path.begin(), path.end());
    return CreateFileW(wide.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

SimLink& SimLink::Get() {
    static SimLink link;
    return link;
}

SimLink::SimLink() {
    const int32_t port = ParseInt32(Env("PESOLINK_SIM_TCP_PORT")).value_or(0);
    comText_ = Env("PESOLINK_SIM_COM");
    const int32_t com = comText_.size() > 3 ? ParseInt32(comText_.substr(3)).value_or(0) : 0;
    if (port <= 0 || port > 65535 || com <= 0 || com > 65535) {
        problem_ = "PESOLINK_SIM_TCP_PORT and PESOLINK_SIM_COM must name the simulated scale "
                   "(run the tests with ctest --preset windows)";
        return;
    }
    tcpPort_ = static_cast<uint16_t>(port);
    comNumber_ = static_cast<uint16_t>(com);
    in_ = OpenFifo(Env("PESOLINK_SIM_CTL_IN"), GENERIC_WRITE);
    out_ = OpenFifo(Env("PESOLINK_SIM_CTL_OUT"), GENERIC_READ);
    if (in_ == INVALID_HANDLE_VALUE || out_ == INVALID_HANDLE_VALUE)
        problem_ = "cannot open the simulator's control FIFOs PESOLINK_SIM_CTL_IN / PESOLINK_SIM_CTL_OUT";
}

bool SimLink::ReadLine(std::string& line) {
    for (;;) {
        const std::size_t nl = pending_.find('\n');
        if (nl != std::string::npos) {
            line = pending_.substr(0, nl);
            pending_.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return true;
        }
        char buf[512];
        DWORD got = 0;
        // Ends with 0 bytes once the simulator is gone (no writer is left).
        if (!ReadFile(out_, buf, sizeof buf, &got, nullptr) || got == 0) return false;
        pending_.append(buf, got);
    }
}

bool SimLink::Command(const std::string& line, std::vector<std::string>* output) {
    if (!Ready()) return false;
    const std::string text = line + "\n";
    DWORD written = 0;
    if (!WriteFile(in_, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) || written != text.size())
        return false;
    std::string answer;
    while (ReadLine(answer)) {
        if (answer == "ok") return true;
        if (answer.rfind("error", 0) == 0) return false;
        // Start-up lines ("tcp ...", "pty ...") are still in the pipe before
        // the first answer; a request list comes line by line.
        if (output && answer.rfind("tcp ", 0) != 0 && answer.rfind("pty ", 0) != 0) output->push_back(answer);
    }
    return false;
}

std::vector<std::string> SimLink::Requests() {
    std::vector<std::string> lines;
    if (!Command("requests", &lines)) lines.clear();
    return lines;
}

}  // namespace pesolink::wine_test
