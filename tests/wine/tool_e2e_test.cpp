// Pesoconf.exe driven as a user would drive it: its controls are found by
// their identifiers and read, typed into and clicked through window
// messages; the simulated scale behind COM5 shows what was written.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tests/wine/SimLink.h"
#include "tool/Controls.h"
#include "tool/win32/ControlIds.h"

namespace {

using pesoconf::Ctl;
using pesolink::wine_test::MsSince;
using pesolink::wine_test::SimLink;

std::wstring Env(const wchar_t* name) {
    wchar_t buf[4096];
    const DWORD n = GetEnvironmentVariableW(name, buf, 4096);
    return n && n < 4096 ? std::wstring(buf, n) : std::wstring();
}

std::string Utf8(const std::wstring& w) {
    if (w.empty()) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr, nullptr);
    return s;
}

std::wstring Wide(const std::string& s) {
    if (s.empty()) return {};
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// Waits, sleeping between looks, until the condition holds.
bool WaitFor(const std::function<bool()>& condition, DWORD ms) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (static_cast<DWORD>(MsSince(start)) > ms) return false;
        Sleep(100);
    }
}

std::string TextOf(HWND h) {
    if (!h) return {};
    wchar_t buf[1024] = {};
    DWORD_PTR got = 0;
    if (!SendMessageTimeoutW(h, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 5000, &got))
        return "<no answer>";
    return Utf8(std::wstring(buf, got));
}

// The simulated scale's state, field by field ("name", "ethIp", ...).
struct ScaleState {
    std::string serial, name, interfaces, ethIp, ethMask, ethGateway, ethPort, ethMac;
    std::string ssid, key, wifiIp, wifiMask, wifiGateway, apIp, wifiPort, wifiMac;
};

std::vector<std::string> Words(const std::string& line) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ') {
            ++i;
            continue;
        }
        if (line[i] == '"') {
            const std::size_t end = line.find('"', i + 1);
            out.push_back(line.substr(i + 1, end - i - 1));
            i = end == std::string::npos ? line.size() : end + 1;
        } else {
            const std::size_t end = line.find(' ', i);
            out.push_back(line.substr(i, end - i));
            i = end == std::string::npos ? line.size() : end;
        }
    }
    return out;
}

bool ReadScale(ScaleState& s) {
    std::vector<std::string> lines;
    // "state" has no "ok" of its own; "forget" closes the answer.
    if (!SimLink::Get().Command("state\nforget", &lines)) return false;
    for (const std::string& line : lines) {
        const std::vector<std::string> w = Words(line);
        if (w.size() >= 6 && w[0] == "serial") {
            s.serial = w[1], s.name = w[3], s.interfaces = w[5];
        } else if (w.size() >= 8 && w[0] == "ethernet") {
            s.ethIp = w[1], s.ethMask = w[2], s.ethGateway = w[3], s.ethPort = w[5], s.ethMac = w[7];
        } else if (w.size() >= 14 && w[0] == "wifi") {
            s.ssid = w[2], s.key = w[4], s.wifiIp = w[5], s.wifiMask = w[6], s.wifiGateway = w[7];
            s.apIp = w[9], s.wifiPort = w[11], s.wifiMac = w[13];
        }
    }
    return !s.serial.empty() && !s.ethIp.empty() && !s.wifiIp.empty();
}

void SaveScreen(const std::string& name) {
    const std::wstring folder = Env(L"PESOCONF_SHOTS");
    if (folder.empty()) return;
    const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
    HDC screen = GetDC(nullptr);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, 0, 0, SRCCOPY);
    SelectObject(mem, old);
    BITMAPINFOHEADER bi{};
    bi.biSize = sizeof bi;
    bi.biWidth = w;
    bi.biHeight = h;
    bi.biPlanes = 1;
    bi.biBitCount = 24;
    bi.biCompression = BI_RGB;
    const DWORD row = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(row) * h);
    GetDIBits(mem, bmp, 0, h, pixels.data(), reinterpret_cast<BITMAPINFO*>(&bi), DIB_RGB_COLORS);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(nullptr, screen);
    BITMAPFILEHEADER fh{};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bi;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(pixels.size());
    const std::wstring path = folder + L"\\" + Wide(name) + L".bmp";
    FILE* f = _wfopen(path.c_str(), L"wb");
    if (!f) return;
    std::fwrite(&fh, sizeof fh, 1, f);
    std::fwrite(&bi, sizeof bi, 1, f);
    std::fwrite(pixels.data(), 1, pixels.size(), f);
    std::fclose(f);
}

