#include "tool/win32/MainWindow.h"

#include <vector>

#include "tool/FormLayout.h"
#include "tool/Texts.h"
#include "tool/win32/ControlIds.h"
#include "tool/win32/Resources.h"

namespace pesoconf {

namespace {

const COLORREF kWindow = RGB(118, 143, 182);  // window colour, labels, texts, frames
const COLORREF kTop = RGB(193, 209, 229);     // PanelTop
const COLORREF kPanel = RGB(240, 244, 252);   // strips of the background picture
const COLORREF kEditable = RGB(255, 255, 255);
const COLORREF kDisabled = RGB(222, 228, 244);
const COLORREF kCloseHover = RGB(255, 102, 102);
const COLORREF kHeading = RGB(70, 96, 140);
const COLORREF kButtonTextOff = RGB(160, 170, 190);

const UINT_PTR kTimerId = 1;
const int kTopHeight = 23;
const int kMarkSize = 22;

MainWindow* TheWindow = nullptr;  // the marks and the notice paint with its fonts

const wchar_t kMarkClass[] = L"PesoconfMark";
const wchar_t kNoticeClass[] = L"PesoconfNotice";

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

std::u16string U(const std::wstring& s) { return std::u16string(s.begin(), s.end()); }

std::u16string WindowText(HWND h) {
    if (!h) return {};
    const int n = GetWindowTextLengthW(h);
    std::wstring s(static_cast<std::size_t>(n) + 1, L'\0');
    const int got = GetWindowTextW(h, s.data(), n + 1);
    s.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    return U(s);
}

HFONT MakeFont(const wchar_t* face, int points, bool bold) {
    HDC dc = GetDC(nullptr);
    const int height = -MulDiv(points, GetDeviceCaps(dc, LOGPIXELSY), 72);
    ReleaseDC(nullptr, dc);
    return CreateFontW(height, 0, 0, 0, bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

void DrawBitmap(HDC dc, HBITMAP bmp, const RECT& r) {
    if (!bmp) return;
    BITMAP info{};
    GetObjectW(bmp, sizeof info, &info);
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, bmp);
    StretchBlt(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, mem, 0, 0, info.bmWidth,
               info.bmHeight, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
}

// The FileVersion text of the running program's version resource, or the
// empty text.
std::u16string ReadFileVersion() {
    wchar_t path[MAX_PATH * 2];
    const DWORD len = GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    if (len == 0 || len >= MAX_PATH * 2) return {};
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    if (size == 0) return {};
    std::vector<unsigned char> data(size);
    if (!GetFileVersionInfoW(path, 0, size, data.data())) return {};
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* t = nullptr;
    UINT tlen = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&t),
                        &tlen) ||
        !t || tlen < sizeof(Translation))
        return {};
    const std::u16string key = VersionKeyPath(t->language, t->codePage);
    wchar_t* value = nullptr;
    UINT vlen = 0;
    if (!VerQueryValueW(data.data(), W(key), reinterpret_cast<void**>(&value), &vlen) || !value)
        return {};
    return U(std::wstring(value));  // up to its terminating zero
}

std::u16string LastErrorText(DWORD code) {
    wchar_t* message = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&message), 0, nullptr);
    std::wstring s = message ? message : L"";
    if (message) LocalFree(message);
    while (!s.empty() && (s.back() == L'\r' || s.back() == L'\n' || s.back() == L' ')) s.pop_back();
    return U(s);
}

}  // namespace

MainWindow::MainWindow() { TheWindow = this; }

MainWindow::~MainWindow() {
    if (Window) DestroyWindow(Window);
    for (HGDIOBJ o : {static_cast<HGDIOBJ>(Font), static_cast<HGDIOBJ>(BoldFont),
                      static_cast<HGDIOBJ>(NoticeFont), static_cast<HGDIOBJ>(CloseFont),
                      static_cast<HGDIOBJ>(MinimizeFont), static_cast<HGDIOBJ>(WindowBrush),
                      static_cast<HGDIOBJ>(PanelBrush), static_cast<HGDIOBJ>(EditBrush),
                      static_cast<HGDIOBJ>(DisabledBrush), static_cast<HGDIOBJ>(Background),
                      static_cast<HGDIOBJ>(Logo), static_cast<HGDIOBJ>(ButtonFace),
                      static_cast<HGDIOBJ>(ButtonDown), static_cast<HGDIOBJ>(ButtonOff),
                      static_cast<HGDIOBJ>(HelpFace), static_cast<HGDIOBJ>(HelpDown)})
        if (o) DeleteObject(o);
    TheWindow = nullptr;
}

