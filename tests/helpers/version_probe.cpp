// Carries the build's version note, standing in for the program where tests need many copies of
// one. Its probe (--probe) answers as QVR_TEST_PROBE says, any other start as QVR_TEST_START:
// "exit1", "crash", "hang"; else it ends at once with 0.
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

int main(int argc, char** argv)
{
    const char* answer = std::getenv(argc == 2 && std::strcmp(argv[1], "--probe") == 0 ? "QVR_TEST_PROBE" : "QVR_TEST_START");
    const std::string how = answer ? answer : "";
    if (how == "crash")
        std::abort();
    while (how == "hang")
        ::pause();
    return how == "exit1" ? 1 : 0;
}
