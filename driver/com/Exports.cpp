// The library's entry points: thin forwarders to the server's module
// state, class factory and registration.
#include <windows.h>
#include <objbase.h>

#include "OstrelPesolink.h"
#include "driver/com/ClassFactory.h"
#include "driver/com/ComModule.h"
#include "driver/com/Registration.h"

using pesolink::com::RegistrationScope;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        // A driver that cannot start must not load: the client then gets the
        // platform's load failure instead of an object that cannot work.
        return pesolink::com::StartModule(instance) ? TRUE : FALSE;
    case DLL_PROCESS_DETACH:
        pesolink::com::EndModule(reserved != nullptr);
        break;
    default:
        break;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, CLSID_Scales)) return CLASS_E_CLASSNOTAVAILABLE;
    return pesolink::com::ScalesFactory().QueryInterface(riid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() { return pesolink::com::CanUnloadNow() ? S_OK : S_FALSE; }

extern "C" HRESULT STDAPICALLTYPE DllRegisterServer() {
    return pesolink::com::RegisterServer(RegistrationScope::Machine);
}

extern "C" HRESULT STDAPICALLTYPE DllUnregisterServer() {
    return pesolink::com::UnregisterServer(RegistrationScope::Machine);
}

extern "C" HRESULT STDAPICALLTYPE DllInstall(BOOL install, LPCWSTR commandLine) {
    const RegistrationScope scope = commandLine && CompareStringOrdinal(commandLine, -1, L"user", -1, TRUE) == CSTR_EQUAL
                                        ? RegistrationScope::User
                                        : RegistrationScope::Machine;
    if (!install) return pesolink::com::UnregisterServer(scope);
    const HRESULT hr = pesolink::com::RegisterServer(scope);
    if (FAILED(hr)) {
        // Undo what the failed registration left behind.
        pesolink::com::UnregisterServer(scope);
        return E_FAIL;
    }
    return hr;
}
