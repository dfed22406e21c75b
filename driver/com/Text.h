// Automation strings and the driver's UTF-16 texts. wchar_t is 16 bits on
// Windows, so a BSTR holds exactly the driver's code units; a BSTR may
// carry embedded nulls, so its length comes from SysStringLen.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <string>

#include "driver/com/ComModule.h"

namespace pesolink::com {

static_assert(sizeof(OLECHAR) == sizeof(char16_t), "OLECHAR must be 16-bit");

// A null BSTR is the empty text.
inline std::u16string FromBstr(BSTR value) {
    const UINT length = SysStringLen(value);
    std::u16string text(length, u'\0');
    std::copy(value, value + length, text.begin());
    return text;
}

// An empty text becomes a null BSTR; throws HResultError(E_OUTOFMEMORY)
// when no string can be allocated.
inline BSTR ToBstr(const std::u16string& text) {
    if (text.empty()) return nullptr;
    BSTR value = SysAllocStringLen(nullptr, static_cast<UINT>(text.size()));
    if (!value) throw HResultError(E_OUTOFMEMORY, "Out of memory for a text value");
    std::copy(text.begin(), text.end(), value);
    return value;
}

}  // namespace pesolink::com
