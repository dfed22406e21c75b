#include "link/RequestCycle.h"

#include <stdexcept>

namespace pesolink {

TRequestCycle::TRequestCycle() = default;
TRequestCycle::~TRequestCycle() = default;

TScalesThread& TRequestCycle::EnsureThread() {
    if (!thread_) thread_ = std::make_unique<TScalesThread>();
    return *thread_;
}

TScalesThread& TRequestCycle::Thread() {
    if (!thread_) throw std::logic_error("No exchange thread: the connection was never opened");
    return *thread_;
}

void TRequestCycle::Post(int32_t mode) {
    TScalesThread& t = Thread();
    t.Mode = mode;
    t.ThenReceive = false;
    t.Response.store(ResponsePending, std::memory_order_relaxed);
}

void TRequestCycle::StartThread() { EnsureThread().Resume(); }

void TRequestCycle::WaitForResponse() {
    TScalesThread& t = Thread();
    waiting_ = true;
    while (t.Response.load(std::memory_order_acquire) == ResponsePending) t.Done().WaitPumping();
    waiting_ = false;
}

void TRequestCycle::StopThread() {
    if (thread_) thread_->Suspend();
}

int32_t TRequestCycle::RunRequest(int32_t mode) { return Cycle(mode, false); }

int32_t TRequestCycle::Cycle(int32_t mode, bool thenReceive) {
    if (waiting_) return ResultBusy;
    Post(mode);
    thread_->ThenReceive = thenReceive;
    StartThread();
    WaitForResponse();
    StopThread();
    return ResponseToResult(thread_->Response.load(std::memory_order_acquire));
}

int32_t TRequestCycle::Send() {
    if (waiting_) return ResultBusy;
    WrapFrame(Thread().Command);
    return RunRequest(ModeSend);
}

// The worker posts the send's code when it is not 0, else the receive's: the
// same result as Send followed, on 0, by a receive.
int32_t TRequestCycle::Exchange() {
    if (waiting_) return ResultBusy;
    WrapFrame(Thread().Command);
    return Cycle(ModeSend, true);
}

}  // namespace pesolink
