// The text of an INI profile file, handled the way the platform's profile
// functions do: sections "[Name]", lines "Key=Value", names compared without
// regard to ASCII case, keys and values trimmed of blanks and a value's
// enclosing quotes removed. Works on the bytes of the file; names and values
// are in the file's own 8-bit encoding.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pesolink::platform {

// The value of the key in the first section of that name, if there is one.
std::optional<std::string> IniLookup(std::string_view content, std::string_view section,
                                     std::string_view key);

// The content with the key set to value: an existing key line is replaced,
// a missing key is added after the last line of its section, a missing
// section is added at the end. Every other line stays as it was.
std::string IniUpdate(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value);

}  // namespace pesolink::platform
