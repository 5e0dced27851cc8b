#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// The command line as the program sees it: the first argument that is not a
// switch is the file name, and the program's own switches set flags. Every other
// argument is accepted and has no effect.
class CMyCommandLineInfo {
public:
    // Called once per argument, left to right. For a switch, `param` is the text
    // after its leading "/", "-" or "--".
    void ParseParam(std::string_view param, bool bFlag, bool bLast);

    int m_bInstall = 0;
    int m_bSwitch = 0;
    bool m_bHelp = false;     // --help, -h
    bool m_bVersion = false;  // --version
    std::string m_strFileName;
};

// An argument is a switch when it starts with "-" (or "--"), or with "/" and holds
// no other "/": "/install" is a switch, "/home/me/a.qvr" a path.
bool IsSwitchArgument(std::string_view argument);

// Feeds every argument after the program name to `info`.
void ParseCommandLine(int argc, const char* const* argv, CMyCommandLineInfo& info);

// What --help prints.
std::string UsageText();

// Answers --help and --version on standard output, the version being the one in
// the executable's note at `executable`: the exit status, or nothing when the
// command line asks for neither and the program is to start.
std::optional<int> AnswerInformationSwitches(int argc, const char* const* argv, const std::string& executable);

} // namespace qvr
