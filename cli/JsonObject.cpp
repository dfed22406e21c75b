#include "cli/JsonObject.h"

#include <cstdio>

namespace pesolink::cli {

std::string JsonString(const std::string& utf8) {
    std::string out = "\"";
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20 || c == 0x7F) {
                    char b[8];
                    std::snprintf(b, sizeof b, "\\u%04X", c);
                    out += b;
                } else {
                    out += ch;
                }
        }
    }
    return out + "\"";
}

JsonObject& JsonObject::Add(const std::string& key, int64_t value) {
    fields_.emplace_back(key, std::to_string(value));
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const std::string& value) {
    fields_.emplace_back(key, JsonString(value));
    return *this;
}

JsonObject& JsonObject::Add(const std::string& key, const JsonObject& value) {
    fields_.emplace_back(key, value.Text());
    return *this;
}

JsonObject& JsonObject::AddNull(const std::string& key) {
    fields_.emplace_back(key, "null");
    return *this;
}

std::string JsonObject::Text() const {
    std::string out = "{";
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        if (i) out += ",";
        out += JsonString(fields_[i].first) + ":" + fields_[i].second;
    }
    return out + "}";
}

}  // namespace pesolink::cli
