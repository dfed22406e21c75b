// The driver module's operating-system layer on Windows.
#include <windows.h>

#include <algorithm>
#include <vector>

#include "driver/platform/IniText.h"
#include "driver/platform/Platform.h"

namespace pesolink::platform {

namespace {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");

const wchar_t* W(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

std::u16string U(const wchar_t* text, std::size_t count) {
    return std::u16string(reinterpret_cast<const char16_t*>(text), count);
}

// Paths from this length on exceed what the plain file functions (248 for a
// folder, MAX_PATH for a file) and the profile functions accept.
constexpr std::size_t LongPathFrom = 248;

// The path in the form the file functions take at any length: long ones as
// full paths with the "\\?\" prefix.
std::wstring FilePath(const std::u16string& path) {
    std::wstring plain(reinterpret_cast<const wchar_t*>(path.c_str()), path.size());
    if (path.size() < LongPathFrom || plain.rfind(L"\\\\?\\", 0) == 0) return plain;
    const DWORD needed = GetFullPathNameW(plain.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return plain;
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(plain.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return plain;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

bool ReadWholeFile(const std::u16string& path, std::string& content) {
    const HANDLE file =
        CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    content.clear();
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0) && got > 0)
        content.append(buffer, got);
    CloseHandle(file);
    return ok;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk =
            static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, chunk, &written, nullptr) || written == 0)
            return false;
        done += written;
    }
    return true;
}

}  // namespace

std::u16string ExpandEnvironment(std::u16string_view text) {
    const std::u16string source(text);
    // Start with a usual path length and grow to the size the call asks for,
    // so a long profile path is neither cut nor written past the buffer.
    std::vector<wchar_t> buffer(256);
    for (int attempt = 0; attempt < 4; ++attempt) {
        const DWORD needed =
            ExpandEnvironmentStringsW(W(source), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (needed == 0) return source;
        if (needed <= buffer.size()) {
            std::size_t length = 0;
            while (length < buffer.size() && buffer[length] != L'\0') ++length;
            return U(buffer.data(), length);
        }
        buffer.assign(needed, L'\0');
    }
    return source;
}

bool FolderExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool CreateFolder(const std::u16string& path) {
    return CreateDirectoryW(FilePath(path).c_str(), nullptr) != 0;
}

bool FileExists(const std::u16string& path) {
    const DWORD attributes = GetFileAttributesW(FilePath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool CreateFileIfMissing(const std::u16string& path) {
    const HANDLE file =
        CreateFileW(FilePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    CloseHandle(file);
    return true;
}

bool TruncateOrCreateFile(const std::u16string& path) {
    const HANDLE file =
        CreateFileW(FilePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    return CloseHandle(file) != 0;
}

bool AppendToFile(const std::u16string& path, std::string_view bytes) {
    const HANDLE file =
        CreateFileW(FilePath(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool written = WriteAll(file, bytes);
    return CloseHandle(file) != 0 && written;
}

std::u16string ProfileRead(const std::u16string& file, std::u16string_view section,
                           std::u16string_view key, std::u16string_view fallback) {
    if (file.size() >= LongPathFrom) {
        // The profile functions refuse paths this long; same rules, own code.
        std::string content;
        if (!ReadWholeFile(file, content)) return std::u16string(fallback);
        const auto value = IniLookup(content, ToAnsi(section), ToAnsi(key));
        if (!value) return std::u16string(fallback);
        return FromAnsi(reinterpret_cast<const uint8_t*>(value->data()), value->size());
    }
    const std::u16string s(section), k(key), f(fallback);
    std::vector<wchar_t> buffer(256);
    for (;;) {
        const DWORD length = GetPrivateProfileStringW(W(s), W(k), W(f), buffer.data(),
                                                      static_cast<DWORD>(buffer.size()), W(file));
        // A full buffer means the value may have been cut: try a larger one.
        if (length + 1 < buffer.size() || buffer.size() >= (1u << 20))
            return U(buffer.data(), length);
        buffer.assign(buffer.size() * 4, L'\0');
    }
}

bool ProfileWrite(const std::u16string& file, std::u16string_view section, std::u16string_view key,
                  std::u16string_view value) {
    if (file.size() >= LongPathFrom) {
        std::string content;
        if (FileExists(file) && !ReadWholeFile(file, content)) return false;
        const std::string out = IniUpdate(content, ToAnsi(section), ToAnsi(key), ToAnsi(value));
        const HANDLE handle = CreateFileW(FilePath(file).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) return false;
        const bool written = WriteAll(handle, out) && SetEndOfFile(handle) != 0;
        return CloseHandle(handle) != 0 && written;
    }
    const std::u16string s(section), k(key), v(value);
    return WritePrivateProfileStringW(W(s), W(k), W(v), W(file)) != 0;
}

std::u16string LocalTimeText() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t separator[8] = L":";
    if (GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_STIME, separator, 8) == 0) {
        separator[0] = L':';
        separator[1] = L'\0';
    }
    wchar_t text[32];
    const int length = swprintf(text, 32, L"%02u%ls%02u%ls%02u", now.wHour, separator, now.wMinute,
                                separator, now.wSecond);
    return U(text, length > 0 ? static_cast<std::size_t>(length) : 0);
}

uint32_t SystemDefaultLcid() {
    return GetSystemDefaultLCID();
}

std::string ToAnsi(std::u16string_view text) {
    if (text.empty()) return {};
    const std::u16string source(text);
    const int size = WideCharToMultiByte(CP_ACP, 0, W(source), static_cast<int>(source.size()),
                                         nullptr, 0, nullptr, nullptr);
    if (size <= 0) return {};
    std::string out(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, W(source), static_cast<int>(source.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::u16string FromAnsi(const uint8_t* bytes, std::size_t count) {
    if (count == 0) return {};
    const char* source = reinterpret_cast<const char*>(bytes);
    const int size = MultiByteToWideChar(CP_ACP, 0, source, static_cast<int>(count), nullptr, 0);
    if (size <= 0) return {};
    std::vector<wchar_t> out(static_cast<std::size_t>(size));
    MultiByteToWideChar(CP_ACP, 0, source, static_cast<int>(count), out.data(), size);
    return U(out.data(), out.size());
}

}  // namespace pesolink::platform
