// Shared serial ports: one entry per port number, held by the callers whose
// connection names it, closed when the last of them lets go.
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

#include "link/ComUnit.h"

namespace pesolink {

struct ComPortEntry {
    uint16_t number = 0;
    ComDevice device = ComNoDevice;
    uint32_t baud = 0;       // line setting on the device, under turnMutex
    uint8_t parity = 0;
    int32_t readGap = 0;     // inter-byte read time-out taken at the open
    int32_t holders = 0;     // device and holders change under the registry lock

    // The exchange turn: one holder's send-and-receive at a time.
    std::mutex turnMutex;
    std::condition_variable turnFree;
    bool turnTaken = false;
};

namespace {

// Entries live while they have holders. Opening and closing a device runs
// under this lock (both are short); exchanges never take it.
// Both are left to the end of the process: a worker may let go of its port
// while static objects are destroyed.
std::mutex& RegistryMutex() {
    static auto* mutex = new std::mutex();
    return *mutex;
}

std::map<uint16_t, std::unique_ptr<ComPortEntry>>& Registry() {
    static auto* ports = new std::map<uint16_t, std::unique_ptr<ComPortEntry>>();
    return *ports;
}

// Opens and configures the entry's device at this line setting, as the
// single-port ComOpen does; on failure the device is closed again.
bool OpenDevice(ComPortEntry& e, uint32_t inQueue, uint32_t outQueue, uint32_t baud, uint8_t parity) {
    e.device = ComOpenDevice(e.number);
    if (e.device == ComNoDevice) return false;
    e.readGap = ComHardTimeout;
    if (ComDeviceSetTimeouts(e.device) && ComDeviceSetBuffers(e.device, inQueue, outQueue) &&
        ComDeviceSetState(e.device, baud, parity)) {
        std::lock_guard<std::mutex> lock(e.turnMutex);
        e.baud = baud;
        e.parity = parity;
        return true;
    }
    ComDeviceClose(e.device);
    e.device = ComNoDevice;
    return false;
}

void CloseDevice(ComPortEntry& e) {
    if (e.device != ComNoDevice) ComDeviceClose(e.device);
    e.device = ComNoDevice;
}

// Under the registry lock: one holder fewer; the last one closes the port.
void DropLocked(ComPortEntry* e) {
    if (--e->holders > 0) return;
    CloseDevice(*e);
    Registry().erase(e->number);
}

}  // namespace

bool ComPortHold::Open(uint16_t number, uint32_t inQueue, uint32_t outQueue, uint32_t baud, uint8_t parity) {
    EndExchange();
    std::lock_guard<std::mutex> lock(RegistryMutex());
    if (entry_ != nullptr && entry_->number != number) {
        DropLocked(entry_);
        entry_ = nullptr;
    }
    baud_ = baud;
    parity_ = parity;
    if (entry_ != nullptr && entry_->holders > 1) return true;  // shared: the line stays open
    if (entry_ != nullptr) {
        // The only holder reopens its port, as a single caller's open did.
        CloseDevice(*entry_);
        if (OpenDevice(*entry_, inQueue, outQueue, baud, parity)) return true;
        DropLocked(entry_);
        entry_ = nullptr;
        return false;
    }
    auto& ports = Registry();
    auto found = ports.find(number);
    if (found != ports.end()) {
        ++found->second->holders;
        entry_ = found->second.get();
        return true;
    }
    auto e = std::make_unique<ComPortEntry>();
    e->number = number;
    if (!OpenDevice(*e, inQueue, outQueue, baud, parity)) return false;
    e->holders = 1;
    entry_ = e.get();
    ports.emplace(number, std::move(e));
    return true;
}

void ComPortHold::Release() {
    EndExchange();
    if (entry_ == nullptr) return;
    std::lock_guard<std::mutex> lock(RegistryMutex());
    DropLocked(entry_);
    entry_ = nullptr;
}

bool ComPortHold::BeginExchange(uint32_t waitMs) {
    if (entry_ == nullptr || turn_) return true;
    ComPortEntry& e = *entry_;
    std::unique_lock<std::mutex> lock(e.turnMutex);
    if (!e.turnFree.wait_for(lock, std::chrono::milliseconds(waitMs), [&e] { return !e.turnTaken; }))
        return false;
    e.turnTaken = true;
    turn_ = true;
    // Another holder's probe may have left its own setting on the line.
    if (e.baud != baud_ || e.parity != parity_) {
        ComDeviceSetState(e.device, baud_, parity_);
        e.baud = baud_;
        e.parity = parity_;
    }
    return true;
}

void ComPortHold::EndExchange() {
    if (entry_ == nullptr || !turn_) return;
    ComPortEntry& e = *entry_;
    {
        std::lock_guard<std::mutex> lock(e.turnMutex);
        e.turnTaken = false;
        turn_ = false;
    }
    e.turnFree.notify_one();
}

int32_t ComPortHold::Write(const uint8_t* data, int32_t count) {
    if (entry_ == nullptr) return 0;
    return ComDeviceWrite(entry_->device, data, count);
}

int32_t ComPortHold::Read(uint8_t* dest, int32_t capacity) {
    if (entry_ == nullptr) return 0;
    return ComDeviceRead(entry_->device, dest, capacity, entry_->readGap);
}

void ComPortHold::DiscardInput() {
    if (entry_ != nullptr) ComDeviceDiscardInput(entry_->device);
}

ComPortInfo ComPortState(uint16_t number) {
    std::lock_guard<std::mutex> lock(RegistryMutex());
    ComPortInfo info;
    auto& ports = Registry();
    auto found = ports.find(number);
    if (found == ports.end()) return info;
    ComPortEntry& e = *found->second;
    info.open = e.device != ComNoDevice;
    info.holders = e.holders;
    std::lock_guard<std::mutex> turn(e.turnMutex);
    info.baud = e.baud;
    info.parity = e.parity;
    return info;
}

}  // namespace pesolink
