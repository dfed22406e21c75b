// Test program of the COM server: every test runs in one single-threaded
// apartment, as the server's objects expect.
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const int rc = RUN_ALL_TESTS();
    CoUninitialize();
    return rc;
}
