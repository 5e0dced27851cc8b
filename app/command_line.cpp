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

// The switches that parseParam takes.
bool isOwnSwitch(std::string_view name)
{
    return equalsIgnoringCase(name, "install") || equalsIgnoringCase(name, "switch") || name == "help" || name == "h"
        || name == "version" || name == "probe";
}

// Where the value of one of Qt's options that the program takes goes, as Qt reads
// them: the name exactly, the value in the next argument.
std::string* qtOptionValue(CMyCommandLineInfo& info, std::string_view name)
{
    if (name == "platform")
        return &info.m_platform;
    if (name == "session")
        return &info.m_session;
    return nullptr;
}

} // namespace

void CMyCommandLineInfo::parseParam(std::string_view param, bool bFlag, bool /*bLast*/)
{
    if (bFlag && equalsIgnoringCase(param, "install")) {
        m_bInstall = 1;
    } else if (bFlag && equalsIgnoringCase(param, "switch")) {
        m_bSwitch = 1;
    } else if (bFlag && (param == "help" || param == "h")) {
        m_help = true;
    } else if (bFlag && param == "version") {
        m_version = true;
    } else if (bFlag && param == "probe") {
        m_probe = true;
    } else if (!bFlag && m_fileName.empty()) {
        m_fileName = param;
    }
}

bool isSwitchArgument(std::string_view argument)
{
    if (argument.starts_with('-'))
        return true;
    return argument.starts_with('/') && argument.find('/', 1) == std::string_view::npos;
}

void parseCommandLine(int argc, const char* const* argv, CMyCommandLineInfo& info)
{
    const auto refuse = [&info](std::string why) {
        if (info.m_usageError.empty())
            info.m_usageError = std::move(why);
    };
    if (argc > 0 && argv[0])
        info.m_programName = argv[0];
    bool switches = true;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (switches && argument == "--") {
            switches = false;
            continue;
        }
        const bool isSwitch = switches && isSwitchArgument(argument);
        // A mistyped option would otherwise start the program as if it were not there,
        // and its value would become the request file.
        if (isSwitch && argument.starts_with('-')) {
            if (std::string* value = qtOptionValue(info, switchText(argument))) {
                if (i + 1 < argc)
                    *value = argv[++i];
                else
                    refuse("option " + std::string(argument) + " needs a value");
                continue;
            }
            if (!isOwnSwitch(switchText(argument))) {
                refuse("unknown option " + std::string(argument));
                continue;
            }
        }
        info.parseParam(isSwitch ? switchText(argument) : argument, isSwitch, i == argc - 1);
    }
    // What an update runs on a new version before it trusts it; it starts nothing.
    if (info.m_probe && argc > 2)
        refuse("--probe takes no other argument");
}

std::string usageText()
{
    return "Usage: quavero [-platform NAME] [--] [REQUEST.qvr]\n"
           "       quavero /install\n"
           "       quavero /switch [REQUEST.qvr]\n"
           "       quavero --help | --version | --probe\n"
           "\n"
           "Downloads the tracks bought in the store. A request file (.qvr) joins the queue of\n"
           "the running window, or starts one. Switches start with /, - or --.\n"
           "\n"
           "  /install        give this installation its identifier, and end\n"
           "  /switch         make the running window quit, and take over from it\n"
           "  -platform NAME  Qt's platform for the window, in place of QT_QPA_PLATFORM\n"
           "  -session ID     the session a session manager restores the window in\n"
           "  --              what follows is the request file, even when it starts with -\n"
           "  --help          show this text\n"
           "  --version       show the program's version\n"
           "  --probe         check that this program can open its window part, and end\n"
           "\n"
           "Environment:\n"
           "  QVR_REGISTRY     the settings file (default ${XDG_CONFIG_HOME:-~/.config}/quavero/registry.reg)\n"
           "  QVR_STORE_HOST   the store's host or host:port, in place of the built-in one\n"
           "  QVR_LOG          1: one line on stderr for each failure, saying why and what comes next\n"
           "  DISPLAY          the X display of the window, also under Wayland, when no platform is named\n"
           "  WAYLAND_DISPLAY  the Wayland display of the window, without DISPLAY\n"
           "  QT_QPA_PLATFORM  Qt's platform for the window\n"
           "  XDG_DATA_HOME    where a new settings file puts the queue files (default ~/.local/share)\n"
           "  XDG_RUNTIME_DIR  where running instances meet (default /tmp/quavero-<uid>)\n"
           "  XDG_CACHE_HOME   where a declined version is noted (default ~/.cache)\n"
           "\n"
           "Exit status: 0 done; 1 the request was not handed to the running window; 2 no\n"
           "window could open; 3 a worker did not stop; 4 --probe found the program cannot\n"
           "run; 64 a command line it does not take.\n";
}

std::optional<int> answerInformationSwitches(const CMyCommandLineInfo& info, const std::string& executable)
{
    if (!info.m_usageError.empty()) {
        std::fprintf(stderr, "quavero: %s\n%s", info.m_usageError.c_str(), usageText().c_str());
        return kExitUsage;
    }
    if (info.m_help) {
        std::fputs(usageText().c_str(), stdout);
        return 0;
    }
    if (!info.m_version)
        return std::nullopt;
    const auto version = readFileVersion(executable);
    if (!version) {
        std::fprintf(stderr, "quavero: %s carries no version\n", executable.c_str());
        return 1;
    }
    std::printf("quavero %u.%u.%u.%u\n", (*version)[0], (*version)[1], (*version)[2], (*version)[3]);
    return 0;
}

} // namespace qvr
