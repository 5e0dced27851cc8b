// Carries the build's version note, standing in for the program where tests need many copies of
// one. Its probe (--probe) answers as the program does, "quavero-probe quavero <its version>", unless
// QVR_TEST_PROBE says otherwise; any other start ends at once with 0, unless QVR_TEST_START says
// otherwise: "exit1", "crash", "hang", and for the probe "silent" (what /bin/true answers),
// "other-program" and "other-version".
#include "platform/exe_version.h"

#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>

#include <unistd.h>

int main(int argc, char** argv)
{
    const bool probe = argc == 2 && std::strcmp(argv[1], "--probe") == 0;
    const char* answer = std::getenv(probe ? "QVR_TEST_PROBE" : "QVR_TEST_START");
    const std::string how = answer ? answer : "";
    if (how == "crash")
        std::abort();
    while (how == "hang")
        ::pause();
    const auto version = qvr::readFileVersion("/proc/self/exe");
    if (probe && version && how != "silent" && how != "exit1")
        std::printf("quavero-probe %s %s\n", how == "other-program" ? "mediaplayer" : "quavero",
                    how == "other-version" ? "9.9.9.9" : qvr::fileVersionText(*version).c_str());
    return how == "exit1" ? 1 : 0;
}
