// Two objects on two COM ports of two simulated scales, each used from an
// apartment thread of its own, as a program with two scales does: each
// reads its own scale, and the two exchanges run at the same time. The
// test script maps the ports and names them in PESOLINK_SIM_COM_A/B with the
// weights PESOLINK_SIM_WEIGHT_A/B.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "com_support.h"

using namespace comtest;

namespace {

struct Reading {
    long opened = -1, result = -1, weight = 0;
    DWORD ms = 0;
};

// On a thread of its own: create, open, wait for the start, weigh once.
void WeighOnOwnThread(const std::wstring& port, std::atomic<int>& ready, std::atomic<bool>& go, Reading& out) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    {
        ComPtr<IScales> s = CreateScales();
        if (s) {
            Bstr text(port.c_str());
            s->put_Connection(text.Get());
            s->OpenConnection(&out.opened);
        }
        ++ready;
        while (!go) Sleep(0);
        if (s && out.opened == 0) {
            const DWORD t0 = GetTickCount();
            s->ReadWeight(&out.result);
            out.ms = GetTickCount() - t0;
            s->get_Weight(&out.weight);
        }
    }
    CoUninitialize();
}

TEST(TwoScalesOnTwoPorts, ExchangesFromTwoThreadsRunAtTheSameTime) {
    const auto portA = Env(L"PESOLINK_SIM_COM_A"), portB = Env(L"PESOLINK_SIM_COM_B");
    const auto weightA = EnvNumber(L"PESOLINK_SIM_WEIGHT_A"), weightB = EnvNumber(L"PESOLINK_SIM_WEIGHT_B");
    if (!portA || !portB || !weightA || !weightB)
        GTEST_SKIP() << "PESOLINK_SIM_COM_A/B and PESOLINK_SIM_WEIGHT_A/B are set by the test script";

    // One object alone: the quickest of three weighings.
    DWORD single = 0xFFFFFFFF;
    for (int i = 0; i < 3; ++i) {
        std::atomic<int> ready{0};
        std::atomic<bool> go{true};
        Reading r;
        std::thread(WeighOnOwnThread, *portA, std::ref(ready), std::ref(go), std::ref(r)).join();
        ASSERT_EQ(r.opened, 0);
        EXPECT_EQ(r.result, 0);
        EXPECT_EQ(r.weight, *weightA);
        single = std::min(single, r.ms);
    }

    DWORD both = 0xFFFFFFFF;
    for (int i = 0; i < 3; ++i) {
        std::atomic<int> ready{0};
        std::atomic<bool> go{false};
        Reading a, b;
        std::thread ta(WeighOnOwnThread, *portA, std::ref(ready), std::ref(go), std::ref(a));
        std::thread tb(WeighOnOwnThread, *portB, std::ref(ready), std::ref(go), std::ref(b));
        while (ready < 2) Sleep(1);
        go = true;
        ta.join();
        tb.join();
        ASSERT_EQ(a.opened, 0);
        ASSERT_EQ(b.opened, 0);
        EXPECT_EQ(a.result, 0);
        EXPECT_EQ(b.result, 0);
        EXPECT_EQ(a.weight, *weightA) << "each object reads its own scale";
        EXPECT_EQ(b.weight, *weightB) << "each object reads its own scale";
        both = std::min(both, std::max(a.ms, b.ms));
    }
    std::printf("one exchange alone %lu ms; two at once on two ports %lu ms\n", static_cast<unsigned long>(single),
                static_cast<unsigned long>(both));
    RecordProperty("single_ms", static_cast<int>(single));
    RecordProperty("two_ports_ms", static_cast<int>(both));
    EXPECT_LT(both, single + single / 2) << "the two exchanges ran one after the other";
}

}  // namespace
