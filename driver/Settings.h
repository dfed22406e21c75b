// Module start of the driver: the settings folder below the user's
// application-data folder, Driver.ini (section "Settings": "LCID",
// "ComSoftTimeout", "ComHardTimeout", "Logging") and the emptied Log.txt.
#pragma once

#include <stdexcept>
#include <string>

namespace pesolink {

// A failure that ends the module start: the library does not load. The
// message names the file concerned.
class DriverStartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Finds or creates the folders and Driver.ini, reads the locale, empties
// Log.txt, reads "Logging" and the two serial time-outs, writing defaults
// back where a value is missing or 0. Each call is a fresh load. On failure
// it throws DriverStartError and leaves the locale and the time-outs as they
// were, with logging off, DriverStarted() false and SettingsDir() empty.
void StartDriverModule();

// True after a StartDriverModule that succeeded.
bool DriverStarted();

// The settings folder, ending in the folder separator; empty before a
// successful start.
std::u16string SettingsDir();
std::u16string SettingsFilePath();  // SettingsDir() + "Driver.ini"
std::u16string LogFilePath();       // SettingsDir() + "Log.txt"

// True while the setting "Logging" read at the last start was "1".
bool LogEnabled();

}  // namespace pesolink
