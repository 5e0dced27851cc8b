// The window part of quavero-misbehaving: the program's own start (app/main.cpp) with
// this entry in place of the window library's, for the crash test's update road. It
// runs the real window library as QVR_TEST_MISBEHAVE says: "crash" dies of SIGSEGV
// at once; "exit1" ends with status 1 and "hang" stops itself 5 s into the window's
// run. The probe finds this entry as it finds the real one.
#include "app/gui_entry.h"

#include <dlfcn.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <string>
#include <thread>

extern "C" __attribute__((visibility("default"))) int qvr_run_gui(const qvr::Configuration* configuration,
                                                                 const qvr::CMyCommandLineInfo* commandLine,
                                                                 std::string* noDisplay)
{
    const char* how = std::getenv("QVR_TEST_MISBEHAVE");
    const std::string misbehaviour = how ? how : "";
    if (misbehaviour == "crash")
        std::raise(SIGSEGV);
    if (misbehaviour == "exit1" || misbehaviour == "hang")
        std::thread([hang = misbehaviour == "hang"] {
            std::this_thread::sleep_for(std::chrono::seconds(5));
            if (hang)
                std::raise(SIGSTOP);
            ::_exit(1);
        }).detach();
    void* window = ::dlopen(QVR_REAL_GUI_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    const auto entry = window ? reinterpret_cast<qvr::GuiEntry>(::dlsym(window, qvr::kGuiEntryName)) : nullptr;
    return entry ? entry(configuration, commandLine, noDisplay) : 2;
}
