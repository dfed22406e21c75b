// The scripted far end: TcpClient and the serial module's functions, in
// place of link/posix/TcpClientPosix.cpp and link/posix/ComUnitPosix.cpp.
#include "tests/fuzz/FakeLink.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "link/ComUnit.h"
#include "link/TcpClient.h"

namespace pesolink {

namespace {

// One far end per process: the fuzz targets drive one driver object at a
// time. The worker thread and the caller both reach it, hence the lock.
struct FarEnd {
    std::mutex mutex;
    std::deque<fuzz::ScriptedReply> script;
    std::deque<fuzz::Bytes> incoming;  // pieces of the reply in flight
    bool hangUpPending = false;        // the reply in flight ends in a hang-up
    std::vector<fuzz::Bytes> written;
    std::vector<fuzz::Exchange> exchanges;
    std::chrono::steady_clock::time_point writtenAt;

    bool tcpConnected = false;
    bool tcpHungUp = false;  // the far end closed: the next write fails
    int connectAttempts = 0;
    std::string lastHost;
    uint16_t lastPort = 0;

    bool portOpen = false;
    int openAttempts = 0;
    uint16_t lastPortNumber = 0;
    uint32_t lastBaud = 0;
    int serialSilenceMs = 6;

    // A request went out: the far end answers with the next scripted reply.
    void Answer(const uint8_t* data, std::size_t count) {
        written.emplace_back(data, data + count);
        exchanges.push_back(fuzz::Exchange{written.back(), false, {}, 0});
        writtenAt = std::chrono::steady_clock::now();
        incoming.clear();
        hangUpPending = false;
        if (script.empty()) return;
        const fuzz::ScriptedReply reply = script.front();
        script.pop_front();
        exchanges.back().answered = true;
        exchanges.back().reply = reply;
        for (fuzz::Bytes& piece : fuzz::Pieces(reply)) incoming.push_back(std::move(piece));
        hangUpPending = reply.hangUp;
    }

    void NoteRead() {
        if (exchanges.empty()) return;
        exchanges.back().readMicros = static_cast<long>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                            std::chrono::steady_clock::now() - writtenAt)
                                                            .count());
    }

    // Up to capacity bytes of the first piece; the rest of it stays queued.
    std::size_t TakePiece(uint8_t* dest, std::size_t capacity) {
        fuzz::Bytes& piece = incoming.front();
        const std::size_t n = std::min(capacity, piece.size());
        std::memcpy(dest, piece.data(), n);
        if (n == piece.size()) incoming.pop_front();
        else piece.erase(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(n));
        NoteRead();
        return n;
    }
};

FarEnd& Far() {
    static FarEnd far;
    return far;
}

}  // namespace

namespace fuzz {

std::vector<ScriptedReply> ParseReplies(const uint8_t* data, std::size_t size) {
    std::vector<ScriptedReply> replies;
    std::size_t at = 0;
    while (at + 3 <= size) {
        ScriptedReply r;
        const uint8_t shape = data[at];
        r.pieceSize = shape & 0x7F;
        r.hangUp = (shape & 0x80) != 0;
        const std::size_t n = data[at + 1] | (static_cast<std::size_t>(data[at + 2]) << 8);
        at += 3;
        const std::size_t take = std::min(n, size - at);
        r.bytes.assign(data + at, data + at + take);
        at += take;
        replies.push_back(std::move(r));
    }
    return replies;
}

std::vector<Bytes> Pieces(const ScriptedReply& reply) {
    std::vector<Bytes> pieces;
    const std::size_t step = reply.pieceSize == 0 ? reply.bytes.size() : reply.pieceSize;
    for (std::size_t at = 0; at < reply.bytes.size(); at += step) {
        const std::size_t n = std::min(step, reply.bytes.size() - at);
        pieces.emplace_back(reply.bytes.begin() + static_cast<std::ptrdiff_t>(at),
                            reply.bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    return pieces;
}

void FakeLink::Reset() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    const int silence = f.serialSilenceMs;
    f.script.clear();
    f.incoming.clear();
    f.hangUpPending = false;
    f.written.clear();
    f.exchanges.clear();
    f.tcpConnected = false;
    f.tcpHungUp = false;
    f.connectAttempts = 0;
    f.lastHost.clear();
    f.lastPort = 0;
    f.portOpen = false;
    f.openAttempts = 0;
    f.lastPortNumber = 0;
    f.lastBaud = 0;
    f.serialSilenceMs = silence;
}

void FakeLink::Queue(const ScriptedReply& reply) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.script.push_back(reply);
}

void FakeLink::Queue(const std::vector<ScriptedReply>& replies) {
    for (const ScriptedReply& r : replies) Queue(r);
}

std::size_t FakeLink::Unanswered() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.script.size();
}

void FakeLink::ClearScript() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.script.clear();
}

std::vector<Bytes> FakeLink::Written() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.written;
}

