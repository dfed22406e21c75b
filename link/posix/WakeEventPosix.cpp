#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <climits>
#include <ctime>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

#include "link/WakeEvent.h"
#include "link/posix/CallerMessages.h"

namespace pesolink {

namespace {

// One lock for every event and the message queue, so that a sleeping waiter
// wakes for either its event or a posted message.
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

struct WakeEvent::Impl {};

WakeEvent::WakeEvent() = default;
WakeEvent::~WakeEvent() = default;

void WakeEvent::SignalPumping() {
    Shared& s = State();
    // Taking the lock orders the change before the sleeper's test of it.
    { std::lock_guard<std::mutex> lock(s.mutex); }
    s.changed.notify_all();
}

// Sleeps until Set (which sees SleepingPumping and notifies) or a posted
// message; dispatches messages on this thread, as a window thread would.
void WakeEvent::SleepPumping() {
    Shared& s = State();
    std::unique_lock<std::mutex> lock(s.mutex);
    for (;;) {
        s.changed.wait(lock, [&] {
            return state_.load(std::memory_order_acquire) == Signalled || !s.messages.empty();
        });
        if (state_.load(std::memory_order_acquire) == Signalled) return;
        auto message = std::move(s.messages.front());
        s.messages.pop_front();
        lock.unlock();
        message();
        lock.lock();
    }
}

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "a futex needs a plain 32-bit word");

void SleepOnWord(std::atomic<uint32_t>& word, uint32_t seen, std::chrono::microseconds timeout) {
    if (word.load(std::memory_order_acquire) != seen) return;
    timespec limit{};
    const timespec* limitp = nullptr;
    if (timeout.count() >= 0) {
        limit.tv_sec = static_cast<time_t>(timeout.count() / 1000000);
        limit.tv_nsec = static_cast<long>(timeout.count() % 1000000) * 1000;
        limitp = &limit;
    }
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, seen, limitp, nullptr, 0);
}

void WakeWordSleepers(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

struct WakeWord::Impl {};

WakeWord::WakeWord() = default;
WakeWord::~WakeWord() = default;

void WakeWord::Bump() {
    value_.fetch_add(1, std::memory_order_acq_rel);
    WakeWordSleepers(value_);
}

void WakeWord::WaitWhile(uint32_t seen) { SleepOnWord(value_, seen, std::chrono::microseconds(-1)); }

}  // namespace pesolink
