#include "sim/SimServer.h"

#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <system_error>
#include <thread>

namespace pesolink::sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void SetCloexec(int fd) { fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC); }
void SetNonblock(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

std::string LinkTarget(const std::string& link) {
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

}  // namespace

int ParityFromFlags(unsigned iflag, unsigned cflag) {
    if (!(iflag & INPCK) && !(cflag & PARENB)) return 0;
    const bool odd = cflag & PARODD, stick = cflag & CMSPAR;
    if (stick) return odd ? 3 : 4;
    return odd ? 1 : 2;
}

uint32_t BaudFromSpeed(unsigned speed) {
    switch (speed) {
        case B300: return 300;
        case B600: return 600;
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        case B230400: return 230400;
        default: return 0;
    }
}

SimServer::SimServer(SimScale& scale) : scale_(scale) {
    stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) ThrowErrno("eventfd");
    connEndFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (connEndFd_ < 0) {
        const int e = errno;
        close(stopFd_);
        errno = e;
        ThrowErrno("eventfd");
    }
}

SimServer::~SimServer() {
    Stop();
    close(connEndFd_);
    close(stopFd_);
}

void SimServer::SetLineSetting(uint32_t baud, int parity) {
    baud_ = baud;
    parity_ = parity;
}

bool SimServer::WaitStopped(int ms) const {
    pollfd p{stopFd_, POLLIN, 0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        const int r = poll(&p, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) return false;
    }
}

bool SimServer::WriteAll(int fd, const uint8_t* data, size_t n, bool socket) const {
    while (n > 0) {
        const ssize_t w = socket ? send(fd, data, n, MSG_NOSIGNAL) : write(fd, data, n);
        if (w > 0) {
            data += w;
            n -= static_cast<size_t>(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Nobody reads the far end yet: wait for room, or for Stop.
            pollfd p[2] = {{fd, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
            if (poll(p, 2, -1) < 0 && errno != EINTR) return false;
            if (p[1].revents) return false;
            if (p[0].revents & (POLLERR | POLLNVAL)) return false;
            continue;
        }
        return false;
    }
    return true;
}

bool SimServer::SendReply(int fd, const Reply& r, bool socket) const {
    if (r.silent || r.drop) return true;
    if (r.delayMs > 0 && WaitStopped(r.delayMs)) return false;
    if (r.pieces.empty()) return WriteAll(fd, r.bytes.data(), r.bytes.size(), socket);
    for (const auto& [bytes, delay] : r.pieces) {
        if (delay > 0 && WaitStopped(delay)) return false;
        if (!WriteAll(fd, bytes.data(), bytes.size(), socket)) return false;
    }
    return true;
}

uint16_t SimServer::ListenTcp(uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) ThrowErrno("socket");
    const int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
        const int e = errno;
        close(fd);
        errno = e;
        ThrowErrno("bind 127.0.0.1");
    }
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    SetNonblock(fd);
    std::lock_guard<std::mutex> lock(mu_);
    listenFds_.push_back(fd);
    listenThreads_.emplace_back([this, fd] { ListenLoop(fd); });
    return ntohs(a.sin_port);
}

void SimServer::ReapConns() {
    std::list<Conn> finished;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto it = conns_.begin(); it != conns_.end();) {
            auto next = std::next(it);
            if (it->done) finished.splice(finished.end(), conns_, it);
            it = next;
        }
    }
    for (auto& c : finished) c.thread.join();
}

