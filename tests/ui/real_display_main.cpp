// Tests of the program's own window on a real (virtual) X display: one QApplication
// for the whole run, on the display that the test's xvfb-run made.
//
// The display brings the system's GL drivers into this process, and some keep a
// block until the end. LeakSanitizer can only tell them from our own leaks by the
// whole stack of the allocation, which the fast unwinder cuts short in code built
// without frame pointers; so this process unwinds fully, and tests/lsan.supp names
// the graphics stack. The option is built in, not put in the environment: the
// programs the tests start would inherit it, and it slows them down a great deal.
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
