// The main window as data: strips, and every field, box, notice and button
// with its label, place, size, length limit and state at start. Positions
// are relative to the control's strip (or Wi-Fi view); the Win32 window
// adds the strip origins and draws the looks.
#pragma once

#include <cstdint>

#include "tool/Controls.h"

namespace pesoconf::layout {

constexpr int WindowWidth = 338;   // the shape picture's size
constexpr int WindowHeight = 568;
constexpr int ContentLeft = 5;     // the 328-pixel-wide form inside the shape
constexpr int ContentWidth = 328;

enum class Strip { Top, Heading, Info, Ethernet, WifiBox, WifiView, Buttons };

struct StripDef {
    Strip strip;
    int top;
    int height;
    const char16_t* title;  // group title, or null
};

constexpr int TitleHeight = 18;
constexpr int WifiTop = 303;
constexpr int WifiBoxStrip = 27;

inline constexpr StripDef Strips[] = {
    {Strip::Top, 0, 23, nullptr},
    {Strip::Heading, 23, 58, nullptr},
    {Strip::Info, 81, 84, u"Информация о весах"},
    {Strip::Ethernet, 165, 138, u"Параметры связи Ethernet"},
    {Strip::WifiBox, WifiTop, TitleHeight + WifiBoxStrip, u"Параметры связи Wi-Fi"},
    {Strip::WifiView, WifiTop + TitleHeight + WifiBoxStrip, 217 - TitleHeight - WifiBoxStrip,
     nullptr},
    {Strip::Buttons, 520, 36, nullptr},
};

int StripTop(Strip s);

enum class Kind { Edit, CheckBox, Notice, PictureButton, Caption, View };

// Which Wi-Fi view a control belongs to (both views share one place).
enum class View { None, Simple, Ap };

struct ControlDef {
    Ctl id;
    Kind kind;
    Strip strip;
    View view;
    const char16_t* label;    // edit label, box or button caption
    int x, y, width, height;  // inside the strip
    int maxLength;            // 0: none
    bool enabled;
    bool readOnly;
};

// y of a box strip control is measured from the box strip below the title.
inline constexpr ControlDef Controls[] = {
    {Ctl::LabelCaption, Kind::Caption, Strip::Heading, View::None, u"Pesoconf 100", 56, 20, 249, 25, 0, true, false},
    {Ctl::IdEdit, Kind::Edit, Strip::Info, View::None, u"ID весов:", 67, 22, 241, 17, 0, false, false},
    {Ctl::NameEdit, Kind::Edit, Strip::Info, View::None, u"Наименование:", 97, 41, 211, 17, 25, false, false},
    {Ctl::IfacesEdit, Kind::Edit, Strip::Info, View::None, u"Доступные интерфейсы:", 147, 60, 161, 17, 0, false, false},
    {Ctl::EthPortEdit, Kind::Edit, Strip::Ethernet, View::None, u"Порт:", 50, 21, 258, 17, 5, false, false},
    {Ctl::EthLinkCheckbox, Kind::CheckBox, Strip::Ethernet, View::None, u"Динамическое подключение", 15, 39, 165, 15, 0, false, false},
    {Ctl::EthIpEdit, Kind::Edit, Strip::Ethernet, View::None, u"IP-адрес:", 69, 57, 239, 17, 15, false, false},
    {Ctl::EthMaskEdit, Kind::Edit, Strip::Ethernet, View::None, u"Маска подсети:", 101, 76, 207, 17, 15, false, false},
    {Ctl::EthGatewayEdit, Kind::Edit, Strip::Ethernet, View::None, u"Шлюз:", 55, 95, 253, 17, 15, false, false},
    {Ctl::EthMacEdit, Kind::Edit, Strip::Ethernet, View::None, u"MAC-адрес:", 81, 114, 227, 17, 15, true, true},
    {Ctl::SearchPanel, Kind::Notice, Strip::Ethernet, View::None, u"Поиск весов...", 49, 46, 232, 41, 0, true, false},
    {Ctl::WifiApCheckBox, Kind::CheckBox, Strip::WifiBox, View::None, u"Точка доступа", 15, TitleHeight + 6, 94, 15, 0, false, false},
    {Ctl::PanelSimpleWiFi, Kind::View, Strip::WifiView, View::Simple, nullptr, 0, 0, ContentWidth, 217 - TitleHeight - WifiBoxStrip, 0, true, false},
    {Ctl::WifiPortEdit, Kind::Edit, Strip::WifiView, View::Simple, u"Порт:", 47, 6, 261, 17, 5, false, false},
    {Ctl::WifiLinkCheckBox, Kind::CheckBox, Strip::WifiView, View::Simple, u"Динамическое подключение", 15, 26, 165, 15, 0, false, false},
    {Ctl::WifiIpEdit, Kind::Edit, Strip::WifiView, View::Simple, u"IP-адрес:", 65, 46, 243, 17, 15, false, false},
    {Ctl::WifiMaskEdit, Kind::Edit, Strip::WifiView, View::Simple, u"Маска подсети:", 97, 65, 211, 17, 15, false, false},
    {Ctl::WifiGatewayEdit, Kind::Edit, Strip::WifiView, View::Simple, u"Шлюз:", 51, 84, 257, 17, 15, false, false},
    {Ctl::WifiSsidEdit, Kind::Edit, Strip::WifiView, View::Simple, u"SSID:", 42, 103, 264, 17, 32, false, false},
    {Ctl::WifiPasswordEdit, Kind::Edit, Strip::WifiView, View::Simple, u"Пароль:", 56, 122, 250, 17, 64, false, false},
    {Ctl::WifiMacEdit, Kind::Edit, Strip::WifiView, View::Simple, u"MAC-адрес:", 77, 141, 229, 17, 15, true, true},
    {Ctl::PanelApWiFi, Kind::View, Strip::WifiView, View::Ap, nullptr, 0, 0, ContentWidth, 217 - TitleHeight - WifiBoxStrip, 0, true, false},
    {Ctl::WifiApPortEdit, Kind::Edit, Strip::WifiView, View::Ap, u"Порт:", 47, 9, 261, 17, 5, true, false},
    {Ctl::WifiApIpEdit, Kind::Edit, Strip::WifiView, View::Ap, u"IP-адрес точки доступа:", 144, 28, 164, 17, 15, true, false},
    {Ctl::WifiApSsidEdit, Kind::Edit, Strip::WifiView, View::Ap, u"SSID точки доступа:", 121, 47, 187, 17, 32, false, false},
    {Ctl::WifiApPasswordEdit, Kind::Edit, Strip::WifiView, View::Ap, u"Пароль точки доступа:", 134, 66, 174, 17, 64, false, false},
    {Ctl::WifiApMacEdit, Kind::Edit, Strip::WifiView, View::Ap, u"MAC-адрес:", 77, 85, 231, 17, 15, true, true},
    {Ctl::HelpButton, Kind::PictureButton, Strip::Buttons, View::None, u"?", 7, 4, 29, 29, 0, true, false},
    {Ctl::SaveButton, Kind::PictureButton, Strip::Buttons, View::None, u"Сохранить параметры", 47, 6, 135, 25, 0, true, false},
    {Ctl::CancelButton, Kind::PictureButton, Strip::Buttons, View::None, u"Отмена изменений", 188, 6, 135, 25, 0, true, false},
};

const ControlDef& Find(Ctl c);

// Whether a control is visible at start: the access-point view is hidden.
bool VisibleAtStart(const ControlDef& def);

}  // namespace pesoconf::layout
