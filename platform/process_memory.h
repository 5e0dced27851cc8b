#pragma once

#include <cstdint>
#include <sys/types.h>

namespace qvr {

// The memory in use, in bytes, of the process `pid`: its resident set. 0 when it
// cannot be read (the process has ended, say).
std::uint64_t residentBytes(pid_t pid);

// The resident sets of every process below `pid` (its children, theirs, ...)
// together: what the helper processes it started use.
std::uint64_t descendantsResidentBytes(pid_t pid);

} // namespace qvr