struct Tool {
    PROCESS_INFORMATION pi{};

    bool Start() {
        std::wstring cmd = L"\"" + Env(L"PESOCONF_EXE") + L"\"";
        STARTUPINFOW si{};
        si.cb = sizeof si;
        return CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
    }
    bool Ended(DWORD ms) const { return WaitForSingleObject(pi.hProcess, ms) == WAIT_OBJECT_0; }
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(pi.hProcess, &code);
        return code;
    }
    void Kill() {
        if (pi.hProcess && !Ended(0)) TerminateProcess(pi.hProcess, 99);
    }
    void Close() {
        if (pi.hProcess) CloseHandle(pi.hProcess), CloseHandle(pi.hThread);
        pi = {};
    }
};

// Top-level windows of a process with a class name.
std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* cls) {
    struct Find {
        DWORD pid;
        const wchar_t* cls;
        std::vector<HWND> found;
    } find{pid, cls, {}};
    EnumWindows(
        [](HWND h, LPARAM lp) CALLBACK -> BOOL {
            auto* f = reinterpret_cast<Find*>(lp);
            DWORD owner = 0;
            GetWindowThreadProcessId(h, &owner);
            wchar_t name[64] = {};
            GetClassNameW(h, name, 64);
            if ((f->pid == 0 || owner == f->pid) && wcscmp(name, f->cls) == 0) f->found.push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&find));
    return find.found;
}

