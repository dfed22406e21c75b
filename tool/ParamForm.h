// The parameter form of the main window: field-state operations, the change
// and check-box handlers, the address test and the check-and-write routine.
// All control changes go through here, so the handlers fire exactly when
// the toolkit would fire them: on a change of a text or a tick, by the user
// or by the program, while they are attached.
#pragma once

#include <cstdint>
#include <string>

#include "tool/Controls.h"
#include "tool/DriverClient.h"

namespace pesoconf {

// 0 for four dot-separated groups of decimal digits of value 0 to 255
// (leading zeros allowed, 0.0.0.0 included), -1 otherwise.
int32_t CheckIpText(const std::u16string& text);

class ParamForm {
public:
    ParamForm(FormView& view, Host& host);

    // Flags read and cleared by the workflow.
    bool ParamsChanged = false;
    bool EthernetMissing = false;
    bool WifiMissing = false;

    // Programmatic changes; they run the handlers as a user change would.
    void SetText(Ctl c, const std::u16string& text);
    std::u16string Text(Ctl c) const { return View.GetText(c); }
    void SetChecked(Ctl c, bool checked);
    bool Checked(Ctl c) const { return View.IsChecked(c); }
    bool Enabled(Ctl c) const { return View.IsEnabled(c); }
    void SetEnabled(Ctl c, bool enabled) { View.SetEnabled(c, enabled); }

    // The notice box: caption and shown.
    void ShowNotice(const std::u16string& text);
    void SetButtonsEnabled(bool enabled);

    // Changes the user made in the window (the control already holds them).
    void OnUserEdit(Ctl c);
    void OnUserClick(Ctl c);

    void EnableEdit(Ctl c);
    void DisableEdit(Ctl c);
    void DisableParams();
    void ClearParams();
    void ApplyInterfaces(uint8_t bitmap);
    void MarkEthernetAbsent();
    void MarkWifiAbsent();
    void DetachChangeHandlers() { HandlersAttached = false; }
    void AttachChangeHandlers() { HandlersAttached = true; }
    bool ChangeHandlersAttached() const { return HandlersAttached; }

    void NameEditChange();
    void EthLinkCheckboxClick();
    void WifiLinkCheckBoxClick();
    void WifiApCheckBoxClick();

    // -1 after reporting input errors, 0 when the scale took every setting,
    // another value when the write failed. The driver's Connection is set
    // by the caller; the connection is left open.
    int32_t CheckAndWrite(DriverClient& driver);

    FormView& View;

private:
    void RunClickHandler(Ctl c);
    Host& Owner;
    bool HandlersAttached = true;
};

}  // namespace pesoconf
