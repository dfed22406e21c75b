// The tool's own user-visible texts and the small text helpers shared by the
// workflow, the form and the window.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace pesoconf {

namespace text {
inline const std::u16string ProgramTitle = u"Pesoconf 100";
inline const std::u16string OwnMutex = u"Pesoconf100";
inline const std::u16string ViewerMutex = u"Pesoview100";
inline const std::u16string ViewerRunning =
    u"Совместная работа программ \"Pesoconf 100\" и \"Pesoview 100\" невозможна.\r\n"
    u"Для дальнейшей работы закройте программу \"Pesoview 100\" и перезапустите программу "
    u"\"Pesoconf 100\".";

inline const std::u16string SearchNotice = u"Поиск весов...";
inline const std::u16string ConnectNotice = u"Подключите весы...";
inline const std::u16string UpdateNotice = u"Обновление параметров...";
inline const std::u16string WriteNotice = u"Запись параметров...";
inline const std::u16string ClosingNotice = u"Закрытие программы...";

inline const std::u16string WriteDone = u"Запись параметров произведена успешно";
inline const std::u16string WriteDoneCaption = u"Запись завершена";
inline const std::u16string WriteFailed = u"Ошибка записи параметров в весы";
inline const std::u16string WriteFailedCaption = u"Ошибка";
inline const std::u16string AskWrite = u"Записать в весы измененные параметры?";
inline const std::u16string AskWriteCaption = u"Запрос на запись параметров";

inline const std::u16string InputErrors = u"Параметры введены неверно:";
inline const std::u16string InputErrorsCaption = u"Ошибка ввода параметров";
inline const std::u16string LineEthPort = u"- Ethernet: Порт";
inline const std::u16string LineEthIp = u"- Ethernet: IP-адрес";
inline const std::u16string LineEthMask = u"- Ethernet: Маска подсети";
inline const std::u16string LineEthGateway = u"- Ethernet: Шлюз";
inline const std::u16string LineWifiPort = u"- Wi-Fi: Порт";
inline const std::u16string LineWifiIp = u"- Wi-Fi: IP-адрес";
inline const std::u16string LineWifiMask = u"- Wi-Fi: Маска подсети";
inline const std::u16string LineWifiGateway = u"- Wi-fi: Шлюз";
inline const std::u16string LineSsid = u"- SSID";
inline const std::u16string LineApIp = u"- Wi-Fi: IP-адрес точки доступа";

inline const std::u16string HelpCaption = u"Справка по программе \"Pesoconf 100\"";
}  // namespace text

// Display names of bits 0 to 3 of a scale's interface bitmap.
inline const std::array<std::u16string, 4> InterfaceNames = {u"RS-232", u"USB", u"Ethernet",
                                                             u"Wi-fi"};

// "RS-232, Ethernet" and so on: the names of bits 0 to 3 that are set.
std::u16string InterfaceText(uint8_t bitmap);

// Six bytes as "00:1A:2B:3C:4D:5E", in the order given.
std::u16string MacText(const std::array<uint8_t, 6>& bytes);

std::u16string DecimalText(int64_t value);

// A port text is a valid number when it is a non-empty run of decimal
// digits. Returns false otherwise; large values saturate at INT32_MAX.
bool PortTextValue(const std::u16string& text, int32_t* value);

// Key path of the FileVersion string for a version resource translation:
// \StringFileInfo\041904E3\FileVersion for language 0x0419, code page 0x04E3.
std::u16string VersionKeyPath(uint16_t language, uint16_t codePage);

// "Pesoconf 100 (v1.4.0.0)"; an empty version gives "Pesoconf 100 (v)".
std::u16string HeadingWithVersion(const std::u16string& heading, const std::u16string& version);

}  // namespace pesoconf
