// What the driver module needs from the operating system: the user's
// application-data folder, plain files, INI profile files, the local time,
// the system locale and the ANSI code page. Paths and texts are UTF-16; the
// folder separator is PathSeparator. Every function takes paths of any
// length, also where the underlying Windows functions stop at MAX_PATH.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pesolink::platform {

#ifdef _WIN32
constexpr char16_t PathSeparator = u'\\';
#else
constexpr char16_t PathSeparator = u'/';
#endif

// Expands %NAME% references of the environment. The result is never cut:
// however long the expansion, all of it is returned. A reference to an
// undefined name stays as written. (POSIX: %AppData% falls back to
// $XDG_CONFIG_HOME when that is an absolute path, else to $HOME/.config,
// when APPDATA is not set.)
std::u16string ExpandEnvironment(std::u16string_view text);

bool FolderExists(const std::u16string& path);
// One level; the parent must exist.
bool CreateFolder(const std::u16string& path);

// True for an existing file; false for a folder or nothing.
bool FileExists(const std::u16string& path);
// Creates an empty file when there is none; an existing file is kept as it
// is. False when the file cannot be had.
bool CreateFileIfMissing(const std::u16string& path);
// Creates the file or empties an existing one.
bool TruncateOrCreateFile(const std::u16string& path);
// Opens an existing file, appends the bytes and closes it again; a missing
// file is not created.
bool AppendToFile(const std::u16string& path, std::string_view bytes);

// INI profile files: sections "[Name]" of lines "Key=Value". Section and key
// names compare without regard to case; keys and values are trimmed of
// blanks. Read returns fallback when the file, section or key is missing.
std::u16string ProfileRead(const std::u16string& file, std::u16string_view section,
                           std::u16string_view key, std::u16string_view fallback);
// Sets one key, keeping every other section, key and line of the file; adds
// the section or the key at its end when missing, and creates the file when
// there is none. False when the file cannot be written (read-only, say).
bool ProfileWrite(const std::u16string& file, std::u16string_view section,
                  std::u16string_view key, std::u16string_view value);

// The current local time as "hh:nn:ss" (hours 00 to 23) with the locale's
// time separator.
std::u16string LocalTimeText();

// The system's default locale identifier. (POSIX: 0x0419, or the hexadecimal
// digits of the environment variable PESOLINK_SYSTEM_LCID.)
uint32_t SystemDefaultLcid();

// The system's ANSI code page. (POSIX: the code page selected by the "LCID"
// setting.) Characters without a byte become '?'.
std::string ToAnsi(std::u16string_view text);
std::u16string FromAnsi(const uint8_t* bytes, std::size_t count);

// UTF-16 <-> UTF-8, for messages and POSIX file names. Unpaired surrogates
// and invalid bytes become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace pesolink::platform
