#include "tool/ParamForm.h"

#include <initializer_list>

#include "tool/Texts.h"

namespace pesoconf {

namespace {

// The edit fields whose changes mark the parameters as changed.
bool IsTrackedEdit(Ctl c) {
    switch (c) {
        case Ctl::NameEdit:
        case Ctl::EthPortEdit:
        case Ctl::EthIpEdit:
        case Ctl::EthMaskEdit:
        case Ctl::EthGatewayEdit:
        case Ctl::WifiPortEdit:
        case Ctl::WifiIpEdit:
        case Ctl::WifiMaskEdit:
        case Ctl::WifiGatewayEdit:
        case Ctl::WifiSsidEdit:
        case Ctl::WifiPasswordEdit:
        case Ctl::WifiApPortEdit:
        case Ctl::WifiApIpEdit:
        case Ctl::WifiApSsidEdit:
        case Ctl::WifiApPasswordEdit:
            return true;
        default:
            return false;
    }
}

// One group of an address: a non-empty run of digits of value at most 255.
bool IsAddressGroup(const std::u16string& group) {
    if (group.empty()) return false;
    int value = 0;
    for (char16_t ch : group) {
        if (ch < u'0' || ch > u'9') return false;
        value = value * 10 + (ch - u'0');
        if (value > 255) return false;
    }
    return true;
}

int32_t PortForPut(const std::u16string& text) {
    int32_t v = 0;
    return PortTextValue(text, &v) ? v : 5001;
}

bool PortPasses(const std::u16string& text) {
    int32_t v = 0;
    return PortTextValue(text, &v) && v <= 65535;
}

}  // namespace

int32_t CheckIpText(const std::u16string& text) {
    if (text.empty()) return -1;
    if (text[0] < u'0' || text[0] > u'9') return -1;
    std::u16string group;
    int dots = 0;
    for (char16_t ch : text) {
        if (ch == u'.') {
            if (!IsAddressGroup(group)) return -1;
            group.clear();
            ++dots;
        } else {
            group += ch;
        }
    }
    if (!IsAddressGroup(group) || dots != 3) return -1;
    return 0;
}

ParamForm::ParamForm(FormView& view, Host& host) : View(view), Owner(host) {}

void ParamForm::SetText(Ctl c, const std::u16string& text) {
    if (View.GetText(c) == text) return;
    View.SetText(c, text);
    if (HandlersAttached && IsTrackedEdit(c)) NameEditChange();
}

void ParamForm::SetChecked(Ctl c, bool checked) {
    if (View.IsChecked(c) == checked) return;
    View.SetChecked(c, checked);
    RunClickHandler(c);
}

void ParamForm::ShowNotice(const std::u16string& text) {
    View.SetText(Ctl::SearchPanel, text);
    View.SetVisible(Ctl::SearchPanel, true);
}

void ParamForm::SetButtonsEnabled(bool enabled) {
    View.SetEnabled(Ctl::SaveButton, enabled);
    View.SetEnabled(Ctl::CancelButton, enabled);
}

void ParamForm::OnUserEdit(Ctl c) {
    if (HandlersAttached && IsTrackedEdit(c)) NameEditChange();
}

void ParamForm::OnUserClick(Ctl c) { RunClickHandler(c); }

void ParamForm::RunClickHandler(Ctl c) {
    switch (c) {
        case Ctl::EthLinkCheckbox:
            if (HandlersAttached) EthLinkCheckboxClick();
            break;
        case Ctl::WifiLinkCheckBox:
            if (HandlersAttached) WifiLinkCheckBoxClick();
            break;
        case Ctl::WifiApCheckBox:  // never detached
            WifiApCheckBoxClick();
            break;
        default:
            break;
    }
}

void ParamForm::EnableEdit(Ctl c) { View.SetEnabled(c, true); }
void ParamForm::DisableEdit(Ctl c) { View.SetEnabled(c, false); }

void ParamForm::DisableParams() {
    for (Ctl c : {Ctl::NameEdit, Ctl::EthPortEdit, Ctl::EthIpEdit, Ctl::EthMaskEdit,
                  Ctl::EthGatewayEdit, Ctl::WifiPortEdit, Ctl::WifiIpEdit, Ctl::WifiMaskEdit,
                  Ctl::WifiGatewayEdit, Ctl::WifiSsidEdit, Ctl::WifiPasswordEdit,
                  Ctl::WifiApPortEdit, Ctl::WifiApIpEdit})
        DisableEdit(c);
    for (Ctl c : {Ctl::EthLinkCheckbox, Ctl::WifiLinkCheckBox, Ctl::WifiApCheckBox})
        View.SetEnabled(c, false);
}

void ParamForm::ClearParams() {
    DetachChangeHandlers();
    for (Ctl c : {Ctl::IdEdit, Ctl::NameEdit, Ctl::IfacesEdit, Ctl::EthPortEdit}) SetText(c, u"");
    SetChecked(Ctl::EthLinkCheckbox, false);
    for (Ctl c : {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit, Ctl::WifiPortEdit})
        SetText(c, u"");
    SetChecked(Ctl::WifiLinkCheckBox, false);
    for (Ctl c : {Ctl::WifiIpEdit, Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit, Ctl::WifiSsidEdit,
                  Ctl::WifiPasswordEdit})
        SetText(c, u"");
    SetChecked(Ctl::WifiApCheckBox, false);
    SetText(Ctl::WifiApPortEdit, u"");
    SetText(Ctl::WifiApIpEdit, u"");
    SetButtonsEnabled(false);
    ShowNotice(text::ConnectNotice);
    AttachChangeHandlers();
}

void ParamForm::ApplyInterfaces(uint8_t bitmap) {
    DisableParams();
    if (bitmap & 0x03) EnableEdit(Ctl::NameEdit);
    if ((bitmap & 0x04) && !EthernetMissing) {
        EnableEdit(Ctl::NameEdit);
        EnableEdit(Ctl::EthPortEdit);
        View.SetEnabled(Ctl::EthLinkCheckbox, true);
        if (!Checked(Ctl::EthLinkCheckbox)) {
            EnableEdit(Ctl::EthIpEdit);
            EnableEdit(Ctl::EthMaskEdit);
            EnableEdit(Ctl::EthGatewayEdit);
        }
    }
    if ((bitmap & 0x08) && !WifiMissing) {
        EnableEdit(Ctl::NameEdit);
        EnableEdit(Ctl::WifiPortEdit);
        EnableEdit(Ctl::WifiSsidEdit);
        EnableEdit(Ctl::WifiPasswordEdit);
        View.SetEnabled(Ctl::WifiLinkCheckBox, true);
        if (!Checked(Ctl::WifiLinkCheckBox)) {
            EnableEdit(Ctl::WifiIpEdit);
            EnableEdit(Ctl::WifiMaskEdit);
            EnableEdit(Ctl::WifiGatewayEdit);
        }
        View.SetEnabled(Ctl::WifiApCheckBox, true);
        EnableEdit(Ctl::WifiApPortEdit);
        EnableEdit(Ctl::WifiApIpEdit);
    }
    for (Ctl c : {Ctl::EthPortEdit, Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit,
                  Ctl::WifiPortEdit, Ctl::WifiIpEdit, Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit,
                  Ctl::WifiSsidEdit, Ctl::WifiPasswordEdit, Ctl::WifiApPortEdit,
                  Ctl::WifiApIpEdit})
        if (!Enabled(c)) SetText(c, u"");
    for (Ctl c : {Ctl::EthLinkCheckbox, Ctl::WifiLinkCheckBox, Ctl::WifiApCheckBox})
        if (!Enabled(c)) SetChecked(c, false);
}

void ParamForm::MarkEthernetAbsent() {
    SetText(Ctl::EthPortEdit, u"");
    SetChecked(Ctl::EthLinkCheckbox, false);
    for (Ctl c : {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit, Ctl::EthMacEdit})
        SetText(c, u"");
    View.SetEnabled(Ctl::EthLinkCheckbox, false);
    for (Ctl c : {Ctl::EthPortEdit, Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit})
        DisableEdit(c);
    EthernetMissing = true;
}

void ParamForm::MarkWifiAbsent() {
    for (Ctl c : {Ctl::WifiPortEdit, Ctl::WifiSsidEdit, Ctl::WifiPasswordEdit}) SetText(c, u"");
    SetChecked(Ctl::WifiLinkCheckBox, false);
    SetChecked(Ctl::WifiApCheckBox, false);
    for (Ctl c : {Ctl::WifiIpEdit, Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit, Ctl::WifiMacEdit,
                  Ctl::WifiApMacEdit})
        SetText(c, u"");
    View.SetEnabled(Ctl::WifiLinkCheckBox, false);
    View.SetEnabled(Ctl::WifiApCheckBox, false);
    for (Ctl c : {Ctl::WifiPortEdit, Ctl::WifiIpEdit, Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit,
                  Ctl::WifiSsidEdit, Ctl::WifiPasswordEdit, Ctl::WifiApPortEdit,
                  Ctl::WifiApIpEdit})
        DisableEdit(c);
    WifiMissing = true;
}

void ParamForm::NameEditChange() { ParamsChanged = true; }

void ParamForm::EthLinkCheckboxClick() {
    const Ctl fields[] = {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit};
    if (Checked(Ctl::EthLinkCheckbox)) {
        for (Ctl c : fields) {
            DisableEdit(c);
            SetText(c, u"");
        }
    } else {
        for (Ctl c : fields) EnableEdit(c);
    }
    ParamsChanged = true;
}

void ParamForm::WifiLinkCheckBoxClick() {
    const Ctl fields[] = {Ctl::WifiIpEdit, Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit};
    if (Checked(Ctl::WifiLinkCheckBox)) {
        for (Ctl c : fields) {
            DisableEdit(c);
            SetText(c, u"");
        }
    } else {
        for (Ctl c : fields) EnableEdit(c);
    }
    ParamsChanged = true;
}

void ParamForm::WifiApCheckBoxClick() {
    const bool ap = Checked(Ctl::WifiApCheckBox);
    View.SetVisible(Ctl::PanelSimpleWiFi, !ap);
    View.SetVisible(Ctl::PanelApWiFi, ap);
}

int32_t ParamForm::CheckAndWrite(DriverClient& driver) {
    std::u16string errors;
    auto fail = [&errors](const std::u16string& line) {
        errors += u"\r\n";
        errors += line;
    };
    auto checkIp = [&](Ctl c, const std::u16string& line) {
        if (Enabled(c) && CheckIpText(Text(c)) != 0) fail(line);
    };
    if (Enabled(Ctl::EthPortEdit) && !PortPasses(Text(Ctl::EthPortEdit))) fail(text::LineEthPort);
    checkIp(Ctl::EthIpEdit, text::LineEthIp);
    checkIp(Ctl::EthMaskEdit, text::LineEthMask);
    checkIp(Ctl::EthGatewayEdit, text::LineEthGateway);
    if (Enabled(Ctl::WifiPortEdit) && !PortPasses(Text(Ctl::WifiPortEdit))) fail(text::LineWifiPort);
    checkIp(Ctl::WifiIpEdit, text::LineWifiIp);
    checkIp(Ctl::WifiMaskEdit, text::LineWifiMask);
    checkIp(Ctl::WifiGatewayEdit, text::LineWifiGateway);
    if (Enabled(Ctl::WifiSsidEdit) && Text(Ctl::WifiSsidEdit).empty()) fail(text::LineSsid);
    const bool ap = Checked(Ctl::WifiApCheckBox);
    if (ap && CheckIpText(Text(Ctl::WifiApIpEdit)) != 0) fail(text::LineApIp);

    auto report = [&]() {
        Owner.ShowMessage(text::InputErrors + errors, text::InputErrorsCaption, MsgButtons::Ok,
                         MsgIcon::Error);
        return -1;
    };
    if (!errors.empty()) return report();

    const bool ethDynamic = Checked(Ctl::EthLinkCheckbox);
    const bool wifiDynamic = Checked(Ctl::WifiLinkCheckBox);
    auto addr = [this](Ctl c, bool dynamic) { return dynamic ? std::u16string() : Text(c); };
    const std::u16string ethIp = addr(Ctl::EthIpEdit, ethDynamic);
    const std::u16string ethMask = addr(Ctl::EthMaskEdit, ethDynamic);
    const std::u16string ethGateway = addr(Ctl::EthGatewayEdit, ethDynamic);
    const std::u16string wifiIp = addr(Ctl::WifiIpEdit, wifiDynamic);
    const std::u16string wifiMask = addr(Ctl::WifiMaskEdit, wifiDynamic);
    const std::u16string wifiGateway = addr(Ctl::WifiGatewayEdit, wifiDynamic);
    const std::u16string apIp = ap ? Text(Ctl::WifiApIpEdit) : std::u16string();

    driver.PutName(Text(Ctl::NameEdit));
    driver.PutPortEthernet(PortForPut(Text(Ctl::EthPortEdit)));
    driver.PutIpAddress(ethIp);
    driver.PutMask(ethMask);
    driver.PutGateway(ethGateway);
    driver.PutPortWiFi(PortForPut(Text(Ctl::WifiPortEdit)));
    driver.PutIpAddressWiFi(wifiIp);
    driver.PutMaskWiFi(wifiMask);
    driver.PutGatewayWiFi(wifiGateway);
    driver.PutSSID(Text(Ctl::WifiSsidEdit));
    driver.PutKey(Text(Ctl::WifiPasswordEdit));
    if (ap) driver.PutPortWiFi(PortForPut(Text(Ctl::WifiApPortEdit)));
    driver.PutApIpAddressWiFi(apIp);

    // The driver silently keeps its old value for an address it refuses
    // (0.1.2.3 passes the form's test but not the driver's). Sending would
    // then write the old address and report success: treat a value that
    // did not arrive as an input error and send nothing.
    if (driver.GetIpAddress() != ethIp) fail(text::LineEthIp);
    if (driver.GetMask() != ethMask) fail(text::LineEthMask);
    if (driver.GetGateway() != ethGateway) fail(text::LineEthGateway);
    if (driver.GetIpAddressWiFi() != wifiIp) fail(text::LineWifiIp);
    if (driver.GetMaskWiFi() != wifiMask) fail(text::LineWifiMask);
    if (driver.GetGatewayWiFi() != wifiGateway) fail(text::LineWifiGateway);
    if (driver.GetApIpAddressWiFi() != apIp) fail(text::LineApIp);
    if (!errors.empty()) return report();

    int32_t r = driver.OpenConnection();
    if (r != 0) return r;
    const int32_t name = driver.SetName();
    if (name != 0) r = 1;
    const int32_t eth = driver.SetEthernet();
    if (eth != 0 && eth != 4 && eth != 17) r += 2;
    const int32_t wifi = driver.SetWifi();
    if (wifi != 0 && wifi != 4 && wifi != 16) r += 4;
    const int32_t wifiAp = driver.SetWiFiAP();
    if (wifiAp != 0 && wifiAp != 4 && wifiAp != 16) r += 4;
    return r;
}

}  // namespace pesoconf
