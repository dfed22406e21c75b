// A JSON object built field by field, in order, and written on one line:
// what --json prints for each reading or command.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pesolink::cli {

class JsonObject {
public:
    JsonObject& Add(const std::string& key, int64_t value);
    JsonObject& Add(const std::string& key, const std::string& value);  // UTF-8
    JsonObject& Add(const std::string& key, const JsonObject& value);
    JsonObject& AddNull(const std::string& key);

    std::string Text() const;

private:
    // Each field holds its value already written as JSON.
    std::vector<std::pair<std::string, std::string>> fields_;
};

// A JSON string literal of UTF-8 text: quotes, backslashes and control
// characters escaped.
std::string JsonString(const std::string& utf8);

}  // namespace pesolink::cli
