// Widget tests need one QApplication for the whole run, on the main thread.
//
// They run on the offscreen platform, and there they must never reach an X server or
// a Wayland compositor: Qt's offscreen platform opens the display named in DISPLAY to
// give Qt WebEngine a GLX context, and the system's GL drivers then decide whether the
// run is clean. So the display variables go before anything can read them, for this
// process and for every program it starts. The test listing that CTest asks for at
// the start runs through here too, in the same conditions as the tests.
#include "platform/http.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    const qvr::CurlGlobal curl;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
