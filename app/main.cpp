#include "app/application.h"
#include "app/command_line.h"
#include "app/gui_entry.h"
#include "platform/exe_version.h"
#include "platform/failure_log.h"
#include "platform/loaded_library.h"
#include "platform/paths.h"
#include "platform/update_trial.h"
#include "res/strings.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#ifndef QVR_WINDOW_LIBRARY_FOLDER
// The window library inside the executable (embedded_gui.S).
extern "C" const char qvr_gui_image_begin[];
extern "C" const char qvr_gui_image_end[];
#endif

namespace {

// The single-file build carries its window library; a distribution's build installs
// it as a file of its own beside the program, where the distribution's tools see it.
qvr::LibrarySource windowLibrary()
{
#ifdef QVR_WINDOW_LIBRARY_FOLDER
    return {qvr::kGuiLibraryName, {}, qvr::installedLibraryPath(QVR_WINDOW_LIBRARY_FOLDER, qvr::kGuiLibraryName)};
#else
    return {qvr::kGuiLibraryName,
            std::string_view(qvr_gui_image_begin, static_cast<std::size_t>(qvr_gui_image_end - qvr_gui_image_begin)),
            {}};
#endif
}

} // namespace

int main(int argc, char** argv)
{
    // Asked before anything else is looked at: a command line the program does not
    // take, and the information switches, never touch the settings, the queues or a
    // running instance.
    qvr::CMyCommandLineInfo commandLine;
    qvr::parseCommandLine(argc, argv, commandLine);
    if (const auto status = qvr::answerInformationSwitches(commandLine, qvr::modulePath()))
        return *status;
    // Before anything else: the probe reads and writes nothing that a start shares.
    if (commandLine.m_probe)
        return qvr::CquaveromfcApp::runProbe(windowLibrary());
    // Then, before anything that can fail, the trial of a new version: its watch, and
    // the mark that tells later starts how this one ended.
    const std::string executable = qvr::modulePath();
    const auto version = qvr::readFileVersion(executable);
    qvr::logStart(qvr::loadString(qvr::IDS_PRODUCT_NAME), version ? qvr::fileVersionText(*version) : std::string());
    qvr::UpdateTrial trial(executable, version ? qvr::fileVersionText(*version) : std::string());
    if (trial.state() == qvr::UpdateTrial::State::PutBack) {
        // The user's start ends in the previous version's window, which says why.
        ::execv(executable.c_str(), argv);
        std::fprintf(stderr, "quavero: version %s did not work and the previous version is back, but it could "
                             "not be started (%s); start Quavero again.\n",
                     trial.version().c_str(), std::strerror(errno));
        return qvr::CquaveromfcApp::kExitNoWindow;
    }
    auto environment = qvr::AppEnvironment::fromProcess(windowLibrary());
    environment.configuration.trial = &trial;
    qvr::CquaveromfcApp app(std::move(environment));
    app.InitInstance(commandLine);
    // Any other end, the process's own or a kill, counts against a version on trial.
    if (app.exitStatus() == 0)
        trial.endAsAsked();
    return app.exitStatus();
}
