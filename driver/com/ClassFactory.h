// The class factory of Scales: multi-instance, every CreateInstance makes a
// new object. One module-wide instance; its references do not keep the
// module loaded, LockServer does.
#pragma once

#include <windows.h>
#include <unknwn.h>

namespace pesolink::com {

class TScalesFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** object) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override;
};

// The server's class table has one entry: Scales.
TScalesFactory& ScalesFactory() noexcept;

}  // namespace pesolink::com
