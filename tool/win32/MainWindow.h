// TMainForm on Win32: the frameless, picture-shaped main window with its
// strips, fields, boxes, notice and picture buttons. It maps the portable
// form view and host services onto real controls, and hands the window's
// events to the workflow and the form.
#pragma once

#include <windows.h>

#include <string>

#include "tool/Controls.h"
#include "tool/ParamForm.h"
#include "tool/Workflow.h"
#include "tool/win32/HelpUnit.h"

namespace pesoconf {

class MainWindow : public FormView, public Host {
public:
    MainWindow();
    ~MainWindow() override;

    // Creates the window and its controls and runs FormCreate.
    bool Create(HINSTANCE instance, const std::wstring& folder);
    void Attach(ParamForm* form, Workflow* flow, HelpWindow* help);
    // Shows the window (clipped to its shape) and starts the timer.
    void Show();
    bool Terminated() const { return Ending; }
    HWND Handle() const { return Window; }

    // FormView
    void SetText(Ctl c, const std::u16string& text) override;
    std::u16string GetText(Ctl c) const override;
    void SetEnabled(Ctl c, bool enabled) override;
    bool IsEnabled(Ctl c) const override;
    void SetChecked(Ctl c, bool checked) override;
    bool IsChecked(Ctl c) const override;
    void SetVisible(Ctl c, bool visible) override;
    bool IsVisible(Ctl c) const override;

    // Host
    void ProcessMessages() override;
    void Terminate() override;
    uint32_t TickCount() override;
    void SetTimerEnabled(bool enabled) override;
    void SetTimerInterval(uint32_t ms) override;
    MsgAnswer ShowMessage(const std::u16string& text, const std::u16string& caption,
                         MsgButtons buttons, MsgIcon icon) override;

    // Dispatches one message as the main loop and the pumps do.
    void Dispatch(MSG& msg);

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK MarkProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    static LRESULT CALLBACK NoticeProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    LRESULT Handle(UINT msg, WPARAM wp, LPARAM lp);
    void CreateControls();
    void FormCreate();
    void FormPaint(HDC dc);
    void DrawButton(const DRAWITEMSTRUCT& item);
    void ApplyShape();
    RECT ControlRect(Ctl c) const;
    void InvalidateControl(Ctl c);
    HWND H(Ctl c) const { return Controls[static_cast<int>(c)]; }
    bool IsEdit(Ctl c) const;
    int CtlFromId(int id) const;

    HINSTANCE Instance = nullptr;
    HWND Window = nullptr;
    HWND CloseMark = nullptr;
    HWND MinimizeMark = nullptr;
    HWND Controls[CtlCount] = {};
    bool Visible[CtlCount] = {};
    std::u16string Caption;  // LabelCaption
    std::wstring Folder;

    ParamForm* Form = nullptr;
    Workflow* Flow = nullptr;
    HelpWindow* Help = nullptr;

    bool Quiet = false;  // programmatic change: no change events
    bool Ending = false;
    bool Shaped = false;
    bool TimerOn = true;
    UINT TimerMs = 100;

    HFONT Font = nullptr, BoldFont = nullptr, NoticeFont = nullptr, CloseFont = nullptr,
          MinimizeFont = nullptr;
    HBRUSH WindowBrush = nullptr, PanelBrush = nullptr, EditBrush = nullptr,
           DisabledBrush = nullptr;
    HBITMAP Background = nullptr, Logo = nullptr, ButtonFace = nullptr, ButtonDown = nullptr,
            ButtonOff = nullptr, HelpFace = nullptr, HelpDown = nullptr;
};

}  // namespace pesoconf
