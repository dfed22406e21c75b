// TCP client of the exchange worker: connect with a time-out, write, read
// what has arrived, connected test, disconnect. Failures are status values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace pesolink {

enum class NetStatus { Ok, Timeout, Closed, Error };

class TcpClient {
public:
    TcpClient();
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    std::string Host;
    uint16_t Port = 0;
    uint32_t ReadTimeout = 2000;     // ms one read waits for its first byte
    uint32_t ConnectTimeout = 2000;  // ms

    // Fails (without connecting) for an empty host, port 0, or when already
    // connected; otherwise on refusal, an unreachable host or the time-out.
    NetStatus Connect();
    bool Connected() const;
    // Writes every byte or reports why not (the connection is then dropped).
    NetStatus Write(const uint8_t* data, std::size_t count);
    // Waits up to ReadTimeout for data, then takes what has arrived, at most
    // capacity bytes. Ok with taken = 0 means nothing came in time. A peer
    // that closed the connection gives Closed and drops the connection.
    NetStatus ReadAvailable(uint8_t* dest, std::size_t capacity, std::size_t& taken);
    // Throws away whatever has already arrived, without waiting.
    void DiscardAvailable();
    void Disconnect();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pesolink
