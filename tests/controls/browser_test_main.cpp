// The web view tests run on a real (virtual) display, prepared as the program prepares
// it, with one QApplication for the whole run.
#include "controls/web_engine.h"
#include "platform/http.h"

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qvr::PrepareWebEngine();
    const qvr::CurlGlobal curl;
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
