// INI profile file text, shared by the platform layers.
#include "driver/platform/IniText.h"

#include <vector>

namespace pesolink::platform {

namespace {

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

std::vector<IniLine> ParseIni(std::string_view content, std::string& bom) {
    std::string_view rest = content;
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
            line.name = std::string(
                Trim(text.substr(1, close == std::string_view::npos ? text.npos : close - 1)));
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

}  // namespace

std::optional<std::string> IniLookup(std::string_view content, std::string_view section,
                                     std::string_view key) {
    std::string bom;
    const std::vector<IniLine> lines = ParseIni(content, bom);
    for (std::size_t i = FindSection(lines, section) + 1; i < lines.size(); ++i) {
        if (lines[i].kind == IniLine::Section) break;
        if (lines[i].kind == IniLine::Key && SameName(lines[i].name, key)) return lines[i].value;
    }
    return std::nullopt;
}

std::string IniUpdate(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value) {
    std::string bom;
    std::vector<IniLine> lines = ParseIni(content, bom);
    const std::string entry = std::string(key) + "=" + std::string(value);

    auto ended = [](std::string& raw) {
        if (!raw.empty() && raw.back() != '\n') raw += "\r\n";
    };
    const std::size_t header = FindSection(lines, section);
    if (header == lines.size()) {
        if (!lines.empty()) ended(lines.back().raw);
        lines.push_back(NewLine("[" + std::string(section) + "]\r\n"));
        lines.push_back(NewLine(entry + "\r\n"));
    } else {
        std::size_t last = header;  // last non-blank line of the section
        bool replaced = false;
        for (std::size_t i = header + 1; i < lines.size(); ++i) {
            if (lines[i].kind == IniLine::Section) break;
            if (lines[i].kind == IniLine::Key && SameName(lines[i].name, key)) {
                const std::string& raw = lines[i].raw;
                const bool crlf = raw.size() >= 2 && raw.compare(raw.size() - 2, 2, "\r\n") == 0;
                const bool lf = !raw.empty() && raw.back() == '\n';
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
    return out;
}

}  // namespace pesolink::platform
