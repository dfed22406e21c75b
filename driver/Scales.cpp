#include "driver/Scales.h"

#include <stdexcept>
#include <string_view>

#include "driver/IpText.h"
#include "driver/Language.h"
#include "driver/Logging.h"
#include "link/ComUnit.h"
#include "link/Frame.h"
#include "link/TextNumber.h"

namespace pesolink {

namespace {

constexpr char16_t DashLine[] = u"------------------------------------------------------------";
constexpr uint8_t CR = 0x0D;
constexpr uint8_t LF = 0x0A;

// The scale's sub-codes in a 0x28 reply to a network command: the interface
// concerned is not fitted or not usable.
constexpr uint8_t EthernetErrorCode = 0x11;
constexpr uint8_t WifiErrorCode = 0x10;

constexpr int32_t NameMaxLength = 25;
constexpr int32_t SsidMaxLength = 32;
constexpr int32_t KeyMaxLength = 64;

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

void Log(std::u16string_view text) { WriteLog(text); }

std::u16string Num(int64_t value) { return DecimalText(value); }

// Host text for the worker: one narrow character per UTF-16 unit, so that
// the port number of a serial text stays at its place. A character outside
// ASCII can name no port and no host: on a serial text it becomes "?" (the
// number then does not read and the open fails), on a TCP host the whole
// host is dropped, so that the connect fails at once without a name lookup.
std::string SerialHost(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return out;
}

std::string TcpHost(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        if (c >= 0x80) return std::string();
        out.push_back(static_cast<char>(c));
    }
    return out;
}

// Host and port of a TCP connection text: at every colon the characters
// since the previous one become the host; what follows the last colon is
// the port (0 when it is not a number). Without a colon the host is empty.
void SplitEndpoint(std::u16string_view text, std::u16string& host, int32_t& port) {
    host.clear();
    std::u16string collected;
    for (char16_t c : text) {
        if (c == u':') {
            host = collected;
            collected.clear();
        } else {
            collected.push_back(c);
        }
    }
    port = ParseInt32(std::u16string_view(collected)).value_or(0);
}

// The one line a send writes when it had to renew the link first (after a
// receive that ended without a whole reply).
void LogRenewal(const TScalesThread& t) {
    switch (t.Renewal) {
        case RenewReconnected: Log(u"--- SendToLan: connection re-established"); break;
        case RenewReconnectFailed: Log(u"--- SendToLan: reconnect failed"); break;
        case RenewDrained: Log(u"--- SendToCom: line drained, Dropped=" + Num(t.RenewalDropped)); break;
        default: break;
    }
}

bool AddressAllowed(const std::u16string& value) { return value.empty() || CheckIpStr(value) == 0; }
bool PortAllowed(int32_t value) { return value >= 0 && value <= 65535; }

}  // namespace

TScales::TScales() = default;

// The worker never touches the object's texts, and Link is declared first,
// so it goes last: the worker is stopped and joined, its TCP connection
// closed and its hold on a serial port dropped (the port closes when no other
// object holds it) after every other field is gone.
TScales::~TScales() = default;

// ---------------------------------------------------------------------------
// Frame buffer helpers

TCommand& TScales::Frame() { return Link.Thread().Command; }

// Byte k of the reply payload. A byte the reply did not carry reads as 0:
// the buffer beyond Length still holds an older frame, which must never
// pass for part of this reply (a 0x33 reply of 14 to 25 bytes, for one).
uint8_t TScales::ReplyByte(int32_t k) {
    const TCommand& f = Frame();
    const int32_t at = 5 + k;
    return at >= 0 && at < f.Length ? f.Buf[at] : 0;
}

uint16_t TScales::ReplyU16(int32_t k) {
    return static_cast<uint16_t>(ReplyByte(k) | (ReplyByte(k + 1) << 8));
}

uint32_t TScales::ReplyU32(int32_t k) {
    return static_cast<uint32_t>(ReplyByte(k)) | (static_cast<uint32_t>(ReplyByte(k + 1)) << 8) |
           (static_cast<uint32_t>(ReplyByte(k + 2)) << 16) | (static_cast<uint32_t>(ReplyByte(k + 3)) << 24);
}

