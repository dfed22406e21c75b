// The exchange worker: every blocking transport step of one driver object
// (connect or open, send, receive, disconnect or close) runs here, one
// posted request at a time, while the caller waits on Done().
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "link/Frame.h"
#include "link/TcpClient.h"
#include "link/WakeEvent.h"

namespace pesolink {

enum : int32_t { IfaceLan = 0, IfaceCom = 1 };

enum : int32_t {
    ModeIdle = -1,
    ModeConnect = 0,
    ModeSend = 1,
    ModeReceive = 2,
    ModeClose = 3,
    ModeOpen4800 = 4,
    ModeOpen57600 = 5,
    ModeOpen19200 = 6,
};

constexpr int32_t ResponsePending = -1;

constexpr uint32_t TcpConnectTimeout = 2000;  // ms
constexpr uint32_t TcpReceiveDeadline = 2000;  // ms, whole TCP receive
constexpr uint32_t ComQueueSize = 100000;

class TScalesThread {
public:
    TScalesThread();
    // Stops and joins the worker, closes its TCP connection and the serial
    // port if this worker opened it.
    ~TScalesThread();
    TScalesThread(const TScalesThread&) = delete;
    TScalesThread& operator=(const TScalesThread&) = delete;

    TcpClient Tcp;
    // Staging bytes; one spare byte beyond a full frame lets an over-long
    // TCP delivery be told from a full one.
    std::array<uint8_t, FrameBufSize + 1> LocalBuf{};
    std::size_t LocalCount = 0;

    // Request fields: written by the caller only while the worker is parked.
    int32_t Iface = IfaceLan;
    int32_t Protocol = 0;
    std::string Host;
    int32_t Port = 0;
    uint32_t ReadTimeout = 0;
    int32_t Mode = ModeIdle;
    TCommand Command{};
    // With ModeSend: the worker goes on to ModeReceive when the send
    // answers 0 and posts only the receive's code (TRequestCycle::Exchange).
    bool ThenReceive = false;
    // -1 while pending; the worker's last write for a request (release).
    std::atomic<int32_t> Response{ResponsePending};

    void Resume();
    // Parks the worker: it takes no request before the next Resume. Called
    // after the response was posted.
    void Suspend();
    bool Suspended() const;
    void Terminate();
    bool Terminated() const;

    // Set by the worker right after it posted Response.
    WakeEvent& Done() { return done_; }

private:
    void Execute();
    void Serve();
    void Post(int32_t code);
    void PauseUntil(uint32_t start, uint32_t timeout);
    void ServeLan();
    void ServeCom();
    void LanConnect();
    void LanSend();
    void LanReceive();
    void LanClose();
    void ComOpenRequest(uint32_t baud, uint8_t parity);
    void ComReceive();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> awake_{false};
    std::atomic<bool> serving_{false};
    std::atomic<bool> terminated_{false};  // set under mutex_, for PauseUntil
    // Worker only: the send of a send-and-receive request is in hand.
    bool holdSendCode_ = false;
    int32_t heldCode_ = 0;
    WakeWord parked_;  // bumped by Resume and Terminate
    WakeEvent done_;
    std::thread thread_;
};

}  // namespace pesolink
