#include "engine/file_list.h"
#include "engine/store_request.h"
#include "ui/downloaded_files.h"
#include "ui/layout.h"
#include "ui/prompts.h"

#include "tests/support/common.h"
#include "tests/ui/window_fixture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace qvr {
namespace {

using ::testing::AllOf;
using ::testing::EndsWith;
using ::testing::HasSubstr;

// Track-info answers and download addresses are the fuzz targets' (tests/fuzz).
TEST(StoreAddresses, RequestTextIsEncodedOnlyWhereAQueryMustBe)
{
    EXPECT_EQ(encodeRequestText("track=1&x=%41"), "track=1&x=%41");
    EXPECT_EQ(encodeRequestText("a b\"<>\\^`{|}#\x01\x7f\xc3\xa9"),
              "a%20b%22%3C%3E%5C%5E%60%7B%7C%7D%23%01%7F%C3%A9");
    EXPECT_EQ(formatStrings("/p?%s&guid=%s", {"a%sb", "ID"}), "/p?a%sb&guid=ID");

    // The installation id joins the query, never a fragment that is not sent.
    EXPECT_EQ(trackFileRequestUrl("http://h/t?x=1", "ID"), "http://h/t?x=1&guid=ID");
    EXPECT_EQ(trackFileRequestUrl("http://h/t?x=1#f#g", "ID"), "http://h/t?x=1&guid=ID#f#g");
    EXPECT_FALSE(trackFileRequestUrl("file:///t?x=1", "ID"));
}

// A figure past 64 bits is refused, never read as a smaller one.
TEST(StoreAddresses, LengthAndRangeHeadersReadTheirDigitsUpTo64Bits)
{
    using Number = std::optional<std::uint64_t>;
    const std::string max = "18446744073709551615", over = "18446744073709551616";
    // The value, and what it gives as a Content-Length, a range's start and an unsatisfied range's size.
    const std::tuple<std::string, std::uint64_t, Number, Number> cases[] = {
        {" \t+0012", 12, {}, {}},
        {"-5", 0, {}, {}},
        {max + "x", UINT64_MAX, {}, {}},
        {over, 0, {}, {}},
        {"  bytes 5-9/10", 0, 5, {}},
        {"bytes " + max + "-1/2", 0, UINT64_MAX, {}},
        {"bytes " + over + "-1/2", 0, {}, {}},
        {"bytes 5/10", 0, {}, {}},
        {"bytes */0200", 0, {}, 200},
        {"bytes */200 ", 0, {}, {}},
        {"bytes */" + over, 0, {}, {}},
    };
    for (const auto& [value, length, start, unsatisfied] : cases) {
        EXPECT_EQ(std::tuple(parseContentLength(value), contentRangeStart(value), unsatisfiedRangeSize(value)),
                  std::tuple(length, start, unsatisfied)) << value;
    }
}

// A body longer than its announced length gives large figures, never a wrapped one.
TEST(StoreAddresses, PercentOfAnyFigures)
{
    const std::tuple<std::uint64_t, std::uint64_t, int> cases[] = {
        {5000, 10000, 50}, {9999, 10000, 99}, {7, 0, 0}, {3000000000ull, 6000000000ull, 50},
        {10001, 10000, 100}, {UINT64_MAX, 1, INT32_MAX}, {1, UINT64_MAX, 0}};
    for (const auto& [done, total, percent] : cases)
        EXPECT_EQ(percentOf(done, total), percent) << done << " of " << total;
}

// A new list changes only the rows that differ: the others, and a selection on them,
// stay; and so do they when names come and go. A name that is not valid text shows
// as well as it can.
TEST(DownloadedFiles, ANewListOrNamesThatComeAndGoChangeOnlyTheirRows)
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

TEST(WindowLayout, TheWindowOpensInsideTheScreenOrWithItsCaptionButtonsOnIt)
{
    const std::pair<QRect, QPoint> cases[] = {
        {QRect(0, 0, 1280, 1024), QPoint(253, 439)},
        {QRect(100, 30, 1280, 994), QPoint(353, 454)},  // a panel at the left and at the top
        {QRect(0, 0, 640, 512), QPoint(-133, 183)},     // 1280 x 1024 at scale 2: the right end stays
        {QRect(0, 20, 600, 100), QPoint(-173, 20)},     // and the top
    };
    for (const auto& [available, expected] : cases)
        EXPECT_EQ(windowPlace(available, QSize(773, 146)), expected) << available.width() << " x " << available.height();
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

// The real box: a text from outside (a title, a request, a path) shown as it is, and
// the answer of the button the user pressed.
TEST(MessageBox, ShowsItsTextAsPlainTextAndAnswersWithTheButtonPressed)
{
    const std::string text = "  Rock &amp; Roll <b>x</b> \n\nUnable to open file";
    const std::tuple<unsigned, QMessageBox::StandardButton, int> cases[] = {
        {MB_OKCANCEL, QMessageBox::Ok, IDOK},   {MB_OKCANCEL, QMessageBox::Cancel, IDCANCEL},
        {MB_YESNO, QMessageBox::Yes, IDYES},    {MB_YESNO, QMessageBox::No, IDNO},
        {MB_OK | MB_ICONWARNING, QMessageBox::Ok, IDOK},
    };
    for (const auto& [type, pressed, answer] : cases) {
        SCOPED_TRACE(pressed);
        std::optional<std::pair<QString, Qt::TextFormat>> shown;
        const auto press = [&](QMessageBox& box) {
            shown.emplace(box.text(), box.textFormat());
            box.button(pressed)->click();
        };
        EXPECT_EQ(answerOfTheBox(type, press, text), answer);
        ASSERT_TRUE(shown);
        EXPECT_EQ(shown->first.toStdString(), text);
        EXPECT_EQ(shown->second, Qt::PlainText);
    }
}

// Escape, or the box's close button, never confirms: a question answers as its Cancel
// or No, and a box with OK alone as OK.
TEST(MessageBox, EscapeOrClosingAnswersAsCancelOrNo)
{
    const std::pair<unsigned, int> cases[] = {{MB_OKCANCEL, IDCANCEL}, {MB_YESNO, IDNO}, {MB_OK | MB_ICONWARNING, IDOK}};
    for (const auto& [type, answer] : cases) {
        SCOPED_TRACE(type);
        EXPECT_EQ(answerOfTheBox(type, [](QMessageBox& box) { QTest::keyClick(&box, Qt::Key_Escape); }), answer) << "Escape";
        EXPECT_EQ(answerOfTheBox(type, [](QMessageBox& box) { box.close(); }), answer) << "closed";
    }
}

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
TEST_F(Notices, ARefusedRequestIsShownCutAndWithoutControlCharacters)
{
    m_notices.tellRefused("a\x1b[2J\r\nb\u202e" + std::string(1000, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !m_scripted.asked.empty(); }));
    const QString shown = QString::fromStdString(m_scripted.asked[0].text).section(u'\n', 2);
    EXPECT_TRUE(shown.startsWith(u"a\ufffd[2J\ufffd\ufffdb\ufffdxxx") && shown.size() < 200) << shown.toStdString();
}

} // namespace
} // namespace qvr
