#include <windows.h>

#include "link/WakeEvent.h"

namespace pesolink {

struct WakeEvent::Impl {
    HANDLE event = nullptr;
};

WakeEvent::WakeEvent() : impl_(std::make_unique<Impl>()) {
    impl_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

WakeEvent::~WakeEvent() {
    if (impl_->event) CloseHandle(impl_->event);
}

void WakeEvent::Set() { SetEvent(impl_->event); }

// Sleeps until the worker signals or a message arrives for this thread;
// dispatches every pending message before sleeping again.
void WakeEvent::WaitPumping() {
    for (;;) {
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &impl_->event, INFINITE, QS_ALLINPUT,
                                                    MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) return;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Leave the quit for the caller's own message loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                WaitForSingleObject(impl_->event, INFINITE);
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

}  // namespace pesolink
