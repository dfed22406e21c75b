#include "link/ScalesThread.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "link/ComUnit.h"
#include "link/TextNumber.h"
#include "link/Ticks.h"

namespace pesolink {

namespace {

// True when the bytes are one frame as long as its length field says: all
// of a reply has come, and nothing of it can still be on its way.
bool WholeFrame(const uint8_t* bytes, std::size_t n) {
    return n >= 5 && n == static_cast<std::size_t>(bytes[3] + 256 * bytes[4] + FrameOverhead);
}

// Reads and drops serial input until the line has been quiet for
// ComHardTimeout, or until more than bound ms have passed (tested after each
// read, as a receive does). A read that takes bytes and ends before its own
// limit with room to spare ended on such a gap; a read that takes nothing
// waited a whole read call. Returns the number of bytes dropped.
int32_t DrainComInput(ComPortHold& port, uint32_t bound) {
    uint8_t scratch[ComReadChunk];
    const uint32_t hard = ComHardTimeout > 0 ? static_cast<uint32_t>(ComHardTimeout) : 0;
    const uint32_t start = TickCount();
    uint32_t quiet = 0;
    int32_t dropped = 0;
    for (;;) {
        const uint32_t before = TickCount();
        const int32_t n = port.Read(scratch, ComReadChunk);
        const uint32_t took = TicksSince(before);
        if (n > 0) {
            dropped += n;
            if (took < static_cast<uint32_t>(ComReadTotalTimeout) && n < ComReadChunk) break;
            quiet = 0;
        } else {
            // A read that gives nothing at once failed (no port): nothing to drain.
            if (took < static_cast<uint32_t>(ComReadTotalTimeout) / 2) break;
            quiet += took;
            if (quiet >= hard) break;
        }
        if (TicksSince(start) > bound) break;
    }
    return dropped;
}

}  // namespace

TScalesThread::TScalesThread() {
    thread_ = std::thread([this] { Execute(); });
}

TScalesThread::~TScalesThread() {
    Terminate();
    if (thread_.joinable()) thread_.join();
    Tcp.Disconnect();
    ComClose();
}

// A resume is a new value of the wake word: the worker takes the request
// posted before it once, and reads Mode only after it has seen that value,
// so neither side needs a lock on the way.
void TScalesThread::Resume() {
    awake_.store(true, std::memory_order_relaxed);
    parked_.Bump();
}

// Called once the worker has posted its response, which is its last touch of
// the request: from then on it only parks, and it does not look at Mode again
// before the next Resume, so the caller may write the next request at once.
void TScalesThread::Suspend() { awake_.store(false, std::memory_order_relaxed); }

bool TScalesThread::Suspended() const {
    return !awake_.load(std::memory_order_acquire) && !serving_.load(std::memory_order_acquire);
}

void TScalesThread::Terminate() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        terminated_ = true;
    }
    wake_.notify_all();
    parked_.Bump();
}

bool TScalesThread::Terminated() const { return terminated_; }

// Parked between requests on the wake word: no polling and no processor time
// while nothing is posted. After a request it first looks for the next one
// for NextRequestSpin (natively; not on Windows), since a command's receive,
// or the next command of a busy caller, usually follows at once.
//
// A send posted with ThenReceive is served together with the receive that
// follows it: the send's code is held back, and only when it is 0 does the
// receive run; the caller then sees one code, the send's failure or the
// receive's result, after one wake instead of two.
void TScalesThread::Execute() {
    uint32_t taken = 0;  // the wake word's value when the worker was created
    bool justServed = false;
    for (;;) {
        const uint32_t now = parked_.Load();
        if (terminated_) return;
        if (now == taken) {
            if (!justServed || !SpinFor(NextRequestSpin, [&] { return parked_.Load() != taken; }))
                parked_.WaitWhile(taken);
            justServed = false;
            continue;
        }
        taken = now;
        if (Mode == ModeIdle) continue;  // woken with nothing posted
        serving_.store(true, std::memory_order_relaxed);
        // Once per request: the receive of a send-and-receive keeps what
        // its send did to the link, for the command's log.
        Renewal = RenewNone;
        RenewalDropped = 0;
        holdSendCode_ = ThenReceive && Mode == ModeSend;
        Serve();
        if (holdSendCode_) {
            holdSendCode_ = false;
            if (heldCode_ == 0) {
                Mode = ModeReceive;
                Serve();
            } else {
                Post(heldCode_);
            }
        }
        serving_.store(false, std::memory_order_release);
        justServed = true;
    }
}

void TScalesThread::PauseUntil(uint32_t start, uint32_t timeout) {
    const uint32_t spent = TicksSince(start);
    if (spent > timeout) return;
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(timeout - spent + 1), [this] { return terminated_.load(); });
}

