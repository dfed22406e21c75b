// The type library embedded in the server: identifiers, versions, flags,
// and the member table of IScales with its slots and DISPIDs, which early-
// and late-bound clients depend on.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com_support.h"

using namespace comtest;

namespace {

enum class Kind { Get, Put, Function };
enum class Type { Int, Text };

struct Member {
    int slot;
    const wchar_t* name;
    DISPID dispid;
    Kind kind;
    Type type;
};

// The published layout of IScales, slot by slot.
const Member kMembers[] = {
    {7, L"Connection", 201, Kind::Get, Type::Text},
    {8, L"Connection", 201, Kind::Put, Type::Text},
    {9, L"OpenConnection", 202, Kind::Function, Type::Int},
    {10, L"CloseConnection", 203, Kind::Function, Type::Int},
    {11, L"Weight", 204, Kind::Get, Type::Int},
    {12, L"Division", 205, Kind::Get, Type::Int},
    {13, L"Stable", 206, Kind::Get, Type::Int},
    {14, L"NetIndication", 207, Kind::Get, Type::Int},
    {15, L"ZeroIndication", 208, Kind::Get, Type::Int},
    {16, L"ReadWeight", 209, Kind::Function, Type::Int},
    {17, L"TareWeight", 210, Kind::Get, Type::Int},
    {18, L"TareWeight", 210, Kind::Put, Type::Int},
    {19, L"SetTare", 211, Kind::Function, Type::Int},
    {20, L"ScalesID", 212, Kind::Get, Type::Text},
    {21, L"IpAddress", 213, Kind::Get, Type::Text},
    {22, L"IpAddress", 213, Kind::Put, Type::Text},
    {23, L"Mask", 214, Kind::Get, Type::Text},
    {24, L"Mask", 214, Kind::Put, Type::Text},
    {25, L"Gateway", 215, Kind::Get, Type::Text},
    {26, L"Gateway", 215, Kind::Put, Type::Text},
    {27, L"PortEthernet", 216, Kind::Get, Type::Int},
    {28, L"PortEthernet", 216, Kind::Put, Type::Int},
    {29, L"Name", 217, Kind::Get, Type::Text},
    {30, L"Name", 217, Kind::Put, Type::Text},
    {31, L"SSID", 218, Kind::Get, Type::Text},
    {32, L"SSID", 218, Kind::Put, Type::Text},
    {33, L"Key", 219, Kind::Get, Type::Text},
    {34, L"Key", 219, Kind::Put, Type::Text},
    {35, L"GetName", 220, Kind::Function, Type::Int},
    {36, L"SetName", 221, Kind::Function, Type::Int},
    {37, L"PortWiFi", 222, Kind::Get, Type::Int},
    {38, L"PortWiFi", 222, Kind::Put, Type::Int},
    {39, L"GetEthernet", 223, Kind::Function, Type::Int},
    {40, L"SetEthernet", 224, Kind::Function, Type::Int},
    {41, L"GetWiFi", 225, Kind::Function, Type::Int},
    {42, L"SetWifi", 226, Kind::Function, Type::Int},
    {43, L"IpAddressWiFi", 230, Kind::Get, Type::Text},
    {44, L"IpAddressWiFi", 230, Kind::Put, Type::Text},
    {45, L"MaskWiFi", 231, Kind::Get, Type::Text},
    {46, L"MaskWiFi", 231, Kind::Put, Type::Text},
    {47, L"GatewayWiFi", 232, Kind::Get, Type::Text},
    {48, L"GatewayWiFi", 232, Kind::Put, Type::Text},
    {49, L"GetTare", 227, Kind::Function, Type::Int},
    {50, L"SetZero", 228, Kind::Function, Type::Int},
    {51, L"ApIpAddressWiFi", 229, Kind::Get, Type::Text},
    {52, L"ApIpAddressWiFi", 229, Kind::Put, Type::Text},
    {53, L"ApSSID", 233, Kind::Get, Type::Text},
    {54, L"ApKey", 234, Kind::Get, Type::Text},
    {55, L"GetWiFiAP", 235, Kind::Function, Type::Int},
    {56, L"SetWiFiAP", 236, Kind::Function, Type::Int},
    {57, L"BaudRate", 237, Kind::Get, Type::Int},
    {58, L"Parity", 238, Kind::Get, Type::Int},
};

const GUID kLibId = {0x0ECE549C, 0xA213, 0x4931, {0xAC, 0x3D, 0x3C, 0xE9, 0x91, 0x36, 0x21, 0x49}};

class TypeLibrary : public testing::Test {
protected:
    void SetUp() override {
        auto dll = ServerDll();
        if (!dll) GTEST_SKIP() << "PESOLINK_COM_DLL not set";
        ASSERT_EQ(LoadTypeLibEx(dll->c_str(), REGKIND_NONE, lib_.GetAddressOf()), S_OK);
    }

    std::wstring Doc(ITypeInfo* info, MEMBERID id, bool help) {
        Bstr name, doc;
        info->GetDocumentation(id, name.Out(), doc.Out(), nullptr, nullptr);
        return help ? doc.Text() : name.Text();
    }

