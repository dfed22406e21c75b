// The driver's trace: one line per call, "hh:nn:ss " and the message, only
// while the setting "Logging" is "1".
#pragma once

#include <string>
#include <string_view>

namespace pesolink {

// Appends "hh:nn:ss " + text + CR LF in the ANSI code page to Log.txt when
// logging is on. Never fails: a line that cannot be written is dropped.
// Safe to call from several threads at once; lines never interleave.
void WriteLog(std::u16string_view text);

// Set by the module start: the log file and whether lines are written.
void SetLogTarget(std::u16string logFile, bool enabled);

// The state last set by SetLogTarget.
bool LogTargetEnabled();
std::u16string LogTargetFile();

}  // namespace pesolink
