// Transports of the simulated scale: a TCP listener on 127.0.0.1 and raw
// pseudo-terminals. Every listener, connection and terminal has its own
// thread that sleeps in poll(); Stop() wakes and joins them all.
//
// The serial side answers only at one line setting, read from the master
// with tcgetattr whenever bytes arrive: bytes that come in at another
// setting are consumed and ignored, and a frame they interrupted is dropped.
// A terminal paces nothing: replies go out at once unless a fault delays or
// splits them. A Drop fault on a terminal sends nothing (a pty cannot hang up
// while the simulator holds its slave open).
#pragma once

#include <atomic>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimScale.h"

namespace pesolink::sim {

// Parity codes: 0 none, 1 odd, 2 even, 3 mark, 4 space.
// A pseudo-terminal keeps no PARENB, so parity shows on it as INPCK (with
// PARODD and CMSPAR telling which); PARENB is taken as "parity on" as well.
int ParityFromFlags(unsigned iflag, unsigned cflag);
// Baud rate in bits per second of a termios speed constant (0 when unknown).
uint32_t BaudFromSpeed(unsigned speed);

class SimServer {
public:
    explicit SimServer(SimScale&);
    ~SimServer();  // stops everything
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // 127.0.0.1 only; 0 = pick a free port; returns the port. Throws std::system_error.
    uint16_t ListenTcp(uint16_t port = 0);
    // Opens a raw pty (no flow control), keeps the slave open and returns its
    // path; when linkPath is not empty, (re)creates a symlink there to the
    // slave. Throws std::system_error.
    std::string OpenPty(const std::string& linkPath = "");
    // Serial replies only at this baud and parity; baud 0 = at any setting.
    void SetLineSetting(uint32_t baud, int parity);
    // TCP: accept a connection only while no other one is open, as a device
    // with a single client slot does (the next client waits in the backlog).
    void SetSingleConnection(bool on) { single_ = on; }
    // Pace the pseudo-terminal as a real line: a request is answered only
    // after its bytes' line time, and every reply byte goes out one line
    // time after the one before, at the speed and parity the driver set.
    void SetLinePacing(bool on) { pacing_ = on; }
    void Stop();
    void DropTcpClients();  // close every accepted TCP connection now

    size_t IgnoredBytes() const { return ignored_.load(); }  // serial bytes refused by the line setting
    size_t TcpClientCount() const;                           // open accepted connections

private:
    struct Conn {
        std::thread thread;
        bool done = false;
    };
    struct Pty {
        int master = -1, slave = -1;
        std::string path, link;
        std::thread thread;
    };

    void ListenLoop(int fd);
    void ConnLoop(int fd, Conn* self);
    void PtyLoop(Pty* pty);
    bool WaitStopped(int ms) const;  // sleeps up to ms; true when stopping
    bool WriteAll(int fd, const uint8_t* data, size_t n, bool socket) const;
    bool SendReply(int fd, const Reply& r, bool socket) const;
    bool LineAccepted(int master) const;
    std::chrono::nanoseconds ByteTime(int master) const;  // 0 when not pacing
    bool SendPaced(int fd, const Reply& r, std::chrono::nanoseconds byteTime) const;
    void ReapConns();

    SimScale& scale_;
    int stopFd_ = -1;
    int connEndFd_ = -1;  // signalled when an accepted connection ends
    mutable std::mutex mu_;
    std::vector<int> listenFds_;
    std::vector<std::thread> listenThreads_;
    std::list<Conn> conns_;
    std::set<int> connFds_;
    std::list<Pty> ptys_;
    std::atomic<uint32_t> baud_{4800};
    std::atomic<int> parity_{2};
    std::atomic<size_t> ignored_{0};
    std::atomic<bool> single_{false};
    std::atomic<bool> pacing_{false};
};

}  // namespace pesolink::sim
