// Registration of the type library and the class Scales, per machine or
// per user. Register and unregister walk the same table of keys.
#pragma once

#include <windows.h>

namespace pesolink::com {

enum class RegistrationScope { Machine, User };

// S_OK, or E_FAIL on any failure (what was written stays).
HRESULT RegisterServer(RegistrationScope scope) noexcept;
// Removes the class's keys of this bitness and its entry of the type
// library; the ProgID, the interface's keys and the rest of the type
// library go only when no bitness is left registered in either registry
// view. Keys that are already gone are no failure. S_OK or E_FAIL.
HRESULT UnregisterServer(RegistrationScope scope) noexcept;

}  // namespace pesolink::com
