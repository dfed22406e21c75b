#include <gtest/gtest.h>

#include <set>

#include "tool/ParamForm.h"
#include "tool/Texts.h"
#include "tool/fakes/Fakes.h"

namespace pesoconf {
namespace {

using fakes::FakeDriver;
using fakes::FakeHost;
using fakes::FakeView;
using fakes::Narrow;

TEST(CheckIpText, AcceptsFourGroupsOfZeroTo255) {
    const struct {
        const char16_t* text;
        int32_t result;
    } cases[] = {
        {u"192.168.1.1", 0},  {u"0.0.0.0", 0},     {u"0.1.2.3", 0},      {u"010.1.1.1", 0},
        {u"255.255.255.255", 0},                   {u"1.02.003.4", 0},
        {u"256.1.1.1", -1},   {u"1.2.3.256", -1},  {u"1.2.3", -1},       {u"1.2.3.4.5", -1},
        {u"1..2.3", -1},      {u".1.2.3", -1},     {u"a1.2.3.4", -1},    {u"", -1},
        {u"1.2.3.4 ", -1},    {u"1.2.3.4.", -1},   {u"1.2.3.a", -1},     {u"1.-2.3.4", -1},
        {u"1.2.3.0000000000000000000004", 0},      {u"1.2.3.99999999999", -1},
    };
    for (const auto& c : cases) EXPECT_EQ(CheckIpText(c.text), c.result) << Narrow(c.text);
}

// A form as a scale with every interface leaves it after a read.
struct FormTest : ::testing::Test {
    FakeView view;
    FakeHost host;
    ParamForm form{view, host};
    FakeDriver driver;

    void SetUp() override {
        driver.Connection = u"COM4";
        form.DetachChangeHandlers();
        form.SetText(Ctl::NameEdit, u"Scale");
        form.SetText(Ctl::EthPortEdit, u"5001");
        form.SetText(Ctl::EthIpEdit, u"192.168.1.10");
        form.SetText(Ctl::EthMaskEdit, u"255.255.255.0");
        form.SetText(Ctl::EthGatewayEdit, u"192.168.1.1");
        form.SetText(Ctl::WifiPortEdit, u"5002");
        form.SetText(Ctl::WifiIpEdit, u"192.168.2.10");
        form.SetText(Ctl::WifiMaskEdit, u"255.255.255.0");
        form.SetText(Ctl::WifiGatewayEdit, u"192.168.2.1");
        form.SetText(Ctl::WifiSsidEdit, u"net");
        form.SetText(Ctl::WifiPasswordEdit, u"secret");
        form.SetText(Ctl::WifiApPortEdit, u"5002");
        form.ApplyInterfaces(0x0F);
        form.AttachChangeHandlers();
    }

