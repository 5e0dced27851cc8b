#pragma once

#include <string>

namespace qvr {

// The program-wide strings the application object holds: the settings, and the
// request that came with this start. The main window reads them and writes only
// the download folder.
struct ApplicationStrings {
    std::string m_strDirectory;
    std::string m_strDownloadQueuePath;
    std::string m_strRawQueuePath;
    std::string m_strDownloadFolder;
    std::string m_strInstallationId;
    std::string m_strRequest;
};

} // namespace qvr
