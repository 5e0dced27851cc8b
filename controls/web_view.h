#pragma once

class QString;
class QWidget;

namespace qvr {

// The web engine as the window sees it. Qt WebEngine costs a start more than the rest
// of the window together, so everything that links it lives in a library of its own,
// carried inside the window library and loaded only when a page is to be shown; this
// is all the window knows of it. Window's thread only.
class WebViews {
public:
    // A web view as a child of `parent`, shown with it. It takes keyboard focus only
    // when it is clicked, never on its own nor when a page loads, and never opens the
    // page's context menu. Its page opens no window or dialog, starts no program and
    // asks the user nothing: each of its questions gets the answer of a user who says
    // no at once. It belongs to its parent.
    virtual QWidget* create(QWidget* parent) const = 0;
    // Starts loading `url` in a view that create() made; how the load ends is not
    // reported.
    virtual void load(QWidget* view, const QString& url) const = 0;

protected:
    ~WebViews() = default;
};

constexpr const char* kWebLibraryName = "quavero-web";
constexpr const char* kWebEntryName = "qvr_web_views";

// The web library's one export: its views, which live as long as the process.
using WebEntry = const WebViews* (*)();

// The views of Qt WebEngine, defined in the web library only (and in what links it
// directly, its tests).
const WebViews& qtWebEngineViews();

} // namespace qvr
