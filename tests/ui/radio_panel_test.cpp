#include "ui/radio_panel.h"

#include "controls/control_id.h"
#include "controls/simple_browser.h"
#include "res/dialog_templates.h"
#include "res/strings.h"
#include "tests/controls/browser_test_support.h"
#include "tests/support/silent_store.h"
#include "tools/store-sim/store_sim.h"
#include "ui/layout.h"
#include "ui/right_click_filter.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QWebEngineView>

#include <gtest/gtest.h>


namespace qvr {
namespace {

constexpr std::string_view kRadioPath = "/radio_2/radio_dlm2.html";

// The two controls of the panel in a window of their own, as the main window has
// them, and the store's radio page on the simulator.
class RadioPanelTest : public ::testing::Test {
protected:
    RadioPanelTest()
    {
        EXPECT_TRUE(started);
        window.resize(700, 250);
        SetControlId(prompt, IDC_RADIO_LABEL);
        prompt->setGeometry(kBrowserRect);
        auto* placeholder = new QLabel("<Radio location>", &window);
        SetControlId(placeholder, IDC_BROWSER_PLACE);
        placeholder->setGeometry(134, 83, 383, 57);
        placeholder->hide();
        window.show();
        panel.CreateBrowser(&window, IDC_BROWSER_PLACE);
    }

    bool pageShown() const
    {
        return browser.widget() && browser.widget()->isVisible() && !prompt->isVisible();
    }
    bool promptShown() const
    {
        return browser.widget() && !browser.widget()->isVisible() && prompt->isVisible();
    }
    // Waits for the page the browser was sent to; true when it loaded.
    bool pageLoads(QSignalSpy& loaded) const
    {
        return QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 30000) && loaded.first().first().toBool();
    }
    std::vector<sim::RecordedRequest> checks() const
    {
        auto found = store.requests();
        std::erase_if(found, [](const auto& request) { return request.header("User-Agent") != kRadioStatusAgent; });
        return found;
    }

