#include <gtest/gtest.h>

#include "tool/Texts.h"
#include "tool/Workflow.h"
#include "tool/fakes/Fakes.h"

namespace pesoconf {
namespace {

using fakes::FakeDriver;
using fakes::FakeHost;
using fakes::FakeSerial;
using fakes::FakeView;
using fakes::Narrow;
using fakes::ReplyFrame;

std::vector<uint8_t> InfoReply(uint8_t bitmap) {
    std::vector<uint8_t> payload(19, 0);
    payload[18] = bitmap;  // frame byte 23
    return ReplyFrame(payload);
}

std::vector<uint8_t> MacReply(std::array<uint8_t, 6> ethFrame22, std::array<uint8_t, 6> wifiFrame28) {
    std::vector<uint8_t> payload(29, 0);
    payload[0] = 0x29;
    for (int i = 0; i < 6; ++i) {
        payload[17 + i] = ethFrame22[i];
        payload[23 + i] = wifiFrame28[i];
    }
    return ReplyFrame(payload);
}

struct WorkflowTest : ::testing::Test {
    FakeView view;
    FakeHost host;
    ParamForm form{view, host};
    FakeSerial serial{host};
    std::unique_ptr<FakeDriver> made = std::make_unique<FakeDriver>();
    FakeDriver& driver = *made;
    Workflow flow{form, host, serial, [this]() -> std::unique_ptr<DriverClient> {
                      return std::move(made);
                  }};

    void SetUp() override {
        serial.Replies[0x00] = {InfoReply(0x0D)};
        serial.Replies[0x29] = {MacReply({0x11, 0x22, 0x33, 0x44, 0x55, 0x66},
                                         {0xAB, 0x0C, 0x01, 0x02, 0x03, 0x04})};
    }

    std::string Text(Ctl c) const { return Narrow(view.GetText(c)); }

    // Search and read: the scale is shown and watched.
    void ReachWatch() {
        flow.Timer1Timer();
        ASSERT_EQ(flow.WorkState, Workflow::Read);
        flow.Timer1Timer();
        ASSERT_EQ(flow.WorkState, Workflow::Watch);
    }
};

TEST_F(WorkflowTest, SearchTriesComOneToThreeThenFindsComFour) {
    flow.Timer1Timer();
    const std::vector<std::string> puts = {"put Connection=COM1", "put Connection=COM2",
                                           "put Connection=COM3", "put Connection=COM4"};
    EXPECT_EQ(driver.CallsStartingWith("put Connection"), puts);
    EXPECT_EQ(serial.PortNumber(), 4);
    EXPECT_EQ(Narrow(flow.FoundConnection), "COM4");
    EXPECT_EQ(flow.WorkState, Workflow::Read);
    EXPECT_EQ(driver.Count("CloseConnection"), 1) << "no close between failed ports";
    EXPECT_EQ(host.Pumps, 3) << "events pumped after each failed port";
    EXPECT_TRUE(host.TimerEnabled);
    EXPECT_EQ(host.TimerInterval, 100u);
}

TEST_F(WorkflowTest, NoScaleSearchesAllPortsAndStaysInSearch) {
    driver.ScalePresent = false;
    flow.Timer1Timer();
    EXPECT_EQ(driver.Count("OpenConnection"), 99);
    EXPECT_EQ(driver.CallsStartingWith("put Connection").back(), "put Connection=COM99");
    EXPECT_EQ(flow.WorkState, Workflow::Search);
    EXPECT_TRUE(flow.FoundConnection.empty());
    EXPECT_EQ(Text(Ctl::SearchPanel), "Поиск весов...");
    EXPECT_TRUE(host.TimerEnabled);
}

TEST_F(WorkflowTest, ReadFillsTheFormAndProbesTheScale) {
    driver.ScaleApIp = u"192.168.4.1";
    ReachWatch();
    EXPECT_EQ(Text(Ctl::IdEdit), "123");
    EXPECT_EQ(Text(Ctl::NameEdit), "Scale");
    EXPECT_EQ(Text(Ctl::EthPortEdit), "5001");
    EXPECT_EQ(Text(Ctl::EthIpEdit), "192.168.1.10");
    EXPECT_EQ(Text(Ctl::WifiPortEdit), "5002");
    EXPECT_EQ(Text(Ctl::WifiApPortEdit), "5002");
    EXPECT_EQ(Text(Ctl::WifiSsidEdit), "net");
    EXPECT_EQ(Text(Ctl::WifiApIpEdit), "192.168.4.1");
    EXPECT_EQ(Text(Ctl::WifiApSsidEdit), "Os_000123");
    EXPECT_EQ(Text(Ctl::WifiApPasswordEdit), "Qorvin4863");
    EXPECT_TRUE(view.IsChecked(Ctl::WifiApCheckBox));
    EXPECT_TRUE(view.IsVisible(Ctl::PanelApWiFi));
    EXPECT_FALSE(view.IsVisible(Ctl::PanelSimpleWiFi));
    EXPECT_EQ(driver.Count("get ApIpAddressWiFi"), 4) << "one read, three comparisons";

    // Probe at the driver's line settings on the port of the search.
    ASSERT_EQ(serial.Opens.size(), 1u);
    EXPECT_EQ(serial.Opens[0].port, 4);
    EXPECT_EQ(serial.Opens[0].baud, 57600u);
    EXPECT_EQ(serial.Opens[0].parity, 0);
    const std::vector<uint8_t> info = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x00, 0x00, 0x00};
    const std::vector<uint8_t> mac = {0xF8, 0x55, 0xCE, 0x01, 0x00, 0x29, 0x29, 0x00};
    ASSERT_EQ(serial.Written.size(), 2u);
    EXPECT_EQ(serial.Written[0], info);
    EXPECT_EQ(serial.Written[1], mac);
    EXPECT_LE(serial.MaxCapacityAsked, ProbeSize);
    EXPECT_GE(serial.Closes, 1);

