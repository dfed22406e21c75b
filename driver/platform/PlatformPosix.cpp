// The driver module's operating-system layer on POSIX systems, for the
// native build and its tests. It follows the Windows functions closely:
// %AppData% is the variable APPDATA (else $XDG_CONFIG_HOME, else
// $HOME/.config), a file without any write permission bit counts as
// read-only and refuses writes even for root, INI files are UTF-8, and the
// ANSI code page is the one the "LCID" setting selected.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/Language.h"
#include "driver/platform/IniText.h"
#include "driver/platform/Platform.h"

namespace pesolink::platform {

namespace {

std::string Native(const std::u16string& path) { return ToUtf8(path); }

bool StatPath(const std::u16string& path, struct stat& st) {
    return ::stat(Native(path).c_str(), &st) == 0;
}

// The read-only attribute of Windows: no write permission bit at all.
bool IsReadOnlyFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

bool WriteAll(int fd, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadWholeFile(const std::string& path, std::string& content) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    content.clear();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return false;
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

std::u16string EnvironmentValue(const std::u16string& name) {
    const std::string utf8 = ToUtf8(name);
    if (const char* v = std::getenv(utf8.c_str())) return FromUtf8(v);
    std::string upper = utf8;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (const char* v = std::getenv(upper.c_str())) return FromUtf8(v);
    // Without APPDATA, the user's configuration folder of the XDG base
    // directories: $XDG_CONFIG_HOME when it is an absolute path, else
    // $HOME/.config.
    if (upper == "APPDATA") {
        if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') return FromUtf8(xdg);
        if (const char* home = std::getenv("HOME"); home && *home)
            return FromUtf8(std::string(home) + "/.config");
    }
    return u"%" + name + u"%";
}

}  // namespace

std::u16string ExpandEnvironment(std::u16string_view text) {
    std::u16string out;
    std::size_t i = 0;
    while (i < text.size()) {
        const auto open = text.find(u'%', i);
        if (open == std::u16string_view::npos) break;
        const auto close = text.find(u'%', open + 1);
        if (close == std::u16string_view::npos) break;
        out += text.substr(i, open - i);
        const std::u16string name(text.substr(open + 1, close - open - 1));
        out += name.empty() ? std::u16string(u"%%") : EnvironmentValue(name);
        i = close + 1;
    }
    out += text.substr(i);
    return out;
}

bool FolderExists(const std::u16string& path) {
    struct stat st;
    return StatPath(path, st) && S_ISDIR(st.st_mode);
}

bool CreateFolder(const std::u16string& path) {
    return ::mkdir(Native(path).c_str(), 0777) == 0;
}

bool FileExists(const std::u16string& path) {
    struct stat st;
    return StatPath(path, st) && !S_ISDIR(st.st_mode);
}

bool CreateFileIfMissing(const std::u16string& path) {
    const int fd = ::open(Native(path).c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

bool TruncateOrCreateFile(const std::u16string& path) {
    const std::string native = Native(path);
    if (IsReadOnlyFile(native)) return false;
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    return ::close(fd) == 0;
}

bool AppendToFile(const std::u16string& path, std::string_view bytes) {
    const std::string native = Native(path);
    if (IsReadOnlyFile(native)) return false;
    const int fd = ::open(native.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, bytes);
    return ::close(fd) == 0 && written;
}

std::u16string ProfileRead(const std::u16string& file, std::u16string_view section,
                           std::u16string_view key, std::u16string_view fallback) {
    std::string content;
    if (!ReadWholeFile(Native(file), content)) return std::u16string(fallback);
    const std::optional<std::string> value = IniLookup(content, ToUtf8(section), ToUtf8(key));
    return value ? FromUtf8(*value) : std::u16string(fallback);
}

bool ProfileWrite(const std::u16string& file, std::u16string_view section,
                  std::u16string_view key, std::u16string_view value) {
    const std::string native = Native(file);
    if (IsReadOnlyFile(native)) return false;
    std::string content;
    struct stat st;
    if (::stat(native.c_str(), &st) == 0 && !ReadWholeFile(native, content)) return false;
    const std::string out = IniUpdate(content, ToUtf8(section), ToUtf8(key), ToUtf8(value));
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, out);
    return ::close(fd) == 0 && written;
}

std::u16string LocalTimeText() {
    const time_t now = ::time(nullptr);
    struct tm local;
    if (::localtime_r(&now, &local) == nullptr) std::memset(&local, 0, sizeof local);
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
    return FromUtf8(text);
}

uint32_t SystemDefaultLcid() {
    const char* text = std::getenv("PESOLINK_SYSTEM_LCID");
    if (text == nullptr || *text == '\0' || std::strlen(text) > 8) return 0x0419;
    for (const char* p = text; *p; ++p)
        if (!((*p >= '0' && *p <= '9') || (*p >= 'a' && *p <= 'f') || (*p >= 'A' && *p <= 'F')))
            return 0x0419;
    return static_cast<uint32_t>(std::strtoul(text, nullptr, 16));
}

std::string ToAnsi(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char16_t c : text) {
        const uint8_t b = CharToByte[c];
        out += (b == 0 && c != 0) ? '?' : static_cast<char>(b);
    }
    return out;
}

std::u16string FromAnsi(const uint8_t* bytes, std::size_t count) {
    const CodePageTable& upper = CodePageTableOf(CurrentCodePage());
    std::u16string out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const uint8_t b = bytes[i];
        if (b < 0x80) {
            out += static_cast<char16_t>(b);
        } else {
            const char16_t c = upper[b - 0x80];
            out += c != 0 ? c : u'\xFFFD';
        }
    }
    return out;
}

}  // namespace pesolink::platform
