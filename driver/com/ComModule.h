// Module-wide state of the in-process server: the module handle, the
// counts behind DllCanUnloadNow, the type library loaded once from the
// module's own resource, and the error reporting every interface method
// ends in.
#pragma once

#include <windows.h>
#include <oaidl.h>

#include <stdexcept>
#include <string>
#include <string_view>

namespace pesolink::com {

// The ProgID, also the source named in error information.
inline constexpr wchar_t ProgId[] = L"OstrelPesolink.Scales";
// The class's description and the default value of its registry keys.
inline constexpr wchar_t ClassDescription[] = L"Scales Object";

// A failure that carries its own HRESULT out of a member (instead of the
// generic E_UNEXPECTED).
class HResultError : public std::runtime_error {
public:
    HResultError(HRESULT hr, const char* what) : std::runtime_error(what), hr_(hr) {}
    HRESULT Code() const noexcept { return hr_; }

private:
    HRESULT hr_;
};

// Module start and end, from DllMain. StartModule returns false when the
// driver cannot start; the load of the library then fails.
bool StartModule(HMODULE module) noexcept;
void EndModule(bool processTerminating) noexcept;

HMODULE ModuleHandle() noexcept;
// Full path of this module's file.
std::wstring ModulePath();

// Live objects and factory locks, for DllCanUnloadNow.
void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
void LockServer(bool lock) noexcept;
bool CanUnloadNow() noexcept;

// The module's type library and the type information of IScales and of
// the class Scales, loaded on first use and kept. The returned pointers are
// AddRef'ed for the caller.
HRESULT GetTypeLibrary(ITypeLib** lib) noexcept;
HRESULT GetScalesTypeInfo(ITypeInfo** info) noexcept;
HRESULT GetClassTypeInfo(ITypeInfo** info) noexcept;

// Turns the exception being handled into an HRESULT and publishes error
// information for it (interface IScales, source the ProgID, description
// the exception's text). Call only from a catch block.
HRESULT ReportCurrentException() noexcept;

// UTF-8 (or, failing that, ANSI) exception text as UTF-16.
std::wstring WidenMessage(std::string_view text);

}  // namespace pesolink::com

// Closes the try block of every interface method: no exception ever leaves
// through a COM boundary.
#define PESOLINK_COM_CATCH                                    \
    catch (...) {                                             \
        return ::pesolink::com::ReportCurrentException();     \
    }
