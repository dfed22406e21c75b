#include "cli/Target.h"

#include <cstdlib>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace pesolink::cli {

namespace {

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// A decimal number of digits only, within lo..hi; leading zeros allowed.
std::optional<long> Number(const std::string& s, long lo, long hi) {
    if (!AllDigits(s) || s.size() > 9) return std::nullopt;
    const long v = std::strtol(s.c_str(), nullptr, 10);
    if (v < lo || v > hi) return std::nullopt;
    return v;
}

bool IsDottedAddress(const std::string& s) {
    int groups = 0;
    std::string::size_type start = 0;
    for (;;) {
        const auto dot = s.find('.', start);
        const std::string group = s.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
        if (group.size() > 3 || !Number(group, 0, 255)) return false;
        ++groups;
        if (dot == std::string::npos) break;
        start = dot + 1;
    }
    return groups == 4;
}

}  // namespace

std::optional<Target> ParseTarget(const std::string& text) {
    Target t;
    t.text = text;
    if (text.size() > 3 && (text[0] == 'C' || text[0] == 'c') && (text[1] == 'O' || text[1] == 'o') &&
        (text[2] == 'M' || text[2] == 'm')) {
        const auto port = Number(text.substr(3), 1, 255);
        if (!port) return std::nullopt;
        t.kind = Target::Kind::Serial;
        t.connection = "COM" + std::to_string(*port);
        return t;
    }
#ifndef _WIN32
    if (!text.empty() && text[0] == '/') {
        t.kind = Target::Kind::DevicePath;
        t.devicePath = text;
        t.connection = "COM1";  // named by DeviceAlias
        return t;
    }
#endif
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || !IsDottedAddress(text.substr(0, colon)) ||
        !Number(text.substr(colon + 1), 1, 65535))
        return std::nullopt;
    t.kind = Target::Kind::Tcp;
    t.connection = text;
    return t;
}

DeviceAlias::~DeviceAlias() { Remove(); }

#ifdef _WIN32
bool DeviceAlias::Make(Target&, std::string& error) {
    error = "device paths are not targets on Windows";
    return false;
}
void DeviceAlias::Remove() {}
#else
bool DeviceAlias::Make(Target& target, std::string& error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pesolink-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot make a folder in " + pattern.substr(0, pattern.rfind('/'));
        return false;
    }
    folder_ = pattern;
    link_ = folder_ + "/com1";
    if (::symlink(target.devicePath.c_str(), link_.c_str()) != 0) {
        error = "cannot make a link in " + folder_;
        Remove();
        return false;
    }
    ::setenv("PESOLINK_COM_DIR", folder_.c_str(), 1);
    target.connection = "COM1";
    return true;
}

void DeviceAlias::Remove() {
    if (!link_.empty()) ::unlink(link_.c_str());
    if (!folder_.empty()) ::rmdir(folder_.c_str());
    link_.clear();
    folder_.clear();
}
#endif

}  // namespace pesolink::cli