void SimServer::ListenLoop(int lfd) {
    for (;;) {
        // With a single client slot the listener waits for the open
        // connection to end; another listener may take the wake-up, so it
        // also looks again now and then.
        const bool full = single_ && TcpClientCount() != 0;
        pollfd p[3] = {{full ? -1 : lfd, POLLIN, 0}, {stopFd_, POLLIN, 0}, {connEndFd_, POLLIN, 0}};
        if (poll(p, 3, full ? 50 : -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        if (p[2].revents) {
            uint64_t v;
            if (read(connEndFd_, &v, sizeof v) < 0) {
            }
        }
        if (!(p[0].revents & POLLIN)) continue;
        // The single slot may have been switched on while the poll waited.
        if (single_ && TcpClientCount() != 0) continue;
        const int cfd = accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC);
        if (cfd < 0) continue;
        const int one = 1;
        setsockopt(cfd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        ReapConns();
        std::lock_guard<std::mutex> lock(mu_);
        connFds_.insert(cfd);
        conns_.emplace_back();
        Conn* c = &conns_.back();
        c->thread = std::thread([this, cfd, c] { ConnLoop(cfd, c); });
    }
}

void SimServer::ConnLoop(int fd, Conn* self) {
    FrameAssembler input;
    uint8_t buf[4096];
    bool open = true;
    while (open) {
        pollfd p[2] = {{fd, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (p[1].revents) break;
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        for (const auto& frame : input.Push(buf, static_cast<size_t>(n))) {
            const Reply r = scale_.Handle(frame);
            if (r.drop || !SendReply(fd, r, true)) {
                open = false;
                break;
            }
        }
    }
    {
        std::lock_guard<std::mutex> lock(mu_);
        connFds_.erase(fd);
        close(fd);
        self->done = true;
    }
    const uint64_t one = 1;
    if (write(connEndFd_, &one, sizeof one) < 0) {
    }
}

void SimServer::DropTcpClients() {
    std::lock_guard<std::mutex> lock(mu_);
    // The connection threads see the end of the stream and close their sockets.
    for (int fd : connFds_) shutdown(fd, SHUT_RDWR);
}

size_t SimServer::TcpClientCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return connFds_.size();
}

std::string SimServer::OpenPty(const std::string& linkPath) {
    int master = -1, slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) ThrowErrno("openpty");
    SetCloexec(master);
    SetCloexec(slave);
    SetNonblock(master);
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    tcsetattr(slave, TCSANOW, &tio);
    char name[256];
    if (ptsname_r(master, name, sizeof name) != 0) {
        const int e = errno;
        close(master);
        close(slave);
        errno = e;
        ThrowErrno("ptsname");
    }
    std::string path = name;
    if (!linkPath.empty()) {
        // Replace whatever link is there in one step.
        const std::string tmp = linkPath + ".new" + std::to_string(getpid());
        unlink(tmp.c_str());
        if (symlink(path.c_str(), tmp.c_str()) != 0 || rename(tmp.c_str(), linkPath.c_str()) != 0) {
            const int e = errno;
            unlink(tmp.c_str());
            close(master);
            close(slave);
            errno = e;
            ThrowErrno("symlink");
        }
    }
    std::lock_guard<std::mutex> lock(mu_);
    ptys_.emplace_back();
    Pty* p = &ptys_.back();
    p->master = master;
    p->slave = slave;
    p->path = path;
    p->link = linkPath;
    p->thread = std::thread([this, p] { PtyLoop(p); });
    return path;
}

bool SimServer::LineAccepted(int master) const {
    const uint32_t baud = baud_;
    if (baud == 0) return true;
    termios tio{};
    if (tcgetattr(master, &tio) != 0) return false;
    return BaudFromSpeed(cfgetospeed(&tio)) == baud && ParityFromFlags(tio.c_iflag, tio.c_cflag) == parity_;
}

// One byte on the line: a start bit, 8 data bits, the parity bit if any,
// one stop bit.
std::chrono::nanoseconds SimServer::ByteTime(int master) const {
    if (!pacing_) return std::chrono::nanoseconds(0);
    termios tio{};
    if (tcgetattr(master, &tio) != 0) return std::chrono::nanoseconds(0);
    const uint32_t baud = BaudFromSpeed(cfgetospeed(&tio));
    if (baud == 0) return std::chrono::nanoseconds(0);
    const int bits = ParityFromFlags(tio.c_iflag, tio.c_cflag) == 0 ? 10 : 11;
    return std::chrono::nanoseconds(1000000000LL * bits / baud);
}

// The reply (and its pieces) byte by byte on a schedule, so that the line
// time does not drift with the sleeps.
bool SimServer::SendPaced(int fd, const Reply& r, std::chrono::nanoseconds byteTime) const {
    if (r.silent || r.drop) return true;
    if (r.delayMs > 0 && WaitStopped(r.delayMs)) return false;
    std::vector<std::pair<std::vector<uint8_t>, int>> pieces = r.pieces;
    if (pieces.empty()) pieces.emplace_back(r.bytes, 0);
    for (const auto& [bytes, delay] : pieces) {
        if (delay > 0 && WaitStopped(delay)) return false;
        auto due = std::chrono::steady_clock::now();
        for (uint8_t b : bytes) {
            due += byteTime;
            std::this_thread::sleep_until(due);
            if (!WriteAll(fd, &b, 1, false)) return false;
        }
        if (WaitStopped(0)) return false;
    }
    return true;
}

void SimServer::PtyLoop(Pty* pty) {
    FrameAssembler input;
    uint8_t buf[4096];
    for (;;) {
        pollfd p[2] = {{pty->master, POLLIN, 0}, {stopFd_, POLLIN, 0}};
        if (poll(p, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (p[1].revents) return;
        if (!(p[0].revents & POLLIN)) {
            // No reader on the slave side can only be short-lived while we hold it open.
            if (WaitStopped(20)) return;
            continue;
        }
        const ssize_t n = read(pty->master, buf, sizeof buf);
        if (n <= 0) continue;
        if (!LineAccepted(pty->master)) {
            // At a wrong line setting the scale sees only noise.
            ignored_ += static_cast<size_t>(n);
            input.Reset();
            continue;
        }
        for (const auto& frame : input.Push(buf, static_cast<size_t>(n))) {
            const Reply r = scale_.Handle(frame);
            const auto byteTime = ByteTime(pty->master);
            if (byteTime.count() == 0) {
                if (!SendReply(pty->master, r, false) && WaitStopped(0)) return;
                continue;
            }
            // The request's own line time before the scale can answer.
            std::this_thread::sleep_for(byteTime * static_cast<int64_t>(frame.size()));
            if (!SendPaced(pty->master, r, byteTime) && WaitStopped(0)) return;
        }
    }
}

void SimServer::Stop() {
    uint64_t one = 1;
    if (write(stopFd_, &one, sizeof one) < 0) {
    }
    std::vector<std::thread> listeners;
    {
        std::lock_guard<std::mutex> lock(mu_);
        listeners.swap(listenThreads_);
    }
    for (auto& t : listeners) t.join();
    // No listener runs now, so no connection can be added.
    std::list<Conn> conns;
    std::list<Pty> ptys;
    std::vector<int> lfds;
    {
        std::lock_guard<std::mutex> lock(mu_);
        conns.swap(conns_);
        ptys.swap(ptys_);
        lfds.swap(listenFds_);
    }
    for (auto& c : conns) c.thread.join();
    for (auto& p : ptys) {
        p.thread.join();
        if (!p.link.empty() && LinkTarget(p.link) == p.path) unlink(p.link.c_str());
        close(p.master);
        close(p.slave);
    }
    for (int fd : lfds) close(fd);
    // Ready to serve again.
    uint64_t v;
    while (read(stopFd_, &v, sizeof v) > 0) {
    }
}

}  // namespace pesolink::sim
