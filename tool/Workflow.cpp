#include "tool/Workflow.h"

#include <algorithm>
#include <cstring>

#include "tool/Texts.h"

namespace pesoconf {

namespace {

const std::array<uint8_t, 8> kGetInfo = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x00, 0x00, 0x00};
const std::array<uint8_t, 8> kGetMac = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x29, 0x29, 0x00};

// Frame positions read from the replies; a reply must reach them.
constexpr int kInfoBitmap = 23;
constexpr int kEthMacLast = 27;   // shown first
constexpr int kWifiMacLast = 33;  // shown first

// A read that comes back empty this quickly did not wait for the line: the
// port is gone, and further reads would only spin.
constexpr uint32_t kDeadReadMs = 20;

const std::u16string kNoAddress = u"0.0.0.0";

std::u16string U16FromAscii(const char* s) {
    std::u16string out;
    while (*s) out += static_cast<char16_t>(static_cast<unsigned char>(*s++));
    return out;
}

}  // namespace

Workflow::Workflow(ParamForm& form, Host& host, SerialPort& serial, DriverFactory makeDriver)
    : Form(form), Owner(host), Serial(serial), MakeDriver(std::move(makeDriver)) {}

void Workflow::Pump() {
    Owner.ProcessMessages();
    if (CloseRequested) Owner.Terminate();
}

void Workflow::Timer1Timer() {
    if (Halted) return;
    Owner.SetTimerEnabled(false);
    try {
        bool again = true;
        switch (WorkState) {
            case Search: SearchStep(); break;
            case Read: ReadStep(); break;
            case Watch: again = WatchStep(); break;
            case Write: WriteStep(); break;
            default: break;
        }
        if (again) Owner.SetTimerEnabled(true);
    } catch (const DriverError& e) {
        Halted = true;
        Owner.ShowMessage(e.Text, text::ProgramTitle, MsgButtons::Ok, MsgIcon::Error);
    } catch (const std::exception& e) {
        Halted = true;
        Owner.ShowMessage(U16FromAscii(e.what()), text::ProgramTitle, MsgButtons::Ok,
                         MsgIcon::Error);
    }
}

void Workflow::SearchStep() {
    if (CloseRequested) Owner.Terminate();
    Owner.SetTimerInterval(100);
    if (!Scales) Scales = MakeDriver();
    FoundConnection.clear();
    for (int n = 1; n <= 99; ++n) {
        Serial.SetPortNumber(static_cast<uint16_t>(n));
        Scales->PutConnection(u"COM" + DecimalText(n));
        if (Scales->OpenConnection() == 0) {
            FoundConnection = Scales->GetConnection();
            Scales->CloseConnection();
            break;
        }
        Pump();
    }
    if (!FoundConnection.empty()) {
        Owner.SetTimerInterval(100);
        WorkState = Read;
    }
}

