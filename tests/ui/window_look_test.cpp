// The window's look, its menu and its keyboard, on the offscreen platform (where the
// window goes without its browser and cannot be shaped). The skin, the buttons'
// pictures, the size and the place are the real window test's, on the screen.
#include "controls/color_static.h"
#include "engine/status_texts.h"
#include "res/images.h"
#include "ui/layout.h"

#include "tests/ui/window_fixture.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QFontInfo>
#include <QMenu>
#include <QTextDocumentFragment>

namespace qvr::test {
namespace {

using ::testing::Contains;
using ::testing::ElementsAre;

// What a screen reader reads as the name of `widget`.
std::string nameRead(QWidget* widget)
{
    QAccessibleInterface* accessible = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
    return accessible ? accessible->text(QAccessible::Name).toStdString() : "(nothing)";
}

// What a screen reader finds among the window's parts: the names of those of `role`.
std::vector<std::string> namesRead(QWidget* window, QAccessible::Role role)
{
    std::vector<std::string> names;
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(window);
    for (int i = 0; i < tree->childCount(); ++i)
        if (tree->child(i)->role() == role)
            names.push_back(tree->child(i)->text(QAccessible::Name).toStdString());
    return names;
}

// A text of the window: its font's pixel size and weight, and its colours. Arial is
// found through fontconfig as Liberation Sans.
struct TextLook {
    const char* name;
    int id;
    int pixelSize;
    bool bold = false;
    QColor text = QColor(255, 102, 0), back = Qt::white;
};
class WindowTextLook : public WindowTest, public ::testing::WithParamInterface<TextLook> {};

TEST_P(WindowTextLook, MatchesTheSkin)
{
    openWindow();
    const auto* text = m_window->controlAs<CColorStaticST>(GetParam().id);
    const QFontInfo font(text->font());
    EXPECT_EQ(font.family(), QStringLiteral("Liberation Sans"));
    EXPECT_EQ(font.pixelSize(), GetParam().pixelSize);
    EXPECT_EQ(font.bold(), GetParam().bold);
    EXPECT_EQ(text->foreColor(), GetParam().text);
    EXPECT_EQ(text->backColor(), GetParam().back);
}

INSTANTIATE_TEST_SUITE_P(WindowTest, WindowTextLook, ::testing::Values(
    TextLook {.name = "Status", .id = IDC_STATUS_TEXT, .pixelSize = 15},
    TextLook {.name = "Percentage", .id = IDC_PERCENT_TEXT, .pixelSize = 15},
    TextLook {.name = "Folder", .id = IDC_FOLDER_TEXT, .pixelSize = 11, .text = Qt::black, .back = QColor(254, 226, 207)},
    TextLook {.name = "RadioPrompt", .id = IDC_RADIO_LABEL, .pixelSize = 19, .bold = true}), kByName);

// The label cuts the folder short: its tip (as text) and a screen reader give it whole.
TEST_F(WindowTest, TheFolderItsLabelCutsShortIsGivenWhole)
{
    m_config.strings.m_strDownloadFolder = m_dir.file("a <i>folder</i> with a long name");
    ::mkdir(m_config.strings.m_strDownloadFolder.c_str(), 0755);
    openWindow();
    EXPECT_EQ(QTextDocumentFragment::fromHtml(m_window->control(IDC_FOLDER_TEXT)->toolTip()).toPlainText().toStdString(),
              m_config.strings.m_strDownloadFolder);
    EXPECT_THAT(namesRead(m_window.get(), QAccessible::StaticText), Contains(m_config.strings.m_strDownloadFolder));
}

// Its picture (189.bmp, 2 x 10) side by side, 125 pixels wide at 100 percent.
TEST_F(WindowTest, TheProgressBarTilesItsPictureAsWideAsThePercentageSays)
{
    openWindow();
    QWidget* bar = m_window->control(IDC_PROGRESS_BAR);
    EXPECT_EQ(bar->width(), 0);
    sendMessage(m_window->messageSink(), msg::DownloadProgress {50});
    EXPECT_EQ(bar->width(), 62);
    const QImage tile(QStringLiteral(QVR_IMAGES "/189.bmp"));
    const QImage shown = bar->grab().toImage();
    for (int x = 0; x < shown.width(); ++x)
        for (int y = 0; y < shown.height(); ++y)
            ASSERT_EQ(shown.pixel(x, y), tile.pixel(x % tile.width(), y)) << x << ", " << y;
}

// The About box the menu opens is the real window test's; Alt+Space, the test below.
// A status cut to "...oad Folder Una" says nothing: every one the window can show fits
// its box whole.
TEST_F(WindowTest, EveryStatusTextFitsItsBox)
{
    openWindow();
    const auto* status = m_window->controlAs<QLabel>(IDC_STATUS_TEXT);
    for (const char* text : kStatusTexts)
        EXPECT_LE(status->fontMetrics().horizontalAdvance(QString::fromUtf8(text)), status->contentsRect().width())
            << text;
}

TEST_F(WindowTest, TheMenuOnTheSkinOffersTheWindowsCommands)
{
    openWindow();
    const auto popup = [] { return qobject_cast<QMenu*>(QApplication::activePopupWidget()); };
    // Right clicks as the window system delivers them, which makes a context menu
    // request of each press. Controls that take clicks of their own keep theirs.
    const auto rightClick = [&](int id) {
        QTest::mouseClick(m_window->QWidget::windowHandle(), Qt::RightButton, {}, m_window->control(id)->geometry().center());
    };
    rightClick(IDC_QUEUE_LIST);
    rightClick(IDC_RADIO_LABEL);
    EXPECT_EQ(popup(), nullptr);
    rightClick(IDC_STATUS_TEXT);
    ASSERT_TRUE(popup()) << "a text painted on the skin is the skin";
    std::vector<std::string> items;
    for (const QAction* action : popup()->actions())
        items.push_back(action->text().toStdString() + (action->isEnabled() ? "" : " (off)"));
    EXPECT_THAT(items, ElementsAre("&Restore (off)", "&Move (off)", "Mi&nimize", "&Close", "", "About Quavero Music Manager..."));

    for (QAction* action : popup()->actions())
        if (action->data().toUInt() == SC_CLOSE && !action->isSeparator())
            popup()->setActiveAction(action);
    QTest::keyClick(popup(), Qt::Key_Return);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), QDialog::Rejected);
}

