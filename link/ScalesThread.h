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

#include "link/ComUnit.h"
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

// What a send did to the link before it sent, after a receive that ended
// without one whole reply (bytes of that reply may still be on their way).
enum : int32_t {
    RenewNone = 0,
    RenewReconnected = 1,     // TCP: a new connection to the same endpoint
    RenewReconnectFailed = 2, // TCP: that connect failed; nothing was sent
    RenewDrained = 3,         // serial: input read and dropped until the line was quiet
};

constexpr uint32_t TcpConnectTimeout = 2000;  // ms
constexpr uint32_t TcpReceiveDeadline = 2000;  // ms, whole TCP receive
constexpr uint32_t ComQueueSize = 100000;
// How much longer than its own receive deadline a worker waits for the turn
// on a port it shares: one exchange of another holder lasts at most about
// that deadline and one read call.
constexpr uint32_t ComTurnSlack = 3000;  // ms

class TScalesThread {
public:
    TScalesThread();
    // Stops and joins the worker, closes its TCP connection and lets go of
    // its serial port.
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
    // Written by the worker while it serves a send, for the caller to read
    // with the send's response: RenewNone unless the link was renewed first.
    int32_t Renewal = RenewNone;
    int32_t RenewalDropped = 0;  // RenewDrained: bytes read and dropped

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
    bool LanRenew();
    void ComOpenRequest(uint32_t baud, uint8_t parity);
    void ComReceive();
    bool TakePortTurn();

    // The serial steps of this worker go to the port its own connection
    // holds (shared with other workers on the same port number); these take
    // the place of the module's single-port calls of the same names.
    int32_t ComWrite(const uint8_t* data, int32_t count) { return port_.Write(data, count); }
    int32_t ComRead(uint8_t* dest, int32_t capacity) { return port_.Read(dest, capacity); }
    void ComDiscardInput() { port_.DiscardInput(); }
    bool ComIsOpen() const { return port_.Held(); }
    void ComClose() { port_.Release(); }

    ComPortHold port_;
    bool turnMissed_ = false;  // the last send went without the port's turn

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::atomic<bool> awake_{false};
    std::atomic<bool> serving_{false};
    std::atomic<bool> terminated_{false};  // set under mutex_, for PauseUntil
    // Worker only: the send of a send-and-receive request is in hand.
    bool holdSendCode_ = false;
    int32_t heldCode_ = 0;
    WakeWord parked_;  // bumped by Resume and Terminate
    // Set by a receive that ended without one whole reply on a link that is
    // still open; the next send renews the link first. Worker thread only.
    bool lanSpoiled_ = false;
    bool comSpoiled_ = false;
    WakeEvent done_;
    std::thread thread_;
};

}  // namespace pesolink
