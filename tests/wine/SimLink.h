// Where the simulated scale of a Wine test run is, and its control channel.
//
// The test fixtures (scripts/wine-checks/fixture.sh) start the simulator and
// map its pseudo-terminal to a COM port of the Wine prefix; scripts/wine-run
// passes:
//   PESOLINK_SIM_TCP_PORT  the simulator's TCP port on 127.0.0.1
//   PESOLINK_SIM_COM       the COM text of its pty ("COM5")
//   PESOLINK_SIM_CTL_IN    Windows path of the FIFO read as the sim's commands
//   PESOLINK_SIM_CTL_OUT   Windows path of the FIFO the sim answers on
// Each command line is answered by "ok" or "error: ..." once it has taken
// effect, so a fault asked for here is in place before the next request.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pesolink::wine_test {

class SimLink {
public:
    static SimLink& Get();

    bool Ready() const { return problem_.empty(); }
    const std::string& Problem() const { return problem_; }

    uint16_t TcpPort() const { return tcpPort_; }
    const std::string& ComText() const { return comText_; }
    uint16_t ComNumber() const { return comNumber_; }

    // Sends one command; true when the simulator answered "ok". The lines it
    // printed before that answer (a request list, say) go to output.
    bool Command(const std::string& line, std::vector<std::string>* output = nullptr);

    // Request frames the simulator received since the last "forget", in hex.
    std::vector<std::string> Requests();

private:
    SimLink();
    bool ReadLine(std::string& line);

    std::string problem_;
    uint16_t tcpPort_ = 0;
    std::string comText_;
    uint16_t comNumber_ = 0;
    HANDLE in_ = INVALID_HANDLE_VALUE;
    HANDLE out_ = INVALID_HANDLE_VALUE;
    std::string pending_;
};

// Milliseconds since a GetTickCount() reading.
inline long MsSince(DWORD start) { return static_cast<long>(GetTickCount() - start); }

}  // namespace pesolink::wine_test
