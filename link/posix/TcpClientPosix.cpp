#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "link/TcpClient.h"
#include "link/Ticks.h"

namespace pesolink {

struct TcpClient::Impl {
    int fd = -1;
};

TcpClient::TcpClient() : impl_(std::make_unique<Impl>()) {}
TcpClient::~TcpClient() { Disconnect(); }

namespace {

bool ResolveIpv4(const std::string& host, uint16_t port, sockaddr_in& out) {
    std::memset(&out, 0, sizeof out);
    out.sin_family = AF_INET;
    out.sin_port = htons(port);
    if (inet_pton(AF_INET, host.c_str(), &out.sin_addr) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    out.sin_addr = reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

int PollFor(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    for (;;) {
        const int r = poll(&p, 1, timeoutMs);
        if (r < 0 && errno == EINTR) continue;
        return r < 0 ? -1 : (r == 0 ? 0 : p.revents);
    }
}

}  // namespace

NetStatus TcpClient::Connect() {
    if (Connected() || Host.empty() || Port == 0) return NetStatus::Error;
    sockaddr_in addr;
    if (!ResolveIpv4(Host, Port, addr)) return NetStatus::Error;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return NetStatus::Error;
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    int r = connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    if (r != 0 && errno != EINPROGRESS) {
        close(fd);
        return NetStatus::Error;
    }
    if (r != 0) {
        const int ev = PollFor(fd, POLLOUT, static_cast<int>(ConnectTimeout));
        if (ev <= 0) {
            close(fd);
            return ev == 0 ? NetStatus::Timeout : NetStatus::Error;
        }
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0 || err != 0) {
            close(fd);
            return NetStatus::Error;
        }
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    impl_->fd = fd;
    return NetStatus::Ok;
}

bool TcpClient::Connected() const { return impl_->fd >= 0; }

NetStatus TcpClient::Write(const uint8_t* data, std::size_t count) {
    if (!Connected()) return NetStatus::Error;
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = send(impl_->fd, data + done, count - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (PollFor(impl_->fd, POLLOUT, 2000) > 0) continue;
        }
        Disconnect();
        return NetStatus::Error;
    }
    return NetStatus::Ok;
}

NetStatus TcpClient::ReadAvailable(uint8_t* dest, std::size_t capacity, std::size_t& taken) {
    taken = 0;
    if (!Connected()) return NetStatus::Error;
    // A read that finds nothing returns only once more than ReadTimeout ms
    // have passed on the tick counter, so that a caller whose deadline equals
    // the read time-out never starts a second, useless wait.
    const uint32_t start = TickCount();
    for (;;) {
        const uint32_t spent = TicksSince(start);
        if (spent > ReadTimeout) return NetStatus::Ok;
        const int ev = PollFor(impl_->fd, POLLIN, static_cast<int>(ReadTimeout - spent + 1));
        if (ev < 0) {
            Disconnect();
            return NetStatus::Error;
        }
        if (ev > 0) break;
    }
    for (;;) {
        const ssize_t n = recv(impl_->fd, dest, capacity, 0);
        if (n > 0) {
            taken = static_cast<std::size_t>(n);
            return NetStatus::Ok;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return NetStatus::Ok;
        Disconnect();
        return n == 0 ? NetStatus::Closed : NetStatus::Error;
    }
}

// A peer that closed the connection meanwhile drops it here too, so that the
// next write fails at once instead of going into a dead connection.
void TcpClient::DiscardAvailable() {
    if (!Connected()) return;
    uint8_t scratch[4096];
    for (;;) {
        const ssize_t n = recv(impl_->fd, scratch, sizeof scratch, MSG_DONTWAIT);
        if (n > 0) continue;
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) Disconnect();
        return;
    }
}

void TcpClient::Disconnect() {
    if (impl_->fd >= 0) {
        close(impl_->fd);
        impl_->fd = -1;
    }
}

}  // namespace pesolink