    ComPtr<ITypeLib> lib_;
};

TEST_F(TypeLibrary, LibraryIdentityVersionAndLocale) {
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib_->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, kLibId));
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_OstrelPesolink));
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 4);
    EXPECT_EQ(attr->lcid, 0x0409u);
    lib_->ReleaseTLibAttr(attr);
    Bstr name;
    ASSERT_EQ(lib_->GetDocumentation(-1, name.Out(), nullptr, nullptr, nullptr), S_OK);
    EXPECT_EQ(name.Text(), L"OstrelPesolink");
}

TEST_F(TypeLibrary, InterfaceIsDualAutomationWithHelpString) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_IScales, info.GetAddressOf()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_DISPATCH);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 2);
    info->ReleaseTypeAttr(attr);

    // The vtable side carries the automation flag the marshaller looks at.
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(-1, &ref), S_OK);
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(info->GetRefTypeInfo(ref, vtable.GetAddressOf()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FDUAL);
    vtable->ReleaseTypeAttr(attr);
    EXPECT_EQ(Doc(info.Get(), MEMBERID_NIL, false), L"IScales");
    EXPECT_EQ(Doc(info.Get(), MEMBERID_NIL, true), L"Dispatch interface for Scales Object");
}

TEST_F(TypeLibrary, ClassIsCreatableWithIScalesAsDefault) {
    ComPtr<ITypeInfo> info;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(CLSID_Scales, info.GetAddressOf()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
    EXPECT_EQ(attr->typekind, TKIND_COCLASS);
    EXPECT_TRUE(attr->wTypeFlags & TYPEFLAG_FCANCREATE);
    EXPECT_EQ(attr->wMajorVerNum, 1);
    EXPECT_EQ(attr->wMinorVerNum, 2);
    ASSERT_EQ(attr->cImplTypes, 1);
    info->ReleaseTypeAttr(attr);
    EXPECT_EQ(Doc(info.Get(), MEMBERID_NIL, false), L"Scales");
    EXPECT_EQ(Doc(info.Get(), MEMBERID_NIL, true), L"Scales Object");

    INT flags = 0;
    ASSERT_EQ(info->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_TRUE(flags & IMPLTYPEFLAG_FDEFAULT);
    HREFTYPE ref = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(0, &ref), S_OK);
    ComPtr<ITypeInfo> iface;
    ASSERT_EQ(info->GetRefTypeInfo(ref, iface.GetAddressOf()), S_OK);
    TYPEATTR* ifaceAttr = nullptr;
    ASSERT_EQ(iface->GetTypeAttr(&ifaceAttr), S_OK);
    EXPECT_TRUE(IsEqualGUID(ifaceAttr->guid, IID_IScales));
    iface->ReleaseTypeAttr(ifaceAttr);
}

// Each slot of the vtable interface holds the member, DISPID, kind and
// parameter form of the published table.
TEST_F(TypeLibrary, MemberTableMatchesSlotsAndDispids) {
    ComPtr<ITypeInfo> dispatch;
    ASSERT_EQ(lib_->GetTypeInfoOfGuid(IID_IScales, dispatch.GetAddressOf()), S_OK);
    // The vtable side of the dual interface.
    HREFTYPE ref = 0;
    ASSERT_EQ(dispatch->GetRefTypeOfImplType(-1, &ref), S_OK);
    ComPtr<ITypeInfo> vtable;
    ASSERT_EQ(dispatch->GetRefTypeInfo(ref, vtable.GetAddressOf()), S_OK);
    TYPEATTR* attr = nullptr;
    ASSERT_EQ(vtable->GetTypeAttr(&attr), S_OK);
    ASSERT_EQ(attr->typekind, TKIND_INTERFACE);
    const UINT functions = attr->cFuncs;
    vtable->ReleaseTypeAttr(attr);
    ASSERT_EQ(functions, std::size(kMembers));

    for (UINT i = 0; i < functions; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(vtable->GetFuncDesc(i, &f), S_OK);
        const int slot = static_cast<int>(f->oVft / sizeof(void*));
        const Member* m = nullptr;
        for (const Member& row : kMembers)
            if (row.slot == slot) m = &row;
        ASSERT_NE(m, nullptr) << "unexpected slot " << slot;
        SCOPED_TRACE(testing::Message() << "slot " << slot);
        EXPECT_EQ(Doc(vtable.Get(), f->memid, false), m->name);
        EXPECT_EQ(f->memid, m->dispid);
        const INVOKEKIND kind = m->kind == Kind::Get   ? INVOKE_PROPERTYGET
                                : m->kind == Kind::Put ? INVOKE_PROPERTYPUT
                                                       : INVOKE_FUNC;
        EXPECT_EQ(f->invkind, kind);
        EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
        ASSERT_EQ(f->cParams, 1);
        const ELEMDESC& p = f->lprgelemdescParam[0];
        const VARTYPE vt = m->type == Type::Int ? VT_I4 : VT_BSTR;
        if (m->kind == Kind::Put) {
            EXPECT_TRUE(p.paramdesc.wParamFlags & PARAMFLAG_FIN);
            EXPECT_EQ(p.tdesc.vt, vt);
        } else {
            EXPECT_EQ(p.paramdesc.wParamFlags & (PARAMFLAG_FOUT | PARAMFLAG_FRETVAL),
                      PARAMFLAG_FOUT | PARAMFLAG_FRETVAL);
            ASSERT_EQ(p.tdesc.vt, VT_PTR);
            EXPECT_EQ(p.tdesc.lptdesc->vt, vt);
        }
        vtable->ReleaseFuncDesc(f);
    }
}

}  // namespace
