#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace qvr::test {

// Waits until `condition` holds, looking again whenever something changes in
// `folder` (or below it), for at most `limit`. For conditions that other processes
// make true through files, which they normally do within a second or so.
bool waitForFiles(const std::string& folder, const std::function<bool()>& condition,
                  std::chrono::milliseconds limit = std::chrono::seconds(30));

} // namespace qvr::test
