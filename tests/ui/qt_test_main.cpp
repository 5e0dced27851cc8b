// Widget tests need one QApplication for the whole run, on the main thread.
//
// On the offscreen platform they must never reach a display: Qt's offscreen platform
// opens the one named in DISPLAY for Qt WebEngine's GL context, and the system's GL
// drivers would then decide whether the run is clean. So the display variables go
// before anything reads them, for this process and every program it starts (CTest's
// listing of the tests runs through here too).
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
