// Widget tests need one QApplication for the whole run, on the main thread.
//
// QVR_TEST_OFFSCREEN: the offscreen platform must never reach a display, since it
// opens the one named in DISPLAY for Qt WebEngine's GL context and the system's GL
// drivers would then decide whether the run is clean. The display variables go before
// anything reads them, for this process and every program it starts (CTest's listing
// of the tests runs through here too).
//
// QVR_TEST_FULL_UNWIND: on a real (virtual) display the GL drivers keep a block until
// the end; LeakSanitizer tells them from our own leaks only by the whole stack, which
// the fast unwinder cuts short in code built without frame pointers (tests/lsan.supp
// names the graphics stack). Built in, not put in the environment, which the programs
// the tests start would inherit, slowed down a great deal.
#include "platform/http.h"

#if QVR_TEST_WEB_ENGINE
#include "controls/web_engine.h"
#endif

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

#if QVR_TEST_FULL_UNWIND
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
#endif

int main(int argc, char** argv)
{
#if QVR_TEST_OFFSCREEN
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
#endif
#if QVR_TEST_WEB_ENGINE
    // As the program prepares it.
    qvr::PrepareWebEngine();
#endif
    const qvr::CurlGlobal curl;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
