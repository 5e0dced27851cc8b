// A minimal program that carries the build's version note, standing in for the
// program's executable where tests need many copies of one. How it answers its
// probe (--probe), and any other start, the test sets in QVR_TEST_PROBE and
// QVR_TEST_START: "exit1", "crash", "hang"; else it ends at once with 0.
#include <csignal>
#include <cstdlib>
#include <cstring>

#include <unistd.h>

int main(int argc, char** argv)
{
    const bool probe = argc == 2 && std::strcmp(argv[1], "--probe") == 0;
    const char* answer = std::getenv(probe ? "QVR_TEST_PROBE" : "QVR_TEST_START");
    const auto is = [answer](const char* what) { return answer && std::strcmp(answer, what) == 0; };
    if (is("exit1"))
        return 1;
    if (is("crash"))
        std::abort();
    while (is("hang"))
        ::pause();
    return 0;
}