    std::string LastMessage() const {
        return host.Messages.empty() ? std::string() : Narrow(host.Messages.back().text);
    }
};

TEST_F(FormTest, PortChecks) {
    const struct {
        const char16_t* text;
        bool passes;
    } cases[] = {
        {u"65535", true}, {u"0", true},   {u"65536", false},
        {u"", false},     {u"80a", false}, {u"-5", false},
    };
    for (Ctl port : {Ctl::EthPortEdit, Ctl::WifiPortEdit}) {
        const std::string line = port == Ctl::EthPortEdit ? "- Ethernet: Порт" : "- Wi-Fi: Порт";
        for (const auto& c : cases) {
            host.Messages.clear();
            driver.Calls.clear();
            view.UserTypes(form, port, c.text);
            const int32_t r = form.CheckAndWrite(driver);
            if (c.passes) {
                EXPECT_EQ(r, 0) << Narrow(c.text);
                EXPECT_TRUE(host.Messages.empty()) << Narrow(c.text);
            } else {
                EXPECT_EQ(r, -1) << Narrow(c.text);
                EXPECT_EQ(LastMessage(), "Параметры введены неверно:\r\n" + line) << Narrow(c.text);
                EXPECT_TRUE(driver.Calls.empty()) << "nothing is put or sent";
            }
        }
        view.UserTypes(form, port, u"5001");
    }
}

TEST_F(FormTest, EveryFailedCheckOnItsOwnLineInOrder) {
    view.UserTypes(form, Ctl::EthPortEdit, u"70000");
    view.UserTypes(form, Ctl::WifiSsidEdit, u"");
    EXPECT_EQ(form.CheckAndWrite(driver), -1);
    ASSERT_EQ(host.Messages.size(), 1u);
    EXPECT_EQ(Narrow(host.Messages[0].text),
              "Параметры введены неверно:\r\n- Ethernet: Порт\r\n- SSID");
    EXPECT_EQ(Narrow(host.Messages[0].caption), "Ошибка ввода параметров");
    EXPECT_EQ(host.Messages[0].icon, MsgIcon::Error);
    EXPECT_EQ(host.Messages[0].buttons, MsgButtons::Ok);

    host.Messages.clear();
    view.UserTypes(form, Ctl::EthPortEdit, u"1");
    view.UserTypes(form, Ctl::WifiSsidEdit, u"x");
    for (Ctl c : {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit, Ctl::WifiIpEdit,
                  Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit})
        view.UserTypes(form, c, u"1.2.3");
    EXPECT_EQ(form.CheckAndWrite(driver), -1);
    EXPECT_EQ(LastMessage(),
              "Параметры введены неверно:\r\n- Ethernet: IP-адрес\r\n- Ethernet: Маска подсети"
              "\r\n- Ethernet: Шлюз\r\n- Wi-Fi: IP-адрес\r\n- Wi-Fi: Маска подсети\r\n- Wi-fi: Шлюз");
}

TEST_F(FormTest, AccessPointAddressCheckedWhenBoxTicked) {
    view.UserClicks(form, Ctl::WifiApCheckBox);
    view.UserTypes(form, Ctl::WifiApIpEdit, u"");
    EXPECT_EQ(form.CheckAndWrite(driver), -1);
    EXPECT_EQ(LastMessage(), "Параметры введены неверно:\r\n- Wi-Fi: IP-адрес точки доступа");
}

TEST_F(FormTest, PutOrderAndSecondPortPutFromAccessPointView) {
    view.UserTypes(form, Ctl::NameEdit, u"New");
    view.UserClicks(form, Ctl::WifiApCheckBox);
    view.UserTypes(form, Ctl::WifiApPortEdit, u"6000");
    view.UserTypes(form, Ctl::WifiApIpEdit, u"192.168.4.1");
    EXPECT_EQ(form.CheckAndWrite(driver), 0);
    const std::vector<std::string> expected = {
        "put Name=New",
        "put PortEthernet=5001",
        "put IpAddress=192.168.1.10",
        "put Mask=255.255.255.0",
        "put Gateway=192.168.1.1",
        "put PortWiFi=5002",
        "put IpAddressWiFi=192.168.2.10",
        "put MaskWiFi=255.255.255.0",
        "put GatewayWiFi=192.168.2.1",
        "put SSID=net",
        "put Key=secret",
        "put PortWiFi=6000",
        "put ApIpAddressWiFi=192.168.4.1",
    };
    EXPECT_EQ(driver.CallsStartingWith("put "), expected);
    EXPECT_EQ(driver.PortWiFi, 6000) << "the second put is the one sent";
    const std::vector<std::string> sent = {"OpenConnection", "SetName", "SetEthernet", "SetWifi",
                                           "SetWiFiAP"};
    std::vector<std::string> commands;
    for (const auto& c : driver.Calls)
        if (c.rfind("put ", 0) != 0 && c.rfind("get ", 0) != 0) commands.push_back(c);
    EXPECT_EQ(commands, sent);
    EXPECT_EQ(driver.Count("CloseConnection"), 0) << "the connection is left open";
}

TEST_F(FormTest, UntickedAccessPointBoxPutsEmptyAddress) {
    EXPECT_EQ(form.CheckAndWrite(driver), 0);
    EXPECT_EQ(driver.Count("put ApIpAddressWiFi="), 1);
    EXPECT_EQ(driver.Count("put PortWiFi=5002"), 1);
}

TEST_F(FormTest, DynamicAddressingSkipsTestsAndPutsEmptyTexts) {
    view.UserClicks(form, Ctl::EthLinkCheckbox);
    view.UserClicks(form, Ctl::WifiLinkCheckBox);
    for (Ctl c : {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit, Ctl::WifiIpEdit,
                  Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit}) {
        EXPECT_FALSE(view.IsEnabled(c));
        EXPECT_EQ(view.GetText(c), u"");
    }
    EXPECT_EQ(form.CheckAndWrite(driver), 0);
    for (const char* p : {"IpAddress", "Mask", "Gateway", "IpAddressWiFi", "MaskWiFi",
                          "GatewayWiFi"})
        EXPECT_EQ(driver.Count(std::string("put ") + p + "="), 1) << p;
}

TEST_F(FormTest, PortTextThatIsNoNumberIsPutAs5001WhenUnchecked) {
    // A disabled field undergoes no test but is still put.
    view.At(Ctl::EthPortEdit).text = u"x1";
    form.DisableEdit(Ctl::EthPortEdit);
    EXPECT_EQ(form.CheckAndWrite(driver), 0);
    EXPECT_EQ(driver.Count("put PortEthernet=5001"), 1);
}

TEST_F(FormTest, SetResultsMakeTheWriteResult) {
    const struct {
        int32_t name, eth, wifi, ap, result;
    } cases[] = {
        {0, 0, 0, 0, 0},   {0, 4, 4, 4, 0},   {0, 17, 16, 16, 0}, {1, 0, 0, 0, 1},
        {9, 0, 0, 0, 1},   {0, 16, 0, 0, 2},  {0, 0, 17, 0, 4},   {0, 0, 0, 2, 4},
        {0, 0, 5, 5, 8},   {2, 2, 2, 2, 11},
    };
    for (const auto& c : cases) {
        driver.Results = {{"SetName", c.name}, {"SetEthernet", c.eth}, {"SetWifi", c.wifi},
                          {"SetWiFiAP", c.ap}};
        driver.Calls.clear();
        EXPECT_EQ(form.CheckAndWrite(driver), c.result)
            << c.name << " " << c.eth << " " << c.wifi << " " << c.ap;
        EXPECT_EQ(driver.Count("SetWiFiAP"), 1) << "all four are always sent";
    }
}

TEST_F(FormTest, FailedOpenReturnsItsResultAndSendsNothing) {
    driver.Results = {{"OpenConnection", 1}};
    EXPECT_EQ(form.CheckAndWrite(driver), 1);
    EXPECT_EQ(driver.Count("SetName"), 0);
}

TEST_F(FormTest, RefusedAddressPutIsAnInputErrorNotASilentSuccess) {
    // 0.1.2.3 passes the form's test; the driver keeps its old address for
    // it, so sending would report success for a value never written.
    driver.Ip = u"192.168.1.10";
    view.UserTypes(form, Ctl::EthIpEdit, u"0.1.2.3");
    EXPECT_EQ(form.CheckAndWrite(driver), -1);
    EXPECT_EQ(LastMessage(), "Параметры введены неверно:\r\n- Ethernet: IP-адрес");
    EXPECT_EQ(driver.Count("OpenConnection"), 0);
    EXPECT_EQ(driver.Count("SetEthernet"), 0);
}

TEST_F(FormTest, RsOnlyScaleStillSendsEveryCommand) {
    form.DetachChangeHandlers();
    form.ApplyInterfaces(0x01);
    form.AttachChangeHandlers();
    driver.Results = {{"SetEthernet", 17}, {"SetWifi", 16}, {"SetWiFiAP", 4}};
    EXPECT_EQ(form.CheckAndWrite(driver), 0);
    for (const char* c : {"SetName", "SetEthernet", "SetWifi", "SetWiFiAP"})
        EXPECT_EQ(driver.Count(c), 1) << c;
}

TEST(ApplyInterfaces, EnablesExactlyTheGroupsTheScaleHas) {
    const std::set<Ctl> eth = {Ctl::NameEdit, Ctl::EthPortEdit, Ctl::EthLinkCheckbox,
                               Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit};
    const std::set<Ctl> wifi = {Ctl::NameEdit,       Ctl::WifiPortEdit,   Ctl::WifiSsidEdit,
                                Ctl::WifiPasswordEdit, Ctl::WifiLinkCheckBox, Ctl::WifiIpEdit,
                                Ctl::WifiMaskEdit,   Ctl::WifiGatewayEdit, Ctl::WifiApCheckBox,
                                Ctl::WifiApPortEdit, Ctl::WifiApIpEdit};
    auto both = eth;
    both.insert(wifi.begin(), wifi.end());
    const struct {
        uint8_t bitmap;
        bool ethMissing, wifiMissing;
        std::set<Ctl> enabled;
    } cases[] = {
        {0x00, false, false, {}},
        {0xF0, false, false, {}},
        {0x01, false, false, {Ctl::NameEdit}},
        {0x02, false, false, {Ctl::NameEdit}},
        {0x04, false, false, eth},
        {0x08, false, false, wifi},
        {0x0C, false, false, both},
        {0x0F, false, false, both},
        {0x0C, true, false, wifi},
        {0x0C, false, true, eth},
        {0x0C, true, true, {}},
        {0x0D, true, true, {Ctl::NameEdit}},
    };
    const Ctl params[] = {Ctl::NameEdit,       Ctl::EthPortEdit,     Ctl::EthLinkCheckbox,
                          Ctl::EthIpEdit,      Ctl::EthMaskEdit,     Ctl::EthGatewayEdit,
                          Ctl::WifiPortEdit,   Ctl::WifiSsidEdit,    Ctl::WifiPasswordEdit,
                          Ctl::WifiLinkCheckBox, Ctl::WifiIpEdit,    Ctl::WifiMaskEdit,
                          Ctl::WifiGatewayEdit, Ctl::WifiApCheckBox, Ctl::WifiApPortEdit,
                          Ctl::WifiApIpEdit};
    for (const auto& c : cases) {
        FakeView view;
        FakeHost host;
        ParamForm form(view, host);
        for (Ctl p : params) view.At(p).text = u"x";
        view.At(Ctl::NameEdit).text = u"name";
        form.SetChecked(Ctl::WifiApCheckBox, true);
        form.EthernetMissing = c.ethMissing;
        form.WifiMissing = c.wifiMissing;
        form.ApplyInterfaces(c.bitmap);
        for (Ctl p : params) {
            const bool on = c.enabled.count(p) > 0;
            EXPECT_EQ(view.IsEnabled(p), on) << "bitmap " << int(c.bitmap) << " control "
                                             << static_cast<int>(p);
            if (p != Ctl::NameEdit && !on && p != Ctl::EthLinkCheckbox &&
                p != Ctl::WifiLinkCheckBox && p != Ctl::WifiApCheckBox) {
                EXPECT_EQ(view.GetText(p), u"") << "disabled fields are emptied";
            }
        }
        EXPECT_EQ(view.GetText(Ctl::NameEdit), u"name") << "the name is never emptied";
        EXPECT_EQ(view.IsChecked(Ctl::WifiApCheckBox), c.enabled.count(Ctl::WifiApCheckBox) > 0);
        EXPECT_EQ(view.IsVisible(Ctl::PanelApWiFi), c.enabled.count(Ctl::WifiApCheckBox) > 0)
            << "unticking switches back to the station view";
    }
}

TEST(ApplyInterfaces, TickedDynamicBoxKeepsAddressFieldsDisabled) {
    FakeView view;
    FakeHost host;
    ParamForm form(view, host);
    view.At(Ctl::EthLinkCheckbox).checked = true;
    form.ApplyInterfaces(0x04);
    EXPECT_TRUE(view.IsEnabled(Ctl::EthLinkCheckbox));
    EXPECT_TRUE(view.IsChecked(Ctl::EthLinkCheckbox));
    EXPECT_TRUE(view.IsEnabled(Ctl::EthPortEdit));
    for (Ctl c : {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit})
        EXPECT_FALSE(view.IsEnabled(c));
}

TEST(CheckBoxes, DynamicAddressingEmptiesDisablesAndMarksChanged) {
    FakeView view;
    FakeHost host;
    ParamForm form(view, host);
    form.ApplyInterfaces(0x0C);
    const struct {
        Ctl box;
        Ctl fields[3];
    } boxes[] = {
        {Ctl::EthLinkCheckbox, {Ctl::EthIpEdit, Ctl::EthMaskEdit, Ctl::EthGatewayEdit}},
        {Ctl::WifiLinkCheckBox, {Ctl::WifiIpEdit, Ctl::WifiMaskEdit, Ctl::WifiGatewayEdit}},
    };
    for (const auto& b : boxes) {
        for (Ctl f : b.fields) view.At(f).text = u"1.2.3.4";
        form.ParamsChanged = false;
        view.UserClicks(form, b.box);
        EXPECT_TRUE(form.ParamsChanged);
        for (Ctl f : b.fields) {
            EXPECT_FALSE(view.IsEnabled(f));
            EXPECT_EQ(view.GetText(f), u"");
        }
        form.ParamsChanged = false;
        view.UserClicks(form, b.box);
        EXPECT_TRUE(form.ParamsChanged);
        for (Ctl f : b.fields) {
            EXPECT_TRUE(view.IsEnabled(f));
            EXPECT_EQ(view.GetText(f), u"");
        }
    }
}

TEST(CheckBoxes, AccessPointBoxSwitchesViewsWithoutMarkingChanged) {
    FakeView view;
    FakeHost host;
    ParamForm form(view, host);
    form.ApplyInterfaces(0x08);
    EXPECT_TRUE(view.IsVisible(Ctl::PanelSimpleWiFi));
    EXPECT_FALSE(view.IsVisible(Ctl::PanelApWiFi));
    view.UserClicks(form, Ctl::WifiApCheckBox);
    EXPECT_FALSE(view.IsVisible(Ctl::PanelSimpleWiFi));
    EXPECT_TRUE(view.IsVisible(Ctl::PanelApWiFi));
    EXPECT_FALSE(form.ParamsChanged);
    // The access-point box's handler runs even with the others detached.
    form.DetachChangeHandlers();
    form.SetChecked(Ctl::WifiApCheckBox, false);
    EXPECT_TRUE(view.IsVisible(Ctl::PanelSimpleWiFi));
}

TEST(ChangeHandlers, FireOnRealChangesWhileAttached) {
    FakeView view;
    FakeHost host;
    ParamForm form(view, host);
    form.SetText(Ctl::IdEdit, u"123");
    EXPECT_FALSE(form.ParamsChanged) << "the identifier is not a parameter";
    form.SetText(Ctl::NameEdit, u"");
    EXPECT_FALSE(form.ParamsChanged) << "same text: no change";
    form.DetachChangeHandlers();
    form.SetText(Ctl::NameEdit, u"a");
    form.SetChecked(Ctl::EthLinkCheckbox, true);
    EXPECT_FALSE(form.ParamsChanged);
    form.AttachChangeHandlers();
    form.SetChecked(Ctl::EthLinkCheckbox, true);
    EXPECT_FALSE(form.ParamsChanged) << "setting the value it has runs no handler";
    form.SetText(Ctl::WifiApPasswordEdit, u"k");
    EXPECT_TRUE(form.ParamsChanged);
}

TEST(ClearParams, EmptiesTheFormButKeepsMacsAndAccessPointTexts) {
    FakeView view;
    FakeHost host;
    ParamForm form(view, host);
    form.ApplyInterfaces(0x0F);
    for (Ctl c : {Ctl::IdEdit, Ctl::NameEdit, Ctl::IfacesEdit, Ctl::EthPortEdit, Ctl::EthIpEdit,
                  Ctl::WifiSsidEdit, Ctl::WifiApIpEdit, Ctl::EthMacEdit, Ctl::WifiMacEdit,
                  Ctl::WifiApMacEdit, Ctl::WifiApSsidEdit, Ctl::WifiApPasswordEdit})
        view.At(c).text = u"v";
    view.UserClicks(form, Ctl::WifiApCheckBox);
    view.At(Ctl::SearchPanel).visible = false;
    form.ParamsChanged = false;
    form.ClearParams();
    for (Ctl c : {Ctl::IdEdit, Ctl::NameEdit, Ctl::IfacesEdit, Ctl::EthPortEdit, Ctl::EthIpEdit,
                  Ctl::WifiSsidEdit, Ctl::WifiApIpEdit})
        EXPECT_EQ(view.GetText(c), u"") << static_cast<int>(c);
    for (Ctl c : {Ctl::EthMacEdit, Ctl::WifiMacEdit, Ctl::WifiApMacEdit, Ctl::WifiApSsidEdit,
                  Ctl::WifiApPasswordEdit})
        EXPECT_EQ(view.GetText(c), u"v") << static_cast<int>(c);
    EXPECT_FALSE(view.IsChecked(Ctl::WifiApCheckBox));
    EXPECT_TRUE(view.IsVisible(Ctl::PanelSimpleWiFi));
    EXPECT_FALSE(view.IsEnabled(Ctl::SaveButton));
    EXPECT_FALSE(view.IsEnabled(Ctl::CancelButton));
    EXPECT_TRUE(view.IsVisible(Ctl::SearchPanel));
    EXPECT_EQ(Narrow(view.GetText(Ctl::SearchPanel)), "Подключите весы...");
    EXPECT_FALSE(form.ParamsChanged);
    EXPECT_TRUE(form.ChangeHandlersAttached());
}

TEST(MarkAbsent, EmptiesDisablesAndFlagsTheGroup) {
    FakeView view;
    FakeHost host;
    ParamForm form(view, host);
    form.ApplyInterfaces(0x0C);
    for (Ctl c : {Ctl::EthPortEdit, Ctl::EthIpEdit, Ctl::EthMacEdit, Ctl::WifiPortEdit,
                  Ctl::WifiMacEdit, Ctl::WifiApMacEdit})
        view.At(c).text = u"v";
    view.At(Ctl::EthLinkCheckbox).checked = true;
    form.MarkEthernetAbsent();
    EXPECT_TRUE(form.EthernetMissing);
    EXPECT_EQ(view.GetText(Ctl::EthMacEdit), u"");
    EXPECT_FALSE(view.IsChecked(Ctl::EthLinkCheckbox));
    EXPECT_FALSE(view.IsEnabled(Ctl::EthLinkCheckbox));
    EXPECT_FALSE(view.IsEnabled(Ctl::EthPortEdit));
    EXPECT_TRUE(view.IsEnabled(Ctl::WifiPortEdit));
    form.MarkWifiAbsent();
    EXPECT_TRUE(form.WifiMissing);
    EXPECT_EQ(view.GetText(Ctl::WifiMacEdit), u"");
    EXPECT_EQ(view.GetText(Ctl::WifiApMacEdit), u"");
    EXPECT_FALSE(view.IsEnabled(Ctl::WifiApIpEdit));
    EXPECT_FALSE(view.IsEnabled(Ctl::WifiApCheckBox));
}

}  // namespace
}  // namespace pesoconf
