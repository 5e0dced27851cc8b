#include "app/command_line.h"

#include "platform/exe_version.h"
#include "platform/text.h"

#include <cstdio>

namespace qvr {

namespace {

std::string_view switchText(std::string_view argument)
{
    if (argument.starts_with("--"))
        return argument.substr(2);
    return argument.substr(1);
}

} // namespace

void CMyCommandLineInfo::ParseParam(std::string_view param, bool bFlag, bool /*bLast*/)
{
    if (bFlag && EqualsIgnoringCase(param, "install")) {
        m_bInstall = 1;
    } else if (bFlag && EqualsIgnoringCase(param, "switch")) {
        m_bSwitch = 1;
    } else if (bFlag && (param == "help" || param == "h")) {
        m_bHelp = true;
    } else if (bFlag && param == "version") {
        m_bVersion = true;
    } else if (!bFlag && m_strFileName.empty()) {
        m_strFileName = param;
    }
}

bool IsSwitchArgument(std::string_view argument)
{
    if (argument.starts_with('-'))
        return true;
    return argument.starts_with('/') && argument.find('/', 1) == std::string_view::npos;
}

void ParseCommandLine(int argc, const char* const* argv, CMyCommandLineInfo& info)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool isSwitch = IsSwitchArgument(argument);
        info.ParseParam(isSwitch ? switchText(argument) : argument, isSwitch, i == argc - 1);
    }
}

std::string UsageText()
{
    return "Usage: quavero [REQUEST.qvr]\n"
           "       quavero /install\n"
           "       quavero /switch [REQUEST.qvr]\n"
           "\n"
           "Downloads the tracks bought in the store. A request file (.qvr) joins the queue of\n"
           "the running window, or starts one.\n"
           "\n"
           "  /install     give this installation its identifier, and end\n"
           "  /switch      make the running window quit, and take over from it\n"
           "  --help       show this text\n"
           "  --version    show the program's version\n"
           "\n"
           "Environment:\n"
           "  QVR_REGISTRY     the settings file (default ${XDG_CONFIG_HOME:-~/.config}/quavero/registry.reg)\n"
           "  QVR_STORE_HOST   the store's host or host:port, in place of the built-in one\n"
           "  QVR_LOG          1: one line on stderr for each failure, saying why and what comes next\n"
           "  XDG_RUNTIME_DIR  where running instances meet (default /tmp/quavero-<uid>)\n"
           "  XDG_CACHE_HOME   where a declined version is noted (default ~/.cache)\n"
           "  TMPDIR           where a new version is downloaded (default /tmp)\n";
}

std::optional<int> AnswerInformationSwitches(int argc, const char* const* argv, const std::string& executable)
{
    CMyCommandLineInfo info;
    ParseCommandLine(argc, argv, info);
    if (info.m_bHelp) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (!info.m_bVersion)
        return std::nullopt;
    const auto version = ReadFileVersion(executable);
    if (!version) {
        std::fprintf(stderr, "quavero: %s carries no version\n", executable.c_str());
        return 1;
    }
    std::printf("quavero %u.%u.%u.%u\n", (*version)[0], (*version)[1], (*version)[2], (*version)[3]);
    return 0;
}

} // namespace qvr
