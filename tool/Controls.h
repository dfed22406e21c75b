// The controls of the main window that the tool's logic reads and drives,
// and the window services it needs. The Win32 window maps them to real
// controls; the unit tests use a recording fake.
#pragma once

#include <cstdint>
#include <string>

namespace pesoconf {

enum class Ctl : int {
    IdEdit,
    NameEdit,
    IfacesEdit,
    EthPortEdit,
    EthLinkCheckbox,
    EthIpEdit,
    EthMaskEdit,
    EthGatewayEdit,
    EthMacEdit,
    WifiApCheckBox,
    WifiPortEdit,
    WifiLinkCheckBox,
    WifiIpEdit,
    WifiMaskEdit,
    WifiGatewayEdit,
    WifiSsidEdit,
    WifiPasswordEdit,
    WifiMacEdit,
    WifiApPortEdit,
    WifiApIpEdit,
    WifiApSsidEdit,
    WifiApPasswordEdit,
    WifiApMacEdit,
    SearchPanel,
    SaveButton,
    CancelButton,
    HelpButton,
    PanelSimpleWiFi,
    PanelApWiFi,
    LabelCaption,
    Count
};

constexpr int CtlCount = static_cast<int>(Ctl::Count);

// State of the window's controls. Setting a value does not call back into
// the logic: handlers are run by ParamForm, which alone decides when they
// fire.
class FormView {
public:
    virtual ~FormView() = default;
    virtual void SetText(Ctl c, const std::u16string& text) = 0;
    virtual std::u16string GetText(Ctl c) const = 0;
    virtual void SetEnabled(Ctl c, bool enabled) = 0;
    virtual bool IsEnabled(Ctl c) const = 0;
    virtual void SetChecked(Ctl c, bool checked) = 0;
    virtual bool IsChecked(Ctl c) const = 0;
    virtual void SetVisible(Ctl c, bool visible) = 0;
    virtual bool IsVisible(Ctl c) const = 0;
};

enum class MsgButtons { Ok, YesNoCancel };
enum class MsgIcon { None, Error };
enum class MsgAnswer { Ok, Yes, No, Cancel };

// Window and program services: events, the end of the program, time, the
// workflow's timer and message boxes.
class Host {
public:
    virtual ~Host() = default;
    // Process the window's pending events (handlers run inside).
    virtual void ProcessMessages() = 0;
    // Ask for the end of the program; it ends when control returns to the
    // main event loop.
    virtual void Terminate() = 0;
    virtual uint32_t TickCount() = 0;  // milliseconds, wrapping
    virtual void SetTimerEnabled(bool enabled) = 0;
    virtual void SetTimerInterval(uint32_t ms) = 0;
    virtual MsgAnswer ShowMessage(const std::u16string& text, const std::u16string& caption,
                                 MsgButtons buttons, MsgIcon icon) = 0;
};

}  // namespace pesoconf
