#include <windows.h>


#include "cli/Console.h"
#include "driver/platform/Platform.h"

namespace pesolink::cli {

namespace {

HANDLE Handle(Stream stream) { return GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE); }

HANDLE StopEvent = nullptr;

BOOL WINAPI OnControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        SetEvent(StopEvent);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

// A console gets UTF-16 (any code page shows the text right); a file or a
// pipe gets the UTF-8 bytes.
void Write(Stream stream, std::string_view utf8) {
    const HANDLE h = Handle(stream);
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
    DWORD mode = 0;
    if (GetConsoleMode(h, &mode)) {
        const std::u16string wide = platform::FromUtf8(utf8);
        DWORD written = 0;
        WriteConsoleW(h, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    while (!utf8.empty()) {
        DWORD written = 0;
        if (!WriteFile(h, utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr) || written == 0) return;
        utf8.remove_prefix(written);
    }
}

bool IsTerminal(Stream stream) {
    DWORD mode = 0;
    return GetConsoleMode(Handle(stream), &mode) != 0;
}

// The handler runs on a thread of its own; it only sets the event.
void CatchStop() {
    if (StopEvent == nullptr) StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

bool WaitForStop(uint32_t milliseconds) {
    if (StopEvent == nullptr) {
        Sleep(milliseconds);
        return false;
    }
    return WaitForSingleObject(StopEvent, milliseconds) == WAIT_OBJECT_0;
}

}  // namespace pesolink::cli
