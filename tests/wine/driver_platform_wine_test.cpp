// The module start and the log through the Win32 platform layer, under the
// faults a shop computer shows: an application-data folder longer than the
// 256 characters of a plain expansion buffer, a read-only Driver.ini, a
// Log.txt that is read-only or held open by another program without write
// sharing, and a Log.txt deleted, locked or made read-only while the driver
// is loaded. A start that cannot complete fails as a whole and leaves no
// half-started driver behind; the log's faults cost lines, never more.
#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "driver/Language.h"
#include "driver/Logging.h"
#include "driver/Settings.h"
#include "link/ComUnit.h"

namespace pesolink {
namespace {

std::u16string U(const std::wstring& w) { return std::u16string(w.begin(), w.end()); }

// A path the file functions take at any length.
std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }

std::optional<std::wstring> Env(const wchar_t* name) {
    const DWORD n = GetEnvironmentVariableW(name, nullptr, 0);
    if (n == 0) return std::nullopt;
    std::wstring value(n, L'\0');
    value.resize(GetEnvironmentVariableW(name, value.data(), n));
    return value;
}

std::string ReadAll(const std::wstring& path) {
    const HANDLE h = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return "<missing>";
    std::string content;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got > 0) content.append(buffer, got);
    CloseHandle(h);
    return content;
}

void WriteAll(const std::wstring& path, const std::string& content) {
    const HANDLE h = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
    DWORD written = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
}

