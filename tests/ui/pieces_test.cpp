#include "engine/file_list.h"
#include "ui/downloaded_files.h"
#include "ui/layout.h"
#include "ui/prompts.h"

#include "tests/ui/window_fixture.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace qvr {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// A new list, or names that came or went, change only the rows that differ: the others,
// and a selection on them, stay. A name that is not valid text shows as well as it can.
TEST(DownloadedFiles, OnlyTheRowsThatDifferChange)
{
    DownloadedFilesModel model;
    model.measureWith([](std::string_view name) { return static_cast<int>(name.size()); });
    FileList given {"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
    model.show(given);
    const QPersistentModelIndex kept = model.index(2);
    const FileList next {"[x.mp3]", "b.mp3", "bb.mp3", "c.mp3", "Caf\xe9.mp3"};
    given = next;
    model.show(given);
    EXPECT_EQ(model.entries(), next);
    EXPECT_EQ(kept.row(), 3);
    EXPECT_EQ(model.index(4).data().toString(), QStringLiteral("Caf\uFFFD.mp3"));
    model.change({.gone = {"[x.mp3]", "b.mp3", "zz.mp3"}, .came = {"A longer name.mp3", "c.mp3"}});
    EXPECT_EQ(model.entries(), (FileList {"A longer name.mp3", "bb.mp3", "c.mp3", "Caf\xe9.mp3"}));
    EXPECT_EQ(kept.row(), 2);
    EXPECT_EQ(model.widestRow(), 0);
    model.change({.gone = {"A longer name.mp3"}});
    EXPECT_EQ(model.widestRow(), 2) << "the widest of those left";
    // Too many places to move rows: the list is shown anew, all the same.
    FileList many;
    for (int i = 0; i < 100; i += 3)
        many.insert(std::to_string(i) + ".mp3");
    given = many;
    model.show(given);
    EXPECT_EQ(model.entries(), many);
}

// Centred in the free area, here 1280 x 1024; a screen too small for the window keeps
// its caption buttons, at the right end of its top, on the screen.
TEST(WindowLayout, TheWindowOpensInsideTheScreenOrWithItsCaptionButtonsOnIt)
{
    const QSize window(773, 146);
    EXPECT_EQ(windowPlace(QRect(0, 0, 1280, 1024), window), QPoint(253, 439));
    EXPECT_EQ(windowPlace(QRect(100, 30, 1280, 994), window), QPoint(353, 454)) << "a panel at the left and at the top";
    EXPECT_EQ(windowPlace(QRect(0, 0, 640, 512), window), QPoint(-133, 183)) << "1280 x 1024 at scale 2";
    EXPECT_EQ(windowPlace(QRect(0, 20, 600, 100), window), QPoint(-173, 20)) << "a screen lower than the window";
}

// What the real box of `type` showing `text` answers to what the user does once it is
// open; one still open 20 s later fails the test and is closed.
int answerOfTheBox(unsigned type, const std::function<void(QMessageBox&)>& user, const std::string& text = "?")
{
    const QObject scope;
    QTimer::singleShot(0, &scope, [&] { user(*qobject_cast<QMessageBox*>(QApplication::activeModalWidget())); });
    QTimer::singleShot(20000, &scope, [] {
        ADD_FAILURE() << "the box stays open after the user's answer";
        qobject_cast<QMessageBox*>(QApplication::activeModalWidget())->done(-1);
    });
    return QtPrompts().messageBox(nullptr, text, "Caption", type);
}

// A text from outside (a title, a request, a path) is shown as it is.
TEST(MessageBox, ShowsItsTextAsPlainText)
{
    const std::string text = "  Rock &amp; Roll <b>x</b> \n\nUnable to open file";
    std::optional<std::pair<QString, Qt::TextFormat>> shown;
    answerOfTheBox(MB_OK | MB_ICONWARNING, [&](QMessageBox& box) {
        shown.emplace(box.text(), box.textFormat());
        box.button(QMessageBox::Ok)->click();
    }, text);
    EXPECT_EQ(shown, std::pair(QString::fromStdString(text), Qt::PlainText));
}

struct BoxAnswer { const char* name; unsigned type; QMessageBox::StandardButton pressed; int answer; };
class MessageBoxAnswer : public ::testing::TestWithParam<BoxAnswer> {};

TEST_P(MessageBoxAnswer, IsTheButtonPressed)
{
    const auto press = [](QMessageBox& box) { box.button(GetParam().pressed)->click(); };
    EXPECT_EQ(answerOfTheBox(GetParam().type, press), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(MessageBox, MessageBoxAnswer, ::testing::Values(
    BoxAnswer {.name = "Ok", .type = MB_OKCANCEL, .pressed = QMessageBox::Ok, .answer = IDOK},
    BoxAnswer {.name = "Yes", .type = MB_YESNO, .pressed = QMessageBox::Yes, .answer = IDYES}), test::kByName);

// Escape (and the box's close button, which Qt answers with the same button) never
// confirms: a question answers as its Cancel or No, and a box with OK alone as OK.
struct SafeAnswer { const char* name; unsigned type; int answer; };
class MessageBoxLeft : public ::testing::TestWithParam<SafeAnswer> {};

TEST_P(MessageBoxLeft, ByEscapeGivesTheSafeAnswer)
{
    EXPECT_EQ(answerOfTheBox(GetParam().type, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }), GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(MessageBox, MessageBoxLeft, ::testing::Values(
    SafeAnswer {.name = "OkCancel", .type = MB_OKCANCEL, .answer = IDCANCEL},
    SafeAnswer {.name = "YesNo", .type = MB_YESNO, .answer = IDNO},
    SafeAnswer {.name = "OkAlone", .type = MB_OK | MB_ICONWARNING, .answer = IDOK}), test::kByName);

// A notice box is not modal, says when the user closed it, and goes with its notice.
TEST(MessageBox, ANoticeBoxLeavesTheWindowToTheUser)
{
    QWidget owner;
    bool closed = false;
    std::unique_ptr<ShownNotice> notice = QtPrompts().showNotice(&owner, "Told", "Caption", [&] { closed = true; });
    const QPointer box = owner.findChild<QMessageBox*>();
    ASSERT_TRUE(box && box->isVisible() && !QApplication::activeModalWidget());
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(closed);
    notice.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !box; }));
}

class Notices : public ::testing::Test {
protected:
    QWidget m_owner;
    test::ScriptedPrompts m_scripted;
    Prompts* m_prompts = &m_scripted;
    NoticeQueue m_notices {m_prompts, m_owner};
};

// A warning that comes again while it is shown or still waiting adds no second box;
// another waits its turn.
TEST_F(Notices, AWarningPostedAgainWhileItIsShownOrWaitingShowsOnce)
{
    m_scripted.whileAsking = [&] {
        if (m_scripted.asked.size() > 1)
            return;
        m_notices.post("The folder is full", "Caption");
        m_notices.post("The store is busy", "Caption");
        m_notices.post("The store is busy", "Caption");
    };
    m_notices.post("The folder is full", "Caption");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_scripted.asked.size() >= 2; }));
    QCoreApplication::processEvents();
    ASSERT_EQ(m_scripted.asked.size(), 2u);
    EXPECT_EQ(m_scripted.asked[1].text, "The store is busy");
}