// Address of payload bytes k..k+3, the last group first on the wire.
std::u16string TScales::ReplyAddress(int32_t k) {
    return DottedText(ReplyByte(k + 3), ReplyByte(k + 2), ReplyByte(k + 1), ReplyByte(k));
}

// Bytes from payload byte k up to a CR or the end of the received frame;
// k is left on the CR (or at the end).
std::u16string TScales::ReplyText(int32_t& k) {
    const TCommand& f = Frame();
    const int32_t payloadEnd = f.Length - 5;
    const int32_t first = k;
    while (k < payloadEnd && f.Buf[5 + k] != CR) ++k;
    if (k <= first) return std::u16string();
    return DecodeAnsi(f.Buf + 5 + first, static_cast<std::size_t>(k - first));
}

// Room for a request payload of the given size; a payload that would not
// fit the frame buffer is refused before a byte of it is written.
uint8_t* TScales::Payload(int32_t length) {
    TCommand& f = Frame();
    if (length < 1 || length > MaxPayload) throw std::range_error("Range check error");
    f.Length = length;
    return f.Buf + 5;
}

void TScales::PutU16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value & 0xFF);
    at[1] = static_cast<uint8_t>((value >> 8) & 0xFF);
}

void TScales::PutU32(uint8_t* at, uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>((value >> (8 * i)) & 0xFF);
}

// ---------------------------------------------------------------------------
// Exchange

// Send, and on 0 receive, in one request cycle: nothing is logged between.
int32_t TScales::Transact() {
    const char16_t first = Con.empty() ? u'\0' : Con[0];
    // What the send did to the link (renewed, drained) is logged after it.
    int32_t code = 0;
    if (first == u'C') {
        code = Link.ExchangeCom();
    } else {
        if (!IsDigit(first)) return 1;
        code = Link.ExchangeLan();
    }
    LogRenewal(Link.Thread());
    return code;
}

// A one-byte request, exchanged.
int32_t TScales::Query(uint8_t command) {
    Payload(1)[0] = command;
    return Transact();
}

// Reply test of a Get exchange that gave 0: too short gives 2; a 0x28
// reply gives 4 for the interface's own error code, 2 for any other.
int32_t TScales::GetTest(int32_t minLength, uint8_t errorCode) {
    int32_t result = Frame().Length < minLength ? 2 : 0;
    if (ReplyByte(0) == CMD_ERROR) result = ReplyByte(1) == errorCode ? 4 : 2;
    return result;
}

// Reply test of a Set exchange that gave 0: too short gives 2; a 0x28 reply
// gives 4 for the interface's own error code, 5 (refused) for any other; a
// 0x15 reply is a refusal wherever it comes, so it gives 5 too and never
// passes for a setting the scale took.
int32_t TScales::SetTest(uint8_t errorCode) {
    if (Frame().Length < 8) return 2;
    if (ReplyByte(0) == CMD_ERROR) return ReplyByte(1) == errorCode ? 4 : 5;
    if (ReplyByte(0) == CMD_NACK) return 5;
    return 0;
}

// Reply test of the address read inside SetWifi and SetWiFiAP: a refusal
// there refuses the Set (5); otherwise it is the Get test of 0x33.
int32_t TScales::SetReadTest() {
    if (Frame().Length >= 8 && ReplyByte(0) == CMD_NACK) return 5;
    return GetTest(14, WifiErrorCode);
}

// Reply test of a command the scale may refuse with 0x15.
int32_t TScales::AckTest() {
    if (Frame().Length < 8) return 2;
    return ReplyByte(0) == CMD_NACK ? 5 : 0;
}

void TScales::LogEntry(std::u16string_view name) {
    Log(u"- " + std::u16string(name) + u": " + Connection);
}

void TScales::LogExit(std::u16string_view name, int32_t result) {
    Log(u"- " + std::u16string(name) + u": Exit from " + Connection + u" with Result=" + Num(result));
}

