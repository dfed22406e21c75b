// The Scales object as COM clients see it: creation, interfaces, early
// binding through the raw function table, late binding through IDispatch,
// error information for a failure raised inside a member, automation
// strings, and independence of two objects.
#include <gtest/gtest.h>

#include <string>

#include "com_support.h"

using namespace comtest;

namespace {

const GUID kRandomIid = {0x5A4F1F3E, 0x1D2B, 0x4C6A, {0x9E, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}};

TEST(ScalesObject, CreatedByClassIdAndByProgIdAnswersItsInterfaces) {
    CLSID byProgId{};
    ASSERT_EQ(CLSIDFromProgID(L"OstrelPesolink.Scales", &byProgId), S_OK);
    EXPECT_TRUE(IsEqualCLSID(byProgId, CLSID_Scales));

    for (const CLSID& clsid : {CLSID_Scales, byProgId}) {
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(object.GetAddressOf())),
                  S_OK);
        struct {
            const IID* iid;
            const char* name;
        } const interfaces[] = {{&IID_IScales, "IScales"},
                                {&IID_IDispatch, "IDispatch"},
                                {&IID_IProvideClassInfo, "IProvideClassInfo"},
                                {&IID_ISupportErrorInfo, "ISupportErrorInfo"}};
        for (const auto& i : interfaces) {
            ComPtr<IUnknown> answer;
            EXPECT_EQ(object->QueryInterface(*i.iid, reinterpret_cast<void**>(answer.GetAddressOf())), S_OK)
                << i.name;
            ASSERT_TRUE(answer) << i.name;
            // Every interface leads back to the same object.
            ComPtr<IUnknown> identity;
            ASSERT_EQ(answer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(identity.GetAddressOf())), S_OK);
            EXPECT_EQ(identity.Get(), object.Get()) << i.name;
        }
        void* none = reinterpret_cast<void*>(1);
        EXPECT_EQ(object->QueryInterface(kRandomIid, &none), E_NOINTERFACE);
        EXPECT_EQ(none, nullptr);
        EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    }
}

