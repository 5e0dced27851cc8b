#pragma once

#include "tests/support/temp_dir.h"

#include <string>

namespace qvr::test {

// A hive file as the installer writes it, with what a test puts in each key. An
// empty text leaves its key out.
inline std::string makeHive(const std::string& base, const std::string& client,
                            const std::string& queue)
{
    std::string text = "REGEDIT4\r\n\r\n";
    if (!base.empty())
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR]\r\n" + base + "\r\n";
    if (!client.empty())
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Client]\r\n" + client + "\r\n";
    if (!queue.empty())
        text += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\QVR\\Queue]\r\n" + queue + "\r\n";
    return text;
}

} // namespace qvr::test
