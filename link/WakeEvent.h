// One-shot signal from the exchange worker to the waiting caller. The caller
// sleeps on it while still dispatching its own thread's window messages, so
// that its windows stay responsive during a slow exchange.
#pragma once

#include <memory>

namespace pesolink {

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Reset();
    void Set();          // worker side
    bool IsSet() const;
    // Caller side: returns once Set has been called, dispatching the calling
    // thread's messages meanwhile. Never spins.
    void WaitPumping();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pesolink
