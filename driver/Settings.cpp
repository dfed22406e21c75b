// Module start: settings folder, Driver.ini, Log.txt and the module-wide
// settings read from them.
#include "driver/Settings.h"

#include <mutex>
#include <optional>

#include "driver/Language.h"
#include "driver/Logging.h"
#include "driver/platform/Platform.h"
#include "link/ComUnit.h"
#include "link/TextNumber.h"

namespace pesolink {

namespace {

std::mutex StateMutex;
std::u16string SettingsDirText;
bool Started = false;

constexpr std::u16string_view Section = u"Settings";

// "\Name\" with the platform's separator.
std::u16string Folder(std::u16string_view name) {
    std::u16string text;
    text += platform::PathSeparator;
    text += name;
    text += platform::PathSeparator;
    return text;
}

// A folder that cannot be created shows up as a file that cannot be created.
void EnsureFolder(const std::u16string& path) {
    if (!platform::FolderExists(path)) platform::CreateFolder(path);
}

// A time-out as read; 0 or an unreadable text is replaced by the default,
// both here and in the file.
int32_t ReadTimeout(const std::u16string& ini, std::u16string_view key, int32_t fallback,
                    std::u16string_view fallbackText) {
    const std::u16string text = platform::ProfileRead(ini, Section, key, u"");
    const int32_t value = ParseInt32(std::u16string_view(text)).value_or(0);
    if (value != 0) return value;
    if (!platform::ProfileWrite(ini, Section, key, fallbackText))
        throw DriverStartError("cannot write the setting " + platform::ToUtf8(key) + " to " +
                               platform::ToUtf8(ini));
    return fallback;
}

}  // namespace

void StartDriverModule() {
    // A fresh load: until it has succeeded, nothing is logged.
    SetLogTarget(u"", false);
    {
        std::lock_guard<std::mutex> lock(StateMutex);
        Started = false;
        SettingsDirText.clear();
    }

    // The expansion is taken whole, however long it is.
    std::u16string dir = platform::ExpandEnvironment(u"%AppData%");
    dir += Folder(u"Ostrel");
    EnsureFolder(dir);
    dir += u"Pesolink";
    dir += platform::PathSeparator;
    EnsureFolder(dir);

    const std::u16string ini = dir + u"Driver.ini";
    if (!platform::FileExists(ini) && !platform::CreateFileIfMissing(ini))
        throw DriverStartError("cannot create the settings file " + platform::ToUtf8(ini));

    const int32_t lcid = ReadLocaleSetting(ini);

    const std::u16string log = dir + u"Log.txt";
    if (!platform::TruncateOrCreateFile(log))
        throw DriverStartError("cannot create the log file " + platform::ToUtf8(log));

    const bool logging = platform::ProfileRead(ini, Section, u"Logging", u"") == u"1";
    const int32_t soft = ReadTimeout(ini, u"ComSoftTimeout", 2000, u"2000");
    const int32_t hard = ReadTimeout(ini, u"ComHardTimeout", 500, u"500");

    // Everything read: only now does the module take the new settings.
    SelectLocale(lcid);
    ComSoftTimeout = soft;
    ComHardTimeout = hard;
    {
        std::lock_guard<std::mutex> lock(StateMutex);
        SettingsDirText = dir;
        Started = true;
    }
    SetLogTarget(log, logging);
}

bool DriverStarted() {
    std::lock_guard<std::mutex> lock(StateMutex);
    return Started;
}

std::u16string SettingsDir() {
    std::lock_guard<std::mutex> lock(StateMutex);
    return SettingsDirText;
}

std::u16string SettingsFilePath() {
    std::lock_guard<std::mutex> lock(StateMutex);
    return SettingsDirText.empty() ? std::u16string() : SettingsDirText + u"Driver.ini";
}

std::u16string LogFilePath() {
    std::lock_guard<std::mutex> lock(StateMutex);
    return SettingsDirText.empty() ? std::u16string() : SettingsDirText + u"Log.txt";
}

bool LogEnabled() { return LogTargetEnabled(); }

}  // namespace pesolink
