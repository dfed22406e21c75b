// Test program of the fault slice under Wine: one single-threaded apartment,
// as the server's objects expect, whose thread also owns the test windows.
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