void Workflow::ReadStep() {
    if (FoundConnection.empty()) {
        Owner.SetTimerInterval(100);
        WorkState = Search;
        return;
    }
    DriverClient& d = *Scales;
    d.PutConnection(FoundConnection);
    if (d.OpenConnection() != 0) {
        Form.DisableParams();
        Form.ClearParams();
        Owner.SetTimerInterval(100);
        WorkState = Search;
        return;
    }
    Form.DetachChangeHandlers();

    if (d.GetName() == 0) {
        Form.SetText(Ctl::IdEdit, d.GetScalesID());
        Form.SetText(Ctl::NameEdit, d.GetNameText());
    }

    Form.EthernetMissing = false;
    if (d.GetEthernet() == 0) {
        Form.SetText(Ctl::EthPortEdit, DecimalText(d.GetPortEthernet()));
        Form.SetText(Ctl::EthIpEdit, d.GetIpAddress());
        Form.SetText(Ctl::EthMaskEdit, d.GetMask());
        Form.SetText(Ctl::EthGatewayEdit, d.GetGateway());
    } else {
        Form.MarkEthernetAbsent();
    }
    const bool ethDynamic = Form.Text(Ctl::EthIpEdit) == kNoAddress &&
                            Form.Text(Ctl::EthMaskEdit) == kNoAddress &&
                            Form.Text(Ctl::EthGatewayEdit) == kNoAddress;
    Form.SetChecked(Ctl::EthLinkCheckbox, ethDynamic);
    if (ethDynamic) {
        for (Ctl c : {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit}) Form.SetText(c, u"");
    }

    Form.WifiMissing = false;
    if (d.GetWiFi() != 0) {
        Form.MarkWifiAbsent();
    } else {
        if (d.GetWiFiAP() == 0) {
            Form.SetText(Ctl::WifiApIpEdit, d.GetApIpAddressWiFi());
            Form.SetText(Ctl::WifiApSsidEdit, d.GetApSSID());
            Form.SetText(Ctl::WifiApPasswordEdit, d.GetApKey());
            Form.SetEnabled(Ctl::WifiApCheckBox, true);
            // Each comparison reads the property afresh.
            const bool ap = d.GetApIpAddressWiFi() != kNoAddress &&
                            d.GetApIpAddressWiFi() != u"0" && !d.GetApIpAddressWiFi().empty();
            Form.SetChecked(Ctl::WifiApCheckBox, ap);
            if (!ap) Form.SetText(Ctl::WifiApIpEdit, u"");
        }
        Form.SetText(Ctl::WifiPortEdit, DecimalText(d.GetPortWiFi()));
        Form.SetText(Ctl::WifiIpEdit, d.GetIpAddressWiFi());
        Form.SetText(Ctl::WifiMaskEdit, d.GetMaskWiFi());
        Form.SetText(Ctl::WifiGatewayEdit, d.GetGatewayWiFi());
        Form.SetText(Ctl::WifiSsidEdit, d.GetSSID());
        Form.SetText(Ctl::WifiPasswordEdit, d.GetKey());
        Form.SetText(Ctl::WifiApPortEdit, DecimalText(d.GetPortWiFi()));
    }
    const bool wifiDynamic = Form.Text(Ctl::WifiIpEdit) == kNoAddress &&
                             Form.Text(Ctl::WifiMaskEdit) == kNoAddress &&
                             Form.Text(Ctl::WifiGatewayEdit) == kNoAddress;
    Form.SetChecked(Ctl::WifiLinkCheckBox, wifiDynamic);
    if (wifiDynamic) {
        for (Ctl c : {Ctl::WifiIpEdit, Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit})
            Form.SetText(c, u"");
    }

    d.CloseConnection();
    Pump();

    if (SerialProbe()) {
        Serial.Close();
        Owner.ProcessMessages();
        Owner.SetTimerInterval(100);
        WorkState = Watch;
        Form.AttachChangeHandlers();
        Form.View.SetVisible(Ctl::SearchPanel, false);
        Form.SetButtonsEnabled(true);
    } else {
        Serial.Close();
        Form.DisableParams();
        Form.ClearParams();
        Owner.SetTimerInterval(100);
        WorkState = Search;
    }
}

bool Workflow::SerialProbe() {
    int32_t parity = Scales->GetParity();
    if (parity != 0 && parity != 2 && parity != 4) parity = 2;
    Serial.SetParity(static_cast<uint8_t>(parity));
    int32_t baud = Scales->GetBaudRate();
    if (baud != 4800 && baud != 19200 && baud != 57600) baud = 4800;

    for (;;) {
        if (!Serial.Open(ProbeQueueSize, ProbeQueueSize, static_cast<uint32_t>(baud))) return false;
        if (Exchange(kGetInfo, kInfoBitmap + 1)) break;
        if (Serial.Parity() == 0) return false;
        Serial.Close();
        Serial.SetParity(0);
    }

    const uint8_t bitmap = ProbeFrame[kInfoBitmap];
    Form.SetText(Ctl::IfacesEdit, InterfaceText(bitmap));
    Form.ApplyInterfaces(bitmap);

    if (Exchange(kGetMac, kWifiMacLast + 1)) {
        auto mac = [this](int last) {
            std::array<uint8_t, 6> bytes{};
            for (int i = 0; i < 6; ++i) bytes[i] = ProbeFrame[last - i];
            return MacText(bytes);
        };
        Form.SetText(Ctl::EthMacEdit, (bitmap & 0x04) ? mac(kEthMacLast) : std::u16string());
        const std::u16string wifiMac = (bitmap & 0x08) ? mac(kWifiMacLast) : std::u16string();
        Form.SetText(Ctl::WifiMacEdit, wifiMac);
        Form.SetText(Ctl::WifiApMacEdit, wifiMac);
    }
    return true;
}