    EXPECT_EQ(Text(Ctl::IfacesEdit), "RS-232, Ethernet, Wi-fi");
    EXPECT_EQ(Text(Ctl::EthMacEdit), "66:55:44:33:22:11");
    EXPECT_EQ(Text(Ctl::WifiMacEdit), "04:03:02:01:0C:AB");
    EXPECT_EQ(Text(Ctl::WifiApMacEdit), "04:03:02:01:0C:AB");
    EXPECT_TRUE(view.IsEnabled(Ctl::NameEdit));
    EXPECT_TRUE(view.IsEnabled(Ctl::EthIpEdit));
    EXPECT_TRUE(view.IsEnabled(Ctl::WifiApIpEdit));

    EXPECT_FALSE(view.IsVisible(Ctl::SearchPanel));
    EXPECT_TRUE(view.IsEnabled(Ctl::SaveButton));
    EXPECT_TRUE(view.IsEnabled(Ctl::CancelButton));
    EXPECT_FALSE(form.ParamsChanged) << "filling the form is no user change";
    EXPECT_TRUE(form.ChangeHandlersAttached());
    EXPECT_EQ(host.TimerInterval, 100u);

    view.UserTypes(form, Ctl::NameEdit, u"Edited");
    EXPECT_TRUE(form.ParamsChanged);
}

TEST_F(WorkflowTest, AllZeroAddressesTickDynamicAddressing) {
    const struct {
        const char16_t *ip, *mask, *gateway;
        bool ticked;
    } cases[] = {
        {u"0.0.0.0", u"0.0.0.0", u"0.0.0.0", true},
        {u"192.168.1.10", u"255.255.255.0", u"0.0.0.0", false},
    };
    for (const auto& c : cases) {
        FakeView v;
        FakeHost h;
        ParamForm f(v, h);
        FakeSerial s(h);
        s.Replies = serial.Replies;
        auto d = std::make_unique<FakeDriver>();
        d->ScaleIp = c.ip;
        d->ScaleMask = c.mask;
        d->ScaleGateway = c.gateway;
        d->ScaleWifiIp = c.ip;
        d->ScaleWifiMask = c.mask;
        d->ScaleWifiGateway = c.gateway;
        Workflow w(f, h, s, [&d]() -> std::unique_ptr<DriverClient> { return std::move(d); });
        w.Timer1Timer();
        w.Timer1Timer();
        ASSERT_EQ(w.WorkState, Workflow::Watch);
        EXPECT_EQ(v.IsChecked(Ctl::EthLinkCheckbox), c.ticked);
        EXPECT_EQ(v.IsChecked(Ctl::WifiLinkCheckBox), c.ticked);
        for (Ctl e : {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit, Ctl::WifiIpEdit,
                      Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit}) {
            EXPECT_EQ(v.GetText(e).empty(), c.ticked);
            EXPECT_EQ(v.IsEnabled(e), !c.ticked);
        }
    }
}

TEST_F(WorkflowTest, AccessPointAddressesThatMeanNone) {
    for (const char16_t* ap : {u"0", u"0.0.0.0", u""}) {
        FakeView v;
        FakeHost h;
        ParamForm f(v, h);
        FakeSerial s(h);
        s.Replies = serial.Replies;
        auto d = std::make_unique<FakeDriver>();
        d->ScaleApIp = ap;
        Workflow w(f, h, s, [&d]() -> std::unique_ptr<DriverClient> { return std::move(d); });
        w.Timer1Timer();
        w.Timer1Timer();
        EXPECT_FALSE(v.IsChecked(Ctl::WifiApCheckBox)) << Narrow(ap);
        EXPECT_EQ(v.GetText(Ctl::WifiApIpEdit), u"") << Narrow(ap);
        EXPECT_TRUE(v.IsVisible(Ctl::PanelSimpleWiFi));
    }
}

TEST_F(WorkflowTest, FailedDriverReadsMarkGroupsAbsent) {
    driver.Results = {{"GetEthernet", 2}, {"GetWiFi", 2}};
    serial.Replies[0x00] = {InfoReply(0x0F)};
    ReachWatch();
    EXPECT_TRUE(form.EthernetMissing);
    EXPECT_TRUE(form.WifiMissing);
    EXPECT_EQ(driver.Count("GetWiFiAP"), 0) << "no access-point read after a failed GetWiFi";
    EXPECT_TRUE(view.IsEnabled(Ctl::NameEdit));
    EXPECT_FALSE(view.IsEnabled(Ctl::EthPortEdit));
    EXPECT_FALSE(view.IsEnabled(Ctl::WifiPortEdit));
}

TEST_F(WorkflowTest, ProbeLineSettings) {
    const struct {
        int32_t driverParity, driverBaud;
        uint32_t scaleBaud;
        uint8_t scaleParity;
        std::vector<std::pair<uint32_t, uint8_t>> opens;
        bool found;
    } cases[] = {
        {2, 4800, 4800, 2, {{4800, 2}}, true},
        {2, 4800, 4800, 0, {{4800, 2}, {4800, 0}}, true},
        {3, 19200, 19200, 0, {{19200, 2}, {19200, 0}}, true},
        {4, 19200, 19200, 4, {{19200, 4}}, true},
        {0, 0, 4800, 0, {{4800, 0}}, true},
        {0, 9600, 9600, 0, {{4800, 0}}, false},
        {2, 57600, 19200, 4, {{57600, 2}, {57600, 0}}, false},
        {0, 57600, 19200, 4, {{57600, 0}}, false},
    };
    for (const auto& c : cases) {
        FakeView v;
        FakeHost h;
        ParamForm f(v, h);
        FakeSerial s(h);
        s.Replies = serial.Replies;
        s.ScaleBaud = c.scaleBaud;
        s.ScaleParity = c.scaleParity;
        auto d = std::make_unique<FakeDriver>();
        d->Baud = c.driverBaud;
        d->ParityCode = c.driverParity;
        Workflow w(f, h, s, [&d]() -> std::unique_ptr<DriverClient> { return std::move(d); });
        w.Timer1Timer();
        w.Timer1Timer();
        std::vector<std::pair<uint32_t, uint8_t>> opens;
        for (const auto& o : s.Opens) opens.emplace_back(o.baud, o.parity);
        EXPECT_EQ(opens, c.opens) << "driver " << c.driverBaud << "/" << c.driverParity;
        EXPECT_EQ(w.WorkState, c.found ? Workflow::Watch : Workflow::Search);
        if (!c.found) {
            EXPECT_EQ(Narrow(v.GetText(Ctl::SearchPanel)), "Подключите весы...");
            EXPECT_TRUE(v.IsVisible(Ctl::SearchPanel));
            EXPECT_EQ(v.GetText(Ctl::NameEdit), u"");
            EXPECT_FALSE(v.IsEnabled(Ctl::SaveButton));
            EXPECT_GE(s.Closes, static_cast<int>(c.opens.size()));
        }
    }
}

TEST_F(WorkflowTest, ProbeOpenFailureFailsWithoutRetry) {
    driver.ParityCode = 2;
    serial.OpenFails = true;
    flow.Timer1Timer();
    flow.Timer1Timer();
    EXPECT_EQ(serial.Opens.size(), 1u);
    EXPECT_EQ(flow.WorkState, Workflow::Search);
}

TEST_F(WorkflowTest, ReplyAssembledFromPieces) {
    const std::vector<uint8_t> reply = InfoReply(0x04);  // 26 bytes
    serial.Replies[0x00] = {{reply.begin(), reply.begin() + 6},
                            {reply.begin() + 6, reply.begin() + 16},
                            {reply.begin() + 16, reply.end()}};
    serial.ChunkGapMs = 100;
    ReachWatch();
    EXPECT_EQ(Text(Ctl::IfacesEdit), "Ethernet");
}

TEST_F(WorkflowTest, RepliesThatDoNotFitOrOverrunFailTheExchange) {
    std::vector<uint8_t> surplus = InfoReply(0x04);
    surplus.push_back(0x00);
    std::vector<uint8_t> huge = ReplyFrame(std::vector<uint8_t>(195, 0x04));
    std::vector<uint8_t> largest = ReplyFrame(std::vector<uint8_t>(194, 0x04));
    std::vector<uint8_t> tooShort = ReplyFrame({0x28, 0x07});
    const struct {
        const char* name;
        std::vector<uint8_t> reply;
        bool accepted;
    } cases[] = {
        {"one surplus byte", surplus, false},
        {"195 payload bytes", huge, false},
        {"194 payload bytes", largest, true},
        {"too short to hold the bitmap", tooShort, false},
    };
    for (const auto& c : cases) {
        FakeView v;
        FakeHost h;
        ParamForm f(v, h);
        FakeSerial s(h);
        s.Replies[0x00] = {c.reply};
        s.Replies[0x29] = serial.Replies[0x29];
        auto d = std::make_unique<FakeDriver>();
        Workflow w(f, h, s, [&d]() -> std::unique_ptr<DriverClient> { return std::move(d); });
        w.Timer1Timer();
        const uint32_t start = h.Now;
        w.Timer1Timer();
        EXPECT_EQ(w.WorkState, c.accepted ? Workflow::Watch : Workflow::Search) << c.name;
        EXPECT_LE(s.MaxCapacityAsked, ProbeSize) << c.name;
        if (c.name == std::string("one surplus byte")) {
            EXPECT_GT(h.Now - start, ProbeReplyLimitMs) << "fails at the time limit";
        }
    }
}

TEST_F(WorkflowTest, SilentScaleFailsAfterTheTimeLimitAndDeadLineAtOnce) {
    serial.Replies.clear();
    flow.Timer1Timer();
    const uint32_t start = host.Now;
    flow.Timer1Timer();
    EXPECT_EQ(flow.WorkState, Workflow::Search);
    // Three empty reads of 1000 ms pass the 2500 ms mark.
    EXPECT_EQ(host.Now - start, 3000u);

    FakeView v;
    FakeHost h;
    ParamForm f(v, h);
    FakeSerial s(h);
    s.DeadLine = true;
    auto d = std::make_unique<FakeDriver>();
    Workflow w(f, h, s, [&d]() -> std::unique_ptr<DriverClient> { return std::move(d); });
    w.Timer1Timer();
    const int pumps = h.Pumps;
    w.Timer1Timer();
    EXPECT_EQ(w.WorkState, Workflow::Search);
    EXPECT_LT(h.Pumps - pumps, 5) << "a port that returns nothing at once is not spun on";
}

TEST_F(WorkflowTest, MacFieldsFollowTheBitmap) {
    serial.Replies[0x00] = {InfoReply(0x04)};
    view.At(Ctl::WifiMacEdit).text = u"old";
    ReachWatch();
    EXPECT_EQ(Text(Ctl::EthMacEdit), "66:55:44:33:22:11");
    EXPECT_EQ(Text(Ctl::WifiMacEdit), "");
    EXPECT_EQ(Text(Ctl::WifiApMacEdit), "");
}

TEST_F(WorkflowTest, FailedMacExchangeKeepsMacTextsAndSucceeds) {
    serial.Replies.erase(0x29);
    view.At(Ctl::EthMacEdit).text = u"kept";
    ReachWatch();
    EXPECT_EQ(Text(Ctl::EthMacEdit), "kept");
}

TEST_F(WorkflowTest, WatchKeepsAnsweringScaleAndLosesASilentOne) {
    ReachWatch();
    flow.Timer1Timer();
    EXPECT_EQ(flow.WorkState, Workflow::Watch);
    EXPECT_EQ(host.TimerInterval, 1000u);
    EXPECT_TRUE(host.TimerEnabled);

    driver.ScalePresent = false;
    flow.Timer1Timer();
    EXPECT_EQ(flow.WorkState, Workflow::Search);
    EXPECT_EQ(host.TimerInterval, 1000u) << "the search sets 100 ms itself";
    EXPECT_EQ(Text(Ctl::SearchPanel), "Подключите весы...");
    EXPECT_TRUE(view.IsVisible(Ctl::SearchPanel));
    EXPECT_EQ(Text(Ctl::NameEdit), "");
    EXPECT_EQ(Text(Ctl::EthIpEdit), "");
    EXPECT_FALSE(view.IsEnabled(Ctl::NameEdit));
    EXPECT_FALSE(view.IsEnabled(Ctl::SaveButton));
    EXPECT_FALSE(view.IsEnabled(Ctl::CancelButton));
    flow.Timer1Timer();
    EXPECT_EQ(host.TimerInterval, 100u);
}

TEST_F(WorkflowTest, SaveWritesThenRereads) {
    ReachWatch();
    view.UserTypes(form, Ctl::NameEdit, u"Shop 2");
    view.UserTypes(form, Ctl::EthIpEdit, u"192.168.1.77");
    flow.SaveButton_Click();
    EXPECT_EQ(flow.WorkState, Workflow::Write);
    driver.Calls.clear();
    flow.Timer1Timer();
    EXPECT_EQ(driver.Calls.front(), "put Connection=COM4");
    EXPECT_EQ(driver.Count("put Name=Shop 2"), 1);
    EXPECT_EQ(driver.Count("put IpAddress=192.168.1.77"), 1);
    EXPECT_EQ(driver.Count("SetName"), 1);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(Narrow(host.Messages[0].text), "Запись параметров произведена успешно");
    EXPECT_EQ(Narrow(host.Messages[0].caption), "Запись завершена");
    EXPECT_EQ(host.Messages[0].icon, MsgIcon::None);
    EXPECT_EQ(flow.WorkState, Workflow::Read);
    EXPECT_FALSE(form.ParamsChanged);
    EXPECT_EQ(Text(Ctl::SearchPanel), "Обновление параметров...");
    EXPECT_TRUE(view.IsVisible(Ctl::SearchPanel));
    EXPECT_FALSE(view.IsEnabled(Ctl::NameEdit));
    EXPECT_EQ(host.Terminations, 0);
    flow.Timer1Timer();
    EXPECT_EQ(flow.WorkState, Workflow::Watch);
}

TEST_F(WorkflowTest, WriteFailureIsReported) {
    ReachWatch();
    driver.Results["SetName"] = 2;
    flow.SaveButton_Click();
    flow.Timer1Timer();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(Narrow(host.Messages[0].text), "Ошибка записи параметров в весы");
    EXPECT_EQ(Narrow(host.Messages[0].caption), "Ошибка");
    EXPECT_EQ(host.Messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(flow.WorkState, Workflow::Read);
}

TEST_F(WorkflowTest, InputErrorsShowOnlyTheirOwnMessageAndAreReplacedByTheRead) {
    ReachWatch();
    view.UserTypes(form, Ctl::EthIpEdit, u"300.1.1.1");
    flow.SaveButton_Click();
    flow.Timer1Timer();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(Narrow(host.Messages[0].caption), "Ошибка ввода параметров");
    EXPECT_EQ(driver.Count("SetEthernet"), 0);
    flow.Timer1Timer();
    EXPECT_EQ(Text(Ctl::EthIpEdit), "192.168.1.10");
}

TEST_F(WorkflowTest, SaveWhileNoScaleGoesBackToSearchingSilently) {
    driver.ScalePresent = false;
    flow.SaveButton_Click();
    flow.Timer1Timer();
    EXPECT_TRUE(host.Messages.empty());
    EXPECT_EQ(flow.WorkState, Workflow::Read);
    EXPECT_EQ(Text(Ctl::SearchPanel), "Обновление параметров...");
    flow.Timer1Timer();
    EXPECT_EQ(flow.WorkState, Workflow::Search);
    flow.Timer1Timer();
    EXPECT_EQ(Text(Ctl::SearchPanel), "Обновление параметров...");
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(WorkflowTest, SaveDuringASuccessfulSearchEndsAsRead) {
    driver.OnCall = [this](const std::string& call) {
        if (call == "put Connection=COM2") flow.SaveButton_Click();
    };
    flow.Timer1Timer();
    EXPECT_EQ(flow.WorkState, Workflow::Read);
}

TEST_F(WorkflowTest, CancelDropsEditsAndRereads) {
    ReachWatch();
    view.UserTypes(form, Ctl::NameEdit, u"Typo");
    flow.CancelButton_Click();
    EXPECT_FALSE(form.ParamsChanged);
    EXPECT_EQ(flow.WorkState, Workflow::Read);
    EXPECT_EQ(Text(Ctl::SearchPanel), "Обновление параметров...");
    EXPECT_FALSE(view.IsEnabled(Ctl::SaveButton));
    EXPECT_FALSE(view.IsEnabled(Ctl::NameEdit));
    flow.Timer1Timer();
    EXPECT_EQ(Text(Ctl::NameEdit), "Scale");
    EXPECT_EQ(flow.WorkState, Workflow::Watch);
    EXPECT_TRUE(view.IsEnabled(Ctl::SaveButton));
}

TEST_F(WorkflowTest, ClosingWithChanges) {
    const struct {
        MsgAnswer answer;
        bool allow;
        int32_t state;
        bool closeRequested;
    } cases[] = {
        {MsgAnswer::Yes, false, Workflow::Write, false},
        {MsgAnswer::No, true, Workflow::Watch, true},
        {MsgAnswer::Cancel, false, Workflow::Read, false},
    };
    for (const auto& c : cases) {
        FakeView v;
        FakeHost h;
        ParamForm f(v, h);
        FakeSerial s(h);
        s.Replies = serial.Replies;
        auto d = std::make_unique<FakeDriver>();
        FakeDriver* drv = d.get();
        Workflow w(f, h, s, [&d]() -> std::unique_ptr<DriverClient> { return std::move(d); });
        w.Timer1Timer();
        w.Timer1Timer();
        v.UserTypes(f, Ctl::NameEdit, u"Changed");
        h.Answers = {c.answer};
        EXPECT_EQ(w.FormCloseQuery(), c.allow);
        ASSERT_EQ(h.Messages.size(), 1u);
        EXPECT_EQ(Narrow(h.Messages[0].text), "Записать в весы измененные параметры?");
        EXPECT_EQ(Narrow(h.Messages[0].caption), "Запрос на запись параметров");
        EXPECT_EQ(h.Messages[0].buttons, MsgButtons::YesNoCancel);
        EXPECT_EQ(w.WorkState, c.state);
        EXPECT_EQ(w.CloseRequested, c.closeRequested);
        EXPECT_EQ(w.CloseAfterWrite, c.answer == MsgAnswer::Yes);
        // The next tick: Yes writes and ends; No ends without the timer; Cancel rereads.
        w.Timer1Timer();
        switch (c.answer) {
            case MsgAnswer::Yes:
                EXPECT_EQ(drv->Count("put Name=Changed"), 1);
                EXPECT_EQ(drv->Count("SetName"), 1);
                EXPECT_EQ(h.Terminations, 1);
                EXPECT_EQ(drv->Calls.back(), "CloseConnection");
                break;
            case MsgAnswer::No:
                EXPECT_EQ(h.Terminations, 1);
                EXPECT_FALSE(h.TimerEnabled);
                EXPECT_EQ(drv->Count("SetName"), 0);
                break;
            default:
                EXPECT_EQ(h.Terminations, 0);
                EXPECT_EQ(v.GetText(Ctl::NameEdit), u"Scale");
                EXPECT_FALSE(f.ParamsChanged);
                break;
        }
    }
}

TEST_F(WorkflowTest, YesWithBadInputStaysOpenUntilALaterSuccessfulSave) {
    ReachWatch();
    view.UserTypes(form, Ctl::EthIpEdit, u"1.2.3");
    host.Answers = {MsgAnswer::Yes};
    EXPECT_FALSE(flow.FormCloseQuery());
    flow.Timer1Timer();
    EXPECT_EQ(Narrow(host.Messages.back().caption), "Ошибка ввода параметров");
    EXPECT_EQ(host.Terminations, 0);
    EXPECT_TRUE(flow.CloseAfterWrite);
    flow.Timer1Timer();  // read again
    flow.SaveButton_Click();
    flow.Timer1Timer();
    EXPECT_EQ(Narrow(host.Messages.back().text), "Запись параметров произведена успешно");
    EXPECT_EQ(host.Terminations, 1);
}

TEST_F(WorkflowTest, CloseWithoutChangesDuringSearchFinishesThePass) {
    driver.ScalePresent = false;
    driver.OnCall = [this](const std::string& call) {
        if (call == "put Connection=COM10") {
            EXPECT_TRUE(flow.FormCloseQuery());
        }
    };
    flow.Timer1Timer();
    EXPECT_EQ(Text(Ctl::SearchPanel), "Закрытие программы...");
    EXPECT_EQ(driver.Count("OpenConnection"), 99) << "the pass goes on to COM99";
    EXPECT_GE(host.Terminations, 1);
    EXPECT_TRUE(host.Messages.empty());
}

TEST_F(WorkflowTest, CloseDuringSearchEndsEvenWhenTheQuestionIsCancelled) {
    form.ParamsChanged = true;
    driver.ScalePresent = false;
    host.Answers = {MsgAnswer::Cancel};
    EXPECT_FALSE(flow.FormCloseQuery());
    EXPECT_TRUE(flow.CloseRequested);
    flow.Timer1Timer();  // the dropped edits send it to read, which finds no scale
    EXPECT_EQ(flow.WorkState, Workflow::Search);
    flow.Timer1Timer();
    EXPECT_GE(host.Terminations, 1);
}

TEST_F(WorkflowTest, CloseMarkEndsAtTheWatchCheck) {
    ReachWatch();
    flow.CloseButtonClick();
    EXPECT_EQ(Text(Ctl::SearchPanel), "Закрытие программы...");
    EXPECT_TRUE(view.IsVisible(Ctl::SearchPanel));
    EXPECT_EQ(host.Terminations, 0);
    flow.Timer1Timer();
    EXPECT_EQ(host.Terminations, 1);
    EXPECT_FALSE(host.TimerEnabled);
}

TEST_F(WorkflowTest, CloseRequestedDuringTheProbeEndsAfterTheTick) {
    flow.Timer1Timer();
    host.OnPump = [this]() {
        if (!flow.CloseRequested) flow.FormCloseQuery();
    };
    flow.Timer1Timer();
    EXPECT_GE(host.Terminations, 1);
}

TEST_F(WorkflowTest, DriverErrorStopsTheWorkflow) {
    driver.FailingMember = "OpenConnection";
    flow.Timer1Timer();
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(Narrow(host.Messages[0].text), "Класс не зарегистрирован");
    EXPECT_EQ(Narrow(host.Messages[0].caption), "Pesoconf 100");
    EXPECT_EQ(host.Messages[0].icon, MsgIcon::Error);
    EXPECT_FALSE(host.TimerEnabled);
    EXPECT_TRUE(flow.Stopped());
    const size_t calls = driver.Calls.size();
    flow.Timer1Timer();
    EXPECT_EQ(driver.Calls.size(), calls) << "nothing more is done";
    // The close mark still ends the program with no tick left to see it.
    flow.CloseButtonClick();
    EXPECT_EQ(host.Terminations, 1);
}

}  // namespace
}  // namespace pesoconf
