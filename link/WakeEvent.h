// Signal from the exchange worker to the waiting caller. The caller sleeps on
// it while still dispatching its own thread's window messages, so that its
// windows stay responsive during a slow exchange. Each Set releases one
// WaitPumping, which consumes it: no reset between requests.
#pragma once

#include <memory>

namespace pesolink {

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    void Set();  // worker side
    // Caller side: returns once Set has been called (consuming it),
    // dispatching the calling thread's messages meanwhile. Never spins. A
    // caller tests its own condition again after every return.
    void WaitPumping();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pesolink
