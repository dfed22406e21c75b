// A test's own application-data folder: while it lives, APPDATA names a new
// temporary folder whose Ostrel/Pesolink/Driver.ini holds the given text;
// afterwards APPDATA is as it was and the folder is gone. And the serial
// time-outs, put back as they were when a test has changed them.
#pragma once

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "link/ComUnit.h"

namespace pesolink::test_support {

class TempDriverFolder {
public:
    TempDriverFolder(const std::string& prefix, const std::string& driverIni) {
        std::string tmpl = "/tmp/" + prefix + "-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
        const char* old = std::getenv("APPDATA");
        hadAppData_ = old != nullptr;
        if (old) oldAppData_ = old;
        setenv("APPDATA", dir_.c_str(), 1);
        std::filesystem::create_directories(dir_ + "/Ostrel/Pesolink");
        std::ofstream(dir_ + "/Ostrel/Pesolink/Driver.ini") << driverIni;
    }
    ~TempDriverFolder() {
        if (hadAppData_) setenv("APPDATA", oldAppData_.c_str(), 1);
        else unsetenv("APPDATA");
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TempDriverFolder(const TempDriverFolder&) = delete;
    TempDriverFolder& operator=(const TempDriverFolder&) = delete;

    const std::string& Dir() const { return dir_; }

private:
    std::string dir_, oldAppData_;
    bool hadAppData_ = false;
};

class SavedSerialTimeouts {
public:
    SavedSerialTimeouts() : soft_(ComSoftTimeout), hard_(ComHardTimeout) {}
    ~SavedSerialTimeouts() {
        ComSoftTimeout = soft_;
        ComHardTimeout = hard_;
    }
    SavedSerialTimeouts(const SavedSerialTimeouts&) = delete;
    SavedSerialTimeouts& operator=(const SavedSerialTimeouts&) = delete;

private:
    int32_t soft_, hard_;
};

}  // namespace pesolink::test_support
