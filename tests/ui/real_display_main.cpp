// Tests on a real (virtual) X display: one QApplication for the whole run.
//
// The display brings the system's GL drivers into this process, and some keep a block
// until the end; LeakSanitizer tells them from our own leaks only by the whole stack,
// which the fast unwinder cuts short in code built without frame pointers, and
// tests/lsan.supp names the graphics stack. Built in, not put in the environment,
// which the programs the tests start would inherit, slowed down a great deal.
#include "platform/http.h"

#include <QApplication>

#include <gtest/gtest.h>

extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

int main(int argc, char** argv)
{
    const qvr::CurlGlobal curl;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