// The text of a message box: its static with text.
std::string BoxText(HWND box) {
    std::string text;
    EnumChildWindows(
        box,
        [](HWND h, LPARAM lp) CALLBACK -> BOOL {
            wchar_t name[32] = {};
            GetClassNameW(h, name, 32);
            if (_wcsicmp(name, L"Static") == 0) {
                const std::string t = TextOf(h);
                if (!t.empty()) *reinterpret_cast<std::string*>(lp) += t;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&text));
    return text;
}

HWND WaitForBox(DWORD pid, DWORD ms) {
    HWND box = nullptr;
    WaitFor(
        [&] {
            for (HWND h : WindowsOf(pid, L"#32770"))
                if (IsWindowVisible(h)) return (box = h) != nullptr;
            return false;
        },
        ms);
    return box;
}

void PressOk(HWND box) { PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }

std::string Normalized(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r') out += c;
    return out;
}

// ---- start-up refusals, before the tool runs for real

TEST(ToolStartup, ViewerRunningRefusesAndASecondStartEndsSilently) {
    HANDLE viewer = CreateMutexW(nullptr, FALSE, L"Pesoview100");
    ASSERT_NE(viewer, nullptr);
    Tool tool;
    ASSERT_TRUE(tool.Start());
    HWND box = WaitForBox(tool.pi.dwProcessId, 20000);
    ASSERT_NE(box, nullptr) << "no refusal message";
    EXPECT_EQ(Normalized(BoxText(box)),
              "Совместная работа программ \"Pesoconf 100\" и \"Pesoview 100\" невозможна.\n"
              "Для дальнейшей работы закройте программу \"Pesoview 100\" и перезапустите "
              "программу \"Pesoconf 100\".");
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    EXPECT_EQ(Utf8(caption), "Pesoconf 100");
    EXPECT_TRUE(WindowsOf(tool.pi.dwProcessId, PESOCONF_MAIN_CLASS).empty()) << "no main window";
    SaveScreen("viewer-refusal");

    // While the message is open, another start ends at once and silently.
    Tool second;
    ASSERT_TRUE(second.Start());
    EXPECT_TRUE(second.Ended(15000));
    EXPECT_EQ(second.ExitCode(), 0u);
    second.Close();

    PressOk(box);
    EXPECT_TRUE(tool.Ended(10000));
    tool.Kill();
    tool.Close();
    CloseHandle(viewer);
}

// ---- the tool with the scale

class ToolWithScale : public ::testing::Test {
protected:
    static Tool tool;
    static HWND window;

    static void SetUpTestSuite() {
        if (!SimLink::Get().Ready()) return;
        SimLink::Get().Command("clear");
        if (!tool.Start()) return;
        WaitFor([] { return (window = FindWindowW(PESOCONF_MAIN_CLASS, nullptr)) != nullptr; }, 20000);
    }

    static void TearDownTestSuite() {
        if (window && IsWindow(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        if (!tool.Ended(10000)) tool.Kill();
        tool.Close();
    }

    void SetUp() override {
        ASSERT_TRUE(SimLink::Get().Ready()) << SimLink::Get().Problem();
        ASSERT_NE(window, nullptr) << "the tool's window did not appear";
        ASSERT_FALSE(tool.Ended(0)) << "the tool has ended";
    }

    static HWND Item(Ctl c) { return GetDlgItem(window, PESOCONF_CTL_BASE + static_cast<int>(c)); }
    static std::string Text(Ctl c) { return TextOf(Item(c)); }
    static void Type(Ctl c, const std::string& text) {
        const std::wstring w = Wide(text);
        DWORD_PTR r = 0;
        SendMessageTimeoutW(Item(c), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(w.c_str()), SMTO_ABORTIFHUNG, 5000, &r);
    }
    static void Click(Ctl c) { PostMessageW(Item(c), BM_CLICK, 0, 0); }

    // The scale has been read: the notice is gone and the identifier is in.
    static bool ScaleShown() { return !IsWindowVisible(Item(Ctl::SearchPanel)) && !Text(Ctl::IdEdit).empty(); }
};

Tool ToolWithScale::tool;
HWND ToolWithScale::window = nullptr;

TEST_F(ToolWithScale, FindsTheScaleAndFillsTheForm) {
    ScaleState s;
    ASSERT_TRUE(ReadScale(s));
    ASSERT_TRUE(WaitFor(ScaleShown, 60000)) << "notice: " << Text(Ctl::SearchPanel);
    SaveScreen("scale-shown");
    EXPECT_EQ(Text(Ctl::IdEdit), s.serial);
    EXPECT_EQ(Text(Ctl::NameEdit), s.name);
    EXPECT_EQ(s.interfaces, "0xd");
    EXPECT_EQ(Text(Ctl::IfacesEdit), "RS-232, Ethernet, Wi-fi");
    EXPECT_EQ(Text(Ctl::EthPortEdit), s.ethPort);
    EXPECT_EQ(Text(Ctl::EthIpEdit), s.ethIp);
    EXPECT_EQ(Text(Ctl::EthMaskEdit), s.ethMask);
    EXPECT_EQ(Text(Ctl::EthGatewayEdit), s.ethGateway);
    EXPECT_EQ(Text(Ctl::EthMacEdit), s.ethMac);
    EXPECT_EQ(Text(Ctl::WifiPortEdit), s.wifiPort);
    EXPECT_EQ(Text(Ctl::WifiSsidEdit), s.ssid);
    EXPECT_EQ(Text(Ctl::WifiPasswordEdit), s.key);
    EXPECT_EQ(Text(Ctl::WifiMacEdit), s.wifiMac);
    EXPECT_EQ(Text(Ctl::WifiApMacEdit), s.wifiMac);
    EXPECT_TRUE(IsWindowEnabled(Item(Ctl::NameEdit)));
    EXPECT_TRUE(IsWindowEnabled(Item(Ctl::EthIpEdit)));
    EXPECT_TRUE(IsWindowEnabled(Item(Ctl::SaveButton)));
    EXPECT_FALSE(IsWindowEnabled(Item(Ctl::IdEdit)));
    wchar_t caption[64] = {};
    GetWindowTextW(window, caption, 64);
    EXPECT_EQ(Utf8(caption), "Pesoconf 100");
}

TEST_F(ToolWithScale, SecondCopyEndsSilently) {
    Tool second;
    ASSERT_TRUE(second.Start());
    EXPECT_TRUE(second.Ended(15000));
    EXPECT_EQ(second.ExitCode(), 0u);
    EXPECT_TRUE(WindowsOf(second.pi.dwProcessId, L"#32770").empty());
    second.Close();
    EXPECT_EQ(WindowsOf(0, PESOCONF_MAIN_CLASS).size(), 1u);
}

TEST_F(ToolWithScale, EditedNameAndAddressAreWritten) {
    ASSERT_TRUE(WaitFor(ScaleShown, 30000));
    Type(Ctl::NameEdit, "Shop 7");
    Type(Ctl::EthIpEdit, "192.168.1.77");
    Click(Ctl::SaveButton);
    HWND box = WaitForBox(tool.pi.dwProcessId, 30000);
    ASSERT_NE(box, nullptr) << "no message after Save";
    SaveScreen("write-done");
    EXPECT_EQ(BoxText(box), "Запись параметров произведена успешно");
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    EXPECT_EQ(Utf8(caption), "Запись завершена");
    PressOk(box);

    ScaleState s;
    ASSERT_TRUE(ReadScale(s));
    EXPECT_EQ(s.name, "Shop 7");
    EXPECT_EQ(s.ethIp, "192.168.1.77");
    // The form is read back from the scale.
    ASSERT_TRUE(WaitFor([] { return ScaleShown() && Text(Ctl::NameEdit) == "Shop 7"; }, 30000));
    EXPECT_EQ(Text(Ctl::EthIpEdit), "192.168.1.77");
}

TEST_F(ToolWithScale, BadAddressIsRefusedAndNothingIsWritten) {
    ASSERT_TRUE(WaitFor(ScaleShown, 30000));
    ScaleState before;
    ASSERT_TRUE(ReadScale(before));
    Type(Ctl::NameEdit, "Never");
    Type(Ctl::EthMaskEdit, "255.255.300.0");
    Click(Ctl::SaveButton);
    HWND box = WaitForBox(tool.pi.dwProcessId, 30000);
    ASSERT_NE(box, nullptr) << "no input-error message";
    SaveScreen("input-error");
    EXPECT_EQ(Normalized(BoxText(box)), "Параметры введены неверно:\n- Ethernet: Маска подсети");
    wchar_t caption[64] = {};
    GetWindowTextW(box, caption, 64);
    EXPECT_EQ(Utf8(caption), "Ошибка ввода параметров");
    PressOk(box);

    ASSERT_TRUE(WaitFor([] { return ScaleShown() && Text(Ctl::EthMaskEdit) != "255.255.300.0"; }, 30000));
    ScaleState after;
    ASSERT_TRUE(ReadScale(after));
    EXPECT_EQ(after.name, before.name);
    EXPECT_EQ(after.ethMask, before.ethMask);
    EXPECT_EQ(Text(Ctl::NameEdit), before.name) << "the edits are replaced by the scale's values";
    EXPECT_EQ(Text(Ctl::EthMaskEdit), before.ethMask);
}

TEST_F(ToolWithScale, StoppedScaleClearsTheForm) {
    ASSERT_TRUE(WaitFor(ScaleShown, 30000));
    // The simulator ends: its pseudo-terminal goes away with it.
    const std::wstring in = Env(L"PESOLINK_SIM_CTL_IN");
    HANDLE h = CreateFileW(in.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(h, "quit\n", 5, &written, nullptr);
    CloseHandle(h);
    ASSERT_TRUE(WaitFor(
        [] { return IsWindowVisible(Item(Ctl::SearchPanel)) && Text(Ctl::SearchPanel) == "Подключите весы..."; },
        30000))
        << "notice: " << Text(Ctl::SearchPanel);
    SaveScreen("scale-lost");
    for (Ctl c : {Ctl::IdEdit, Ctl::NameEdit, Ctl::IfacesEdit, Ctl::EthIpEdit, Ctl::WifiSsidEdit})
        EXPECT_EQ(Text(c), "") << static_cast<int>(c);
    EXPECT_FALSE(IsWindowEnabled(Item(Ctl::NameEdit)));
    EXPECT_FALSE(IsWindowEnabled(Item(Ctl::SaveButton)));
    EXPECT_FALSE(IsWindowEnabled(Item(Ctl::CancelButton)));
}

}  // namespace
