#include "res/strings.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <utility>

namespace qvr {

namespace {

constexpr std::string_view kDefaultStoreHost = "store.quavero.example";

// Strings that hold the store's host get it where "{host}" stands.
constexpr std::array<std::pair<unsigned, std::string_view>, 21> kTable {{
    {IDS_UPDATE_AGENT, "AutoUpdateAgent"},
    {IDS_APP_TITLE, "Quavero"},
    {IDS_INSTANCE_MUTEX, "TUNEPULLQVR-5E2C7A19-D4B3-4F6A-9C81-2B7D0E3F6A45"},
    {IDS_REQUEST_MARKER, ".qvr"},
    {IDS_HANDOFF_MAPPING, "QVRMDL"},
    {IDS_PRODUCT_NAME, "Quavero Music Manager"},
    {IDS_REGISTRY_BASE, "SOFTWARE\\QVR"},
    {IDS_RESOLVE_GATE, "QVREntryDownload"},
    {IDS_TRACK_INFO_PATH, "/downloader/downloader_dlm.html?%s&guid=%s"},
    {IDS_STORE_HOST, "{host}"},
    {IDS_DOWNLOAD_GATE, "QVRDownload"},
    {IDS_UPDATE_QUESTION, "THIS VERSION OF THE MUSIC MANAGER IS NO LONGER FUNCTIONAL.  "
                          "PLEASE CLICK YES TO DOWNLOAD THE NEW VERSION."},
    {IDS_ABOUT_MENU, "About Quavero Music Manager..."},
    {IDS_VERSION_LIST, "index.html"},
    {IDS_STATUS_FONT, "Arial"},
    {IDS_PERCENT_FONT, "Arial"},
    {IDS_FOLDER_FONT, "Arial"},
    {IDS_RADIO_FONT, "Arial Bold"},
    {IDS_RADIO_URL, "http://{host}/radio_2/radio_dlm2.html"},
    {IDS_HOME_URL, "http://{host}/"},
    {IDS_UPDATE_FOLDER_URL, "http://{host}/downloader/app_versions/QVR_DLM/"},
}};

bool isHostChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.';
}

bool isValidPort(std::string_view port)
{
    if (port.empty() || port.size() > 5
        || !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const long value = std::strtol(std::string(port).c_str(), nullptr, 10);
    return value >= 1 && value <= 65535;
}

} // namespace

std::string_view defaultStoreHost()
{
    return kDefaultStoreHost;
}

bool isValidStoreHost(std::string_view host)
{
    std::string_view name = host;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        const auto close = host.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        const std::string_view address = host.substr(1, close - 1);
        if (!std::all_of(address.begin(), address.end(), [](char c) {
                return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
            }))
            return false;
        const std::string_view rest = host.substr(close + 1);
        if (rest.empty())
            return true;
        return rest.front() == ':' && isValidPort(rest.substr(1));
    }
    if (const auto colon = host.find(':'); colon != std::string_view::npos) {
        name = host.substr(0, colon);
        port = host.substr(colon + 1);
        if (!isValidPort(port))
            return false;
    }
    return !name.empty() && name.size() <= 253 && std::all_of(name.begin(), name.end(), isHostChar);
}

std::string loadString(unsigned id, std::string_view storeHost)
{
    const auto it = std::find_if(kTable.begin(), kTable.end(),
                                 [id](const auto& entry) { return entry.first == id; });
    if (it == kTable.end())
        return {};
    std::string text(it->second);
    constexpr std::string_view kPlaceholder = "{host}";
    if (const auto at = text.find(kPlaceholder); at != std::string::npos)
        text.replace(at, kPlaceholder.size(), storeHost);
    return text;
}

std::string loadString(unsigned id)
{
    return loadString(id, kDefaultStoreHost);
}

} // namespace qvr
