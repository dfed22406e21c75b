#include "cli/Session.h"

#include <exception>
#include <functional>
#include <string>

#include "cli/Console.h"
#include "cli/JsonObject.h"
#include "cli/ResultText.h"
#include "driver/Language.h"
#include "driver/Scales.h"
#include "driver/Settings.h"
#include "driver/platform/Platform.h"

namespace pesolink::cli {

namespace {

using platform::FromUtf8;
using platform::ToUtf8;

// A failure the driver raised; what() is its text.
struct Raised {
    std::string member, text;
};

class Session {
public:
    explicit Session(const Invocation& inv) : inv_(inv) {}

    int Run() {
        // Before the module start: no thread of the driver exists yet.
        if (inv_.watch) CatchStop();
        try {
            StartDriverModule();
        } catch (const std::exception& e) {
            return RaisedFailure({"module start", e.what()});
        }
        // The scale's code page is known only now; still nothing is sent.
        for (const auto& [option, text] : {std::pair{"--name", inv_.name}, std::pair{"--ssid", inv_.ssid},
                                           std::pair{"--key", inv_.key}}) {
            if (text && !Encodable(*text)) {
                Write(Stream::Err, std::string("pesolink: ") + option + ": a character of \"" + *text +
                                       "\" has no byte in the scale's code page (the LCID setting)\n"
                                       "Try \"pesolink --help\".\n");
                return ExitUsage;
            }
        }
        try {
            const int status = Open();
            if (status != 0) return status;
            const int result = Command();
            Call("CloseConnection", &TScales::CloseConnection);
            return result;
        } catch (const Raised& r) {
            return RaisedFailure(r);
        }
    }

private:
    // ---- driver calls ------------------------------------------------------------
    int32_t Call(const char* member, int32_t (TScales::*call)()) {
        try {
            return (scales_.*call)();
        } catch (const std::exception& e) {
            throw Raised{member, e.what()};
        }
    }

    static bool Encodable(const std::string& utf8) {
        for (const char16_t c : FromUtf8(utf8))
            if (c != 0 && CharToByte[c] == 0) return false;
        return true;
    }

    bool Serial() const { return inv_.target.kind != Target::Kind::Tcp; }

    int Open() {
        Target target = inv_.target;
        DeviceAlias alias;
        if (target.kind == Target::Kind::DevicePath) {
            std::string error;
            if (!alias.Make(target, error)) return RaisedFailure({"OpenConnection", error});
        }
        if (Serial()) {
            scales_.SetProbeObserver([this](int32_t baud, int32_t parity) { Progress(baud, parity); });
        }
        scales_.put_Connection(FromUtf8(target.connection));
        int32_t result;
        try {
            result = Call("OpenConnection", &TScales::OpenConnection);
        } catch (...) {
            EndProgress();
            throw;
        }
        EndProgress();
        scales_.SetProbeObserver(nullptr);
        // The port is open: the link that named it is no longer needed.
        alias.Remove();
        if (result != 0) return Failed("OpenConnection", result);
        return 0;
    }

    // ---- progress of the line probe, on standard error ----------------------
    void Progress(int32_t baud, int32_t parity) {
        const std::string text = "trying " + inv_.target.text + " at " + std::to_string(baud) + " baud, " +
                                 ParityText(parity) + " ...";
        if (IsTerminal(Stream::Err)) {
            Write(Stream::Err, "\r" + Padded(text, progressWidth_));
            progressWidth_ = text.size();
        } else {
            Write(Stream::Err, "pesolink: " + text + "\n");
        }
    }

    void EndProgress() {
        if (progressWidth_ == 0) return;
        Write(Stream::Err, "\r" + std::string(progressWidth_, ' ') + "\r");
        progressWidth_ = 0;
    }

    static std::string Padded(const std::string& text, std::size_t width) {
        return text.size() < width ? text + std::string(width - text.size(), ' ') : text;
    }

    // ---- output -------------------------------------------------------------------
    JsonObject Head(int status) const {
        JsonObject o;
        o.Add("command", inv_.command).Add("target", inv_.target.text).Add("status", status);
        return o;
    }

    void Emit(const JsonObject& json, const std::string& plain) {
        Write(Stream::Out, (inv_.json ? json.Text() : plain) + "\n");
    }

    // A member that answered with a result code other than 0.
    int Failed(const std::string& member, int32_t result) {
        const std::string text = ResultText(result);
        Write(Stream::Err, "pesolink: " + member + ": result " + std::to_string(result) + ": " + text + "\n");
        if (inv_.json) {
            JsonObject o = Head(result);
            o.Add("failed", member).Add("message", text);
            Write(Stream::Out, o.Text() + "\n");
        }
        return result;
    }

