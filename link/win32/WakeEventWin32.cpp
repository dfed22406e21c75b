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

void WakeEvent::SignalPumping() { SetEvent(impl_->event); }

// Sleeps until the worker signals or a message arrives for this thread;
// dispatches every pending message before sleeping again. An event signal
// left over from a wait that ended on a message only costs one extra round.
void WakeEvent::SleepPumping() {
    auto signalled = [this] { return state_.load(std::memory_order_acquire) == Signalled; };
    for (;;) {
        if (signalled()) return;
        const DWORD r = MsgWaitForMultipleObjectsEx(1, &impl_->event, INFINITE, QS_ALLINPUT,
                                                    MWMO_INPUTAVAILABLE);
        if (r == WAIT_OBJECT_0) continue;
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                // Leave the quit for the caller's own message loop.
                PostQuitMessage(static_cast<int>(msg.wParam));
                while (!signalled()) WaitForSingleObject(impl_->event, INFINITE);
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
}

// WaitOnAddress lives in kernelbase (Windows 8 and later, and Wine); looked
// up at run time, so that the driver imports only kernel32. Without it a
// caller goes straight to its event, and the worker's word is an event.
namespace {

using WaitOnAddressFn = BOOL(WINAPI*)(volatile VOID*, PVOID, SIZE_T, DWORD);
using WakeByAddressFn = VOID(WINAPI*)(PVOID);

struct AddressWait {
    WaitOnAddressFn wait = nullptr;
    WakeByAddressFn wake = nullptr;
};

const AddressWait& AddressWaitApi() {
    static const AddressWait api = [] {
        AddressWait a;
        if (HMODULE m = GetModuleHandleW(L"kernelbase.dll")) {
            a.wait = reinterpret_cast<WaitOnAddressFn>(
                reinterpret_cast<void*>(GetProcAddress(m, "WaitOnAddress")));
            a.wake = reinterpret_cast<WakeByAddressFn>(
                reinterpret_cast<void*>(GetProcAddress(m, "WakeByAddressAll")));
        }
        if (!a.wait || !a.wake) a = AddressWait{};
        return a;
    }();
    return api;
}

}  // namespace

void SleepOnWord(std::atomic<uint32_t>& word, uint32_t seen, std::chrono::microseconds timeout) {
    if (!AddressWaitApi().wait || word.load(std::memory_order_acquire) != seen) return;
    const DWORD ms = timeout.count() < 0 ? INFINITE : static_cast<DWORD>((timeout.count() + 999) / 1000);
    AddressWaitApi().wait(&word, &seen, sizeof seen, ms);
}

void WakeWordSleepers(std::atomic<uint32_t>& word) {
    if (AddressWaitApi().wake) AddressWaitApi().wake(&word);
}

struct WakeWord::Impl {
    HANDLE event = nullptr;  // only without WaitOnAddress
};

WakeWord::WakeWord() : impl_(std::make_unique<Impl>()) {
    if (!AddressWaitApi().wait) impl_->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

WakeWord::~WakeWord() {
    if (impl_->event) CloseHandle(impl_->event);
}

void WakeWord::Bump() {
    value_.fetch_add(1, std::memory_order_acq_rel);
    if (impl_->event) {
        SetEvent(impl_->event);
    } else {
        WakeWordSleepers(value_);
    }
}

void WakeWord::WaitWhile(uint32_t seen) {
    if (value_.load(std::memory_order_acquire) != seen) return;
    if (impl_->event) {
        WaitForSingleObject(impl_->event, INFINITE);
    } else {
        SleepOnWord(value_, seen, std::chrono::microseconds(-1));
    }
}

}  // namespace pesolink
