// The window's look, its menu and its keyboard, on the offscreen platform (where the
// window goes without its browser and cannot be shaped). The skin, the buttons'
// pictures, the size and the place are the real window test's, on the screen.
#include "controls/color_static.h"
#include "controls/resources.h"
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
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;

// What a screen reader finds among the window's parts: the names of those of `role`.
std::vector<std::string> namesRead(QWidget* window, QAccessible::Role role)
{
    std::vector<std::string> names;
    QAccessibleInterface* tree = QAccessible::queryAccessibleInterface(window);
    for (int i = 0; i < tree->childCount(); ++i) {
        if (tree->child(i)->role() == role)
            names.push_back(tree->child(i)->text(QAccessible::Name).toStdString());
    }
    return names;
}

TEST_F(WindowTest, TheTextsTheFolderAndTheProgressBarShowAsTheyShould)
{
    m_config.strings.m_strDownloadFolder = m_dir.file("a <i>folder</i> with a long name");
    ::mkdir(m_config.strings.m_strDownloadFolder.c_str(), 0755);
    openWindow();
    CquaveromfcDlg& window = *m_window;
    EXPECT_FALSE(window.windowIcon().isNull()) << "all a minimised window shows";
    // Arial is found through fontconfig as Liberation Sans.
    const QColor orange(255, 102, 0);
    const std::tuple<int, int, bool, QColor, QColor> looks[] = {
        {IDC_STATUS_TEXT, 15, false, orange, Qt::white}, {IDC_PERCENT_TEXT, 15, false, orange, Qt::white},
        {IDC_FOLDER_TEXT, 11, false, Qt::black, QColor(254, 226, 207)}, {IDC_RADIO_LABEL, 19, true, orange, Qt::white}};
    for (const auto& [id, pixelSize, bold, textColor, backColor] : looks) {
        const auto* text = window.controlAs<CColorStaticST>(id);
        const QFontInfo font(text->font());
        EXPECT_EQ(std::tuple(font.family(), font.pixelSize(), font.bold(), text->foreColor(), text->backColor()),
                  std::tuple(QString("Liberation Sans"), pixelSize, bold, textColor, backColor)) << id;
    }
    const std::string& folder = m_config.strings.m_strDownloadFolder;
    EXPECT_EQ(QTextDocumentFragment::fromHtml(window.control(IDC_FOLDER_TEXT)->toolTip()).toPlainText().toStdString(), folder)
        << "the whole folder, markup and all";
    EXPECT_EQ(window.controlAs<QLabel>(IDC_RADIO_LABEL)->text(), "Click Here to Load Online Radio");
    EXPECT_TRUE(window.control(IDC_RADIO_LABEL)->isVisible()) << "no browser here: the prompt stays";

    // The bar shows its bitmap side by side, as wide as the percentage says.
    EXPECT_EQ(window.controlAs<QLabel>(IDC_PERCENT_TEXT)->text(), "0%");
    QWidget* bar = window.control(IDC_PROGRESS_BAR);
    EXPECT_EQ(bar->width(), 0);
    sendMessage(window.messageSink(), msg::DownloadProgress {50});
    EXPECT_EQ(bar->width(), 62) << "125 pixels wide at 100 percent";
    const QImage tile = loadBitmapResource(IDB_PROGRESS);
    const QImage shown = bar->grab().toImage();
    for (int x = 0; x < shown.width(); ++x) {
        for (int y = 0; y < shown.height(); ++y)
            ASSERT_EQ(shown.pixel(x, y), tile.pixel(x % tile.width(), y)) << x << ", " << y;
    }
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

    for (QAction* action : popup()->actions()) {
        if (action->data().toUInt() == SC_CLOSE && !action->isSeparator())
            popup()->setActiveAction(action);
    }
    QTest::keyClick(popup(), Qt::Key_Return);
    EXPECT_FALSE(m_window->isVisible());
    EXPECT_EQ(m_window->result(), QDialog::Rejected);
}

