#include "controls/drag_drop_list_box.h"
#include "platform/unique_fd.h"

#include "tests/support/common.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <fcntl.h>
#include <sys/file.h>

namespace qvr {
namespace {

// The window a list sits in (not as its direct parent), writing down what the list asked of it.
class Window : public QWidget, public DropTarget {
public:
    void AddRawEntry(const std::string& text) override { calls += "add " + text + "; "; }
    void StartNextDownload() override { calls += "start; "; }
    std::string calls;
};

// Drags `urls` (or text, without any) over `list` and drops them there; whether the list took the drag.
bool dropUrls(const QList<QUrl>& urls, CDragDropListBox& list)
{
    QMimeData data;
    urls.isEmpty() ? data.setText(QStringLiteral("track=1")) : data.setUrls(urls);
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(list.viewport(), &drop);
    EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
    return drop.isAccepted();
}

TEST(DropList, FirstLinesOfLocalFilesBecomeRequestsFromTheLastFileToTheFirstAndEveryFileStartsTheQueue)
{
    test::TempDir dir;
    const auto file = [&](const std::string& name, const char* contents = nullptr) {
        if (contents)
            test::writeFile(dir.file(name), contents);
        return QUrl::fromLocalFile(QString::fromStdString(dir.file(name)));
    };
    Window window;
    CDragDropListBox orphan, *list = new CDragDropListBox(new QWidget(&window));
    list->DragAcceptFiles(true);
    orphan.DragAcceptFiles(true);
    ::mkdir(dir.file("folder.qvr").c_str(), 0755);
    const QUrl locked = file("locked.qvr", "track=9\n");
    const UniqueFd holder(::open(dir.file("locked.qvr").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    EXPECT_FALSE(dropUrls({QUrl(QStringLiteral("https://example.com/a.qvr"))}, *list) || dropUrls({}, *list)) << "a remote file, text";
    ASSERT_TRUE(dropUrls({file("a.qvr", "track=1\r\nsecond line\r\n"), file("folder.qvr"), locked, file("empty.qvr", ""),
                      file("blank.qvr", "\nsecond\n"), file("missing.qvr"), QUrl(QStringLiteral("sftp://host/remote.qvr")),
                      file("b.qvr", "track=2\n"), file("c.qvr", "track=3")}, *list));
    EXPECT_EQ(window.calls, "add track=3; start; add track=2; start; start; start; start; start; start; add track=1; start; ")
        << "c, b, missing, blank, empty, locked, folder, a; the remote address is no file";
    EXPECT_EQ(test::readFile(dir.file("a.qvr")), "track=1\r\nsecond line\r\n") << "left as it was";
    EXPECT_EQ(list->model(), nullptr) << "the window fills the list, not the drop";
    dropUrls({file("a.qvr")}, orphan); // no window to hand it to: nothing happens, and nothing breaks
}

} // namespace
} // namespace qvr