void TScalesThread::Post(int32_t code) {
    if (holdSendCode_) {
        heldCode_ = code;
        return;
    }
    Response.store(code, std::memory_order_release);
    done_.Set();
}

void TScalesThread::Serve() {
    if (Iface == IfaceLan) {
        ServeLan();
    } else if (Iface == IfaceCom) {
        ServeCom();
    } else {
        Mode = ModeIdle;
        Post(0);
    }
}

void TScalesThread::ServeLan() {
    switch (Mode) {
        case ModeConnect: LanConnect(); break;
        case ModeSend: LanSend(); break;
        case ModeReceive: LanReceive(); break;
        case ModeClose: LanClose(); break;
        default:
            // Not a request on this transport: answer a link failure rather
            // than leave the caller waiting for ever.
            Mode = ModeIdle;
            Post(1);
            break;
    }
}

void TScalesThread::LanConnect() {
    Mode = ModeIdle;
    lanSpoiled_ = false;
    if (Tcp.Connected()) {
        Tcp.Disconnect();
        Post(1);
        return;
    }
    Tcp.Host = Host;
    Tcp.Port = static_cast<uint16_t>(Port & 0xFFFF);
    Tcp.ReadTimeout = ReadTimeout;
    Tcp.ConnectTimeout = TcpConnectTimeout;
    if (Tcp.Connect() == NetStatus::Ok) {
        Post(0);
    } else {
        Tcp.Disconnect();
        Post(1);
    }
}

void TScalesThread::LanSend() {
    Mode = ModeIdle;
    const std::size_t n = static_cast<std::size_t>(std::clamp<int32_t>(Command.Length, 0, FrameBufSize));
    std::memcpy(LocalBuf.data(), Command.Buf, n);
    LocalCount = n;
    if (!LanRenew()) {
        Post(1);
        return;
    }
    if (!Tcp.Connected()) {
        Post(1);
        return;
    }
    // A reply that came after its receive gave up must not pass for the
    // answer to this request.
    Tcp.DiscardAvailable();
    Post(Tcp.Write(LocalBuf.data(), n) == NetStatus::Ok ? 0 : 1);
}

// After a receive that ended without one whole reply, the rest of that reply
// may come at any time, and a retry sends the same command: on the same
// connection the old bytes would pass for the new answer. The connection is
// not used again; a new one to the same endpoint, with the same time-outs,
// carries the next request. A connection the scale has closed meanwhile is
// dropped instead, as at any other send. False when the connect failed.
bool TScalesThread::LanRenew() {
    if (!lanSpoiled_) return true;
    lanSpoiled_ = false;
    Tcp.DiscardAvailable();
    if (!Tcp.Connected()) return true;
    Tcp.Disconnect();
    if (Tcp.Connect() != NetStatus::Ok) {
        Tcp.Disconnect();
        Renewal = RenewReconnectFailed;
        return false;
    }
    Renewal = RenewReconnected;
    return true;
}

void TScalesThread::LanReceive() {
    Mode = ModeIdle;
    const uint32_t start = TickCount();
    Command.Length = 0;
    int32_t code = 0;
    if (!Tcp.Connected()) {
        code = 1;
    } else {
        LocalCount = 0;
        for (;;) {
            std::size_t taken = 0;
            const NetStatus status = Tcp.ReadAvailable(LocalBuf.data(), LocalBuf.size(), taken);
            LocalCount = taken;
            if (status != NetStatus::Ok) {
                code = 3;
                break;
            }
            if (TicksSince(start) > TcpReceiveDeadline) {
                code = 3;
                break;
            }
            if (LocalCount != 0) break;
        }
        bool whole = false;
        if (LocalCount > static_cast<std::size_t>(FrameBufSize)) {
            // More than a frame can hold: refuse it and drop the rest of the
            // delivery so that it cannot pass for the next reply.
            code = 3;
            LocalCount = FrameBufSize;
            Tcp.DiscardAvailable();
        } else {
            whole = WholeFrame(LocalBuf.data(), LocalCount);
            if (code == 0) code = TcpReplyLengthCode(LocalBuf.data(), LocalCount);
        }
        // A connection the peer closed is gone already: the next request
        // finds none (1), as before any connect.
        lanSpoiled_ = !whole && Tcp.Connected();
    }
    const std::size_t n = std::min<std::size_t>(LocalCount, FrameBufSize);
    std::memcpy(Command.Buf, LocalBuf.data(), n);
    Command.Length = static_cast<int32_t>(n);
    code = ApplyErrorReply(Command.Buf, Command.Length, code);
    Post(code);
}

void TScalesThread::LanClose() {
    Mode = ModeIdle;
    lanSpoiled_ = false;
    Tcp.Disconnect();
    Post(0);
}