TEST(ScalesObject, ProvidesClassInfoOfScales) {
    auto scales = CreateScales();
    ASSERT_TRUE(scales);
    ComPtr<IProvideClassInfo> provider;
    ASSERT_EQ(scales.As(&provider), S_OK);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(provider->GetClassInfo(info.GetAddressOf()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(IsEqualGUID(attr->guid, CLSID_Scales));
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(provider->GetClassInfo(nullptr), E_POINTER);
}

TEST(ScalesObject, SupportsErrorInfoForItsOwnInterfacesOnly) {
    auto scales = CreateScales();
    ASSERT_TRUE(scales);
    ComPtr<ISupportErrorInfo> support;
    ASSERT_EQ(scales.As(&support), S_OK);
    struct {
        const IID* iid;
        HRESULT expected;
    } const cases[] = {
        {&IID_IScales, S_OK},           {&IID_IDispatch, S_OK},      {&IID_IUnknown, S_OK},
        {&IID_ISupportErrorInfo, S_OK}, {&IID_IProvideClassInfo, S_OK}, {&IID_IClassFactory, S_FALSE},
        {&kRandomIid, S_FALSE},
    };
    for (const auto& c : cases) EXPECT_EQ(support->InterfaceSupportsErrorInfo(*c.iid), c.expected);
}

// Raw slots prove the function table's layout, independent of the header
// the test was compiled with: slot 43/44 are the IpAddressWiFi accessors.
TEST(EarlyBinding, SlotsOfIpAddressWiFiReachItsField) {
    auto scales = CreateScales();
    ASSERT_TRUE(scales);
    Bstr address(L"10.1.2.3");
    ASSERT_EQ(CallSlot<BSTR>(scales.Get(), 44, address.Get()), S_OK);
    Bstr viaSlot;
    ASSERT_EQ(CallSlot<BSTR*>(scales.Get(), 43, viaSlot.Out()), S_OK);
    EXPECT_EQ(viaSlot.Text(), L"10.1.2.3");
    // The neighbours hold other fields.
    Bstr mask;
    ASSERT_EQ(CallSlot<BSTR*>(scales.Get(), 45, mask.Out()), S_OK);
    EXPECT_TRUE(mask.IsNull());
    Bstr named;
    ASSERT_EQ(scales->get_IpAddressWiFi(named.Out()), S_OK);
    EXPECT_EQ(named.Text(), L"10.1.2.3");
}

TEST(EarlyBinding, FunctionMembersGiveResultCodeWithSuccessStatus) {
    auto scales = CreateScales();
    ASSERT_TRUE(scales);
    // No connection text: every function member reports 1 and the call
    // itself succeeds.
    const int functionSlots[] = {9, 10, 16, 19, 35, 36, 39, 40, 41, 42, 49, 50, 55, 56};
    for (int slot : functionSlots) {
        LONG result = -1;
        EXPECT_EQ(CallSlot<LONG*>(scales.Get(), slot, &result), S_OK) << "slot " << slot;
        EXPECT_EQ(result, 1) << "slot " << slot;
    }
}

TEST(EarlyBinding, NullOutPointersAreRefused) {
    auto scales = CreateScales();
    ASSERT_TRUE(scales);
    EXPECT_EQ(scales->OpenConnection(nullptr), E_POINTER);
    EXPECT_EQ(scales->get_Weight(nullptr), E_POINTER);
    EXPECT_EQ(scales->get_Connection(nullptr), E_POINTER);
    EXPECT_EQ(scales->get_ApKey(nullptr), E_POINTER);
}

TEST(AutomationStrings, EmptyIsNullAndTextsKeepEveryCodeUnit) {
    auto scales = CreateScales();
    ASSERT_TRUE(scales);
    Bstr fresh;
    ASSERT_EQ(scales->get_Name(fresh.Out()), S_OK);
    EXPECT_TRUE(fresh.IsNull());

    // Cyrillic, and a character outside the basic plane (a surrogate pair).
    const std::wstring text = L"\x0412\x0435\x0441\x044B-\xD83D\xDE00";
    Bstr name(text.c_str());
    ASSERT_EQ(scales->put_Name(name.Get()), S_OK);
    Bstr back;
    ASSERT_EQ(scales->get_Name(back.Out()), S_OK);
    EXPECT_EQ(back.Text(), text);

    // A null string clears the field like an empty one.
    ASSERT_EQ(scales->put_Name(nullptr), S_OK);
    ASSERT_EQ(scales->get_Name(back.Out()), S_OK);
    EXPECT_TRUE(back.IsNull());

    Bstr key;
    ASSERT_EQ(scales->get_ApKey(key.Out()), S_OK);
    EXPECT_EQ(key.Text(), L"Qorvin4863");
}

TEST(ScalesObject, TwoObjectsAreIndependent) {
    auto first = CreateScales();
    auto second = CreateScales();
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.Get(), second.Get());
    Bstr text(L"COM7");
    ASSERT_EQ(first->put_Connection(text.Get()), S_OK);
    ASSERT_EQ(first->put_PortWiFi(8080), S_OK);
    Bstr other;
    ASSERT_EQ(second->get_Connection(other.Out()), S_OK);
    EXPECT_TRUE(other.IsNull());
    LONG port = -1;
    ASSERT_EQ(second->get_PortWiFi(&port), S_OK);
    EXPECT_EQ(port, 0);
    ASSERT_EQ(first->get_PortWiFi(&port), S_OK);
    EXPECT_EQ(port, 8080);
}

// ---- late binding

class LateBinding : public testing::Test {
protected:
    void SetUp() override {
        auto scales = CreateScales();
        ASSERT_TRUE(scales);
        ASSERT_EQ(scales.As(&dispatch_), S_OK);
    }

    DISPID Id(const wchar_t* name) {
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        DISPID id = DISPID_UNKNOWN;
        EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), S_OK) << "name";
        return id;
    }

    HRESULT Call(DISPID id, WORD flags, VARIANT* result, EXCEPINFO* exception = nullptr) {
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &none, result, exception, nullptr);
    }

    HRESULT Put(DISPID id, VARIANT value) {
        DISPID named = DISPID_PROPERTYPUT;
        DISPPARAMS params = {&value, &named, 1, 1};
        return dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                                 nullptr);
    }

    ComPtr<IDispatch> dispatch_;
};

