#pragma once

#include "controls/list_box.h"

#include <cstddef>
#include <string>

namespace qvr {

// What the queue list hands dropped request files to: the window that holds it.
class DropTarget {
public:
    // One request, the first line of a dropped file.
    virtual void AddRawEntry(const std::string& text) = 0;
    virtual void StartNextDownload() = 0;

protected:
    ~DropTarget() = default;
};

// A list that takes request files dropped from the desktop: the first line of each
// becomes a request of the nearest enclosing DropTarget, found at every drop. It
// shows a model of its owner's.
class CDragDropListBox : public CListView {
    Q_OBJECT
public:
    explicit CDragDropListBox(QWidget* parent = nullptr);

    // Drops are refused until this is switched on.
    void DragAcceptFiles(bool accept);

    // Longer first lines are not requests.
    static constexpr std::size_t kMaxLineBytes = 64 * 1024;

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    DropTarget* findDropTarget() const;
};

} // namespace qvr