    int RaisedFailure(const Raised& r) {
        EndProgress();
        Write(Stream::Err, "pesolink: " + r.member + ": failed: " + r.text + "\n");
        if (inv_.json) {
            JsonObject o = Head(ExitRaised);
            o.Add("failed", r.member).Add("message", r.text);
            Write(Stream::Out, o.Text() + "\n");
        }
        return ExitRaised;
    }

    static std::string Quoted(const std::u16string& text) { return "\"" + ToUtf8(text) + "\""; }

    // ---- commands -------------------------------------------------------------------
    int Command() {
        const std::string& c = inv_.command;
        if (c == "weight") return inv_.watch ? Watch() : Weight();
        if (c == "tare") return Tare();
        if (c == "zero") return Zero();
        if (c == "info") return Info();
        if (c == "set-name") return SetName();
        if (c == "set-ethernet") return SetEthernet();
        if (c == "set-wifi") return SetWifi();
        return SetAccessPoint();
    }

    std::string WeightText() const {
        std::string text = "weight " + std::to_string(scales_.get_Weight()) + ", division " +
                           std::to_string(scales_.get_Division()) +
                           (scales_.get_Stable() != 0 ? ", stable" : ", unstable");
        if (scales_.get_NetIndication() != 0) text += ", net";
        if (scales_.get_ZeroIndication() != 0) text += ", zero";
        return text;
    }

    JsonObject WeightJson() const {
        JsonObject o = Head(0);
        o.Add("weight", scales_.get_Weight())
            .Add("division", scales_.get_Division())
            .Add("stable", scales_.get_Stable())
            .Add("net", scales_.get_NetIndication())
            .Add("zero", scales_.get_ZeroIndication());
        return o;
    }

    int Weight() {
        const int32_t result = Call("ReadWeight", &TScales::ReadWeight);
        if (result != 0) return Failed("ReadWeight", result);
        Emit(WeightJson(), WeightText());
        return 0;
    }

    // Readings until Ctrl+C; a failed reading is shown and the next one
    // tried. The status is that of the last reading.
    int Watch() {
        int32_t result = 0;
        std::size_t width = 0;
        for (;;) {
            result = Call("ReadWeight", &TScales::ReadWeight);
            if (inv_.json) {
                JsonObject o = result == 0 ? WeightJson() : Head(result);
                if (result != 0) o.Add("failed", "ReadWeight").Add("message", ResultText(result));
                Write(Stream::Out, o.Text() + "\n");
            } else {
                const std::string text = result == 0 ? WeightText()
                                                     : "no reading: result " + std::to_string(result) + ": " +
                                                           ResultText(result);
                Write(Stream::Out, "\r" + Padded(text, width));
                width = text.size();
            }
            if (WaitForStop(inv_.intervalMs)) break;
        }
        if (!inv_.json) Write(Stream::Out, "\n");
        if (result != 0)
            Write(Stream::Err, "pesolink: ReadWeight: result " + std::to_string(result) + ": " +
                                   ResultText(result) + "\n");
        return result;
    }

    int Tare() {
        if (inv_.tare) {
            scales_.put_TareWeight(*inv_.tare);
            const int32_t result = Call("SetTare", &TScales::SetTare);
            if (result != 0) return Failed("SetTare", result);
            JsonObject o = Head(0);
            o.Add("tare", scales_.get_TareWeight());
            Emit(o, "tare set to " + std::to_string(scales_.get_TareWeight()));
            return 0;
        }
        const int32_t result = Call("GetTare", &TScales::GetTare);
        if (result != 0) return Failed("GetTare", result);
        JsonObject o = Head(0);
        o.Add("tare", scales_.get_TareWeight());
        Emit(o, "tare " + std::to_string(scales_.get_TareWeight()));
        return 0;
    }

    int Zero() {
        const int32_t result = Call("SetZero", &TScales::SetZero);
        if (result != 0) return Failed("SetZero", result);
        Emit(Head(0), "zero set");
        return 0;
    }

    // One section of info: its result, and its fields when it is 0.
    struct Section {
        int32_t result = 0;
        JsonObject json;
        std::string plain;
    };

    static std::string SectionLine(const char* label, const Section& s) {
        std::string line = std::string(label) + (s.result == 0 ? s.plain : "");
        if (s.result == 4) line += "not available (result 4)";
        else if (s.result != 0) line += "result " + std::to_string(s.result) + ": " + ResultText(s.result);
        return line;
    }