void TScalesThread::ServeCom() {
    switch (Mode) {
        case ModeOpen4800: ComOpenRequest(4800, 2); break;
        case ModeOpen57600: ComOpenRequest(57600, 0); break;
        case ModeOpen19200: ComOpenRequest(19200, 4); break;
        case ModeSend: {
            Mode = ModeIdle;
            const int32_t n = std::clamp<int32_t>(Command.Length, 0, FrameBufSize);
            std::memcpy(LocalBuf.data(), Command.Buf, static_cast<std::size_t>(n));
            LocalCount = static_cast<std::size_t>(n);
            // The port's turn lasts from this send to the end of its receive;
            // without it nothing is sent, and the receive times out.
            if (!TakePortTurn()) {
                Post(0);
                break;
            }
            if (comSpoiled_) {
                // The rest of a reply the last receive gave up on may still
                // be coming: let it pass before the request goes out.
                comSpoiled_ = false;
                if (ComIsOpen()) {
                    RenewalDropped = DrainComInput(port_, ReadTimeout);
                    Renewal = RenewDrained;
                }
            }
            // A reply that came after its receive gave up must not pass for
            // the answer to this request.
            ComDiscardInput();
            ComWrite(LocalBuf.data(), n);
            Post(0);
            break;
        }
        case ModeReceive: ComReceive(); break;
        case ModeClose:
            Mode = ModeIdle;
            comSpoiled_ = false;
            ComClose();
            Post(0);
            break;
        default:
            Mode = ModeIdle;
            Post(1);
            break;
    }
}

void TScalesThread::ComOpenRequest(uint32_t baud, uint8_t parity) {
    Mode = ModeIdle;
    comSpoiled_ = false;
    const std::string number = Host.size() > 3 ? Host.substr(3) : std::string();
    const int32_t port = ParseInt32(number).value_or(-1);
    if (port == -1) {
        Post(1);
        return;
    }
    // A failed open leaves no hold on the port.
    Post(port_.Open(static_cast<uint16_t>(port & 0xFFFF), ComQueueSize, ComQueueSize, baud, parity) ? 0 : 1);
}

bool TScalesThread::TakePortTurn() {
    turnMissed_ = !port_.BeginExchange(ReadTimeout + ComTurnSlack);
    return !turnMissed_;
}

void TScalesThread::ComReceive() {
    Mode = ModeIdle;
    // A send that missed the port's turn is not waited for twice.
    const bool turn = !turnMissed_ && TakePortTurn();
    turnMissed_ = false;
    int32_t code = 0;
    Command.Length = 0;
    const uint32_t start = TickCount();
    std::fill(LocalBuf.begin(), LocalBuf.end(), 0);
    if (!turn) {
        // The wait for the port was this exchange's time-out: nothing is
        // read, so that another holder's reply cannot be taken.
        Post(3);
        return;
    }
    constexpr int32_t localCapacity = FrameBufSize - 1;  // 1500

    // One read appended to Buf; false once Buf is full (a stream longer
    // than any frame the buffer holds).
    auto readAppend = [&]() -> bool {
        const int32_t room = FrameBufSize - Command.Length;
        if (room <= 0) return false;
        const int32_t n = ComRead(LocalBuf.data(), std::min(localCapacity, room));
        // With no port every read fails at once: sleep out the deadline
        // instead of spinning on it.
        if (n == 0 && !ComIsOpen()) PauseUntil(start, ReadTimeout);
        std::memcpy(Command.Buf + Command.Length, LocalBuf.data(), static_cast<std::size_t>(n));
        Command.Length += n;
        return true;
    };

    bool full = false;
    while (Command.Length < 6) {
        if (!readAppend()) full = true;
        if (full || TicksSince(start) > ReadTimeout) {
            code = 3;
            break;
        }
    }
    if (code == 0) {
        const int32_t l = Command.Buf[3] + 256 * Command.Buf[4];
        while (Command.Length != l + FrameOverhead) {
            if (!readAppend()) full = true;
            if (full || TicksSince(start) > ReadTimeout) {
                code = 3;
                break;
            }
        }
    }
    if (full) {
        // More than a frame can hold: the rest of the stream is read and
        // dropped until the deadline, so that it cannot pass for the next
        // reply.
        while (TicksSince(start) <= ReadTimeout) {
            if (ComRead(LocalBuf.data(), localCapacity) == 0 && !ComIsOpen()) break;
        }
    }
    comSpoiled_ = ComIsOpen() && (full || !WholeFrame(Command.Buf, static_cast<std::size_t>(Command.Length)));
    code = ApplyErrorReply(Command.Buf, Command.Length, code);
    port_.EndExchange();
    Post(code);
}

}  // namespace pesolink
