// TCP client on Winsock: a non-blocking socket whose waits (connect, first
// byte of a read, a full send buffer) sleep in select with a time limit.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "link/TcpClient.h"
#include "link/Ticks.h"

namespace pesolink {

namespace {

// Winsock is started once per process and left running until it ends.
bool WinsockReady() {
    static const bool ready = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

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

timeval Millis(uint32_t ms) {
    timeval tv;
    tv.tv_sec = static_cast<long>(ms / 1000);
    tv.tv_usec = static_cast<long>((ms % 1000) * 1000);
    return tv;
}

// 1 when readable, 0 on time-out, -1 on a socket error.
int WaitReadable(SOCKET s, uint32_t ms) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval tv = Millis(ms);
    const int r = select(0, &readable, nullptr, nullptr, &tv);
    return r == SOCKET_ERROR ? -1 : (r > 0 ? 1 : 0);
}

int WaitWritable(SOCKET s, uint32_t ms) {
    fd_set writable;
    FD_ZERO(&writable);
    FD_SET(s, &writable);
    fd_set failed;
    FD_ZERO(&failed);
    FD_SET(s, &failed);
    timeval tv = Millis(ms);
    const int r = select(0, nullptr, &writable, &failed, &tv);
    if (r == SOCKET_ERROR) return -1;
    if (r == 0) return 0;
    return FD_ISSET(s, &writable) ? 1 : -1;
}

}  // namespace

struct TcpClient::Impl {
    SOCKET socket = INVALID_SOCKET;
};

TcpClient::TcpClient() : impl_(std::make_unique<Impl>()) { WinsockReady(); }
TcpClient::~TcpClient() { Disconnect(); }

NetStatus TcpClient::Connect() {
    if (Connected() || Host.empty() || Port == 0) return NetStatus::Error;
    if (!WinsockReady()) return NetStatus::Error;
    sockaddr_in addr;
    if (!ResolveIpv4(Host, Port, addr)) return NetStatus::Error;
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) return NetStatus::Error;
    u_long nonBlocking = 1;
    if (ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        closesocket(s);
        return NetStatus::Error;
    }
    if (connect(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (WSAGetLastError() != WSAEWOULDBLOCK) {
            closesocket(s);
            return NetStatus::Error;
        }
        // A refused connect shows up in the failure set, a pending one as
        // the time-out.
        const int r = WaitWritable(s, ConnectTimeout);
        if (r <= 0) {
            closesocket(s);
            return r == 0 ? NetStatus::Timeout : NetStatus::Error;
        }
        int err = 0;
        int len = sizeof err;
        if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0 || err != 0) {
            closesocket(s);
            return NetStatus::Error;
        }
    }
    // Frames are small and each one waits for its reply: send at once.
    const BOOL one = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
    impl_->socket = s;
    return NetStatus::Ok;
}

bool TcpClient::Connected() const { return impl_->socket != INVALID_SOCKET; }

NetStatus TcpClient::Write(const uint8_t* data, std::size_t count) {
    if (!Connected()) return NetStatus::Error;
    std::size_t done = 0;
    while (done < count) {
        const std::size_t chunk = std::min<std::size_t>(count - done, 1u << 20);
        const int n = send(impl_->socket, reinterpret_cast<const char*>(data + done), static_cast<int>(chunk), 0);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK &&
            WaitWritable(impl_->socket, 2000) > 0)
            continue;
        Disconnect();
        return NetStatus::Error;
    }
    return NetStatus::Ok;
}

NetStatus TcpClient::ReadAvailable(uint8_t* dest, std::size_t capacity, std::size_t& taken) {
    taken = 0;
    if (!Connected()) return NetStatus::Error;
    if (capacity == 0) return NetStatus::Ok;
    // A read that finds nothing returns only once more than ReadTimeout ms
    // have passed on the tick counter. select may wake a little early, and a
    // caller whose own deadline equals the read time-out would then wait a
    // whole second round for nothing.
    const uint32_t start = TickCount();
    for (;;) {
        const uint32_t spent = TicksSince(start);
        if (spent > ReadTimeout) return NetStatus::Ok;
        const int ready = WaitReadable(impl_->socket, ReadTimeout - spent + 1);
        if (ready < 0) {
            Disconnect();
            return NetStatus::Error;
        }
        if (ready > 0) break;
    }
    const int want = static_cast<int>(std::min<std::size_t>(capacity, 0x7FFFFFFF));
    const int n = recv(impl_->socket, reinterpret_cast<char*>(dest), want, 0);
    if (n > 0) {
        taken = static_cast<std::size_t>(n);
        return NetStatus::Ok;
    }
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return NetStatus::Ok;
    Disconnect();
    return n == 0 ? NetStatus::Closed : NetStatus::Error;
}

// A peer that closed the connection meanwhile drops it here too, so that the
// next write fails at once instead of going into a dead connection.
void TcpClient::DiscardAvailable() {
    if (!Connected()) return;
    char scratch[4096];
    for (;;) {
        const int n = recv(impl_->socket, scratch, sizeof scratch, 0);
        if (n > 0) continue;
        if (n == 0 || WSAGetLastError() != WSAEWOULDBLOCK) Disconnect();
        return;
    }
}

void TcpClient::Disconnect() {
    if (impl_->socket != INVALID_SOCKET) {
        closesocket(impl_->socket);
        impl_->socket = INVALID_SOCKET;
    }
}

}  // namespace pesolink