    sim::StoreSimulator store;
    const bool started = store.start();
    const std::string url = loadString(IDS_RADIO_URL, store.hostPort());
    QWidget window;
    QLabel* prompt = new QLabel(kRadioPromptText, &window);
    SimpleBrowser browser;
    RadioPanel panel {prompt, browser, curlHttpClientFactory(RadioCheckOptions()), url};
};

TEST_F(RadioPanelTest, AnyOtherAnswerOrNoneLeavesThePrompt)
{
    ASSERT_TRUE(browser.widget());
    EXPECT_EQ(FindControl(&window, IDC_BROWSER_PLACE), browser.widget());
    EXPECT_TRUE(browser.widget()->isVisible() && prompt->isVisible()) << "both shown until the check";
    EXPECT_TRUE(checks().empty()) << "the set-up asks nothing";
    const std::pair<const char*, std::function<void()>> cases[] = {
        {"404", [&] { store.setRadioStatus(404); }},
        {"500", [&] { store.setRadioStatus(500); }},
        {"redirect to a 503", [&] { store.setRadioRedirect(302), store.setRadioStatus(503); }},
        {"store down", [&] { store.goDown(); }},
    };
    for (const auto& [name, breakIt] : cases) {
        SCOPED_TRACE(name);
        breakIt();
        panel.LoadRadio();
        EXPECT_TRUE(promptShown());
        EXPECT_TRUE(browser.view()->url().isEmpty()) << "never sent anywhere";
    }
    EXPECT_EQ(checks().size(), 4u) << "one check each, the redirect followed";
}

TEST_F(RadioPanelTest, ARedirectEndingIn200ShowsThePageOfTheRadioAddressItself)
{
    store.setRadioRedirect(302);
    QSignalSpy loaded(browser.view(), &QWebEngineView::loadFinished);
    panel.LoadRadio();
    EXPECT_TRUE(pageShown());
    ASSERT_TRUE(pageLoads(loaded));
    EXPECT_EQ(browser.view()->page()->requestedUrl().toString().toStdString(), url);
    // The browser itself asked for the radio address and followed the redirect.
    std::size_t browserAsked = 0;
    for (const auto& request : store.requests())
        browserAsked += request.path == kRadioPath && request.header("User-Agent") != kRadioStatusAgent;
    EXPECT_EQ(browserAsked, 1u);
    ASSERT_EQ(checks().size(), 2u);
    EXPECT_EQ(checks()[1].path, "/radio_2/on_air.html");
}

TEST_F(RadioPanelTest, AClickOnThePromptTriesAgainAndShowsThePageAtItsOwnAddress)
{
    store.goDown();
    panel.LoadRadio();
    ASSERT_TRUE(promptShown());
    panel.OnRadioPromptClicked();
    EXPECT_TRUE(promptShown());

    store.comeUp();
    QSignalSpy loaded(browser.view(), &QWebEngineView::loadFinished);
    panel.OnRadioPromptClicked();
    EXPECT_TRUE(pageShown());
    ASSERT_TRUE(pageLoads(loaded));
    EXPECT_EQ(browser.view()->url().toString().toStdString(), url);
    const auto asked = checks();
    ASSERT_EQ(asked.size(), 1u) << "the store saw only the check that reached it";
    EXPECT_EQ(asked[0].path, kRadioPath);
}

// A store that takes the connection and never answers keeps the window only for the
// check's time limit.
TEST_F(RadioPanelTest, AStoreThatNeverAnswersLeavesThePrompt)
{
    test::SilentStore mute;
    RadioPanel silent(prompt, browser, curlHttpClientFactory(RadioCheckOptions()),
                      loadString(IDS_RADIO_URL, mute.host()));
    silent.LoadRadio();
    EXPECT_TRUE(promptShown());
}

TEST_F(RadioPanelTest, WithoutABrowserThePromptStaysAndNothingIsAsked)
{
    browser.DestroyWindow();
    prompt->hide();
    panel.LoadRadio();
    EXPECT_TRUE(prompt->isVisible());
    EXPECT_TRUE(store.requests().empty());
}

// Right-button presses inside the shown page never reach it, so it opens no menu;
// other buttons do reach it.
TEST_F(RadioPanelTest, ARightClickInsideTheShownPageOpensNoMenu)
{
    QSignalSpy loaded(browser.view(), &QWebEngineView::loadFinished);
    panel.LoadRadio();
    ASSERT_TRUE(pageLoads(loaded));
    QWebEnginePage* page = browser.view()->page();
    ASSERT_TRUE(test::evaluate(page, "window.presses = [];"
                                     "addEventListener('mousedown', e => presses.push(e.button), true);"
                                     "addEventListener('dblclick', e => presses.push('dbl' + e.button), true);"
                                     "1"));
    QWidget* input = browser.view()->focusProxy();
    ASSERT_TRUE(input);
    const QPoint middle = input->rect().center();
    const auto presses = [&] { return test::evaluate(page, "presses.join()")->toString().toStdString(); };

    RightClickFilter filter;
    filter.setTarget(browser.view());
    qApp->installEventFilter(&filter);
    QTest::mouseClick(input, Qt::RightButton, {}, middle);
    QTest::mouseDClick(input, Qt::RightButton, {}, middle);
    QTest::mouseClick(input, Qt::LeftButton, {}, middle);
    // Input reaches the page in order: once the left press is there, any right one would be.
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses() == "0"; }, 30000)) << presses();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr);

    // The check that the presses above were real: without the filter the page sees them.
    qApp->removeEventFilter(&filter);
    QTest::mouseClick(input, Qt::RightButton, {}, middle);
    EXPECT_TRUE(QTest::qWaitFor([&] { return presses() == "0,2"; }, 30000)) << presses();
    EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << "nor does the view open a menu";
}

} // namespace
} // namespace qvr
