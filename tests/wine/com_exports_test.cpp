// The server's exports called directly on the loaded module: the class
// table behind DllGetClassObject, object and lock counting behind
// DllCanUnloadNow, and a module start that fails making the load fail.
#include <gtest/gtest.h>

#include <cwchar>
#include <string>

#include "com_support.h"

using namespace comtest;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

template <class Fn>
Fn Export(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

class Exports : public testing::Test {
protected:
    void SetUp() override {
        auto dll = ServerDll();
        if (!dll) GTEST_SKIP() << "PESOLINK_COM_DLL not set";
        module_ = LoadLibraryW(dll->c_str());
        ASSERT_NE(module_, nullptr) << "error " << GetLastError();
        getClassObject_ = Export<GetClassObjectFn>(module_, "DllGetClassObject");
        canUnloadNow_ = Export<CanUnloadNowFn>(module_, "DllCanUnloadNow");
        ASSERT_TRUE(getClassObject_ && canUnloadNow_);
    }

    void TearDown() override {
        if (module_) FreeLibrary(module_);
    }

    ComPtr<IClassFactory> Factory() {
        ComPtr<IClassFactory> factory;
        EXPECT_EQ(getClassObject_(CLSID_Scales, IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf())),
                  S_OK);
        return factory;
    }

    HMODULE module_ = nullptr;
    GetClassObjectFn getClassObject_ = nullptr;
    CanUnloadNowFn canUnloadNow_ = nullptr;
};

TEST_F(Exports, EveryRegistrationEntryPointIsExportedUndecorated) {
    for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer",
                             "DllInstall"})
        EXPECT_NE(GetProcAddress(module_, name), nullptr) << name;
}

TEST_F(Exports, ClassObjectOnlyForScalesAndOnlyFactoryInterfaces) {
    const GUID otherClass = {0x247CDF44, 0xC023, 0x4103, {0xB1, 0x5A, 0x79, 0xEC, 0x87, 0xE0, 0x65, 0x92}};
    struct {
        const char* what;
        const CLSID* clsid;
        const IID* iid;
        HRESULT expected;
    } const cases[] = {
        {"factory of Scales", &CLSID_Scales, &IID_IClassFactory, S_OK},
        {"IUnknown of the factory", &CLSID_Scales, &IID_IUnknown, S_OK},
        {"IScales is no factory interface", &CLSID_Scales, &IID_IScales, E_NOINTERFACE},
        {"another class", &otherClass, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
        {"the type library's id as a class", &LIBID_OstrelPesolink, &IID_IClassFactory, CLASS_E_CLASSNOTAVAILABLE},
    };
    for (const auto& c : cases) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(getClassObject_(*c.clsid, *c.iid, &object), c.expected) << c.what;
        if (c.expected == S_OK) {
            ASSERT_NE(object, nullptr) << c.what;
            static_cast<IUnknown*>(object)->Release();
        } else {
            EXPECT_EQ(object, nullptr) << c.what;
        }
    }
}

TEST_F(Exports, FactoryMakesANewObjectPerRequestAndRefusesAggregation) {
    auto factory = Factory();
    ASSERT_TRUE(factory);
    ComPtr<IScales> first, second;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IScales, reinterpret_cast<void**>(first.GetAddressOf())), S_OK);
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IScales, reinterpret_cast<void**>(second.GetAddressOf())), S_OK);
    EXPECT_NE(first.Get(), second.Get());

    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(first.Get(), IID_IUnknown, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    object = reinterpret_cast<void*>(1);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(Exports, CanUnloadOnlyWithoutLiveObjectsAndLocks) {
    ASSERT_EQ(canUnloadNow_(), S_OK) << "an object of an earlier test is still alive";
    auto factory = Factory();
    ASSERT_TRUE(factory);
    // Holding the factory alone does not keep the module.
    EXPECT_EQ(canUnloadNow_(), S_OK);

    ComPtr<IScales> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IScales, reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    ComPtr<IDispatch> extra;
    ASSERT_EQ(object.As(&extra), S_OK);
    object.Reset();
    EXPECT_EQ(canUnloadNow_(), S_FALSE) << "a second reference keeps the object";
    extra.Reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);

    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(canUnloadNow_(), S_OK);

    // Objects created through the registered class count as well.
    auto created = CreateScales();
    ASSERT_TRUE(created);
    EXPECT_EQ(canUnloadNow_(), S_FALSE);
    created.Reset();
    EXPECT_EQ(canUnloadNow_(), S_OK);
}

