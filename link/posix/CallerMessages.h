// Stand-in for a thread's window-message queue in the native build: a
// message posted here runs on whichever thread is waiting in
// WakeEvent::WaitPumping, as a window message would be dispatched there.
#pragma once

#include <functional>

namespace pesolink {

void PostCallerMessage(std::function<void()> message);

}  // namespace pesolink