// ---------------------------------------------------------------------------
// Connection

int32_t TScales::OpenConnection() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);

    Con = Connection;
    Log(DashLine);
    Log(u"OpenConnection: Connection=" + Con);
    if (Con.empty()) return 1;

    int32_t result = 1;
    if (Con[0] == u'C') {
        if (Con.size() < 4) return 1;
        result = OpenSerial();
    } else if (IsDigit(Con[0])) {
        result = OpenTcp();
    }
    Log(u"OpenConnection: Exit from " + Con);
    return result;
}

int32_t TScales::OpenSerial() {
    TScalesThread& t = Link.EnsureThread();
    t.Iface = IfaceCom;
    t.Host = SerialHost(Con);
    // A negative time-out cannot bound a receive.
    if (ComSoftTimeout < 0) throw std::range_error("Range check error");
    t.ReadTimeout = static_cast<uint32_t>(ComSoftTimeout);

    // Close whatever port an earlier attempt left open; its code does not matter.
    t.Command.Length = 0;
    Link.Post(ModeClose);
    Log(u"OpenConnection: starting thread");
    Link.StartThread();
    Log(u"OpenConnection: thread started");
    Link.WaitForResponse();
    Log(u"OpenConnection: stopping thread");
    Link.StopThread();
    Log(u"OpenConnection: thread stopped");

    struct Step {
        int32_t mode;
        int32_t baud;
        int32_t parity;
        const char16_t* logLine;
    };
    static const Step steps[] = {
        {ModeOpen4800, 4800, 2, u"  OpenConnection: connect at 4800"},
        {ModeOpen57600, 57600, 0, u"  OpenConnection: connect at 57600"},
        {ModeOpen19200, 19200, 4, u"  OpenConnection: connect at 19200"},
    };
    constexpr int lastStep = 2;

    int32_t result = 0;
    for (int i = 0; i <= lastStep; ++i) {
        const Step& s = steps[i];
        if (ProbeStep) ProbeStep(s.baud, s.parity);
        t.Command.Length = 0;
        RsBaudRate = s.baud;
        RsParity = s.parity;
        const int32_t opened = Link.RunRequest(s.mode);
        Log(s.logLine);
        result = opened;
        if (result != 0) return result;  // the port cannot be opened

        t.Command.Buf[5] = CMD_GET_NAME;
        t.Command.Length = 1;
        const int32_t sent = Link.SendToCom();
        Log(u"  OpenConnection: CMD_GET_NAME ($20) sent");
        if (sent != 0) {
            Log(u"OpenConnection: SendToCom Error=" + Num(sent));
            t.Command.Length = 0;
            Link.RunRequest(ModeClose);
            Log(u"  OpenConnection: SendToCom Error, disconnected");
            return 1;
        }
        Log(u"  OpenConnection: CMD_GET_NAME ($20) sent successful");
        result = Link.ReadFromCom();
        Log(u"  OpenConnection: ReadFromCom Result=" + Num(result));
        if (result == 0) return 0;  // a scale answers at this line setting

        Log(u"OpenConnection: ReadFromCom Error=" + Num(result));
        if (result == 2) {
            // Nothing came in time: the port stays open for the next step.
            RsBaudRate = 0;
            RsParity = 0;
        } else {
            t.Command.Length = 0;
            Link.RunRequest(ModeClose);
            if (i == lastStep) result = 1;
        }
        Log(u"  OpenConnection: ReadFromCom Error, disconnected");
    }
    return result;
}

