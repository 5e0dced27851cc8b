#pragma once

#include <QPointer>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <string>

namespace qvr {

class WebViews;

// A child window that shows web pages: a plain host widget with a web view filling it.
// The object stands for the window the way a handle does: it exists before the window
// and may outlive it. The window belongs to its Qt parent; when the parent (or anyone)
// destroys it, this object simply has no window any more. Before creation, after a
// failed one and after the window's end, every operation does nothing.
//
// The view comes from the web engine's views (web_view.h), given at creation.
class SimpleBrowser {
public:
    // Every browser window has this size when it is made; it may be resized later.
    static constexpr QSize kCreatedSize {384, 56};

    SimpleBrowser() = default;
    ~SimpleBrowser();
    SimpleBrowser(const SimpleBrowser&) = delete;
    SimpleBrowser& operator=(const SimpleBrowser&) = delete;

    // Makes the window as a shown child of `parent` with control ID `id` at the top-left
    // corner of `rect`, always kCreatedSize large, a view of `views` at (0, 0) filling
    // it. A window made before is destroyed first. False, and no widget anywhere,
    // without a parent.
    bool Create(const QRect& rect, QWidget* parent, int id, const WebViews& views);

    // Takes the place of the parent's control `id`: that control is deleted and the
    // window is made at its top-left corner (in the parent's coordinates) with its ID.
    // False, and the parent unchanged, when the parent has no such control.
    bool CreateInPlaceOf(QWidget* parent, int id, const WebViews& views);

    // Starts loading `url` (UTF-8); how the load ends is not reported.
    void NavigateTo(const std::string& url);

    void showWindow(bool visible);
    // In the parent's coordinates; the view follows the new size.
    void moveWindow(const QRect& rect);
    void destroyWindow();

    // Null when there is no window.
    QWidget* widget() const { return m_window; }
    QWidget* view() const { return m_view; }

private:
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_view;
    const WebViews* m_views = nullptr;
};

} // namespace qvr
