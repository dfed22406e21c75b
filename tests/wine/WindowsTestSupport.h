// Pieces the Windows test programs share: a hidden window whose handler runs
// on the thread that created it (as a client's window code runs inside the
// driver's wait), and the number of threads of this process.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <functional>

namespace pesolink::wine_test {

// A message-only window: its handler runs on a timer (Start) or on a
// message posted before a call (Post).
class TimerWindow {
public:
    explicit TimerWindow(std::function<void()> onTimer) : onTimer_(std::move(onTimer)) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &TimerWindow::Proc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = L"PesolinkWineTestTimer";
        RegisterClassW(&wc);  // fails harmlessly when already registered
        hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, this);
    }
    ~TimerWindow() {
        if (hwnd_) DestroyWindow(hwnd_);
    }
    TimerWindow(const TimerWindow&) = delete;
    TimerWindow& operator=(const TimerWindow&) = delete;

    bool Valid() const { return hwnd_ != nullptr; }
    bool Start(UINT ms) { return SetTimer(hwnd_, 1, ms, nullptr) != 0; }
    bool Post() { return PostMessageW(hwnd_, WM_APP, 0, 0) != 0; }
    int Fired() const { return fired_; }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
        if (msg == WM_NCCREATE) {
            auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        }
        auto* self = reinterpret_cast<TimerWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && (msg == WM_TIMER || msg == WM_APP)) {
            if (msg == WM_TIMER) KillTimer(hwnd, wp);
            ++self->fired_;
            self->onTimer_();
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wp, lp);
    }

    std::function<void()> onTimer_;
    HWND hwnd_ = nullptr;
    int fired_ = 0;
};

// Threads of this process, from a Toolhelp snapshot.
inline long ThreadCount() {
    const DWORD pid = GetCurrentProcessId();
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snap == INVALID_HANDLE_VALUE) return -1;
    long n = 0;
    THREADENTRY32 e{};
    e.dwSize = sizeof e;
    for (BOOL ok = Thread32First(snap, &e); ok; ok = Thread32Next(snap, &e))
        if (e.th32OwnerProcessID == pid) ++n;
    CloseHandle(snap);
    return n;
}

}  // namespace pesolink::wine_test
