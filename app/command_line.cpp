#include "app/command_line.h"

#include "platform/text.h"

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

} // namespace qvr
