#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "link/WakeEvent.h"
#include "link/posix/CallerMessages.h"

namespace pesolink {

namespace {

// One lock for every event and the message queue, so that a waiter wakes
// for either its event or a posted message.
struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::function<void()>> messages;
};

Shared& State() {
    static Shared shared;
    return shared;
}

}  // namespace

void PostCallerMessage(std::function<void()> message) {
    Shared& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.messages.push_back(std::move(message));
    }
    s.changed.notify_all();
}

struct WakeEvent::Impl {
    bool set = false;
};

WakeEvent::WakeEvent() : impl_(std::make_unique<Impl>()) {}
WakeEvent::~WakeEvent() = default;

void WakeEvent::Set() {
    Shared& s = State();
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        impl_->set = true;
    }
    s.changed.notify_all();
}

void WakeEvent::WaitPumping() {
    Shared& s = State();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&] { return impl_->set || !s.messages.empty(); });
        if (impl_->set) {
            impl_->set = false;
            return;
        }
        auto message = std::move(s.messages.front());
        s.messages.pop_front();
        lock.unlock();
        message();
        lock.lock();
    }
}

}  // namespace pesolink