int32_t TScales::OpenTcp() {
    TScalesThread& t = Link.EnsureThread();
    t.Iface = IfaceLan;
    std::u16string host;
    int32_t port = 0;
    SplitEndpoint(Con, host, port);
    t.Host = TcpHost(host);
    t.Port = port;
    t.ReadTimeout = TcpReceiveDeadline;
    t.Command.Length = 0;
    Link.Post(ModeConnect);
    Log(u"OpenConnection: starting thread");
    Link.StartThread();
    Log(u"OpenConnection: thread started");
    Link.WaitForResponse();
    Log(u"OpenConnection: stopping thread");
    Link.StopThread();
    Log(u"OpenConnection: thread stopped");

    int32_t result = ResponseToResult(t.Response.load(std::memory_order_acquire));
    if (result != 0) return result;

    t.Command.Buf[5] = CMD_GET_NAME;
    t.Command.Length = 1;
    const int32_t sent = Link.SendToLan();
    if (sent != 0) {
        Log(u"OpenConnection: SendToLan Error=" + Num(sent));
        t.Command.Length = 0;
        Link.RunRequest(ModeClose);
        return 1;
    }
    result = Link.ReadFromLan();
    if (result == 0) return 0;
    Log(u"OpenConnection: ReadFromLan Error=" + Num(result));
    if (result == 2) return 2;  // nothing acceptable in time: the connection stays
    t.Command.Length = 0;
    Link.RunRequest(ModeClose);
    return 1;
}

int32_t TScales::CloseConnection() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);

    Log(u"CloseConnection: Connection=" + Con);
    if (Con.empty()) return 1;
    int32_t result = 1;
    if (Con[0] == u'C' || IsDigit(Con[0])) {
        Frame().Length = 0;
        Link.RunRequest(ModeClose);
        result = 0;
    }
    Log(u"CloseConnection: Exit from " + Con);
    Log(DashLine);
    return result;
}

// ---------------------------------------------------------------------------
// Weighing

int32_t TScales::ReadWeight() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    LogEntry(u"ReadWeight");
    int32_t result = Query(CMD_GET_WEIGHT);
    if (result == 0 && Frame().Length < 16) result = 2;
    if (result == 0) {
        NetWeight = static_cast<int32_t>(ReplyU32(1));
        Division = ReplyByte(5);
        Stable = ReplyByte(6);
        NetIndication = ReplyByte(7);
        ZeroIndication = ReplyByte(8);
    }
    LogExit(u"ReadWeight", result);
    return result;
}

void TScales::put_TareWeight(int32_t value) {
    if (value >= 0) TareWeight = value;
}

int32_t TScales::GetTare() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    LogEntry(u"GetTare");
    int32_t result = Query(CMD_GET_TARE);
    if (result == 0 && Frame().Length < 12) result = 2;
    if (result == 0) TareWeight = static_cast<int32_t>(ReplyU32(1));
    LogExit(u"GetTare", result);
    return result;
}

// Writes no trace line.
int32_t TScales::SetTare() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    uint8_t* p = Payload(5);
    p[0] = CMD_SET_TARE;
    // Only a tare read from the scale can be negative; it has no byte form.
    if (TareWeight < 0) throw std::range_error("Range check error");
    PutU32(p + 1, static_cast<uint32_t>(TareWeight));
    int32_t result = Transact();
    if (result == 0) result = AckTest();
    return result;
}

int32_t TScales::SetZero() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    LogEntry(u"SetZero");
    int32_t result = Query(CMD_SET_ZERO);
    if (result == 0) result = AckTest();
    LogExit(u"SetZero", result);
    return result;
}

// ---------------------------------------------------------------------------
// Identity

int32_t TScales::GetName() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;
    return RunGetName();
}

// GetName without the entry checks, also the first step of the network Gets.
int32_t TScales::RunGetName() {
    LogEntry(u"GetName");
    int32_t result = Query(CMD_GET_NAME);
    if (result == 0 && Frame().Length < 14) result = 2;
    if (result == 0) {
        Serial = Num(ReplyU32(1));
        int32_t k = 5;
        Name = ReplyText(k);
    }
    LogExit(u"GetName", result);
    return result;
}

int32_t TScales::SetName() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    LogEntry(u"SetName");
    const int32_t n = static_cast<int32_t>(Name.size());
    uint8_t* p = Payload(n + 3);
    p[0] = CMD_SET_NAME;
    EncodeText(Name, p + 1);
    p[n + 1] = CR;
    p[n + 2] = LF;
    int32_t result = Transact();
    if (result == 0) result = AckTest();
    LogExit(u"SetName", result);
    return result;
}

