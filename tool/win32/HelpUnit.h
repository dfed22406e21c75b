// THelpForm: the help window. An embedded web browser shows "help.htm" from
// the program's folder; every other address is handed to the system's
// default handler. Where no browser control can be made, Help opens the page
// through the shell instead.
#pragma once

#include <windows.h>

#include <string>

namespace pesoconf {

class HelpBrowser;

class HelpWindow {
public:
    HelpWindow() = default;
    ~HelpWindow();
    bool Create(HINSTANCE instance, const std::wstring& folder);
    void HelpButtonClick();
    HWND Handle() const { return Window; }

    // Before-navigate hook: whether to let the navigation to address go on.
    bool BrowserBeforeNavigate2(const std::wstring& address);
    bool HookAttached = false;

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void FormClose();
    std::wstring PagePath() const { return Folder + L"help.htm"; }

    HWND Window = nullptr;
    std::wstring Folder;
    HelpBrowser* Browser = nullptr;
};

}  // namespace pesoconf
