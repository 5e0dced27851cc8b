// Sanitizer defaults for programs that start Qt WebEngine: the sanitizer build of
// the program itself and the web view's tests. Options given in ASAN_OPTIONS and
// LSAN_OPTIONS still come on top. They must be in the executable, whose start reads
// them, not in the window library that it loads later. Linked into sanitizer builds only.

#include <stdlib.h>
#include <string.h>

// Qt WebEngine's own code deletes objects through a pointer to a base of another size.
// Leak checking is off where a web view runs: when the process ends while Chromium's
// threads are still winding down, LeakSanitizer's own thread stopper crashes now and
// then (about one run in a dozen here), which would make the tests fail at random.
// On the offscreen platform the program's window goes without its web view
// (app/gui_entry.cpp), so the program's leaks are checked there.
extern "C" __attribute__((visibility("default"), used)) const char* __asan_default_options()
{
    const char* platform = ::getenv("QT_QPA_PLATFORM");
    if (platform && ::strcmp(platform, "offscreen") == 0)
        return "new_delete_type_mismatch=0";
    return "new_delete_type_mismatch=0:detect_leaks=0";
}

// For a run with detect_leaks=1: allocations kept until the process ends by the
// libraries that a web view on a real display brings in; none of their stacks holds
// a frame of ours.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions()
{
    return "leak:libQt6WebEngineCore\n"
           "leak:libdbus-1.so\n"    // the accessibility bus connection
           "leak:libfontconfig.so\n" // font caches
           // Two small blocks allocated from code outside every library still loaded at
           // the end: the report names the library mapped just before that code, the
           // sanitizer runtime, at an offset past its end.
           "leak:libubsan.so\n";
}
