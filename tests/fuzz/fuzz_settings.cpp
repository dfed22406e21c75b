// Driver.ini as the fuzzer writes it, read by the real module start: the
// start never fails on a writable file, the locale and the two serial
// time-outs in force are the values the file then holds (never 0), a file
// whose three values need no default is left byte for byte as it was, and
// a second start finds nothing more to write and takes the same values.
//
// Input: the whole file.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "driver/Language.h"
#include "driver/Settings.h"
#include "driver/platform/IniText.h"
#include "driver/platform/Platform.h"
#include "link/ComUnit.h"
#include "link/TextNumber.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace pesolink;

namespace {

std::string Folder;  // the application-data folder of this run

std::string IniPath() { return Folder + "/Ostrel/Pesolink/Driver.ini"; }

void WriteFile(const std::string& path, const uint8_t* data, size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    FUZZ_CHECK(fd >= 0, "cannot write %s", path.c_str());
    FUZZ_CHECK(::write(fd, data, size) == static_cast<ssize_t>(size), "short write");
    ::close(fd);
}

std::string ReadFile(const std::string& path) {
    std::string content;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) content.append(buffer, n);
        std::fclose(f);
    }
    return content;
}

// The value a key holds in the file, as the module reads it.
std::u16string Value(const std::string& content, const char* key) {
    const auto v = platform::IniLookup(content, "Settings", key);
    return v ? platform::FromUtf8(*v) : std::u16string();
}

int32_t Timeout(const std::string& content, const char* key) {
    return ParseInt32(std::u16string_view(Value(content, key))).value_or(0);
}

int32_t Lcid(const std::string& content) { return ParseHex32(Value(content, "LCID")).value_or(0); }

struct Startup {
    Startup() {
        // A folder of its own in memory-backed storage where there is one.
        const char* base = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/pesolink-fuzz-settings-XXXXXX";
        FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr, "no temporary folder");
        Folder = pattern;
        ::setenv("APPDATA", Folder.c_str(), 1);
        ::unsetenv("PESOLINK_SYSTEM_LCID");
        ::mkdir((Folder + "/Ostrel").c_str(), 0755);
        ::mkdir((Folder + "/Ostrel/Pesolink").c_str(), 0755);
    }
    ~Startup() {
        ::unlink(IniPath().c_str());
        ::unlink((Folder + "/Ostrel/Pesolink/Log.txt").c_str());
        ::rmdir((Folder + "/Ostrel/Pesolink").c_str());
        ::rmdir((Folder + "/Ostrel").c_str());
        ::rmdir(Folder.c_str());
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Startup startup;
    WriteFile(IniPath(), data, size);
    const std::string before(reinterpret_cast<const char*>(data), size);

    try {
        StartDriverModule();
    } catch (const DriverStartError& e) {
        FUZZ_CHECK(false, "start failed on a writable file: %s", e.what());
    }
    FUZZ_CHECK(DriverStarted(), "not started");
    const std::string after = ReadFile(IniPath());

    FUZZ_CHECK(ComSoftTimeout != 0 && ComSoftTimeout == Timeout(after, "ComSoftTimeout"),
               "ComSoftTimeout %d, the file holds %d", ComSoftTimeout, Timeout(after, "ComSoftTimeout"));
    FUZZ_CHECK(ComHardTimeout != 0 && ComHardTimeout == Timeout(after, "ComHardTimeout"),
               "ComHardTimeout %d, the file holds %d", ComHardTimeout, Timeout(after, "ComHardTimeout"));
    FUZZ_CHECK(CurrentLcid != 0 && CurrentLcid == Lcid(after), "LCID %X, the file holds %X",
               static_cast<unsigned>(CurrentLcid), static_cast<unsigned>(Lcid(after)));
    FUZZ_CHECK(LogEnabled() == (Value(after, "Logging") == u"1"), "logging switch");

    // Values that need no default are used as they are, and the file is
    // not touched.
    const bool complete = Timeout(before, "ComSoftTimeout") != 0 && Timeout(before, "ComHardTimeout") != 0 &&
                          Lcid(before) != 0;
    if (complete) FUZZ_CHECK(after == before, "a complete file was rewritten");
    if (Timeout(before, "ComSoftTimeout") != 0)
        FUZZ_CHECK(ComSoftTimeout == Timeout(before, "ComSoftTimeout"), "ComSoftTimeout not taken as read");

    // The file the start left needs nothing more.
    const int32_t soft = ComSoftTimeout, hard = ComHardTimeout, lcid = CurrentLcid;
    StartDriverModule();
    FUZZ_CHECK(ReadFile(IniPath()) == after, "a second start rewrote the file");
    FUZZ_CHECK(ComSoftTimeout == soft && ComHardTimeout == hard && CurrentLcid == lcid, "a second start differs");
    return 0;
}
