// Built into every test program of the ThreadSanitizer build, so that a test run by
// hand finds the same suppressions as one run by CTest; TSAN_OPTIONS still comes on top.
extern "C" __attribute__((visibility("default"), used)) const char* __tsan_default_options()
{
    return "suppressions=" QVR_TSAN_SUPPRESSIONS;
}
