#include "app/window_platform.h"

#include "platform/paths.h"
#include "platform/unique_fd.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibrary>
#include <QLibraryInfo>
#include <QPluginLoader>

#include <sys/socket.h>
#include <sys/un.h>
#include <xcb/xcb.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace qvr {

namespace {

std::string environmentVariable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Qt finds a platform's plugin by the names that the plugin's metadata lists, not
// by its file name (wayland's is libqwayland-generic.so), in these folders. The
// metadata is read without loading the library.
bool pluginInstalled(const QString& platform)
{
    const QString platformsFolder = QStringLiteral("/platforms");
    QStringList folders;
    if (const QString direct = qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH"); !direct.isEmpty())
        folders << direct;
    for (const QString& path : qEnvironmentVariable("QT_PLUGIN_PATH").split(QDir::listSeparator(), Qt::SkipEmptyParts))
        folders << path + platformsFolder;
    folders << QLibraryInfo::path(QLibraryInfo::PluginsPath) + platformsFolder;
    if (const std::string program = modulePath(); !program.empty())
        folders << QString::fromStdString(parentFolder(program)) + platformsFolder;
    for (const QString& folder : folders) {
        const QDir dir(folder);
        for (const QString& file : dir.entryList(QDir::Files)) {
            if (!QLibrary::isLibrary(file))
                continue;
            const QJsonObject metaData = QPluginLoader(dir.filePath(file)).metaData();
            const QJsonObject ownData = metaData.value(QLatin1StringView("MetaData")).toObject();
            for (const QJsonValue key : ownData.value(QLatin1StringView("Keys")).toArray())
                if (key.toString().compare(platform, Qt::CaseInsensitive) == 0)
                    return true;
        }
    }
    return false;
}

std::optional<std::string> x11Problem(DisplayHold& hold)
{
    const std::string display = environmentVariable("DISPLAY");
    if (display.empty())
        return "the xcb platform needs DISPLAY, which is not set";
    std::shared_ptr<xcb_connection_t> connection(xcb_connect(display.c_str(), nullptr), &xcb_disconnect);
    if (xcb_connection_has_error(connection.get()))
        return "the X display " + display + " cannot be opened";
    hold = std::move(connection);
    return std::nullopt;
}

// Where libwayland-client looks for the compositor.
std::optional<std::string> waylandProblem()
{
    // A connection handed down by whoever started us cannot be tried without using it.
    if (!environmentVariable("WAYLAND_SOCKET").empty())
        return std::nullopt;
    std::string display = environmentVariable("WAYLAND_DISPLAY");
    if (display.empty())
        display = "wayland-0";
    std::string path = display;
    if (display.front() != '/') {
        const std::string runtime = environmentVariable("XDG_RUNTIME_DIR");
        if (runtime.empty())
            return "the Wayland display " + display + " cannot be found: XDG_RUNTIME_DIR is not set";
        path = runtime + "/" + display;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return "the Wayland display's path " + path + " is too long";
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket && ::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
        return std::nullopt;
    const std::string why = std::strerror(errno);
    return "the Wayland display " + display + " does not answer at " + path + ": " + why;
}

} // namespace

std::optional<std::string> chooseWindowPlatform(std::string& platform, DisplayHold& display)
{
    std::string platforms = platform.empty() ? environmentVariable("QT_QPA_PLATFORM") : platform;
    if (platforms.empty()) {
        // Under native Wayland a window can neither place itself, nor stay on top,
        // nor take the shape of its skin: an X display, even XWayland, comes first.
        if (!environmentVariable("DISPLAY").empty())
            platforms = "xcb";
        else if (!environmentVariable("WAYLAND_DISPLAY").empty())
            platforms = "wayland";
        else
            return "DISPLAY and WAYLAND_DISPLAY are not set";
        // Qt would otherwise choose by the session's type.
        platform = platforms;
    }
    // Qt tries the entries of a ";" list in turn, each a name with ":"-separated
    // arguments after it, and uses the first that opens.
    std::string problems;
    for (const QString& entry : QString::fromStdString(platforms).split(u';', Qt::SkipEmptyParts)) {
        const QStringList parts = entry.split(u':', Qt::SkipEmptyParts);
        if (parts.isEmpty())
            continue;
        const QString name = parts.first().toLower();
        std::optional<std::string> problem;
        if (!pluginInstalled(name))
            problem = "Qt's " + name.toStdString() + " platform plugin is not installed";
        else if (name == u"xcb")
            problem = x11Problem(display);
        else if (name.startsWith(u"wayland"))
            problem = waylandProblem();
        if (!problem)
            return std::nullopt;
        problems += (problems.empty() ? "" : ", and ") + *problem;
    }
    return problems.empty() ? "the platform's name is empty" : problems;
}

} // namespace qvr
