// The caller's side of the hand-off with the exchange worker: post a
// request, wake the worker, sleep until it answers while dispatching the
// caller's messages, park it again and map its code to a result code.
#pragma once

#include <cstdint>
#include <memory>

#include "link/ScalesThread.h"

namespace pesolink {

// Result code of a request refused because another request of the same
// object is still outstanding (a call made from a message handler during a
// wait): a link failure, and nothing of the outstanding request is touched.
constexpr int32_t ResultBusy = 1;

class TRequestCycle {
public:
    TRequestCycle();
    ~TRequestCycle();
    TRequestCycle(const TRequestCycle&) = delete;
    TRequestCycle& operator=(const TRequestCycle&) = delete;

    bool HasThread() const { return thread_ != nullptr; }
    // Creates the worker (parked) when there is none yet.
    TScalesThread& EnsureThread();
    // The existing worker; throws std::logic_error when none was created.
    TScalesThread& Thread();

    // True while a request of this object is outstanding.
    bool Busy() const { return busy_ || waiting_; }

    // The steps of a request cycle, for callers that log between them.
    void Post(int32_t mode);  // Mode := mode, Response := -1 (ThenReceive := false)
    void StartThread();
    void WaitForResponse();
    void StopThread();

    // Post, start, wait, stop; returns ResponseToResult of the code.
    int32_t RunRequest(int32_t mode);

    // Envelope step on the payload in Buf[5..] (Length = its size), then a
    // send. Throws std::range_error for a payload that does not fit.
    int32_t SendToLan() { return Send(); }
    int32_t SendToCom() { return Send(); }
    int32_t ReadFromLan() { return RunRequest(ModeReceive); }
    int32_t ReadFromCom() { return RunRequest(ModeReceive); }

    // SendToLan (SendToCom) and, when it gives 0, ReadFromLan (ReadFromCom),
    // with one result as those two in a row give, but one request cycle: the
    // worker is woken once for both steps. For callers that do nothing
    // between the two steps.
    int32_t ExchangeLan() { return Exchange(); }
    int32_t ExchangeCom() { return Exchange(); }

    // Guards a sequence of steps that must not be interleaved with another
    // request of the same object.
    class BusyScope {
    public:
        explicit BusyScope(TRequestCycle& cycle) : cycle_(cycle) { cycle_.busy_ = true; }
        ~BusyScope() { cycle_.busy_ = false; }
        BusyScope(const BusyScope&) = delete;
        BusyScope& operator=(const BusyScope&) = delete;

    private:
        TRequestCycle& cycle_;
    };

private:
    int32_t Send();
    int32_t Exchange();
    int32_t Cycle(int32_t mode, bool thenReceive);

    std::unique_ptr<TScalesThread> thread_;
    bool busy_ = false;
    bool waiting_ = false;
};

}  // namespace pesolink
