#pragma once

#include <string>
#include <vector>

namespace qvr {

// Starts `program` with `args` as a process of its own session that does not wait
// for us and is not ended with us. It gets none of our descriptors beyond the
// standard three (every one we open is close-on-exec), default signal handling and
// an empty signal mask. False when it could not be started.
bool StartDetached(const std::string& program, const std::vector<std::string>& args);

} // namespace qvr
