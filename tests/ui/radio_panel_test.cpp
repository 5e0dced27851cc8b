#include "ui/radio_panel.h"
#include "controls/control_id.h"
#include "controls/simple_browser.h"
#include "controls/web_view.h"
#include "platform/http.h"
#include "res/dialog_templates.h"
#include "res/strings.h"
#include "tools/store-sim/store_sim.h"
#include "ui/layout.h"

#include "tests/controls/browser_test_support.h"
#include "tests/support/common.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QWebEngineView>

namespace qvr {
namespace {

// The two controls of the panel in a window of their own, as the main window has
// them, and the store's radio page on the simulator. The panel in the program's
// window, on the screen, is the real window test's.
class RadioPanelTest : public ::testing::Test {
protected:
    RadioPanelTest()
    {
        EXPECT_TRUE(started);
        setControlId(prompt, IDC_RADIO_LABEL);
        prompt->setGeometry(kBrowserRect);
        auto* placeholder = new QLabel("<Radio location>", &window);
        setControlId(placeholder, IDC_BROWSER_PLACE);
        placeholder->hide();
        window.resize(700, 250);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);  // there is no window manager to make it active
        other->setFocus();
        panel.placeBrowser(&window, IDC_BROWSER_PLACE, [] { return &qtWebEngineViews(); }, nullptr);
    }

    QWebEnginePage* page() const
    {
        auto* view = qobject_cast<QWebEngineView*>(browser.view());
        return view ? view->page() : nullptr;
    }
    // Whether the page (not the prompt) shows, once it has loaded from the store.
    bool pageShown() const
    {
        return QTest::qWaitFor([&] { return page(); }, 30000) && browser.widget()->isVisible() && !prompt->isVisible()
            && QTest::qWaitFor([&] {
                   return test::evaluate(page(), "document.readyState == 'complete' && location.protocol") == QVariant("http:");
               }, 30000);
    }
    std::vector<std::string> checks() const
    {
        std::vector<std::string> paths;
        for (const auto& request : store.requests())
            paths.push_back(request.path + (request.header("User-Agent") == kRadioStatusAgent ? "" : " (browser)"));
        return paths;
    }

    sim::StoreSimulator store;
    const bool started = store.start();
    const std::string url = loadString(IDS_RADIO_URL, store.hostPort());
    QWidget window;
    QLabel* prompt = new QLabel(kRadioPromptText, &window);
    QLineEdit* other = new QLineEdit(&window);  // where the keyboard is at first
    SimpleBrowser browser;
    RadioPanel panel {prompt, browser, curlHttpClientFactory(radioCheckOptions()), url};
};

// A page that does not answer 200 (a 404: the prompt, and no web engine), and a click
// on the prompt that asks again, are the real window test's.
TEST_F(RadioPanelTest, ARedirectEndingIn200ShowsThePageAtTheRadioAddressItself)
{
    store.setRadioRedirect(302);
    EXPECT_TRUE(panel.LoadRadio());
    ASSERT_TRUE(pageShown());
    EXPECT_EQ(page()->requestedUrl().toString().toStdString(), url);
    std::vector<std::string> asked = checks();
    asked.resize(4);  // and the page's own icon, perhaps
    EXPECT_EQ(asked, (std::vector<std::string> {"/radio_2/radio_dlm2.html", "/radio_2/on_air.html",
        "/radio_2/radio_dlm2.html (browser)", "/radio_2/on_air.html (browser)"}));
}

// A page that keeps what it makes would take the program's memory with it.
TEST_F(RadioPanelTest, APageThatOutgrowsItsMemoryGivesWayToThePrompt)
{
    std::uint64_t used = 0;
    panel.setMemoryGauge([&] { return used; });
    ASSERT_TRUE(panel.LoadRadio());
    ASSERT_TRUE(pageShown());
    used = kRadioPageMemoryLimit + 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return prompt->isVisible(); }, 30000));
    EXPECT_FALSE(browser.widget()->isVisible());
}

TEST_F(RadioPanelTest, TabReachesThePrompt)
{
    QTest::keyClick(other, Qt::Key_Tab);
    EXPECT_EQ(window.focusWidget(), prompt);
}

// A dotted frame on its edge, in its text colour, like the buttons' own.
TEST_F(RadioPanelTest, ThePromptIsFramedOnlyWhileItHasTheKeyboard)
{
    const QImage before = prompt->grab().toImage();
    prompt->setFocus(Qt::TabFocusReason);
    const QImage focused = prompt->grab().toImage();
    other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(prompt->grab().toImage(), before);
    const QColor text = prompt->palette().color(QPalette::WindowText);
    QRect framed;
    for (int y = 0; y < before.height(); ++y)
        for (int x = 0; x < before.width(); ++x)
            if (focused.pixel(x, y) != before.pixel(x, y) && focused.pixelColor(x, y) == text)
                framed |= QRect(x, y, 1, 1);
    EXPECT_EQ(framed, before.rect()) << "the frame reaches every side";
    const QRect inside = before.rect().adjusted(1, 1, -1, -1);
    EXPECT_EQ(focused.copy(inside), before.copy(inside));
}

struct PromptKey {
    const char* name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

class PromptKeyTest : public RadioPanelTest, public ::testing::WithParamInterface<PromptKey> {};

TEST_P(PromptKeyTest, PressesThePromptWhereItHasTheKeyboard)
{
    prompt->setFocus(Qt::TabFocusReason);
    QTest::keyClick(prompt, GetParam().key, GetParam().modifiers);
    EXPECT_TRUE(pageShown());
}

INSTANTIATE_TEST_SUITE_P(RadioPanelTest, PromptKeyTest,
    ::testing::Values(PromptKey {.name = "Return", .key = Qt::Key_Return},
                      PromptKey {.name = "Enter", .key = Qt::Key_Enter, .modifiers = Qt::KeypadModifier},
                      PromptKey {.name = "Space", .key = Qt::Key_Space}), test::kByName);

} // namespace
} // namespace qvr
