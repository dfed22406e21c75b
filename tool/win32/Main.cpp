// Pesoconf: start-up with the single-instance tests, the windows and the
// event loop.
#include <windows.h>
#include <objbase.h>
#include <ole2.h>
#include <float.h>

#include <memory>
#include <string>

#include "tool/ParamForm.h"
#include "tool/SerialPort.h"
#include "tool/Texts.h"
#include "tool/Workflow.h"
#include "tool/win32/HelpUnit.h"
#include "tool/win32/MainWindow.h"
#include "tool/win32/ScalesAdapter.h"

namespace {

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// The program's folder, ending with a path separator.
std::wstring ProgramFolder() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0) return L"";
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? L"" : path.substr(0, slash + 1);
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // All floating-point exceptions masked, for the whole process: the
    // runtime sets the SSE control register and, on x86, the x87 one too.
    _controlfp(_MCW_EM, _MCW_EM);

    // Another copy runs: end at once, silently.
    if (OpenMutexW(MUTEX_ALL_ACCESS, FALSE, W(pesoconf::text::OwnMutex))) return 0;
    // Held until the process ends.
    CreateMutexW(nullptr, FALSE, W(pesoconf::text::OwnMutex));
    if (HANDLE viewer = OpenMutexW(MUTEX_ALL_ACCESS, FALSE, W(pesoconf::text::ViewerMutex))) {
        MessageBoxW(nullptr, W(pesoconf::text::ViewerRunning), W(pesoconf::text::ProgramTitle),
                    MB_OK);
        CloseHandle(viewer);
        return 0;
    }

    // A single-threaded apartment: the driver object and the help browser
    // live on this thread.
    if (FAILED(OleInitialize(nullptr))) return 1;
    const std::wstring folder = ProgramFolder();
    int exitCode = 0;
    {
        pesoconf::MainWindow window;
        if (!window.Create(instance, folder)) {
            OleUninitialize();
            return 1;
        }
        pesoconf::HelpWindow help;
        help.Create(instance, folder);

        pesoconf::ParamForm form(window, window);
        pesoconf::ComUnitPort serial;
        pesoconf::Workflow flow(form, window, serial, [] {
            return std::unique_ptr<pesoconf::DriverClient>(new pesoconf::ScalesAdapter());
        });
        window.Attach(&form, &flow, &help);
        window.Show();

        MSG msg;
        while (!window.Terminated()) {
            const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
            if (got <= 0) {
                if (got == 0) exitCode = static_cast<int>(msg.wParam);
                break;
            }
            window.Dispatch(msg);
        }
        pesoconf::ComUnitPort().Close();
    }
    OleUninitialize();
    return exitCode;
}