std::vector<Exchange> FakeLink::Exchanges() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.exchanges;
}

bool FakeLink::TcpConnected() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.tcpConnected;
}

int FakeLink::ConnectAttempts() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.connectAttempts;
}

std::string FakeLink::LastHost() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.lastHost;
}

uint16_t FakeLink::LastPort() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.lastPort;
}

bool FakeLink::PortOpen() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.portOpen;
}

int FakeLink::OpenAttempts() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.openAttempts;
}

uint16_t FakeLink::LastPortNumber() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.lastPortNumber;
}

uint32_t FakeLink::LastBaud() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.lastBaud;
}

void FakeLink::SetSerialSilenceMs(int ms) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.serialSilenceMs = ms;
}

}  // namespace fuzz

// ---------------------------------------------------------------------------
// TCP client

struct TcpClient::Impl {};

TcpClient::TcpClient() : impl_(std::make_unique<Impl>()) {}
TcpClient::~TcpClient() = default;

NetStatus TcpClient::Connect() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    ++f.connectAttempts;
    f.lastHost = Host;
    f.lastPort = Port;
    // The rules of the real client: no empty host, no port 0, not twice.
    if (f.tcpConnected || Host.empty() || Port == 0) return NetStatus::Error;
    f.tcpConnected = true;
    f.tcpHungUp = false;
    f.incoming.clear();
    return NetStatus::Ok;
}

bool TcpClient::Connected() const {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    return f.tcpConnected;
}

NetStatus TcpClient::Write(const uint8_t* data, std::size_t count) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.tcpConnected) return NetStatus::Error;
    if (f.tcpHungUp) {
        f.tcpConnected = false;
        return NetStatus::Error;
    }
    f.Answer(data, count);
    return NetStatus::Ok;
}

NetStatus TcpClient::ReadAvailable(uint8_t* dest, std::size_t capacity, std::size_t& taken) {
    taken = 0;
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.tcpConnected) return NetStatus::Error;
    if (!f.incoming.empty()) {
        taken = f.TakePiece(dest, capacity);
        if (f.incoming.empty() && f.hangUpPending) f.tcpHungUp = true;
        return NetStatus::Ok;
    }
    if (f.tcpHungUp || f.hangUpPending) {
        f.tcpConnected = false;
        return NetStatus::Closed;
    }
    return NetStatus::Timeout;
}

// Like the real client, finding the far end gone drops the connection.
void TcpClient::DiscardAvailable() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.incoming.clear();
    if (f.hangUpPending || f.tcpHungUp) f.tcpConnected = false;
    f.hangUpPending = false;
    f.tcpHungUp = false;
}

void TcpClient::Disconnect() {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.tcpConnected = false;
    f.tcpHungUp = false;
    f.incoming.clear();
    f.hangUpPending = false;
}

// ---------------------------------------------------------------------------
// Serial module

std::string ComDeviceName(uint16_t portNumber) { return "fake-com" + std::to_string(portNumber); }

// One far end serves every port number: the device is a token.
ComDevice ComOpenDevice(uint16_t portNumber) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    ++f.openAttempts;
    f.lastPortNumber = portNumber;
    f.portOpen = true;
    f.incoming.clear();
    return 1;
}

bool ComDeviceSetTimeouts(ComDevice device) { return device != ComNoDevice && fuzz::FakeLink::PortOpen(); }
bool ComDeviceSetBuffers(ComDevice device, uint32_t, uint32_t) { return device != ComNoDevice && fuzz::FakeLink::PortOpen(); }

bool ComDeviceSetState(ComDevice device, uint32_t baud, uint8_t) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (device == ComNoDevice || !f.portOpen) return false;
    f.lastBaud = baud;
    return true;
}

int32_t ComDeviceWrite(ComDevice device, const uint8_t* data, int32_t count) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (device == ComNoDevice || !f.portOpen || count <= 0) return 0;
    f.Answer(data, static_cast<std::size_t>(count));
    return count;
}

int32_t ComDeviceRead(ComDevice device, uint8_t* dest, int32_t capacity, int32_t) {
    int silence = 0;
    {
        FarEnd& f = Far();
        std::lock_guard<std::mutex> lock(f.mutex);
        if (device == ComNoDevice || !f.portOpen || capacity <= 0) return 0;
        if (!f.incoming.empty()) {
            const std::size_t room = static_cast<std::size_t>(std::min(capacity, ComReadChunk));
            return static_cast<int32_t>(f.TakePiece(dest, room));
        }
        silence = f.serialSilenceMs;
    }
    // Nothing more comes: the read call's own time-out, shortened.
    std::this_thread::sleep_for(std::chrono::milliseconds(silence));
    return 0;
}

void ComDeviceDiscardInput(ComDevice) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.incoming.clear();
}

void ComDeviceClose(ComDevice) {
    FarEnd& f = Far();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.portOpen = false;
    f.incoming.clear();
}

}  // namespace pesolink
