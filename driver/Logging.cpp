// Log.txt writer. The file is opened and closed around every line, so other
// processes that load the driver may share it and a deleted file just drops
// the lines that follow.
#include "driver/Logging.h"

#include <mutex>

#include "driver/platform/Platform.h"

namespace pesolink {

namespace {

// Guards the target and keeps the lines of concurrent callers whole.
std::mutex LogMutex;
std::u16string LogFile;
bool LogEnabledFlag = false;

}  // namespace

void SetLogTarget(std::u16string logFile, bool enabled) {
    std::lock_guard<std::mutex> lock(LogMutex);
    LogFile = std::move(logFile);
    LogEnabledFlag = enabled;
}

bool LogTargetEnabled() {
    std::lock_guard<std::mutex> lock(LogMutex);
    return LogEnabledFlag;
}

std::u16string LogTargetFile() {
    std::lock_guard<std::mutex> lock(LogMutex);
    return LogFile;
}

void WriteLog(std::u16string_view text) {
    try {
        std::lock_guard<std::mutex> lock(LogMutex);
        if (!LogEnabledFlag) return;
        std::u16string line = platform::LocalTimeText();
        line += u' ';
        line += text;
        line += u"\r\n";
        platform::AppendToFile(LogFile, platform::ToAnsi(line));
    } catch (...) {
        // The trace must never make an operation fail.
    }
}

}  // namespace pesolink