bool IsFile(const std::wstring& path) {
    const DWORD a = GetFileAttributesW(Long(path).c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void SetReadOnly(const std::wstring& path, bool on) {
    SetFileAttributesW(Long(path).c_str(), on ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
}

void RemoveTree(const std::wstring& dir) {
    WIN32_FIND_DATAW found;
    const HANDLE h = FindFirstFileW(Long(dir + L"\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = dir + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetReadOnly(path, false);
                DeleteFileW(Long(path).c_str());
            }
        } while (FindNextFileW(h, &found));
        FindClose(h);
    }
    RemoveDirectoryW(Long(dir).c_str());
}

// Whether this system refuses writes to a file with the read-only
// attribute. Windows does; Wine run as root lets them through.
bool ReadOnlyIsEnforced(const std::wstring& folder) {
    const std::wstring probe = folder + L"\\read-only-probe";
    WriteAll(probe, "x");
    SetReadOnly(probe, true);
    const HANDLE h = CreateFileW(Long(probe).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool refused = h == INVALID_HANDLE_VALUE;
    if (!refused) CloseHandle(h);
    SetReadOnly(probe, false);
    DeleteFileW(Long(probe).c_str());
    return refused;
}

// Another program's handle on a file, shared for reading only.
class Holder {
public:
    explicit Holder(const std::wstring& path)
        : h_(CreateFileW(Long(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~Holder() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    bool Held() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

enum class LogChange { Deleted, ReadOnly, Held };

const std::string CompleteIni = "[Settings]\r\nLogging=1\r\nLCID=409\r\nComSoftTimeout=3000\r\nComHardTimeout=400\r\n";

// A fresh application-data folder per test: of ordinary length, or nested
// so deep that the folder alone is longer than 256 characters.
class DriverPlatform : public testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        base_ = std::wstring(temp) + L"pesolink-platform-" + std::to_wstring(GetCurrentProcessId());
        RemoveTree(base_);
        ASSERT_TRUE(CreateDirectoryW(Long(base_).c_str(), nullptr)) << GetLastError();
        appData_ = base_;
        if (GetParam()) {
            for (wchar_t c : {L'a', L'b', L'c'}) {
                appData_ += L"\\" + std::wstring(100, c);
                ASSERT_TRUE(CreateDirectoryW(Long(appData_).c_str(), nullptr)) << GetLastError();
            }
            ASSERT_GT(appData_.size(), 300u);
        }
        savedAppData_ = Env(L"APPDATA");
        SetEnvironmentVariableW(L"APPDATA", appData_.c_str());
        dir_ = appData_ + L"\\Ostrel\\Pesolink";
        ini_ = dir_ + L"\\Driver.ini";
        log_ = dir_ + L"\\Log.txt";
    }

    void TearDown() override {
        SetLogTarget(u"", false);
        SetEnvironmentVariableW(L"APPDATA", savedAppData_ ? savedAppData_->c_str() : nullptr);
        RemoveTree(base_);
    }

    // The settings folder as the driver made it, with a Driver.ini.
    void MakeFolder(const std::string& ini) {
        CreateDirectoryW(Long(appData_ + L"\\Ostrel").c_str(), nullptr);
        CreateDirectoryW(Long(dir_).c_str(), nullptr);
        WriteAll(ini_, ini);
    }

    // A start that must fail: it names the file, and nothing of it is in force.
    void ExpectFailedStart(const char* file) {
        SetLogTarget(u"", false);
        const int32_t soft = ComSoftTimeout, hard = ComHardTimeout, lcid = CurrentLcid;
        try {
            StartDriverModule();
            ADD_FAILURE() << "the start succeeded";
        } catch (const DriverStartError& e) {
            EXPECT_NE(std::string(e.what()).find(file), std::string::npos) << e.what();
        }
        EXPECT_FALSE(DriverStarted());
        EXPECT_FALSE(LogEnabled());
        EXPECT_EQ(SettingsDir(), u"");
        EXPECT_EQ(ComSoftTimeout, soft);
        EXPECT_EQ(ComHardTimeout, hard);
        EXPECT_EQ(CurrentLcid, lcid);
    }

    // Log.txt changes under the loaded driver: the line is dropped, nothing
    // is re-created or overwritten, and once the file can be written again
    // the lines go on.
    void ExpectLineLost(LogChange change) {
        ASSERT_TRUE(LogEnabled());
        WriteLog(u"first");
        const std::string before = ReadAll(log_);
        ASSERT_NE(before.find("first\r\n"), std::string::npos);

        std::optional<Holder> holder;
        if (change == LogChange::Deleted) {
            ASSERT_TRUE(DeleteFileW(Long(log_).c_str()));
        } else if (change == LogChange::ReadOnly) {
            SetReadOnly(log_, true);
        } else {
            holder.emplace(log_);
            ASSERT_TRUE(holder->Held());
        }
        WriteLog(u"lost");
        holder.reset();
        if (change == LogChange::Deleted) {
            EXPECT_FALSE(IsFile(log_)) << "a deleted log is not re-created";
            return;
        }
        EXPECT_EQ(ReadAll(log_), before);
        SetReadOnly(log_, false);
        WriteLog(u"again");
        EXPECT_NE(ReadAll(log_).find("again\r\n"), std::string::npos);
    }

    std::wstring base_, appData_, dir_, ini_, log_;
    std::optional<std::wstring> savedAppData_;
};

TEST_P(DriverPlatform, FirstStartCreatesEverythingAtTheWholePath) {
    StartDriverModule();
    EXPECT_TRUE(DriverStarted());
    EXPECT_EQ(SettingsDir(), U(dir_ + L"\\"));
    EXPECT_TRUE(IsFile(ini_));
    EXPECT_TRUE(IsFile(log_));
    const std::string ini = ReadAll(ini_);
    const auto lcid = ini.find("LCID="), soft = ini.find("ComSoftTimeout=2000"), hard = ini.find("ComHardTimeout=500");
    EXPECT_NE(ini.find("[Settings]"), std::string::npos) << ini;
    ASSERT_NE(lcid, std::string::npos) << ini;
    ASSERT_NE(soft, std::string::npos) << ini;
    ASSERT_NE(hard, std::string::npos) << ini;
    EXPECT_TRUE(lcid < soft && soft < hard) << ini;
    EXPECT_EQ(ComSoftTimeout, 2000);
    EXPECT_EQ(ComHardTimeout, 500);
    EXPECT_FALSE(LogEnabled());
}

TEST_P(DriverPlatform, LoggingAtTheWholePath) {
    MakeFolder(CompleteIni);
    StartDriverModule();
    ASSERT_TRUE(LogEnabled());
    EXPECT_EQ(ComSoftTimeout, 3000);
    EXPECT_EQ(ComHardTimeout, 400);
    EXPECT_EQ(CurrentLcid, 0x409);
    WriteLog(u"- ReadWeight: COM3");
    const std::string log = ReadAll(log_);
    ASSERT_EQ(log.size(), 9u + 18u + 2u) << log;
    EXPECT_EQ(log.substr(9), "- ReadWeight: COM3\r\n");
    EXPECT_EQ(ReadAll(ini_), CompleteIni) << "nothing needed writing back";
}

// A Driver.ini that cannot be written works while its three values need no
// default; otherwise the start fails on the first default it must write.
struct UnwritableIni {
    const char* name;
    std::string ini;
    const char* key;  // the key whose default cannot be written; none: the start succeeds
};
const UnwritableIni UnwritableIniCases[] = {
    {"every value present", CompleteIni, nullptr},
    {"no LCID", "[Settings]\r\nComSoftTimeout=3000\r\nComHardTimeout=400\r\n", "LCID"},
    {"ComSoftTimeout=0", "[Settings]\r\nLCID=409\r\nComSoftTimeout=0\r\nComHardTimeout=400\r\n", "ComSoftTimeout"},
    {"no ComHardTimeout", "[Settings]\r\nLCID=409\r\nComSoftTimeout=3000\r\n", "ComHardTimeout"},
};

TEST_P(DriverPlatform, ReadOnlySettingsFile) {
    if (!ReadOnlyIsEnforced(base_)) GTEST_SKIP() << "this system writes to read-only files (Wine run as root)";
    for (const auto& c : UnwritableIniCases) {
        SCOPED_TRACE(c.name);
        // A good start first, so that a failed one has something to undo.
        MakeFolder("[Settings]\r\nLogging=1\r\n");
        StartDriverModule();
        ASSERT_TRUE(LogEnabled());

        MakeFolder(c.ini);
        SetReadOnly(ini_, true);
        if (c.key) {
            ExpectFailedStart(c.key);
        } else {
            StartDriverModule();
            EXPECT_TRUE(DriverStarted());
            EXPECT_EQ(ComSoftTimeout, 3000);
        }
        EXPECT_EQ(ReadAll(ini_), c.ini);
        SetReadOnly(ini_, false);
    }
}

TEST_P(DriverPlatform, SettingsFileHeldWithoutWriteSharing) {
    for (const auto& c : UnwritableIniCases) {
        SCOPED_TRACE(c.name);
        MakeFolder("[Settings]\r\nLogging=1\r\n");
        StartDriverModule();
        ASSERT_TRUE(LogEnabled());

        MakeFolder(c.ini);
        {
            Holder holder(ini_);
            ASSERT_TRUE(holder.Held()) << GetLastError();
            if (c.key) {
                ExpectFailedStart(c.key);
            } else {
                StartDriverModule();
                EXPECT_TRUE(DriverStarted());
                EXPECT_EQ(ComSoftTimeout, 3000);
                EXPECT_EQ(CurrentLcid, 0x409);
            }
        }
        EXPECT_EQ(ReadAll(ini_), c.ini);
    }
}

TEST_P(DriverPlatform, LogThatCannotBeWrittenAtLoadFailsTheStart) {
    const struct {
        const char* name;
        bool readOnly;
        bool held;
    } cases[] = {
        {"read-only Log.txt", true, false},
        {"Log.txt held open without write sharing", false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MakeFolder(CompleteIni);
        WriteAll(log_, "earlier lines\r\n");
        if (c.readOnly) SetReadOnly(log_, true);
        {
            Holder holder(log_);
            if (c.held) {
                ASSERT_TRUE(holder.Held()) << GetLastError();
            }
            ExpectFailedStart("Log.txt");
        }
        EXPECT_EQ(ReadAll(log_), "earlier lines\r\n");
        WriteLog(u"after the failed start");
        EXPECT_EQ(ReadAll(log_), "earlier lines\r\n");
        SetReadOnly(log_, false);
        // Once the file can be had again, the start succeeds.
        StartDriverModule();
        EXPECT_TRUE(DriverStarted());
        EXPECT_EQ(ReadAll(log_), "");
    }
}

TEST_P(DriverPlatform, LogDeletedOrHeldWhileLoadedDropsLines) {
    for (LogChange change : {LogChange::Deleted, LogChange::Held}) {
        SCOPED_TRACE(change == LogChange::Deleted ? "deleted" : "held open without write sharing");
        MakeFolder(CompleteIni);
        StartDriverModule();
        ExpectLineLost(change);
    }
}

TEST_P(DriverPlatform, LogMadeReadOnlyWhileLoadedDropsLines) {
    if (!ReadOnlyIsEnforced(base_)) GTEST_SKIP() << "this system writes to read-only files (Wine run as root)";
    MakeFolder(CompleteIni);
    StartDriverModule();
    ExpectLineLost(LogChange::ReadOnly);
}

INSTANTIATE_TEST_SUITE_P(AppData, DriverPlatform, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "LongerThan256" : "Ordinary";
                         });

}  // namespace
}  // namespace pesolink
