// Module start (folders, Driver.ini, Log.txt, write-back of defaults), the log
// writer and the POSIX platform layer underneath them.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/Language.h"
#include "driver/Logging.h"
#include "driver/Settings.h"
#include "driver/platform/Platform.h"
#include "link/ComUnit.h"

namespace pesolink {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

void MakeReadOnly(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
}

std::u16string U(const fs::path& path) { return platform::FromUtf8(path.string()); }

// Saves an environment variable and puts it back afterwards.
class EnvVar {
public:
    explicit EnvVar(const char* name) : name_(name) {
        if (const char* v = std::getenv(name)) saved_ = v;
    }
    ~EnvVar() {
        if (saved_) setenv(name_, saved_->c_str(), 1);
        else unsetenv(name_);
    }
    void Set(const std::string& value) { setenv(name_, value.c_str(), 1); }
    void Unset() { unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> saved_;
};

// A fresh application-data folder per test, pointed at by APPDATA.
class SettingsTest : public testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/pesolink-settings-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        root_ = pattern;
        appData_.Set(root_.string());
        xdgConfig_.Unset();
        systemLcid_.Unset();
    }

    void TearDown() override {
        SetLogTarget(u"", false);
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(root_, ec);
             it != fs::recursive_directory_iterator(); it.increment(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }

    fs::path Dir() const { return root_ / "Ostrel" / "Pesolink"; }
    fs::path Ini() const { return Dir() / "Driver.ini"; }
    fs::path Log() const { return Dir() / "Log.txt"; }

    void WriteIni(const std::string& content) {
        fs::create_directories(Dir());
        WriteFile(Ini(), content);
    }

    fs::path root_;
    EnvVar appData_{"APPDATA"};
    EnvVar home_{"HOME"};
    EnvVar xdgConfig_{"XDG_CONFIG_HOME"};
    EnvVar systemLcid_{"PESOLINK_SYSTEM_LCID"};
};

TEST_F(SettingsTest, FirstLoadCreatesFoldersAndWritesDefaultsInOrder) {
    StartDriverModule();

    EXPECT_TRUE(fs::is_directory(Dir()));
    EXPECT_EQ(ReadFile(Ini()), "[Settings]\r\nLCID=419\r\nComSoftTimeout=2000\r\nComHardTimeout=500\r\n");
    ASSERT_TRUE(fs::is_regular_file(Log()));
    EXPECT_EQ(fs::file_size(Log()), 0u);
    EXPECT_TRUE(DriverStarted());
    EXPECT_FALSE(LogEnabled());
    EXPECT_EQ(ComSoftTimeout, 2000);
    EXPECT_EQ(ComHardTimeout, 500);
    EXPECT_EQ(CurrentLcid, 0x419);
    EXPECT_EQ(CurrentCodePage(), CodePage::Cyrillic);
    EXPECT_EQ(SettingsDir(), U(Dir()) + u"/");
    EXPECT_EQ(SettingsFilePath(), U(Ini()));
    EXPECT_EQ(LogFilePath(), U(Log()));
}

TEST_F(SettingsTest, MissingLocaleTakesTheSystemDefaultInUpperCaseHex) {
    struct Case {
        const char* system;
        const char* written;
        int32_t lcid;
        CodePage page;
    };
    const Case cases[] = {
        {"42b", "42B", 0x42B, CodePage::Armenian},
        {"0000040C", "40C", 0x40C, CodePage::Western},
        {"10419", "10419", 0x10419, CodePage::Cyrillic},
    };
    for (const Case& c : cases) {
        systemLcid_.Set(c.system);
        WriteIni("");
        StartDriverModule();
        EXPECT_EQ(platform::ProfileRead(U(Ini()), u"Settings", u"LCID", u"-"),
                  platform::FromUtf8(c.written))
            << c.system;
        EXPECT_EQ(CurrentLcid, c.lcid) << c.system;
        EXPECT_EQ(CurrentCodePage(), c.page) << c.system;
    }
}

TEST_F(SettingsTest, LocaleSettingIsKeptOrReplaced) {
    struct Case {
        std::optional<std::string> stored;  // nullopt: no LCID line
        int32_t lcid;
        bool replaced;
    };
    const Case cases[] = {
        {std::nullopt, 0x419, true}, {"", 0x419, true},      {"0", 0x419, true},
        {"0x419", 0x419, true},      {"$409", 0x419, true},  {"zz", 0x419, true},
        {"409", 0x409, false},       {"42b", 0x42B, false},  {"10419", 0x10419, false},
        {"809", 0x809, false},       {"00000426", 0x426, false},
    };
    const std::string tail = "ComSoftTimeout=2000\r\nComHardTimeout=500\r\n";
    for (const Case& c : cases) {
        const std::string before =
            "[Settings]\r\n" + (c.stored ? "LCID=" + *c.stored + "\r\n" : std::string()) + tail;
        WriteIni(before);
        StartDriverModule();
        const std::string label = c.stored ? *c.stored : "(absent)";
        EXPECT_EQ(CurrentLcid, c.lcid) << label;
        if (!c.replaced) {
            EXPECT_EQ(ReadFile(Ini()), before) << label;
        } else if (c.stored) {
            EXPECT_EQ(ReadFile(Ini()), "[Settings]\r\nLCID=419\r\n" + tail) << label;
        } else {
            EXPECT_EQ(ReadFile(Ini()), "[Settings]\r\n" + tail + "LCID=419\r\n") << label;
        }
    }
}

TEST_F(SettingsTest, TimeoutsAreUsedAsReadOrReplacedByTheirDefaults) {
    struct Case {
        const char* key;
        std::optional<std::string> stored;
        int32_t value;
        bool replaced;
    };
    const Case cases[] = {
        {"ComSoftTimeout", "0", 2000, true},
        {"ComSoftTimeout", "abc", 2000, true},
        {"ComSoftTimeout", "", 2000, true},
        {"ComSoftTimeout", "99999999999", 2000, true},
        {"ComSoftTimeout", std::nullopt, 2000, true},
        {"ComSoftTimeout", "3500", 3500, false},
        {"ComSoftTimeout", "-100", -100, false},
        {"ComHardTimeout", "0", 500, true},
        {"ComHardTimeout", "abc", 500, true},
        {"ComHardTimeout", std::nullopt, 500, true},
        {"ComHardTimeout", "750", 750, false},
        {"ComHardTimeout", "$1F4", 500, false},
    };
    for (const Case& c : cases) {
        const std::string key = c.key;
        const bool soft = key == "ComSoftTimeout";
        const std::string other = soft ? "ComHardTimeout=600" : "ComSoftTimeout=2500";
        const std::string line = c.stored ? key + "=" + *c.stored + "\r\n" : std::string();
        const std::string before = "[Settings]\r\nLCID=419\r\n" + line + other + "\r\n";
        WriteIni(before);
        StartDriverModule();

        const std::string label = key + "=" + (c.stored ? *c.stored : "(absent)");
        EXPECT_EQ(soft ? ComSoftTimeout : ComHardTimeout, c.value) << label;
        EXPECT_EQ(soft ? ComHardTimeout : ComSoftTimeout, soft ? 600 : 2500) << label;
        std::string expected = before;
        if (c.replaced) {
            const std::string fixed = key + "=" + (soft ? "2000" : "500") + "\r\n";
            expected = c.stored ? "[Settings]\r\nLCID=419\r\n" + fixed + other + "\r\n"
                                : before + fixed;
        }
        EXPECT_EQ(ReadFile(Ini()), expected) << label;
    }
}

TEST_F(SettingsTest, LoggingIsOnOnlyForOne) {
    struct Case {
        std::optional<std::string> stored;
        bool on;
    };
    const Case cases[] = {
        {"1", true},     {" 1 ", true},  {"0", false},   {"yes", false}, {"true", false},
        {"01", false},   {"", false},    {std::nullopt, false},
    };
    for (const Case& c : cases) {
        const std::string label = c.stored ? *c.stored : "(absent)";
        WriteIni("[Settings]\r\nLCID=419\r\nComSoftTimeout=2000\r\nComHardTimeout=500\r\n" +
                 (c.stored ? "Logging=" + *c.stored + "\r\n" : std::string()));
        StartDriverModule();
        EXPECT_EQ(LogEnabled(), c.on) << label;
        WriteLog(u"- ReadWeight: COM3");
        const std::string log = ReadFile(Log());
        EXPECT_EQ(log.find("- ReadWeight: COM3\r\n") != std::string::npos, c.on) << label;
        if (!c.on) {
            EXPECT_EQ(log, "") << label;
        }
    }
}

TEST_F(SettingsTest, LogLinesCarryTheTimeAndEndInCrLf) {
    WriteIni("[Settings]\r\nLogging=1\r\nLCID=419\r\n");
    StartDriverModule();
    WriteLog(u"OpenConnection: starting thread");
    WriteLog(u"- ReadWeight: Exit from COM3 with Result=0");
    WriteLog(u"");

    const std::string log = ReadFile(Log());
    const std::regex pattern(
        "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] OpenConnection: starting thread\r\n"
        "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] - ReadWeight: Exit from COM3 with Result=0\r\n"
        "([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9] \r\n");
    EXPECT_TRUE(std::regex_match(log, pattern)) << log;
}

TEST_F(SettingsTest, LogTextIsWrittenInTheAnsiCodePage) {
    WriteIni("[Settings]\r\nLogging=1\r\nLCID=419\r\n");
    StartDriverModule();
    WriteLog(u"\u0412\u0435\u0441 \u2713\u00E9");  // the last two have no byte in 1251
    const std::string log = ReadFile(Log());
    ASSERT_GE(log.size(), 9u);
    EXPECT_EQ(log.substr(9), "\xC2\xE5\xF1 ??\r\n");
}

TEST_F(SettingsTest, EveryStartEmptiesTheLog) {
    for (const char* logging : {"1", "0"}) {
        WriteIni(std::string("[Settings]\r\nLogging=") + logging + "\r\n");
        StartDriverModule();
        WriteFile(Log(), "12:00:00 earlier line\r\n");
        WriteLog(u"line of this load");
        StartDriverModule();
        EXPECT_EQ(ReadFile(Log()), "") << "Logging=" << logging;
    }
}

TEST_F(SettingsTest, ReadOnlySettingsFileLoadsWhenNothingNeedsWritingBack) {
    const std::string content =
        "[Settings]\r\nLogging=1\r\nLCID=409\r\nComSoftTimeout=3000\r\nComHardTimeout=400\r\n";
    WriteIni(content);
    MakeReadOnly(Ini());
    StartDriverModule();
    EXPECT_TRUE(DriverStarted());
    EXPECT_TRUE(LogEnabled());
    EXPECT_EQ(CurrentLcid, 0x409);
    EXPECT_EQ(ComSoftTimeout, 3000);
    EXPECT_EQ(ComHardTimeout, 400);
    EXPECT_EQ(ReadFile(Ini()), content);
}

TEST_F(SettingsTest, ReadOnlySettingsFileNeedingADefaultFailsTheStart) {
    struct Case {
        const char* name;
        std::string content;
        const char* key;
    };
    const Case cases[] = {
        {"no LCID", "[Settings]\r\nLogging=1\r\nComSoftTimeout=3000\r\nComHardTimeout=400\r\n", "LCID"},
        {"ComSoftTimeout=0", "[Settings]\r\nLogging=1\r\nLCID=409\r\nComSoftTimeout=0\r\nComHardTimeout=400\r\n",
         "ComSoftTimeout"},
        {"no ComHardTimeout", "[Settings]\r\nLogging=1\r\nLCID=409\r\nComSoftTimeout=3000\r\n",
         "ComHardTimeout"},
    };
    for (const Case& c : cases) {
        // A good start first, so that the failed one must undo logging.
        WriteIni("[Settings]\r\nLogging=1\r\n");
        StartDriverModule();
        ASSERT_TRUE(LogEnabled());
        const int32_t soft = ComSoftTimeout, hard = ComHardTimeout, lcid = CurrentLcid;

        WriteIni(c.content);
        MakeReadOnly(Ini());
        try {
            StartDriverModule();
            ADD_FAILURE() << c.name << ": the start succeeded";
        } catch (const DriverStartError& e) {
            const std::string message = e.what();
            EXPECT_NE(message.find("Driver.ini"), std::string::npos) << message;
            EXPECT_NE(message.find(c.key), std::string::npos) << message;
        }
        EXPECT_FALSE(DriverStarted()) << c.name;
        EXPECT_FALSE(LogEnabled()) << c.name;
        EXPECT_EQ(SettingsDir(), u"") << c.name;
        // Nothing of the failed load is taken over.
        EXPECT_EQ(ComSoftTimeout, soft) << c.name;
        EXPECT_EQ(ComHardTimeout, hard) << c.name;
        EXPECT_EQ(CurrentLcid, lcid) << c.name;
        EXPECT_EQ(ReadFile(Ini()), c.content) << c.name;
        WriteLog(u"after the failed start");
        EXPECT_EQ(ReadFile(Log()).find("after the failed start"), std::string::npos) << c.name;
        fs::permissions(Ini(), fs::perms::owner_write, fs::perm_options::add);
    }
}

TEST_F(SettingsTest, FilesThatCannotBeCreatedFailTheStart) {
    struct Case {
        const char* name;
        void (*prepare)(const fs::path& dir);
        const char* file;
    };
    const Case cases[] = {
        {"folder named Driver.ini", [](const fs::path& d) { fs::create_directories(d / "Driver.ini"); },
         "Driver.ini"},
        {"folder named Log.txt", [](const fs::path& d) { fs::create_directories(d / "Log.txt"); },
         "Log.txt"},
        {"read-only Log.txt",
         [](const fs::path& d) {
             WriteFile(d / "Log.txt", "old\r\n");
             MakeReadOnly(d / "Log.txt");
         },
         "Log.txt"},
    };
    for (const Case& c : cases) {
        fs::create_directories(Dir());
        c.prepare(Dir());
        try {
            StartDriverModule();
            ADD_FAILURE() << c.name << ": the start succeeded";
        } catch (const DriverStartError& e) {
            EXPECT_NE(std::string(e.what()).find(c.file), std::string::npos) << e.what();
        }
        EXPECT_FALSE(DriverStarted()) << c.name;
        EXPECT_FALSE(LogEnabled()) << c.name;
        TearDown();
        SetUp();
    }
}

TEST_F(SettingsTest, MissingApplicationDataFolderFailsTheStart) {
    appData_.Set((root_ / "missing" / "AppData").string());
    EXPECT_THROW(StartDriverModule(), DriverStartError);
    EXPECT_FALSE(fs::exists(root_ / "missing"));
    EXPECT_FALSE(DriverStarted());
}

TEST_F(SettingsTest, UndefinedApplicationDataStaysUnexpandedAndFails) {
    const fs::path before = fs::current_path();
    fs::current_path(root_);
    appData_.Unset();
    home_.Unset();
    EXPECT_THROW(StartDriverModule(), DriverStartError);
    fs::current_path(before);
    EXPECT_TRUE(fs::is_empty(root_));
}

TEST_F(SettingsTest, ConfigFolderStandsInForApplicationData) {
    // Without APPDATA: $XDG_CONFIG_HOME when absolute, else $HOME/.config.
    struct Case {
        std::optional<std::string> xdg;  // none: unset
        fs::path expected;
    };
    const Case cases[] = {
        {std::nullopt, root_ / ".config"},
        {"", root_ / ".config"},
        {"relative/config", root_ / ".config"},
        {(root_ / "xdg").string(), root_ / "xdg"},
    };
    fs::create_directories(root_ / ".config");
    fs::create_directories(root_ / "xdg");
    appData_.Unset();
    home_.Set(root_.string());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdg.value_or("(unset)"));
        if (c.xdg) xdgConfig_.Set(*c.xdg);
        else xdgConfig_.Unset();
        StartDriverModule();
        EXPECT_EQ(SettingsDir(), U(c.expected / "Ostrel" / "Pesolink") + u"/");
        EXPECT_TRUE(fs::is_regular_file(c.expected / "Ostrel" / "Pesolink" / "Driver.ini"));
    }
}