TEST_F(LateBinding, NamesGiveTheirDispids) {
    struct {
        const wchar_t* name;
        DISPID id;
    } const cases[] = {
        {L"OpenConnection", 202}, {L"GetTare", 227},  {L"IpAddressWiFi", 230},  {L"Connection", 201},
        {L"ApIpAddressWiFi", 229}, {L"Parity", 238}, {L"opencONNECTION", 202},
    };
    for (const auto& c : cases) EXPECT_EQ(Id(c.name), c.id) << "name";

    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"NoSuchMember")};
    DISPID id = 0;
    EXPECT_EQ(dispatch_->GetIDsOfNames(IID_NULL, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(dispatch_->GetIDsOfNames(kRandomIid, unknown, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNINTERFACE);
}

TEST_F(LateBinding, TypeInformationIsThatOfIScales) {
    UINT count = 0;
    ASSERT_EQ(dispatch_->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(dispatch_->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.GetAddressOf()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IScales));
    info->ReleaseTypeAttr(attr);
    ComPtr<ITypeInfo> none;
    EXPECT_EQ(dispatch_->GetTypeInfo(1, LOCALE_USER_DEFAULT, none.GetAddressOf()), DISP_E_BADINDEX);
}

TEST_F(LateBinding, InvokeReturnsResultCodeAsValue) {
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(Call(Id(L"OpenConnection"), DISPATCH_METHOD, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 1);  // no connection text
    VariantClear(&result);
}

TEST_F(LateBinding, PropertiesPutAndGet) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"C12");
    ASSERT_EQ(Put(Id(L"Connection"), value), S_OK);
    VariantClear(&value);

    V_VT(&value) = VT_I4;
    V_I4(&value) = 65535;
    ASSERT_EQ(Put(Id(L"PortEthernet"), value), S_OK);
    // A value the put rule refuses leaves the field and still succeeds.
    V_I4(&value) = 65536;
    ASSERT_EQ(Put(Id(L"PortEthernet"), value), S_OK);

    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(Call(Id(L"Connection"), DISPATCH_PROPERTYGET, &result), S_OK);
    ASSERT_EQ(V_VT(&result), VT_BSTR);
    EXPECT_EQ(std::wstring(V_BSTR(&result)), L"C12");
    VariantClear(&result);
    ASSERT_EQ(Call(Id(L"PortEthernet"), DISPATCH_PROPERTYGET, &result), S_OK);
    ASSERT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 65535);
    VariantClear(&result);
}

// A member that raises (here: a command with a connection text but no
// exchange worker, since C12 stops before one is made) reaches a late-bound
// client as DISP_E_EXCEPTION with the server's error information.
TEST_F(LateBinding, RaisedFailureBecomesException) {
    VARIANT value;
    VariantInit(&value);
    V_VT(&value) = VT_BSTR;
    V_BSTR(&value) = SysAllocString(L"C12");
    ASSERT_EQ(Put(Id(L"Connection"), value), S_OK);
    VariantClear(&value);
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(Call(Id(L"OpenConnection"), DISPATCH_METHOD, &result), S_OK);
    EXPECT_EQ(V_I4(&result), 1);
    VariantClear(&result);

    EXCEPINFO exception{};
    EXPECT_EQ(Call(Id(L"ReadWeight"), DISPATCH_METHOD, &result, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_UNEXPECTED);
    EXPECT_EQ(std::wstring(exception.bstrSource ? exception.bstrSource : L""), L"OstrelPesolink.Scales");
    EXPECT_GT(SysStringLen(exception.bstrDescription), 0u);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&result);

    // The object goes on working.
    ASSERT_EQ(Call(Id(L"ApKey"), DISPATCH_PROPERTYGET, &result), S_OK);
    EXPECT_EQ(std::wstring(V_BSTR(&result)), L"Qorvin4863");
    VariantClear(&result);
}

// ---- against the simulated scale