bool MainWindow::Create(HINSTANCE instance, const std::wstring& folder) {
    Instance = instance;
    Folder = folder;
    Font = MakeFont(L"Tahoma", 8, false);
    BoldFont = MakeFont(L"Tahoma", 8, true);
    NoticeFont = MakeFont(L"Tahoma", 10, true);
    CloseFont = MakeFont(L"System", 12, false);
    MinimizeFont = MakeFont(L"Courier New", 12, false);
    WindowBrush = CreateSolidBrush(kWindow);
    PanelBrush = CreateSolidBrush(kPanel);
    EditBrush = CreateSolidBrush(kEditable);
    DisabledBrush = CreateSolidBrush(kDisabled);
    auto picture = [instance](int id) {
        return static_cast<HBITMAP>(
            LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    };
    Logo = picture(IDB_LOGO);
    ButtonFace = picture(IDB_BUTTON);
    ButtonDown = picture(IDB_BUTTON_DOWN);
    ButtonOff = picture(IDB_BUTTON_OFF);
    HelpFace = picture(IDB_HELP);
    HelpDown = picture(IDB_HELP_DOWN);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = Proc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = nullptr;
    wc.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_PESOCONF));
    wc.lpszClassName = PESOCONF_MAIN_CLASS;
    if (!RegisterClassExW(&wc)) return false;

    WNDCLASSEXW mark{};
    mark.cbSize = sizeof mark;
    mark.lpfnWndProc = MarkProc;
    mark.hInstance = instance;
    mark.hCursor = LoadCursor(nullptr, IDC_HAND);
    mark.lpszClassName = kMarkClass;
    RegisterClassExW(&mark);

    WNDCLASSEXW notice{};
    notice.cbSize = sizeof notice;
    notice.lpfnWndProc = NoticeProc;
    notice.hInstance = instance;
    notice.hCursor = LoadCursor(nullptr, IDC_ARROW);
    notice.lpszClassName = kNoticeClass;
    RegisterClassExW(&notice);

    const int x = (GetSystemMetrics(SM_CXSCREEN) - layout::WindowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - layout::WindowHeight) / 2;
    Window = CreateWindowExW(WS_EX_APPWINDOW, PESOCONF_MAIN_CLASS, W(text::ProgramTitle),
                             WS_POPUP | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN, x, y,
                             layout::WindowWidth, layout::WindowHeight, nullptr, nullptr, instance,
                             this);
    if (!Window) return false;
    CreateControls();
    FormCreate();
    return true;
}

void MainWindow::Attach(ParamForm* form, Workflow* flow, HelpWindow* help) {
    Form = form;
    Flow = flow;
    Help = help;
}

bool MainWindow::IsEdit(Ctl c) const {
    for (const layout::ControlDef& s : layout::Controls)
        if (s.id == c) return s.kind == layout::Kind::Edit;
    return false;
}

int MainWindow::CtlFromId(int id) const {
    const int i = id - PESOCONF_CTL_BASE;
    return i >= 0 && i < CtlCount ? i : -1;
}

RECT MainWindow::ControlRect(Ctl c) const {
    const layout::ControlDef& s = layout::Find(c);
    const int x = layout::ContentLeft + s.x;
    const int y = layout::StripTop(s.strip) + s.y;
    return RECT{x, y, x + s.width, y + s.height};
}

