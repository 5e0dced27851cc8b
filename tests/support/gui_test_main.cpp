// Widget tests need one QApplication for the whole run, on the main thread.
//
// QVR_TEST_OFFSCREEN: the offscreen platform must never reach a display (it would
// open DISPLAY for any OpenGL context, and the system's GL drivers would decide the
// run); the display variables go before anything reads them.
//
// QVR_TEST_FULL_UNWIND: on a real display the GL drivers keep a block until the end,
// which LeakSanitizer tells from our leaks only by the whole stack (tests/lsan.supp).
// Built in rather than put in the environment, which would slow down every program
// the tests start.
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
    qvr::prepareWebEngine();
#endif
    const qvr::CurlGlobal curl;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
