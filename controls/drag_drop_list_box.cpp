#include "controls/drag_drop_list_box.h"

#include "platform/exclusive_file.h"

#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <vector>

namespace qvr {

namespace {

// The dropped local files, in the order of the drop. Remote addresses (sftp:// and
// the like) are no files of ours; desktop mounts of them arrive as local paths.
std::vector<std::string> localPaths(const QMimeData* data)
{
    std::vector<std::string> paths;
    if (!data || !data->hasUrls())
        return paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile())
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
    }
    return paths;
}

// The local files a drag brings; the drag is taken as a copy when there are any
// and refused otherwise.
template <class Event>
std::vector<std::string> acceptLocalFiles(Event* event)
{
    std::vector<std::string> paths = localPaths(event->mimeData());
    if (paths.empty()) {
        event->ignore();
    } else {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
    return paths;
}

} // namespace

CDragDropListBox::CDragDropListBox(QWidget* parent) : CListView(parent)
{
    // As a list box: one row selected at most, none edited.
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDropIndicatorShown(false);
    DragAcceptFiles(false);
}

void CDragDropListBox::DragAcceptFiles(bool accept)
{
    setAcceptDrops(accept);
    viewport()->setAcceptDrops(accept);
}

void CDragDropListBox::dragEnterEvent(QDragEnterEvent* event)
{
    acceptLocalFiles(event);
}

void CDragDropListBox::dragMoveEvent(QDragMoveEvent* event)
{
    acceptLocalFiles(event);
}

void CDragDropListBox::dropEvent(QDropEvent* event)
{
    const std::vector<std::string> paths = acceptLocalFiles(event);
    DropTarget* target = findDropTarget();
    if (paths.empty() || !target)
        return;
    // Last to first; a folder, a missing file, a file someone else holds locked or
    // an empty first line gives no request, but the queue is still looked at.
    for (auto path = paths.rbegin(); path != paths.rend(); ++path) {
        const auto line = readFirstLineExclusive(*path, kMaxLineBytes);
        if (line && !line->empty())
            target->AddRawEntry(*line);
        target->StartNextDownload();
    }
}

DropTarget* CDragDropListBox::findDropTarget() const
{
    for (QWidget* widget = parentWidget(); widget; widget = widget->parentWidget()) {
        if (auto* target = dynamic_cast<DropTarget*>(widget))
            return target;
    }
    return nullptr;
}

} // namespace qvr