class WithScale : public testing::Test {
protected:
    void SetUp() override {
        sim_ = SimConnection();
        if (!sim_ || !SimTare() || !SimWeight())
            GTEST_SKIP() << "PESOLINK_SIM_TCP, PESOLINK_SIM_TARE and PESOLINK_SIM_WEIGHT are set by the test script";
        scales_ = CreateScales();
        ASSERT_TRUE(scales_);
        Bstr text(sim_->c_str());
        ASSERT_EQ(scales_->put_Connection(text.Get()), S_OK);
        LONG result = -1;
        ASSERT_EQ(scales_->OpenConnection(&result), S_OK);
        ASSERT_EQ(result, 0) << "simulated scale at " << std::string(sim_->begin(), sim_->end());
    }

    void TearDown() override {
        if (scales_) {
            LONG result = -1;
            scales_->CloseConnection(&result);
        }
    }

    std::optional<std::wstring> sim_;
    ComPtr<IScales> scales_;
};

TEST_F(WithScale, SlotFortyNineIsGetTare) {
    LONG result = -1;
    ASSERT_EQ(CallSlot<LONG*>(scales_.Get(), 49, &result), S_OK);
    EXPECT_EQ(result, 0);
    LONG tare = 0;
    ASSERT_EQ(scales_->get_TareWeight(&tare), S_OK);
    EXPECT_EQ(tare, *SimTare());
}

TEST_F(WithScale, InvokeOfReadWeightCarriesTheExchange) {
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(scales_.As(&dispatch), S_OK);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(dispatch->Invoke(209, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(V_VT(&result), VT_I4);
    EXPECT_EQ(V_I4(&result), 0);
    VariantClear(&result);
    ASSERT_EQ(dispatch->Invoke(204, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                               nullptr),
              S_OK);
    EXPECT_EQ(V_I4(&result), *SimWeight());
}

// The scale's tare is negative: GetTare stores it, and SetTare refuses to
// send it by raising. The caller gets E_UNEXPECTED with error information
// naming IScales and the ProgID, and the object keeps working.
TEST_F(WithScale, SetTareOfNegativeTareRaisesWithErrorInfo) {
    ASSERT_LT(*SimTare(), 0) << "the script gives the simulated scale a negative tare";
    LONG result = -1;
    ASSERT_EQ(scales_->GetTare(&result), S_OK);
    ASSERT_EQ(result, 0);
    LONG tare = 0;
    ASSERT_EQ(scales_->get_TareWeight(&tare), S_OK);
    ASSERT_EQ(tare, *SimTare());

    SetErrorInfo(0, nullptr);
    result = 0;
    EXPECT_EQ(scales_->SetTare(&result), E_UNEXPECTED);
    EXPECT_NE(result, 0);  // never a success code after a raised failure
    const ErrorInfoText info = TakeErrorInfo();
    ASSERT_TRUE(info.present);
    EXPECT_TRUE(IsEqualGUID(info.guid, IID_IScales));
    EXPECT_EQ(info.source, L"OstrelPesolink.Scales");
    EXPECT_FALSE(info.description.empty());
    EXPECT_TRUE(info.helpFile.empty());

    ASSERT_EQ(scales_->ReadWeight(&result), S_OK);
    EXPECT_EQ(result, 0);
    LONG weight = 0;
    ASSERT_EQ(scales_->get_Weight(&weight), S_OK);
    EXPECT_EQ(weight, *SimWeight());
}

TEST_F(WithScale, SecondObjectHasItsOwnConnection) {
    auto other = CreateScales();
    ASSERT_TRUE(other);
    LONG result = -1;
    // Nothing of the first object's open connection is seen here.
    ASSERT_EQ(other->ReadWeight(&result), S_OK);
    EXPECT_EQ(result, 1);
    Bstr text(sim_->c_str());
    ASSERT_EQ(other->put_Connection(text.Get()), S_OK);
    ASSERT_EQ(other->OpenConnection(&result), S_OK);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(other->ReadWeight(&result), S_OK);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(scales_->ReadWeight(&result), S_OK);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(other->CloseConnection(&result), S_OK);
    EXPECT_EQ(result, 0);
    // Closing the second leaves the first connected.
    ASSERT_EQ(scales_->ReadWeight(&result), S_OK);
    EXPECT_EQ(result, 0);
}

}  // namespace