void MainWindow::CreateControls() {
    for (const layout::ControlDef& s : layout::Controls) {
        const int i = static_cast<int>(s.id);
        Visible[i] = layout::VisibleAtStart(s);
        if (s.id == Ctl::LabelCaption) Caption = s.label;
        if (s.kind == layout::Kind::Caption || s.kind == layout::Kind::View) continue;
        const RECT r = ControlRect(s.id);
        DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (Visible[i] ? WS_VISIBLE : 0) |
                      (s.enabled ? 0 : WS_DISABLED);
        const wchar_t* cls = L"EDIT";
        const wchar_t* label = L"";
        switch (s.kind) {
            case layout::Kind::Edit:
                style |= ES_AUTOHSCROLL | WS_TABSTOP | (s.readOnly ? ES_READONLY : 0);
                break;
            case layout::Kind::CheckBox:
                cls = L"BUTTON";
                style |= BS_AUTOCHECKBOX | WS_TABSTOP;
                label = reinterpret_cast<const wchar_t*>(s.label);
                break;
            case layout::Kind::Notice:
                cls = kNoticeClass;
                label = reinterpret_cast<const wchar_t*>(s.label);
                break;
            case layout::Kind::PictureButton:
                cls = L"BUTTON";
                style |= BS_OWNERDRAW | WS_TABSTOP;
                label = reinterpret_cast<const wchar_t*>(s.label);
                break;
            default:
                break;
        }
        HWND h = CreateWindowExW(0, cls, label, style, r.left, r.top, r.right - r.left,
                                 r.bottom - r.top, Window,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(PESOCONF_CTL_BASE + i)),
                                 Instance, nullptr);
        SendMessageW(h, WM_SETFONT, reinterpret_cast<WPARAM>(Font), FALSE);
        if (s.kind == layout::Kind::Edit) {
            SendMessageW(h, EM_SETLIMITTEXT, s.maxLength > 0 ? s.maxLength : 0x7FFFFFFE, 0);
            SendMessageW(h, EM_SETMARGINS, EC_LEFTMARGIN | EC_RIGHTMARGIN, MAKELPARAM(2, 2));
        }
        Controls[i] = h;
    }
    // The notice lies over the Ethernet fields.
    SetWindowPos(H(Ctl::SearchPanel), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    const int right = layout::WindowWidth - layout::ContentLeft - kMarkSize;
    CloseMark = CreateWindowExW(0, kMarkClass, L"x", WS_CHILD | WS_VISIBLE, right, 0, kMarkSize,
                                kMarkSize, Window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(PESOCONF_ID_CLOSE_MARK)),
                                Instance, nullptr);
    MinimizeMark = CreateWindowExW(
        0, kMarkClass, L"-", WS_CHILD | WS_VISIBLE, right - kMarkSize, 0, kMarkSize, kMarkSize,
        Window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(PESOCONF_ID_MINIMIZE_MARK)), Instance,
        nullptr);
}

void MainWindow::FormCreate() {
    Caption = HeadingWithVersion(Caption, ReadFileVersion());
    const std::wstring picture = Folder + L"bg.bmp";
    Background = static_cast<HBITMAP>(LoadImageW(nullptr, picture.c_str(), IMAGE_BITMAP, 0, 0,
                                                 LR_LOADFROMFILE | LR_CREATEDIBSECTION));
    if (!Background) {
        const DWORD code = GetLastError();
        ShowMessage(LastErrorText(code) + u"\r\n" + U(picture), text::ProgramTitle, MsgButtons::Ok,
                   MsgIcon::Error);
        return;
    }
    SetVisible(Ctl::PanelSimpleWiFi, true);
    SetVisible(Ctl::PanelApWiFi, false);
}