    static JsonObject SectionJson(const Section& s) {
        if (s.result == 0) return s.json;
        JsonObject o;
        o.Add("result", s.result).Add("message", ResultText(s.result));
        return o;
    }

    // GetName must succeed; an Ethernet or Wi-Fi section that the scale lacks
    // (result 4) is shown as such, any other failure of a section becomes
    // the status.
    int Info() {
        const int32_t named = Call("GetName", &TScales::GetName);
        if (named != 0) return Failed("GetName", named);
        const std::string serial = ToUtf8(scales_.get_ScalesID());
        const std::string name = ToUtf8(scales_.get_Name());

        Section eth;
        eth.result = Call("GetEthernet", &TScales::GetEthernet);
        if (eth.result == 0) {
            eth.json.Add("result", 0)
                .Add("ip", ToUtf8(scales_.get_IpAddress()))
                .Add("mask", ToUtf8(scales_.get_Mask()))
                .Add("gateway", ToUtf8(scales_.get_Gateway()))
                .Add("port", scales_.get_PortEthernet());
            eth.plain = ToUtf8(scales_.get_IpAddress()) + " mask " + ToUtf8(scales_.get_Mask()) + " gateway " +
                        ToUtf8(scales_.get_Gateway()) + " port " + std::to_string(scales_.get_PortEthernet());
        }
        Section wifi;
        wifi.result = Call("GetWiFi", &TScales::GetWiFi);
        if (wifi.result == 0) {
            wifi.json.Add("result", 0)
                .Add("ssid", ToUtf8(scales_.get_SSID()))
                .Add("key", ToUtf8(scales_.get_Key()))
                .Add("ip", ToUtf8(scales_.get_IpAddressWiFi()))
                .Add("mask", ToUtf8(scales_.get_MaskWiFi()))
                .Add("gateway", ToUtf8(scales_.get_GatewayWiFi()))
                .Add("port", scales_.get_PortWiFi());
            wifi.plain = Quoted(scales_.get_SSID()) + " key " + Quoted(scales_.get_Key()) + " " +
                         ToUtf8(scales_.get_IpAddressWiFi()) + " mask " + ToUtf8(scales_.get_MaskWiFi()) +
                         " gateway " + ToUtf8(scales_.get_GatewayWiFi()) + " port " +
                         std::to_string(scales_.get_PortWiFi());
        }
        Section ap;
        ap.result = Call("GetWiFiAP", &TScales::GetWiFiAP);
        if (ap.result == 0) {
            ap.json.Add("result", 0)
                .Add("ip", ToUtf8(scales_.get_ApIpAddressWiFi()))
                .Add("ssid", ToUtf8(scales_.get_ApSSID()))
                .Add("key", ToUtf8(scales_.get_ApKey()));
            ap.plain = ToUtf8(scales_.get_ApIpAddressWiFi()) + " network " + Quoted(scales_.get_ApSSID()) +
                       " key " + Quoted(scales_.get_ApKey());
        }

        int status = 0;
        const std::pair<const char*, const Section*> sections[] = {
            {"GetEthernet", &eth}, {"GetWiFi", &wifi}, {"GetWiFiAP", &ap}};
        std::string failedMember;
        for (const auto& [member, s] : sections) {
            if (status == 0 && s->result != 0 && s->result != 4) {
                status = s->result;
                failedMember = member;
            }
        }

        JsonObject o = Head(status);
        o.Add("serial", serial).Add("name", name);
        std::string line;
        if (Serial()) {
            JsonObject l;
            l.Add("baudRate", scales_.get_BaudRate()).Add("parity", scales_.get_Parity());
            o.Add("line", l);
            line = std::to_string(scales_.get_BaudRate()) + " baud, " + ParityText(scales_.get_Parity());
        } else {
            o.AddNull("line");
            line = "TCP";
        }
        o.Add("ethernet", SectionJson(eth)).Add("wifi", SectionJson(wifi)).Add("accessPoint", SectionJson(ap));
        if (status != 0) o.Add("failed", failedMember).Add("message", ResultText(status));
        const std::string plain = "serial number  " + serial + "\nname           \"" + name +
                                  "\"\nline           " + line + "\n" + SectionLine("ethernet       ", eth) +
                                  "\n" + SectionLine("wi-fi          ", wifi) + "\n" +
                                  SectionLine("access point   ", ap);
        Emit(o, plain);
        if (status != 0)
            Write(Stream::Err, "pesolink: " + failedMember + ": result " + std::to_string(status) + ": " +
                                   ResultText(status) + "\n");
        return status;
    }

