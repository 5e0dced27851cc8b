#include "controls/drag_drop_list_box.h"

#include "platform/unique_fd.h"
#include "tests/support/temp_dir.h"

#include <QApplication>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

namespace qvr {
namespace {

// The window a list sits in (not as its direct parent), writing down what the list asked of it.
class Window : public QWidget, public DropTarget {
public:
    void AddRawEntry(const std::string& text) override { calls += "add " + text + "; "; }
    void StartNextDownload() override { calls += "start; "; }
    std::string calls;
};

class DropTest : public testing::Test {
protected:
    DropTest() { m_list->DragAcceptFiles(true); }

    // Drags `urls` (or text, without any) over `list` and drops them there; whether the list took the drag.
    static bool Drop(const QList<QUrl>& urls, CDragDropListBox* list)
    {
        QMimeData data;
        urls.isEmpty() ? data.setText(QStringLiteral("track=1")) : data.setUrls(urls);
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &enter);
        if (!enter.isAccepted())
            return false;
        QDropEvent drop(QPoint(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &drop);
        EXPECT_EQ(drop.dropAction(), Qt::CopyAction);
        return drop.isAccepted();
    }
    QUrl File(const std::string& name, const char* contents = nullptr)
    {
        if (contents)
            test::writeFile(m_dir.file(name), contents);
        return QUrl::fromLocalFile(QString::fromStdString(m_dir.file(name)));
    }

    test::TempDir m_dir;
    Window m_window;
    CDragDropListBox* m_list = new CDragDropListBox(new QWidget(&m_window));
};

TEST_F(DropTest, FirstLinesBecomeRequestsFromTheLastFileToTheFirstAndEveryFileStartsTheQueue)
{
    ::mkdir(m_dir.file("folder.qvr").c_str(), 0755);
    const QUrl locked = File("locked.qvr", "track=9\n");
    const UniqueFd holder(::open(m_dir.file("locked.qvr").c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_EQ(::flock(holder.get(), LOCK_EX), 0);
    ASSERT_TRUE(Drop({File("a.qvr", "track=1\r\nsecond line\r\n"), File("folder.qvr"), locked, File("empty.qvr", ""),
                      File("blank.qvr", "\nsecond\n"), File("missing.qvr"), QUrl(QStringLiteral("sftp://host/remote.qvr")),
                      File("b.qvr", "track=2\n"), File("c.qvr", "track=3")}, m_list));
    EXPECT_EQ(m_window.calls, "add track=3; start; add track=2; start; start; start; start; start; start; add track=1; start; ")
        << "c, b, missing, blank, empty, locked, folder, a; the remote address is no file";
    EXPECT_EQ(test::readFile(m_dir.file("a.qvr")), "track=1\r\nsecond line\r\n") << "left as it was";
    EXPECT_EQ(m_list->count(), 0) << "the window fills the list, not the drop";
}

TEST_F(DropTest, OnlyLocalFilesAreTakenAndOnlyByAListInAWindow)
{
    EXPECT_FALSE(Drop({QUrl(QStringLiteral("https://example.com/a.qvr"))}, m_list));
    EXPECT_FALSE(Drop({}, m_list)) << "text";
    CDragDropListBox orphan;
    orphan.DragAcceptFiles(true);
    Drop({File("a.qvr", "x\n")}, &orphan);  // no window to hand it to: nothing happens
    EXPECT_EQ(m_window.calls, "");
}

} // namespace
} // namespace qvr
