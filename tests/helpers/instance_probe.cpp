// Test helper: one process that joins the named mutex of a folder the moment its
// standard input ends, says whether it found another holder ("alone", "other" or
// "error") and then holds the mutex open until it is killed. With a second
// argument "lock" it also owns the mutex before it answers.
#include "platform/named_mutex.h"

#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3)
        return 2;
    char byte;
    while (::read(STDIN_FILENO, &byte, 1) > 0) {
    }
    auto mutex = qvr::NamedMutex::create(argv[1], "probe-mutex");
    if (mutex && argc == 3 && !mutex->lock())
        mutex.reset();
    std::printf("%s\n", !mutex ? "error" : mutex->alreadyExisted() ? "other" : "alone");
    std::fflush(stdout);
    for (;;)
        ::pause();
}