    int SetName() {
        scales_.put_Name(FromUtf8(*inv_.name));
        const int32_t result = Call("SetName", &TScales::SetName);
        if (result != 0) return Failed("SetName", result);
        JsonObject o = Head(0);
        o.Add("name", ToUtf8(scales_.get_Name()));
        Emit(o, "name set to " + Quoted(scales_.get_Name()));
        return 0;
    }

    // The Set commands send every field: the current settings are read
    // first, so that only the options given change.
    int SetEthernet() {
        const int32_t read = Call("GetEthernet", &TScales::GetEthernet);
        if (read != 0) return Failed("GetEthernet", read);
        if (inv_.ip) scales_.put_IpAddress(FromUtf8(*inv_.ip));
        if (inv_.mask) scales_.put_Mask(FromUtf8(*inv_.mask));
        if (inv_.gateway) scales_.put_Gateway(FromUtf8(*inv_.gateway));
        if (inv_.port) scales_.put_PortEthernet(*inv_.port);
        const int32_t result = Call("SetEthernet", &TScales::SetEthernet);
        if (result != 0) return Failed("SetEthernet", result);
        JsonObject o = Head(0);
        o.Add("ip", ToUtf8(scales_.get_IpAddress()))
            .Add("mask", ToUtf8(scales_.get_Mask()))
            .Add("gateway", ToUtf8(scales_.get_Gateway()))
            .Add("port", scales_.get_PortEthernet());
        Emit(o, "ethernet set to " + ToUtf8(scales_.get_IpAddress()) + " mask " + ToUtf8(scales_.get_Mask()) +
                    " gateway " + ToUtf8(scales_.get_Gateway()) + " port " +
                    std::to_string(scales_.get_PortEthernet()));
        return 0;
    }

    int SetWifi() {
        const int32_t read = Call("GetWiFi", &TScales::GetWiFi);
        if (read != 0) return Failed("GetWiFi", read);
        if (inv_.ssid) scales_.put_SSID(FromUtf8(*inv_.ssid));
        if (inv_.key) scales_.put_Key(FromUtf8(*inv_.key));
        if (inv_.ip) scales_.put_IpAddressWiFi(FromUtf8(*inv_.ip));
        if (inv_.mask) scales_.put_MaskWiFi(FromUtf8(*inv_.mask));
        if (inv_.gateway) scales_.put_GatewayWiFi(FromUtf8(*inv_.gateway));
        if (inv_.port) scales_.put_PortWiFi(*inv_.port);
        const int32_t result = Call("SetWifi", &TScales::SetWifi);
        if (result != 0) return Failed("SetWifi", result);
        JsonObject o = Head(0);
        o.Add("ssid", ToUtf8(scales_.get_SSID()))
            .Add("key", ToUtf8(scales_.get_Key()))
            .Add("ip", ToUtf8(scales_.get_IpAddressWiFi()))
            .Add("mask", ToUtf8(scales_.get_MaskWiFi()))
            .Add("gateway", ToUtf8(scales_.get_GatewayWiFi()))
            .Add("port", scales_.get_PortWiFi());
        Emit(o, "wi-fi set to " + Quoted(scales_.get_SSID()) + " key " + Quoted(scales_.get_Key()) + " " +
                    ToUtf8(scales_.get_IpAddressWiFi()) + " mask " + ToUtf8(scales_.get_MaskWiFi()) + " gateway " +
                    ToUtf8(scales_.get_GatewayWiFi()) + " port " + std::to_string(scales_.get_PortWiFi()));
        return 0;
    }

    int SetAccessPoint() {
        scales_.put_ApIpAddressWiFi(FromUtf8(*inv_.ip));
        const int32_t result = Call("SetWiFiAP", &TScales::SetWiFiAP);
        if (result != 0) return Failed("SetWiFiAP", result);
        JsonObject o = Head(0);
        o.Add("ip", ToUtf8(scales_.get_ApIpAddressWiFi()));
        Emit(o, "access point set to " + ToUtf8(scales_.get_ApIpAddressWiFi()));
        return 0;
    }

    const Invocation& inv_;
    TScales scales_;
    std::size_t progressWidth_ = 0;
};

}  // namespace

int RunSession(const Invocation& invocation) { return Session(invocation).Run(); }

}  // namespace pesolink::cli
