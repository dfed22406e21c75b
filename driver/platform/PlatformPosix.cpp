// The driver module's operating-system layer on POSIX systems, for the
// native build and its tests. It follows the Windows functions closely:
// %AppData% is the variable APPDATA (else $HOME/.config), a file without any
// write permission bit counts as read-only and refuses writes even for root,
// INI files are UTF-8, and the ANSI code page is the one the "LCID" setting
// selected.
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "driver/Language.h"
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

std::string_view Trim(std::string_view s) {
    const char* blanks = " \t\r\n";
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// One line of an INI file, as stored (with its line end) and as understood.
struct IniLine {
    std::string raw;
    enum Kind { Other, Section, Key } kind = Other;
    std::string name;   // section or key name, trimmed
    std::string value;  // key value, trimmed
};

IniLine NewLine(std::string raw) {
    IniLine line;
    line.raw = std::move(raw);
    return line;
}

std::vector<IniLine> ParseIni(const std::string& content, std::string& bom) {
    std::string_view rest(content);
    bom.clear();
    if (rest.substr(0, 3) == "\xEF\xBB\xBF") {
        bom = "\xEF\xBB\xBF";
        rest.remove_prefix(3);
    }
    std::vector<IniLine> lines;
    while (!rest.empty()) {
        const auto end = rest.find('\n');
        const std::size_t length = end == std::string_view::npos ? rest.size() : end + 1;
        IniLine line;
        line.raw = std::string(rest.substr(0, length));
        rest.remove_prefix(length);
        const std::string_view text = Trim(line.raw);
        if (!text.empty() && text.front() == '[') {
            const auto close = text.find(']');
            line.kind = IniLine::Section;
            line.name = std::string(Trim(text.substr(1, close == std::string_view::npos ? text.npos
                                                                                      : close - 1)));
        } else if (const auto eq = text.find('='); eq != std::string_view::npos) {
            line.kind = IniLine::Key;
            line.name = std::string(Trim(text.substr(0, eq)));
            std::string_view value = Trim(text.substr(eq + 1));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                value.back() == value.front())
                value = value.substr(1, value.size() - 2);
            line.value = std::string(value);
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

// Index of the first header of the section, or lines.size().
std::size_t FindSection(const std::vector<IniLine>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines[i].kind == IniLine::Section && SameName(lines[i].name, section)) return i;
    return lines.size();
}

std::u16string EnvironmentValue(const std::u16string& name) {
    const std::string utf8 = ToUtf8(name);
    if (const char* v = std::getenv(utf8.c_str())) return FromUtf8(v);
    std::string upper = utf8;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (const char* v = std::getenv(upper.c_str())) return FromUtf8(v);
    if (upper == "APPDATA") {
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
    std::string bom;
    const std::vector<IniLine> lines = ParseIni(content, bom);
    const std::string sectionName = ToUtf8(section);
    const std::string keyName = ToUtf8(key);
    for (std::size_t i = FindSection(lines, sectionName) + 1; i < lines.size(); ++i) {
        if (lines[i].kind == IniLine::Section) break;
        if (lines[i].kind == IniLine::Key && SameName(lines[i].name, keyName))
            return FromUtf8(lines[i].value);
    }
    return std::u16string(fallback);
}

bool ProfileWrite(const std::u16string& file, std::u16string_view section,
                  std::u16string_view key, std::u16string_view value) {
    const std::string native = Native(file);
    if (IsReadOnlyFile(native)) return false;
    std::string content;
    struct stat st;
    if (::stat(native.c_str(), &st) == 0 && !ReadWholeFile(native, content)) return false;

    std::string bom;
    std::vector<IniLine> lines = ParseIni(content, bom);
    const std::string sectionName = ToUtf8(section);
    const std::string keyName = ToUtf8(key);
    const std::string entry = keyName + "=" + ToUtf8(value);

    auto ended = [](std::string& raw) {
        if (!raw.empty() && raw.back() != '\n') raw += "\r\n";
    };
    const std::size_t header = FindSection(lines, sectionName);
    if (header == lines.size()) {
        if (!lines.empty()) ended(lines.back().raw);
        lines.push_back(NewLine("[" + sectionName + "]\r\n"));
        lines.push_back(NewLine(entry + "\r\n"));
    } else {
        std::size_t last = header;  // last non-blank line of the section
        bool replaced = false;
        for (std::size_t i = header + 1; i < lines.size(); ++i) {
            if (lines[i].kind == IniLine::Section) break;
            if (lines[i].kind == IniLine::Key && SameName(lines[i].name, keyName)) {
                const bool crlf = lines[i].raw.size() >= 2 &&
                                  lines[i].raw.compare(lines[i].raw.size() - 2, 2, "\r\n") == 0;
                const bool lf = !lines[i].raw.empty() && lines[i].raw.back() == '\n';
                lines[i].raw = entry + (crlf ? "\r\n" : lf ? "\n" : "");
                replaced = true;
                break;
            }
            if (!Trim(lines[i].raw).empty()) last = i;
        }
        if (!replaced) {
            ended(lines[last].raw);
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last) + 1,
                         NewLine(entry + "\r\n"));
        }
    }

    std::string out = bom;
    for (const IniLine& line : lines) out += line.raw;
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
