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

class DropList : public testing::Test {
protected:
    DropList() { m_list->DragAcceptFiles(true); }
    QUrl file(const std::string& name, const char* contents = nullptr)
    {
        if (contents)
            test::writeFile(m_dir.file(name), contents);
        return QUrl::fromLocalFile(QString::fromStdString(m_dir.file(name)));
    }
    test::TempDir m_dir;
    Window m_window;
    CDragDropListBox* m_list = new CDragDropListBox(new QWidget(&m_window));
};

TEST_F(DropList, TakesOnlyLocalFiles)
{
    EXPECT_FALSE(dropUrls({QUrl(QStringLiteral("https://example.com/a.qvr"))}, *m_list)) << "a remote file";
    EXPECT_FALSE(dropUrls({}, *m_list)) << "text";
}

// A file that cannot be read, or whose first line is empty, only starts the queue; the
// remote address in the drop is no file.
TEST_F(DropList, HandsOnTheFirstLineOfEachFileFromTheLastToTheFirst)
{
    ::mkdir(m_dir.file("folder.qvr").c_str(), 0755);
    const QUrl locked = file("locked.qvr", "track=9\n");
    const UniqueFd holder(::open(m_dir.file("locked.qvr").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    ASSERT_TRUE(dropUrls({file("a.qvr", "track=1\r\nsecond line\r\n"), file("folder.qvr"), locked, file("empty.qvr", ""),
                          file("blank.qvr", "\nsecond\n"), file("missing.qvr"), QUrl(QStringLiteral("sftp://host/remote.qvr")),
                          file("b.qvr", "track=2\n"), file("c.qvr", "track=3")}, *m_list));
    EXPECT_EQ(m_window.calls, "add track=3; start; add track=2; start; start; start; start; start; start; add track=1; start; ")
        << "c, b, missing, blank, empty, locked, folder, a";
    EXPECT_EQ(test::readFile(m_dir.file("a.qvr")), "track=1\r\nsecond line\r\n") << "left as it was";
    EXPECT_EQ(m_list->model(), nullptr) << "the window fills the list, not the drop";
    CDragDropListBox orphan;
    orphan.DragAcceptFiles(true);
    dropUrls({file("a.qvr")}, orphan); // no window to hand it to: nothing happens, and nothing breaks
}

} // namespace
} // namespace qvr
