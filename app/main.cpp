#include "app/application.h"
#include "app/command_line.h"
#include "platform/paths.h"

// The window library inside the executable (embedded_gui.S).
extern "C" const char qvr_gui_image_begin[];
extern "C" const char qvr_gui_image_end[];

int main(int argc, char** argv)
{
    // Asked before anything else is looked at: a command line the program does not
    // take, and the information switches, never touch the settings, the queues or a
    // running instance.
    qvr::CMyCommandLineInfo commandLine;
    qvr::parseCommandLine(argc, argv, commandLine);
    if (const auto status = qvr::answerInformationSwitches(commandLine, qvr::modulePath()))
        return *status;
    const std::string_view guiImage(qvr_gui_image_begin,
                                    static_cast<std::size_t>(qvr_gui_image_end - qvr_gui_image_begin));
    // Before anything else: the probe reads and writes nothing that a start shares.
    if (commandLine.m_bProbe)
        return qvr::CquaveromfcApp::Probe(guiImage);
    qvr::CquaveromfcApp app(qvr::AppEnvironment::fromProcess(guiImage));
    app.InitInstance(argc, argv);
    return app.exitStatus();
}