// ---------------------------------------------------------------------------
// Ethernet

int32_t TScales::GetEthernet() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    Ip.clear();
    Mask.clear();
    Gateway.clear();
    if (Con.empty()) return 1;

    RunGetName();
    LogEntry(u"GetEthernet");
    int32_t result = Query(CMD_GET_ETHERNET);
    if (result == 0) result = GetTest(22, EthernetErrorCode);
    if (result == 0) {
        Ip = ReplyAddress(1);
        Mask = ReplyAddress(5);
        Gateway = ReplyAddress(9);
        PortEthernet = ReplyU16(13);
    }
    LogExit(u"GetEthernet", result);
    return result;
}

int32_t TScales::SetEthernet() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    LogEntry(u"SetEthernet");
    const uint32_t ip = IpStrToNum(Ip);
    const uint32_t mask = IpStrToNum(Mask);
    const uint32_t gateway = IpStrToNum(Gateway);
    uint8_t* p = Payload(15);
    p[0] = CMD_SET_ETHERNET;
    PutU32(p + 1, ip);
    PutU32(p + 5, mask);
    PutU32(p + 9, gateway);
    PutU16(p + 13, static_cast<uint32_t>(PortEthernet));
    int32_t result = Transact();
    if (result == 0) result = SetTest(EthernetErrorCode);
    LogExit(u"SetEthernet", result);
    return result;
}

// ---------------------------------------------------------------------------
// Wi-Fi

int32_t TScales::GetWiFi() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    WifiIp.clear();
    WifiMask.clear();
    WifiGateway.clear();
    PortWiFi = 0;
    if (Con.empty()) return 1;

    LogEntry(u"GetWiFi");
    RunGetName();
    int32_t result = Query(CMD_GET_WIFI_SSID);
    if (result == 0) result = GetTest(14, WifiErrorCode);
    if (result == 0) {
        PortWiFi = ReplyU16(1);
        int32_t k = 3;
        Ssid = ReplyText(k);
        Password.clear();
        if (k < Frame().Length - 5) {  // stopped on the CR: skip CR and LF
            k += 2;
            Password = ReplyText(k);
        }

        result = Query(CMD_GET_WIFI_IP);
        if (result == 0) result = GetTest(14, WifiErrorCode);
        if (result == 0) {
            // Bytes a short reply did not carry read as 0 (ReplyByte).
            WifiIp = ReplyAddress(1);
            WifiMask = ReplyAddress(5);
            WifiGateway = ReplyAddress(9);
            WiFiAP = ReplyAddress(13);
            PortWiFi = ReplyU16(17);
        }
    }
    LogExit(u"GetWiFi", result);
    return result;
}

int32_t TScales::SetWifi() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    LogEntry(u"SetWiFi");
    const int32_t ns = static_cast<int32_t>(Ssid.size());
    const int32_t nk = static_cast<int32_t>(Password.size());
    uint8_t* p = Payload(7 + ns + nk);
    p[0] = CMD_SET_WIFI_SSID;
    PutU16(p + 1, static_cast<uint32_t>(PortWiFi));
    EncodeText(Ssid, p + 3);
    p[3 + ns] = CR;
    p[4 + ns] = LF;
    EncodeText(Password, p + 5 + ns);
    p[5 + ns + nk] = CR;
    p[6 + ns + nk] = LF;
    int32_t result = Transact();
    if (result == 0) result = SetTest(WifiErrorCode);
    if (result == 0) {
        // The access-point address goes back as the scale has it.
        result = Query(CMD_GET_WIFI_IP);
        if (result == 0) result = SetReadTest();
        if (result == 0)
            result = SendWifiAddresses(WifiIp, WifiMask, WifiGateway, ReplyAddress(13),
                                       static_cast<uint16_t>(PortWiFi));
    }
    LogExit(u"SetWiFi", result);
    return result;
}