void MainWindow::ApplyShape() {
    if (Shaped) return;
    Shaped = true;
    HBITMAP shape = static_cast<HBITMAP>(LoadImageW(Instance, MAKEINTRESOURCEW(IDB_SHAPE),
                                                    IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!shape) return;
    BITMAP info{};
    GetObjectW(shape, sizeof info, &info);
    const int w = info.bmWidth, h = info.bmHeight;
    std::vector<DWORD> pixels(static_cast<std::size_t>(w) * h);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;  // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    HDC dc = GetDC(nullptr);
    const int rows = GetDIBits(dc, shape, 0, h, pixels.data(), &bi, DIB_RGB_COLORS);
    ReleaseDC(nullptr, dc);
    DeleteObject(shape);
    if (rows != h) return;
    // The bottom-left pixel's colour is the transparent one.
    const DWORD transparent = pixels[static_cast<std::size_t>(h - 1) * w] & 0xFFFFFF;
    std::vector<RECT> rects;
    for (int y = 0; y < h; ++y) {
        int x = 0;
        while (x < w) {
            while (x < w && (pixels[static_cast<std::size_t>(y) * w + x] & 0xFFFFFF) == transparent) ++x;
            const int start = x;
            while (x < w && (pixels[static_cast<std::size_t>(y) * w + x] & 0xFFFFFF) != transparent) ++x;
            if (x > start) rects.push_back(RECT{start, y, x, y + 1});
        }
    }
    std::vector<unsigned char> buffer(sizeof(RGNDATAHEADER) + rects.size() * sizeof(RECT));
    auto* data = reinterpret_cast<RGNDATA*>(buffer.data());
    data->rdh.dwSize = sizeof(RGNDATAHEADER);
    data->rdh.iType = RDH_RECTANGLES;
    data->rdh.nCount = static_cast<DWORD>(rects.size());
    data->rdh.nRgnSize = static_cast<DWORD>(rects.size() * sizeof(RECT));
    data->rdh.rcBound = RECT{0, 0, w, h};
    std::copy(rects.begin(), rects.end(), reinterpret_cast<RECT*>(data->Buffer));
    HRGN region = ExtCreateRegion(nullptr, static_cast<DWORD>(buffer.size()), data);
    if (region) SetWindowRgn(Window, region, TRUE);  // the window owns it now
}

void MainWindow::Show() {
    ApplyShape();
    ShowWindow(Window, SW_SHOWNORMAL);
    UpdateWindow(Window);
    if (TimerOn) SetTimer(Window, kTimerId, TimerMs, nullptr);
}

// ---- FormView

void MainWindow::SetText(Ctl c, const std::u16string& text) {
    if (c == Ctl::LabelCaption) {
        Caption = text;
        InvalidateRect(Window, nullptr, FALSE);
        return;
    }
    HWND h = H(c);
    if (!h) return;
    Quiet = true;
    SetWindowTextW(h, W(text));
    Quiet = false;
}

std::u16string MainWindow::GetText(Ctl c) const {
    if (c == Ctl::LabelCaption) return Caption;
    return WindowText(H(c));
}

void MainWindow::InvalidateControl(Ctl c) {
    RECT r = ControlRect(c);
    r.bottom += 2;
    InvalidateRect(Window, &r, FALSE);
    if (H(c)) InvalidateRect(H(c), nullptr, TRUE);
}

void MainWindow::SetEnabled(Ctl c, bool enabled) {
    HWND h = H(c);
    if (!h || (IsWindowEnabled(h) != FALSE) == enabled) return;
    EnableWindow(h, enabled);
    InvalidateControl(c);
}

bool MainWindow::IsEnabled(Ctl c) const {
    HWND h = H(c);
    return h ? IsWindowEnabled(h) != FALSE : true;
}

void MainWindow::SetChecked(Ctl c, bool checked) {
    HWND h = H(c);
    if (!h) return;
    Quiet = true;
    SendMessageW(h, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0);
    Quiet = false;
}

bool MainWindow::IsChecked(Ctl c) const {
    HWND h = H(c);
    return h && SendMessageW(h, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void MainWindow::SetVisible(Ctl c, bool visible) {
    const int i = static_cast<int>(c);
    Visible[i] = visible;
    if (c == Ctl::PanelSimpleWiFi || c == Ctl::PanelApWiFi) {
        const layout::View view = c == Ctl::PanelSimpleWiFi ? layout::View::Simple : layout::View::Ap;
        for (const layout::ControlDef& s : layout::Controls) {
            if (s.view != view || s.kind == layout::Kind::View) continue;
            const int k = static_cast<int>(s.id);
            Visible[k] = visible;
            if (Controls[k]) ShowWindow(Controls[k], visible ? SW_SHOWNA : SW_HIDE);
        }
        RECT r = ControlRect(c);
        InvalidateRect(Window, &r, FALSE);
        return;
    }
    HWND h = H(c);
    if (!h) return;
    ShowWindow(h, visible ? SW_SHOWNA : SW_HIDE);
    if (visible && c == Ctl::SearchPanel)
        SetWindowPos(h, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (!visible) {
        RECT r = ControlRect(c);
        InvalidateRect(Window, &r, FALSE);
    }
}

bool MainWindow::IsVisible(Ctl c) const { return Visible[static_cast<int>(c)]; }

// ---- Host

void MainWindow::Dispatch(MSG& msg) {
    if (Window && IsDialogMessageW(Window, &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void MainWindow::ProcessMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            Ending = true;
            break;
        }
        Dispatch(msg);
    }
}

void MainWindow::Terminate() {
    if (Ending) return;
    Ending = true;
    PostQuitMessage(0);
}

uint32_t MainWindow::TickCount() { return GetTickCount(); }

void MainWindow::SetTimerEnabled(bool enabled) {
    TimerOn = enabled;
    if (!Window) return;
    if (enabled)
        SetTimer(Window, kTimerId, TimerMs, nullptr);
    else
        KillTimer(Window, kTimerId);
}

void MainWindow::SetTimerInterval(uint32_t ms) {
    if (ms == TimerMs) return;
    TimerMs = ms;
    if (TimerOn && Window) SetTimer(Window, kTimerId, TimerMs, nullptr);
}

MsgAnswer MainWindow::ShowMessage(const std::u16string& text, const std::u16string& caption,
                                 MsgButtons buttons, MsgIcon icon) {
    UINT flags = buttons == MsgButtons::YesNoCancel ? MB_YESNOCANCEL : MB_OK;
    if (icon == MsgIcon::Error) flags |= MB_ICONERROR;
    HWND owner = Window && IsWindowVisible(Window) ? Window : nullptr;
    switch (MessageBoxW(owner, W(text), W(caption), flags)) {
        case IDYES: return MsgAnswer::Yes;
        case IDNO: return MsgAnswer::No;
        case IDCANCEL: return buttons == MsgButtons::YesNoCancel ? MsgAnswer::Cancel : MsgAnswer::Ok;
        default: return MsgAnswer::Ok;
    }
}

// ---- painting

void MainWindow::FormPaint(HDC dc) {
    RECT client;
    GetClientRect(Window, &client);
    FillRect(dc, &client, WindowBrush);
    if (Background) {
        BITMAP info{};
        GetObjectW(Background, sizeof info, &info);
        HDC mem = CreateCompatibleDC(dc);
        HGDIOBJ old = SelectObject(mem, Background);
        BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, mem, 0, 0, SRCCOPY);
        SelectObject(mem, old);
        DeleteDC(mem);
    }
    // PanelTop with its flat bottom line.
    RECT top{0, 0, client.right, kTopHeight};
    HBRUSH topBrush = CreateSolidBrush(kTop);
    FillRect(dc, &top, topBrush);
    DeleteObject(topBrush);
    RECT line{0, kTopHeight - 1, client.right, kTopHeight};
    FillRect(dc, &line, WindowBrush);

    SetBkMode(dc, TRANSPARENT);
    const int left = layout::ContentLeft;
    // Heading: the picture and the caption.
    const int headingTop = layout::StripTop(layout::Strip::Heading);
    DrawBitmap(dc, Logo, RECT{left + 14, headingTop + 10, left + 14 + 35, headingTop + 10 + 35});
    HGDIOBJ oldFont = SelectObject(dc, NoticeFont);
    SetTextColor(dc, kHeading);
    RECT caption = ControlRect(Ctl::LabelCaption);
    DrawTextW(dc, W(Caption), -1, &caption, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

    // Group titles.
    SelectObject(dc, BoldFont);
    SetTextColor(dc, kWindow);
    for (const layout::StripDef& st : layout::Strips) {
        if (!st.title) continue;
        RECT r{left, st.top + 3, left + layout::ContentWidth, st.top + layout::TitleHeight};
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(st.title), -1, &r,
                  DT_CENTER | DT_SINGLELINE | DT_NOPREFIX);
    }

    // Field labels and the fields' bottom frames.
    SelectObject(dc, Font);
    HPEN framePen = CreatePen(PS_SOLID, 1, kWindow);
    HPEN quietPen = CreatePen(PS_SOLID, 1, kDisabled);
    for (const layout::ControlDef& s : layout::Controls) {
        if (s.kind != layout::Kind::Edit || !Visible[static_cast<int>(s.id)]) continue;
        const RECT r = ControlRect(s.id);
        RECT label{left + 15, r.top + 2, r.left, r.bottom};
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(s.label), -1, &label,
                  DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
        const bool editable = !s.readOnly && IsEnabled(s.id);
        HGDIOBJ oldPen = SelectObject(dc, editable ? framePen : quietPen);
        MoveToEx(dc, r.left, r.bottom, nullptr);
        LineTo(dc, r.right, r.bottom);
        SelectObject(dc, oldPen);
    }
    DeleteObject(framePen);
    DeleteObject(quietPen);
    SelectObject(dc, oldFont);
}

void MainWindow::DrawButton(const DRAWITEMSTRUCT& item) {
    const int i = CtlFromId(static_cast<int>(item.CtlID));
    if (i < 0) return;
    const Ctl c = static_cast<Ctl>(i);
    const bool down = (item.itemState & ODS_SELECTED) != 0;
    const bool off = (item.itemState & ODS_DISABLED) != 0;
    HBITMAP face = c == Ctl::HelpButton ? (down ? HelpDown : HelpFace)
                                        : (off ? ButtonOff : (down ? ButtonDown : ButtonFace));
    FillRect(item.hDC, &item.rcItem, PanelBrush);
    DrawBitmap(item.hDC, face, item.rcItem);
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, off ? kButtonTextOff : kHeading);
    HGDIOBJ old = SelectObject(item.hDC, c == Ctl::HelpButton ? NoticeFont : Font);
    RECT r = item.rcItem;
    if (down) OffsetRect(&r, 1, 1);
    const std::u16string label = WindowText(item.hwndItem);
    DrawTextW(item.hDC, W(label), -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    SelectObject(item.hDC, old);
    if (item.itemState & ODS_FOCUS) {
        RECT f = item.rcItem;
        InflateRect(&f, -3, -3);
        DrawFocusRect(item.hDC, &f);
    }
}

// ---- window procedures

LRESULT CALLBACK MainWindow::Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_NCCREATE) {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lp);
        auto* self = static_cast<MainWindow*>(cs->lpCreateParams);
        self->Window = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
    return self->Handle(msg, wp, lp);
}

LRESULT MainWindow::Handle(UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(Window, &ps);
            FormPaint(dc);
            EndPaint(Window, &ps);
            return 0;
        }
        case WM_CTLCOLOREDIT:
            SetTextColor(reinterpret_cast<HDC>(wp), kWindow);
            SetBkColor(reinterpret_cast<HDC>(wp), kEditable);
            return reinterpret_cast<LRESULT>(EditBrush);
        case WM_CTLCOLORSTATIC: {
            HDC dc = reinterpret_cast<HDC>(wp);
            const int i = CtlFromId(GetDlgCtrlID(reinterpret_cast<HWND>(lp)));
            SetTextColor(dc, kWindow);
            if (i >= 0 && IsEdit(static_cast<Ctl>(i))) {  // disabled or read-only field
                SetBkColor(dc, kDisabled);
                return reinterpret_cast<LRESULT>(DisabledBrush);
            }
            SetBkColor(dc, kPanel);
            return reinterpret_cast<LRESULT>(PanelBrush);
        }
        case WM_DRAWITEM:
            DrawButton(*reinterpret_cast<DRAWITEMSTRUCT*>(lp));
            return TRUE;
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
            // PanelTopMouseDown: any button on the strip drags the window.
            if (static_cast<short>(HIWORD(lp)) < kTopHeight) {
                ReleaseCapture();
                SendMessageW(Window, WM_SYSCOMMAND, 0xF012, 0);
            }
            return 0;
        case WM_TIMER:
            if (wp == kTimerId && TimerOn && Flow && !Ending) Flow->Timer1Timer();
            return 0;
        case WM_COMMAND: {
            const int id = LOWORD(wp);
            const int code = HIWORD(wp);
            if (id == PESOCONF_ID_CLOSE_MARK) {
                if (Flow) Flow->CloseButtonClick();
                return 0;
            }
            if (id == PESOCONF_ID_MINIMIZE_MARK) {
                ShowWindow(Window, SW_MINIMIZE);
                return 0;
            }
            const int i = CtlFromId(id);
            if (i < 0 || !Form || !Flow) return 0;
            const Ctl c = static_cast<Ctl>(i);
            if (IsEdit(c)) {
                if (code == EN_CHANGE && !Quiet) Form->OnUserEdit(c);
                return 0;
            }
            if (code != BN_CLICKED || Quiet) return 0;
            switch (c) {
                case Ctl::EthLinkCheckbox:
                case Ctl::WifiLinkCheckBox:
                case Ctl::WifiApCheckBox: Form->OnUserClick(c); break;
                case Ctl::SaveButton: Flow->SaveButton_Click(); break;
                case Ctl::CancelButton: Flow->CancelButton_Click(); break;
                case Ctl::HelpButton:
                    if (Help) Help->HelpButtonClick();
                    break;
                default: break;
            }
            return 0;
        }
        case WM_CLOSE:
            // The system's close command: the close query decides.
            if (!Flow || Flow->FormCloseQuery()) {
                ShowWindow(Window, SW_HIDE);
                Terminate();
            }
            return 0;
        case WM_GETMINMAXINFO: {
            auto* mm = reinterpret_cast<MINMAXINFO*>(lp);
            mm->ptMinTrackSize.x = layout::WindowWidth;
            mm->ptMinTrackSize.y = layout::WindowHeight;
            return 0;
        }
        default:
            return DefWindowProcW(Window, msg, wp, lp);
    }
}