TEST_F(SettingsTest, ReadOnlyApplicationDataFolderFailsTheStart) {
    if (geteuid() == 0) GTEST_SKIP() << "folder permissions do not stop root";
    fs::permissions(root_, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(StartDriverModule(), DriverStartError);
}

TEST_F(SettingsTest, LongApplicationDataPathIsUsedWhole) {
    fs::path longDir = root_;
    for (char c : {'a', 'b', 'c'}) longDir /= std::string(120, c);
    fs::create_directories(longDir);
    appData_.Set(longDir.string());

    StartDriverModule();
    const std::u16string dir = SettingsDir();
    EXPECT_GT(dir.size(), 360u);
    EXPECT_EQ(dir, U(longDir / "Ostrel" / "Pesolink") + u"/");
    EXPECT_TRUE(fs::is_regular_file(longDir / "Ostrel" / "Pesolink" / "Driver.ini"));
    EXPECT_TRUE(fs::is_regular_file(longDir / "Ostrel" / "Pesolink" / "Log.txt"));
}

TEST_F(SettingsTest, LostLogFileDropsLinesSilently) {
    WriteIni("[Settings]\r\nLogging=1\r\n");
    StartDriverModule();
    fs::remove(Log());
    EXPECT_NO_THROW(WriteLog(u"dropped"));
    EXPECT_FALSE(fs::exists(Log())) << "a deleted log is not re-created";

    fs::create_directories(Log());  // something else in its place
    EXPECT_NO_THROW(WriteLog(u"dropped too"));
    EXPECT_TRUE(fs::is_directory(Log()));
}

TEST_F(SettingsTest, ConcurrentLinesStayWhole) {
    WriteIni("[Settings]\r\nLogging=1\r\n");
    StartDriverModule();
    constexpr int kLines = 300;
    auto writer = [](char16_t tag) {
        std::u16string text = u"- ReadWeight: thread ";
        text += tag;
        text += u" ";
        text += std::u16string(80, tag);
        for (int i = 0; i < kLines; ++i) WriteLog(text);
    };
    std::thread a(writer, u'A'), b(writer, u'B');
    a.join();
    b.join();

    std::istringstream in(ReadFile(Log()));
    const std::regex line("[0-9]{2}:[0-9]{2}:[0-9]{2} - ReadWeight: thread (A A{80}|B B{80})\r");
    std::string text;
    int count[2] = {0, 0};
    while (std::getline(in, text)) {
        ASSERT_TRUE(std::regex_match(text, line)) << text;
        ++count[text[30] == 'A' ? 0 : 1];
    }
    EXPECT_EQ(count[0], kLines);
    EXPECT_EQ(count[1], kLines);
}

// --- The INI profile functions of the POSIX layer ---------------------------

class ProfileTest : public SettingsTest {
protected:
    fs::path File() const { return root_ / "test.ini"; }
};

TEST_F(ProfileTest, WriteKeepsEverythingElse) {
    struct Case {
        const char* name;
        std::optional<std::string> before;  // nullopt: no file yet
        const char* section;
        const char* key;
        std::string after;
    };
    const Case cases[] = {
        {"no file", std::nullopt, "Settings", "LCID", "[Settings]\r\nLCID=7\r\n"},
        {"empty file", "", "Settings", "LCID", "[Settings]\r\nLCID=7\r\n"},
        {"other section", "[Other]\r\na=1\r\n", "Settings", "LCID",
         "[Other]\r\na=1\r\n[Settings]\r\nLCID=7\r\n"},
        {"no final line end", "[Other]\r\na=1", "Settings", "LCID",
         "[Other]\r\na=1\r\n[Settings]\r\nLCID=7\r\n"},
        {"replace, any case", "[settings]\r\n lcid = 419 \r\nx=1\r\n", "Settings", "LCID",
         "[settings]\r\nLCID=7\r\nx=1\r\n"},
        {"add before the next section", "[Settings]\r\na=1\r\n\r\n[Other]\r\nLCID=2\r\n", "Settings",
         "LCID", "[Settings]\r\na=1\r\nLCID=7\r\n\r\n[Other]\r\nLCID=2\r\n"},
        {"comments kept", "; top\r\n[Settings]\r\n; note\r\nLCID=1\r\n", "Settings", "LCID",
         "; top\r\n[Settings]\r\n; note\r\nLCID=7\r\n"},
        {"line feeds only", "[Settings]\nLCID=1\nz=2\n", "Settings", "LCID",
         "[Settings]\nLCID=7\nz=2\n"},
        {"byte order mark kept", "\xEF\xBB\xBF[Settings]\r\nLCID=1\r\n", "Settings", "LCID",
         "\xEF\xBB\xBF[Settings]\r\nLCID=7\r\n"},
    };
    for (const Case& c : cases) {
        fs::remove(File());
        if (c.before) WriteFile(File(), *c.before);
        EXPECT_TRUE(platform::ProfileWrite(U(File()), platform::FromUtf8(c.section),
                                           platform::FromUtf8(c.key), u"7"))
            << c.name;
        EXPECT_EQ(ReadFile(File()), c.after) << c.name;
    }
}

TEST_F(ProfileTest, ReadFindsKeysLikeTheProfileFunctions) {
    WriteFile(File(),
              "[Other]\r\nLCID=1\r\n"
              "[ SETTINGS ]\r\n"
              "  Lcid  =  419  \r\n"
              "Quoted=\"  a b \"\r\n"
              "Empty=\r\n"
              "no equals sign\r\n"
              "[Settings]\r\nLater=1\r\n");
    struct Case {
        const char* section;
        const char* key;
        std::u16string expected;
    };
    const Case cases[] = {
        {"Settings", "LCID", u"419"}, {"settings", "lcid", u"419"}, {"Other", "LCID", u"1"},
        {"Settings", "Quoted", u"  a b "}, {"Settings", "Empty", u""},
        {"Settings", "Missing", u"-"},  {"Nowhere", "LCID", u"-"},
        // The first section of a name is the one that counts.
        {"Settings", "Later", u"-"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ProfileRead(U(File()), platform::FromUtf8(c.section),
                                        platform::FromUtf8(c.key), u"-"),
                  c.expected)
            << c.section << "/" << c.key;
    EXPECT_EQ(platform::ProfileRead(U(root_ / "none.ini"), u"Settings", u"LCID", u"-"), u"-");
}

TEST_F(ProfileTest, WriteRefusedOnReadOnlyFileOrFolder) {
    WriteFile(File(), "[Settings]\r\nLCID=1\r\n");
    MakeReadOnly(File());
    EXPECT_FALSE(platform::ProfileWrite(U(File()), u"Settings", u"LCID", u"2"));
    EXPECT_EQ(ReadFile(File()), "[Settings]\r\nLCID=1\r\n");

    fs::create_directories(root_ / "dir.ini");
    EXPECT_FALSE(platform::ProfileWrite(U(root_ / "dir.ini"), u"Settings", u"LCID", u"2"));
    EXPECT_FALSE(platform::ProfileWrite(U(root_ / "no" / "x.ini"), u"Settings", u"LCID", u"2"));
}

TEST_F(SettingsTest, EnvironmentExpansion) {
    EnvVar other("PESOLINK_TEST_VALUE");
    other.Set("v");
    appData_.Set("/data");
    struct Case {
        std::u16string text;
        std::u16string expected;
    };
    const Case cases[] = {
        {u"%AppData%", u"/data"},
        {u"%APPDATA%/x", u"/data/x"},
        {u"a%PESOLINK_TEST_VALUE%b%PESOLINK_TEST_VALUE%", u"avbv"},
        {u"%PESOLINK_UNDEFINED_NAME%", u"%PESOLINK_UNDEFINED_NAME%"},
        {u"100%", u"100%"},
        {u"", u""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(platform::ExpandEnvironment(c.text), c.expected) << platform::ToUtf8(c.text);
}

TEST_F(SettingsTest, SystemLocaleFromTheEnvironment) {
    struct Case {
        std::optional<std::string> value;
        uint32_t lcid;
    };
    const Case cases[] = {
        {std::nullopt, 0x419}, {"", 0x419}, {"409", 0x409}, {"42b", 0x42B},
        {"0x409", 0x419},      {"xyz", 0x419}, {"123456789", 0x419},
    };
    for (const Case& c : cases) {
        if (c.value) systemLcid_.Set(*c.value);
        else systemLcid_.Unset();
        EXPECT_EQ(platform::SystemDefaultLcid(), c.lcid) << (c.value ? *c.value : "(unset)");
    }
}

}  // namespace
}  // namespace pesolink