class KeyboardTest : public WindowTest {
protected:
    [[nodiscard]] bool openActive()
    {
        openWindow();
        m_window->activateWindow();
        return QTest::qWaitForWindowActive(m_window.get());
    }
    // A key as the keyboard gives it: to whichever control has the focus.
    void press(Qt::Key key) { QTest::keyClick(m_window->QWidget::windowHandle(), key); }
};

TEST_F(KeyboardTest, ReachesEveryControlThatAssistiveTechnologyNames)
{
    ASSERT_TRUE(openActive());
    // From the queue, where the keyboard starts, once round the window in its order.
    std::vector<std::string> walked {nameRead(m_window->focusWidget())};
    for (int step = 0; step < 12; ++step) {
        press(Qt::Key_Tab);
        walked.push_back(nameRead(m_window->focusWidget()));
    }
    EXPECT_THAT(walked, ElementsAre("Download queue", "Downloaded tracks", kRadioPromptText, "Store", "Remove", "Clear",
                                    "Choose Folder", "Open Folder", "Resume", "Pause", "Minimize", "Close",
                                    "Download queue"));
}

TEST_F(KeyboardTest, ReturnOnTheRadioPromptPressesItRatherThanEndingTheWindow)
{
    ASSERT_TRUE(openActive());
    m_window->control(IDC_RADIO_LABEL)->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Return);
    EXPECT_TRUE(m_window->isVisible());
}

// The keys that press a button are the image button test's.
TEST_F(KeyboardTest, TheMenuKeyOnAButtonOpensTheWindowsMenu)
{
    ASSERT_TRUE(openActive());
    m_window->control(IDC_REMOVE)->setFocus(Qt::TabFocusReason);
    press(Qt::Key_Menu);
    ASSERT_TRUE(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
    QApplication::activePopupWidget()->close();
}

// A skin button takes no focus from a click: Return then does what it did before the
// click, rather than pressing the button again.
TEST_F(KeyboardTest, ReturnAfterAClickOnASkinButtonEndsTheWindow)
{
    ASSERT_TRUE(openActive());
    QTest::mouseClick(m_window->control(IDC_PAUSE), Qt::LeftButton);
    ASSERT_TRUE(m_window->isVisible());
    press(Qt::Key_Return);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), QDialog::Accepted);
}

// The window's menu, wherever the keyboard is: a list would take the Space for its
// selection, a button would be pressed by it.
TEST_F(WindowTest, AltSpaceOnlyOpensTheMenuWhereverTheFocusIs)
{
    openWindow();
    int presses = 0;
    std::vector<int> focused {IDC_QUEUE_LIST, IDC_FILE_LIST};
    for (const ButtonImages& button : kButtonImages) {
        focused.push_back(button.controlId);
        QObject::connect(m_window->controlAs<QAbstractButton>(button.controlId), &QAbstractButton::pressed,
                         [&presses] { ++presses; });
    }
    for (const int id : focused) {
        SCOPED_TRACE(id);
        presses = 0;
        m_window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
        m_window->control(id)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(m_window->QWidget::windowHandle(), Qt::Key_Space, Qt::AltModifier);
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_TRUE(menu);
        menu->close();
        EXPECT_EQ(presses, 0);
        EXPECT_TRUE(m_window->isVisible());
    }
}

// The buttons' names are read on the walk with the keyboard.
TEST_F(WindowTest, AScreenReaderReadsWhatTheWindowShows)
{
    queueOnDisk({{"p", "Progress", 200000}});
    m_store.setStallAfter(100000, 1);
    openWindow();
    EXPECT_THAT(namesRead(m_window.get(), QAccessible::ProgressBar), ElementsAre("Download progress"));
    QAccessibleValueInterface* value = QAccessible::queryAccessibleInterface(m_window->control(IDC_PROGRESS_BAR))->valueInterface();
    ASSERT_TRUE(value);
    EXPECT_EQ(std::pair(value->minimumValue().toInt(), value->maximumValue().toInt()), std::pair(0, 100));
    ASSERT_TRUE(m_store.waitForStalls(1));
    EXPECT_TRUE(waitFor([&] { return value->currentValue().toInt() == 50; })) << "half the track";
    EXPECT_EQ(nameRead(m_window->control(IDC_PERCENT_TEXT)), "50%");
    EXPECT_EQ(nameRead(m_window->control(IDC_STATUS_TEXT)), status());
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().isEmpty(); }));
    EXPECT_EQ(value->currentValue().toInt(), 0) << "ready for the next track";
}

} // namespace
} // namespace qvr::test