// The 0x31 exchange: station address, mask, gateway, access-point address
// and port, converted in that order (each conversion logs its lines).
int32_t TScales::SendWifiAddresses(const std::u16string& ip, const std::u16string& mask,
                                   const std::u16string& gateway, const std::u16string& ap, uint16_t port) {
    const uint32_t ipNum = IpStrToNum(ip);
    const uint32_t maskNum = IpStrToNum(mask);
    const uint32_t gatewayNum = IpStrToNum(gateway);
    const uint32_t apNum = IpStrToNum(ap);
    uint8_t* p = Payload(19);
    p[0] = CMD_SET_WIFI_IP;
    PutU32(p + 1, ipNum);
    PutU32(p + 5, maskNum);
    PutU32(p + 9, gatewayNum);
    PutU32(p + 13, apNum);
    PutU16(p + 17, port);
    const int32_t result = Transact();
    return result == 0 ? SetTest(WifiErrorCode) : result;
}

int32_t TScales::GetWiFiAP() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    WiFiAP.clear();
    if (Con.empty()) return 1;

    LogEntry(u"GetWiFiAP");
    RunGetName();
    int32_t result = Query(CMD_GET_WIFI_IP);
    if (result == 0) result = GetTest(14, WifiErrorCode);
    if (result == 0) WiFiAP = ReplyAddress(13);
    LogExit(u"GetWiFiAP", result);
    return result;
}

int32_t TScales::SetWiFiAP() {
    if (Link.Busy()) return ResultBusy;
    TRequestCycle::BusyScope scope(Link);
    if (Con.empty()) return 1;

    LogEntry(u"SetWiFiAP");
    int32_t result = Query(CMD_GET_WIFI_IP);
    if (result == 0) result = SetReadTest();
    if (result == 0) {
        // The station settings go back as the scale has them.
        result = SendWifiAddresses(ReplyAddress(1), ReplyAddress(5), ReplyAddress(9), WiFiAP, ReplyU16(17));
    }
    LogExit(u"SetWiFiAP", result);
    return result;
}

// ---------------------------------------------------------------------------
// Properties

void TScales::put_IpAddress(const std::u16string& value) {
    if (AddressAllowed(value)) Ip = value;
}
void TScales::put_Mask(const std::u16string& value) {
    if (AddressAllowed(value)) Mask = value;
}
void TScales::put_Gateway(const std::u16string& value) {
    if (AddressAllowed(value)) Gateway = value;
}
void TScales::put_IpAddressWiFi(const std::u16string& value) {
    if (AddressAllowed(value)) WifiIp = value;
}
void TScales::put_MaskWiFi(const std::u16string& value) {
    if (AddressAllowed(value)) WifiMask = value;
}
void TScales::put_GatewayWiFi(const std::u16string& value) {
    if (AddressAllowed(value)) WifiGateway = value;
}
void TScales::put_ApIpAddressWiFi(const std::u16string& value) {
    if (AddressAllowed(value)) WiFiAP = value;
}

void TScales::put_PortEthernet(int32_t value) {
    if (PortAllowed(value)) PortEthernet = value;
}
void TScales::put_PortWiFi(int32_t value) {
    if (PortAllowed(value)) PortWiFi = value;
}

void TScales::put_Name(const std::u16string& value) {
    if (value.size() <= static_cast<std::size_t>(NameMaxLength)) Name = value;
}
void TScales::put_SSID(const std::u16string& value) {
    if (value.size() <= static_cast<std::size_t>(SsidMaxLength)) Ssid = value;
}
void TScales::put_Key(const std::u16string& value) {
    if (value.size() <= static_cast<std::size_t>(KeyMaxLength)) Password = value;
}

// The access point's network name: "Os_" and the serial number, cut or
// zero-padded to six digits.
std::u16string TScales::get_ApSSID() const {
    std::u16string digits = Serial.substr(0, 6);
    while (digits.size() < 6) digits.insert(digits.begin(), u'0');
    return u"Os_" + digits;
}

std::u16string TScales::get_ApKey() const { return u"Qorvin4863"; }

}  // namespace pesolink