TEST_F(WindowTest, TheKeyboardReachesEveryControlThatAssistiveTechnologyNames)
{
    openWindow();
    m_window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(m_window.get()));
    const auto name = [](QWidget* widget) {
        QAccessibleInterface* accessible = widget ? QAccessible::queryAccessibleInterface(widget) : nullptr;
        return accessible ? accessible->text(QAccessible::Name).toStdString() : "(nothing)";
    };
    // From the queue, where the keyboard starts, once round the window in its order.
    std::vector<std::string> walked {name(m_window->focusWidget())};
    for (int step = 0; step < 12; ++step) {
        QTest::keyClick(m_window->focusWidget(), Qt::Key_Tab);
        walked.push_back(name(m_window->focusWidget()));
    }
    EXPECT_THAT(walked, ElementsAre("Download queue", "Downloaded tracks", kRadioPromptText, "Store", "Remove", "Clear",
                                    "Choose Folder", "Open Folder", "Resume", "Pause", "Minimize", "Close",
                                    "Download queue"));
    m_window->control(IDC_RADIO_LABEL)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(m_window->focusWidget(), Qt::Key_Return);
    EXPECT_TRUE(m_window->isVisible()) << "Return on the radio prompt presses it, and does not end the window";
    sendMessage(m_window->messageSink(), msg::DownloadProgress {42});
    EXPECT_EQ(name(m_window->control(IDC_PERCENT_TEXT)), "42%");
    EXPECT_EQ(name(m_window->control(IDC_STATUS_TEXT)), "No Files in Queue");

    // The keys that press a button are the image button test's; the Menu key on one
    // opens the window's menu, and Enter elsewhere ends the window as Escape does.
    m_window->control(IDC_REMOVE)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(m_window->focusWidget(), Qt::Key_Menu);
    ASSERT_TRUE(qobject_cast<QMenu*>(QApplication::activePopupWidget()));
    QApplication::activePopupWidget()->close();
    m_window->control(IDC_QUEUE_LIST)->setFocus();
    QTest::keyClick(m_window->focusWidget(), Qt::Key_Return);
    EXPECT_EQ(m_window->result(), QDialog::Accepted);
    EXPECT_FALSE(m_window->isVisible());
}

// The window's menu, wherever the keyboard is: a list would take the Space for its
// selection, a button would be pressed by it.
TEST_F(WindowTest, AltSpaceOpensTheMenuWhereverTheFocusIsAndPressesNoButton)
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
        EXPECT_TRUE(menu);
        if (menu)
            menu->close();
        EXPECT_EQ(presses, 0);
        EXPECT_TRUE(m_window->isVisible());
    }
    EXPECT_THAT(m_desktop.opened, IsEmpty());
}

TEST_F(WindowTest, AScreenReaderReadsTheButtonsTheWholeFolderAndTheProgressOfADownload)
{
    m_config.strings.m_strDownloadFolder = m_dir.file("a folder with a long name");
    ::mkdir(m_config.strings.m_strDownloadFolder.c_str(), 0755);
    queueOnDisk({{"p", "Progress", 200000}});
    m_store.setStallAfter(100000, 1);
    openWindow();
    EXPECT_THAT(namesRead(m_window.get(), QAccessible::Button),
                UnorderedElementsAre("Store", "Remove", "Clear", "Choose Folder", "Open Folder", "Resume", "Pause",
                                     "Minimize", "Close"));
    EXPECT_THAT(namesRead(m_window.get(), QAccessible::StaticText), Contains(m_config.strings.m_strDownloadFolder))
        << "the whole folder, which the label cuts short";
    EXPECT_THAT(namesRead(m_window.get(), QAccessible::ProgressBar), ElementsAre("Download progress"));

    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(m_window->control(IDC_PROGRESS_BAR));
    QAccessibleValueInterface* value = bar->valueInterface();
    ASSERT_TRUE(value);
    EXPECT_EQ(std::pair(value->minimumValue().toInt(), value->maximumValue().toInt()), std::pair(0, 100));
    ASSERT_TRUE(m_store.waitForStalls(1));
    EXPECT_TRUE(waitFor([&] { return value->currentValue().toInt() == 50; })) << "half the track";
    m_store.releaseStalls();
    ASSERT_TRUE(waitFor([&] { return m_window->queue().IsEmpty(); }));
    EXPECT_EQ(value->currentValue().toInt(), 0) << "ready for the next track";
}

} // namespace
} // namespace qvr::test
