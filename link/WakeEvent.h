// Signal from the exchange worker to the waiting caller. The caller sleeps on
// it while still dispatching its own thread's window messages, so that its
// windows stay responsive during a slow exchange. Each Set releases one
// WaitPumping, which consumes it: no reset between requests.
//
// A wait has three stages, cheapest first: a short bounded spin on the
// signal, a sleep on the signal alone (a futex, or WaitOnAddress, which under
// Wine needs no trip through the Wine server), and only then the sleep on
// the signal and the thread's messages together. Most replies on a local
// link come within the first two, where a kernel event would cost about as
// much as the reply itself. Also the worker's own parking word (WakeWord).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <thread>

namespace pesolink {

// How long a waiting caller looks for its answer before it goes to sleep
// (AnswerSpin), and how long the worker looks for the next request after it
// has answered one (NextRequestSpin): a command's reply on a local link, or
// the next command of a busy caller, is then taken without a wake through
// the kernel. Measured against the bare socket round trip: natively a local
// exchange takes some 20 us; under Wine one takes some 300 us, in trips
// through the Wine server, and a sleeping caller's wake-up is a good part of
// the rest. The worker does not spin on Windows: measured under Wine it
// gained nothing there. Spins yield the processor between rounds and do not
// run on a machine with one processor, where they would only delay the
// thread they wait for.
#ifdef _WIN32
constexpr std::chrono::microseconds AnswerSpin{300};
constexpr std::chrono::microseconds NextRequestSpin{0};
#else
constexpr std::chrono::microseconds AnswerSpin{50};
constexpr std::chrono::microseconds NextRequestSpin{50};
#endif
// How long a caller sleeps on the signal alone (a futex natively,
// WaitOnAddress on Windows: no trip through the Wine server, unlike an
// event) before it sleeps on the event and its window messages together. A
// message that arrives meanwhile waits at most this long, which a window
// does not show; a local link usually answers within it.
constexpr std::chrono::microseconds QuietSleep{2000};

inline bool SeveralProcessors() {
    static const bool several = std::thread::hardware_concurrency() > 1;
    return several;
}

// True once done() is true; false after `budget` has passed without it.
// Yields the processor between rounds, so that on a busy machine the thread
// that is to set the signal still gets to run.
template <class Done>
bool SpinFor(std::chrono::microseconds budget, Done done) {
    if (budget.count() <= 0 || !SeveralProcessors()) return done();
    const auto end = std::chrono::steady_clock::now() + budget;
    for (unsigned round = 0;; ++round) {
        if (done()) return true;
        if ((round & 15) == 15) {
            if (std::chrono::steady_clock::now() >= end) return done();
            std::this_thread::yield();
        }
    }
}

// Sleeps while `word` holds `seen`, at most `timeout` (negative: no limit);
// may return early. Wakes every thread sleeping on `word`.
void SleepOnWord(std::atomic<uint32_t>& word, uint32_t seen, std::chrono::microseconds timeout);
void WakeWordSleepers(std::atomic<uint32_t>& word);

class WakeEvent {
public:
    WakeEvent();
    ~WakeEvent();
    WakeEvent(const WakeEvent&) = delete;
    WakeEvent& operator=(const WakeEvent&) = delete;

    // Worker side. Costs only an atomic exchange unless the caller already
    // sleeps, and a futex wake unless it sleeps on its messages too.
    void Set() {
        const uint32_t was = state_.exchange(Signalled, std::memory_order_acq_rel);
        if (was == SleepingQuiet) {
            WakeWordSleepers(state_);
        } else if (was == SleepingPumping) {
            SignalPumping();
        }
    }

    // Caller side: returns once Set has been called (consuming it). Looks
    // for the signal for AnswerSpin, sleeps on it alone for QuietSleep,
    // then sleeps on it and the calling thread's window messages, which it
    // dispatches. A caller tests its own condition again after every return.
    void WaitPumping() {
        auto signalled = [this] { return state_.load(std::memory_order_acquire) == Signalled; };
        if (!SpinFor(AnswerSpin, signalled)) {
            uint32_t expected = Clear;
            if (state_.compare_exchange_strong(expected, SleepingQuiet, std::memory_order_acq_rel)) {
                SleepOnWord(state_, SleepingQuiet, QuietSleep);
                expected = SleepingQuiet;
                if (state_.compare_exchange_strong(expected, SleepingPumping, std::memory_order_acq_rel))
                    SleepPumping();
            }
        }
        state_.store(Clear, std::memory_order_relaxed);
    }

private:
    enum : uint32_t { Clear = 0, Signalled = 1, SleepingQuiet = 2, SleepingPumping = 3 };
    // Sleeps until the state is Signalled, dispatching the thread's messages.
    void SleepPumping();
    // Wakes SleepPumping.
    void SignalPumping();

    std::atomic<uint32_t> state_{Clear};
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// A counter one thread sleeps on until another changes it: the worker's
// parking place. A futex natively, WaitOnAddress on Windows where the system
// has it (both without a trip through the Wine server).
class WakeWord {
public:
    WakeWord();
    ~WakeWord();
    WakeWord(const WakeWord&) = delete;
    WakeWord& operator=(const WakeWord&) = delete;

    uint32_t Load() const { return value_.load(std::memory_order_acquire); }
    // Changes the value and wakes the sleeper.
    void Bump();
    // Sleeps while the value equals `seen`; may return early.
    void WaitWhile(uint32_t seen);

private:
    std::atomic<uint32_t> value_{0};
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace pesolink