// Twenty requests refused together are one box, naming the first ten and counting the rest.
TEST_F(Notices, RequestsRefusedTogetherAreToldInOneBox)
{
    for (int request = 1; request <= 20; ++request)
        m_notices.tellRefused("track=" + std::to_string(request));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_scripted.asked.empty(); }));
    ASSERT_EQ(m_scripted.asked.size(), 1u);
    EXPECT_THAT(m_scripted.asked[0].text, AllOf(HasSubstr("\ntrack=1\ntrack=2\n"), EndsWith("\ntrack=10\n...and 10 more")));
}

// Refusals that come while a box is open wait for it to close, and then share one box.
TEST_F(Notices, RefusalsArrivingWhileABoxIsOpenJoinTheNextBox)
{
    m_scripted.whileAsking = [&] {
        if (m_scripted.asked.size() == 1) {
            m_notices.tellRefused("track=b");
            m_notices.tellRefused("track=c");
        }
    };
    m_notices.tellRefused("track=a");
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_scripted.asked.size() >= 2; }));
    EXPECT_THAT(m_scripted.asked.back().text, EndsWith("\n\ntrack=b\ntrack=c"));
}

// A request is outside text: cut short, with no control character to reshape the box.
TEST_F(Notices, ARefusedRequestIsShownAsSafeText)
{
    m_notices.tellRefused("a\x1b[2J\r\nb\u202e" + std::string(1000, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_scripted.asked.empty(); }));
    const QString shown = QString::fromStdString(m_scripted.asked[0].text).section(u'\n', 2);
    EXPECT_TRUE(shown.startsWith(u"a\ufffd[2J\ufffd\ufffdb\ufffdxxx") && shown.size() < 200) << shown.toStdString();
}

} // namespace
} // namespace qvr
