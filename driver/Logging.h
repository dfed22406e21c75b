// The driver's trace: one line per call, "hh:nn:ss " and the message, only
// while the setting "Logging" is "1".
#pragma once

#include <string_view>

namespace pesolink {

void WriteLog(std::u16string_view text);

}  // namespace pesolink
