#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qvr {

// The process's exit status for a command line it does not take (EX_USAGE of
// sysexits.h): an option that is not one of its own, or one without its value.
constexpr int kExitUsage = 64;

// The command line as the program sees it: the first argument that is not a
// switch is the file name, and the program's own switches set flags. A switch that
// starts with "-" and is not one of them makes the command line one the program
// does not take; other "/" switches (the ones a Windows shell adds) have no effect.
// After "--" every argument is a path. Parsed once, at the start of main, and handed
// down as it is: to the start-up, and across to the window library.
class CMyCommandLineInfo {
public:
    // Called once per argument, left to right. For a switch, `param` is the text
    // after its leading "/", "-" or "--".
    void parseParam(std::string_view param, bool bFlag, bool bLast);

    // The name the program was started by (argv[0]), which Qt is given as its own.
    std::string m_programName;
    int m_bInstall = 0;
    int m_bSwitch = 0;
    bool m_help = false;     // --help, -h
    bool m_version = false;  // --version
    bool m_probe = false;    // --probe
    std::string m_fileName;
    // Qt's options that the program passes on: -platform NAME and -session ID, which a
    // session manager gives when it restores the window.
    std::string m_platform;
    std::string m_session;
    // Why the program does not take this command line, in a few words; empty when it does.
    std::string m_usageError;
};

// An argument is a switch when it starts with "-" (or "--"), or with "/" and holds
// no other "/": "/install" is a switch, "/home/me/a.qvr" a path.
bool isSwitchArgument(std::string_view argument);

// Feeds every argument after the program name to `info`, and keeps the program name.
void parseCommandLine(int argc, const char* const* argv, CMyCommandLineInfo& info);

// What --help prints.
std::string usageText();

// Answers a command line the program does not take with the usage on standard
// error, and --help and --version on standard output, the version being the one in
// the executable's note at `executable`: the exit status, or nothing when the
// command line asks for none of them and the program is to start.
std::optional<int> answerInformationSwitches(const CMyCommandLineInfo& info, const std::string& executable);

} // namespace qvr
