#include "driver/com/ClassFactory.h"

#include "driver/com/ComModule.h"
#include "driver/com/ScalesObject.h"

namespace pesolink::com {

HRESULT STDMETHODCALLTYPE TScalesFactory::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

// A static object: counting its references would only hide leaks.
ULONG STDMETHODCALLTYPE TScalesFactory::AddRef() { return 2; }
ULONG STDMETHODCALLTYPE TScalesFactory::Release() { return 1; }

HRESULT STDMETHODCALLTYPE TScalesFactory::CreateInstance(IUnknown* outer, REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return CreateScalesObject(riid, object);
}

HRESULT STDMETHODCALLTYPE TScalesFactory::LockServer(BOOL lock) {
    pesolink::com::LockServer(lock != FALSE);
    return S_OK;
}

TScalesFactory& ScalesFactory() noexcept {
    static TScalesFactory factory;
    return factory;
}

}  // namespace pesolink::com