// One read of the probe: appended to ProbeFrame, bounded by the room left in
// it. False when the exchange has failed.
bool Workflow::ProbeRead(uint32_t t0, int32_t& total) {
    const int32_t room = ProbeSize - total;
    if (room <= 0) return false;  // nothing more can be stored
    const uint32_t before = Owner.TickCount();
    int32_t n = Serial.Read(ProbeChunk.data(), room);
    n = std::clamp(n, 0, room);
    std::memcpy(ProbeFrame.data() + total, ProbeChunk.data(), static_cast<std::size_t>(n));
    total += n;
    const uint32_t now = Owner.TickCount();
    if (now - t0 > ProbeReplyLimitMs) return false;
    if (n == 0 && now - before < kDeadReadMs) return false;
    Pump();
    return true;
}

bool Workflow::Exchange(const std::array<uint8_t, 8>& request, int32_t bytesUsed) {
    std::copy(request.begin(), request.end(), ProbeFrame.begin());
    Serial.Write(ProbeFrame.data(), static_cast<int32_t>(request.size()));
    const uint32_t t0 = Owner.TickCount();
    int32_t total = 0;
    while (total <= 5)
        if (!ProbeRead(t0, total)) return false;
    const int32_t length = ProbeFrame[3] + 256 * ProbeFrame[4];
    if (length > ProbeSize - 7) return false;  // announces more than the frame holds
    while (total != length + 7)
        if (!ProbeRead(t0, total)) return false;
    // A reply too short to hold the bytes taken from it would leave them
    // stale from the request or an earlier reply.
    return total >= bytesUsed;
}

bool Workflow::WatchStep() {
    Owner.SetTimerInterval(1000);
    if (!FoundConnection.empty()) {
        Scales->PutConnection(FoundConnection);
        const int32_t r = Scales->OpenConnection();
        Owner.ProcessMessages();
        if (CloseRequested) {
            Owner.Terminate();
            return false;
        }
        if (r == 0) {
            Scales->CloseConnection();
        } else {
            Form.DisableParams();
            Form.ClearParams();
            WorkState = Search;
        }
    }
    return true;
}

void Workflow::WriteStep() {
    Form.ShowNotice(text::WriteNotice);
    Form.SetButtonsEnabled(false);
    int32_t r = -1;
    if (!FoundConnection.empty()) {
        Scales->PutConnection(FoundConnection);
        r = Form.CheckAndWrite(*Scales);
    }
    Form.DisableParams();
    if (r == 0) {
        Owner.ShowMessage(text::WriteDone, text::WriteDoneCaption, MsgButtons::Ok, MsgIcon::None);
        if (CloseAfterWrite) {
            Scales->CloseConnection();
            Owner.Terminate();
        }
    } else if (r != -1) {
        Owner.ShowMessage(text::WriteFailed, text::WriteFailedCaption, MsgButtons::Ok,
                         MsgIcon::Error);
    }
    Form.ParamsChanged = false;
    Form.SetButtonsEnabled(true);
    Form.DisableParams();
    Form.ShowNotice(text::UpdateNotice);
    Owner.SetTimerInterval(100);
    WorkState = Read;
}

void Workflow::SaveButton_Click() { WorkState = Write; }

void Workflow::DropEditsAndReread() {
    Form.DisableParams();
    Form.ShowNotice(text::UpdateNotice);
    Form.SetButtonsEnabled(false);
    Form.ParamsChanged = false;
}

void Workflow::CancelButton_Click() {
    DropEditsAndReread();
    Owner.ProcessMessages();
    WorkState = Read;
}

bool Workflow::FormCloseQuery() {
    bool allow = true;
    if (WorkState == Search) {
        Form.View.SetText(Ctl::SearchPanel, text::ClosingNotice);
        CloseRequested = true;
    }
    if (Form.ParamsChanged) {
        const MsgAnswer a = Owner.ShowMessage(text::AskWrite, text::AskWriteCaption,
                                             MsgButtons::YesNoCancel, MsgIcon::None);
        if (a == MsgAnswer::Yes) {
            CloseAfterWrite = true;
            Form.ShowNotice(text::WriteNotice);
            WorkState = Write;
            return false;
        }
        allow = a == MsgAnswer::No;
    }
    if (allow) {
        CloseRequested = true;
    } else {
        DropEditsAndReread();
        WorkState = Read;
    }
    return allow;
}

void Workflow::CloseButtonClick() {
    FormCloseQuery();
    if (CloseRequested) {
        Form.ShowNotice(text::ClosingNotice);
        // With the workflow stopped no tick will look at the request again;
        // the close mark would otherwise do nothing for the rest of the run.
        if (Halted) Owner.Terminate();
    }
}

}  // namespace pesoconf