// The module carries its type library as resource TYPELIB 1 and a version
// resource with the product's file version and a translation entry.
TEST_F(Exports, ResourcesHoldTypeLibraryAndVersion) {
    EXPECT_NE(FindResourceW(module_, MAKEINTRESOURCEW(1), L"TYPELIB"), nullptr);

    const std::wstring path = *ServerDll();
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::string data(size, '\0');
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, data.data()));

    struct Translation {
        WORD language, codePage;
    };
    Translation* translation = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation),
                               &length));
    ASSERT_GE(length, sizeof(Translation));
    EXPECT_EQ(translation->language, 0x0409);
    EXPECT_EQ(translation->codePage, 1200);

    wchar_t key[64];
    swprintf(key, 64, L"\\StringFileInfo\\%04x%04x\\FileVersion", translation->language, translation->codePage);
    wchar_t* version = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), key, reinterpret_cast<void**>(&version), &length));
    EXPECT_EQ(std::wstring(version), PESOLINK_EXPECTED_FILE_VERSION);

    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const std::wstring numeric = std::to_wstring(HIWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwFileVersionMS)) + L"." +
                                 std::to_wstring(HIWORD(fixed->dwFileVersionLS)) + L"." +
                                 std::to_wstring(LOWORD(fixed->dwFileVersionLS));
    EXPECT_EQ(numeric, PESOLINK_EXPECTED_FILE_VERSION);
}

// ---- module start

// A private copy of the server, so that its DllMain runs again here with
// the application-data folder this test chooses.
class ModuleStart : public testing::Test {
protected:
    void SetUp() override {
        auto dll = ServerDll();
        if (!dll) GTEST_SKIP() << "PESOLINK_COM_DLL not set";
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
        base_ = std::wstring(temp) + L"pesolink-start-" + std::to_wstring(GetCurrentProcessId());
        RemoveTree(base_);
        ASSERT_TRUE(CreateDirectoryW(base_.c_str(), nullptr));
        copy_ = base_ + L"\\StartProbe.dll";
        ASSERT_TRUE(CopyFileW(dll->c_str(), copy_.c_str(), FALSE)) << GetLastError();
        appData_ = base_ + L"\\AppData";
        ASSERT_TRUE(CreateDirectoryW(appData_.c_str(), nullptr));
        savedAppData_ = Env(L"APPDATA");
        SetEnvironmentVariableW(L"APPDATA", appData_.c_str());
    }

    void TearDown() override {
        if (base_.empty()) return;
        SetEnvironmentVariableW(L"APPDATA", savedAppData_ ? savedAppData_->c_str() : nullptr);
        RemoveTree(base_);
    }

    static void RemoveTree(const std::wstring& dir) {
        WIN32_FIND_DATAW found;
        HANDLE h = FindFirstFileW((dir + L"\\*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name == L"." || name == L"..") continue;
                const std::wstring path = dir + L"\\" + name;
                if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                    RemoveTree(path);
                else
                    DeleteFileW(path.c_str());
            } while (FindNextFileW(h, &found));
            FindClose(h);
        }
        RemoveDirectoryW(dir.c_str());
    }

    std::wstring base_, copy_, appData_;
    std::optional<std::wstring> savedAppData_;
};

TEST_F(ModuleStart, LoadRunsTheDriverStart) {
    HMODULE module = LoadLibraryW(copy_.c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    const std::wstring settings = appData_ + L"\\Ostrel\\Pesolink\\";
    EXPECT_NE(GetFileAttributesW((settings + L"Driver.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(GetFileAttributesW((settings + L"Log.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    auto canUnloadNow = Export<CanUnloadNowFn>(module, "DllCanUnloadNow");
    ASSERT_NE(canUnloadNow, nullptr);
    EXPECT_EQ(canUnloadNow(), S_OK);
    FreeLibrary(module);
}

TEST_F(ModuleStart, FailedDriverStartMakesTheLoadFail) {
    // Log.txt cannot be created where a folder of that name stands.
    const std::wstring settings = appData_ + L"\\Ostrel\\Pesolink";
    ASSERT_TRUE(CreateDirectoryW((appData_ + L"\\Ostrel").c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(settings.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW((settings + L"\\Log.txt").c_str(), nullptr));

    HMODULE module = LoadLibraryW(copy_.c_str());
    const DWORD error = GetLastError();
    EXPECT_EQ(module, nullptr);
    if (module) FreeLibrary(module);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
}

}  // namespace