// The close and minimise marks: text labels that turn opaque under the mouse.
LRESULT CALLBACK MainWindow::MarkProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    const bool isClose = GetDlgCtrlID(hwnd) == PESOCONF_ID_CLOSE_MARK;
    switch (msg) {
        case WM_MOUSEMOVE:
            if (!GetWindowLongPtrW(hwnd, GWLP_USERDATA)) {
                SetWindowLongPtrW(hwnd, GWLP_USERDATA, 1);
                TRACKMOUSEEVENT t{sizeof t, TME_LEAVE, hwnd, 0};
                TrackMouseEvent(&t);
                InvalidateRect(hwnd, nullptr, TRUE);
            }
            return 0;
        case WM_MOUSELEAVE:
            SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
            InvalidateRect(hwnd, nullptr, TRUE);
            return 0;
        case WM_LBUTTONDOWN:
            SetCapture(hwnd);
            return 0;
        case WM_LBUTTONUP: {
            const bool captured = GetCapture() == hwnd;
            if (captured) ReleaseCapture();
            RECT r;
            GetClientRect(hwnd, &r);
            POINT p{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
            if (captured && PtInRect(&r, p))
                PostMessageW(GetParent(hwnd), WM_COMMAND,
                             MAKEWPARAM(GetDlgCtrlID(hwnd), BN_CLICKED),
                             reinterpret_cast<LPARAM>(hwnd));
            return 0;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT r;
            GetClientRect(hwnd, &r);
            const bool hover = GetWindowLongPtrW(hwnd, GWLP_USERDATA) != 0;
            HBRUSH b = CreateSolidBrush(hover ? (isClose ? kCloseHover : GetSysColor(COLOR_BTNFACE))
                                              : kTop);
            FillRect(dc, &r, b);
            DeleteObject(b);
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, kWindow);
            HGDIOBJ old = SelectObject(dc, TheWindow ? (isClose ? TheWindow->CloseFont
                                                                : TheWindow->MinimizeFont)
                                                     : GetStockObject(SYSTEM_FONT));
            DrawTextW(dc, isClose ? L"x" : L"-", 1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            SelectObject(dc, old);
            EndPaint(hwnd, &ps);
            return 0;
        }
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

// The notice box: white, a bold frame, bold centred text.
LRESULT CALLBACK MainWindow::NoticeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
        case WM_SETTEXT: {
            const LRESULT r = DefWindowProcW(hwnd, msg, wp, lp);
            InvalidateRect(hwnd, nullptr, TRUE);
            return r;
        }
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(hwnd, &ps);
            RECT r;
            GetClientRect(hwnd, &r);
            HBRUSH frame = CreateSolidBrush(kWindow);
            FillRect(dc, &r, frame);
            DeleteObject(frame);
            RECT inner = r;
            InflateRect(&inner, -2, -2);
            FillRect(dc, &inner, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, kWindow);
            HGDIOBJ old = SelectObject(dc, TheWindow ? TheWindow->NoticeFont
                                                     : GetStockObject(SYSTEM_FONT));
            const std::u16string text = WindowText(hwnd);
            DrawTextW(dc, W(text), -1, &inner, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc, old);
            EndPaint(hwnd, &ps);
            return 0;
        }
        default:
            return DefWindowProcW(hwnd, msg, wp, lp);
    }
}

}  // namespace pesoconf
