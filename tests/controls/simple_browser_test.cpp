#include "controls/simple_browser.h"

#include "controls/control_id.h"
#include "tests/controls/browser_test_support.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace qvr {
namespace {

constexpr int kPlaceId = 1039;
const QRect kPlace {134, 83, 383, 57};

// A parent window with a hidden placeholder control and a neighbour.
class SimpleBrowserTest : public ::testing::Test {
protected:
    SimpleBrowserTest()
    {
        window.resize(700, 250);
        auto* placeholder = new QLabel("<Radio location>", &window);
        SetControlId(placeholder, kPlaceId);
        placeholder->setGeometry(kPlace);
        placeholder->hide();
        auto* neighbour = new QLabel("prompt", &window);
        SetControlId(neighbour, 1041);
    }

    QWidget window;
};

TEST_F(SimpleBrowserTest, CreateMakesTheFixedSizeAtTheRectanglesTopLeft)
{
    for (const QRect& rect : {QRect(0, 0, 1, 1), QRect(10, 20, 1000, 500), QRect(5, 6, 0, 0),
                              QRect(QPoint(40, 30), QPoint(2, 1))}) {
        SCOPED_TRACE(testing::Message() << rect.x() << "," << rect.y() << " " << rect.width() << "x" << rect.height());
        SimpleBrowser browser;
        ASSERT_TRUE(browser.Create(rect, &window, 77));
        EXPECT_EQ(browser.widget()->geometry(), QRect(rect.topLeft(), QSize(384, 56)));
        EXPECT_EQ(browser.view()->geometry(), QRect(0, 0, 384, 56));
        EXPECT_EQ(browser.widget()->parentWidget(), &window);
        EXPECT_EQ(FindControl(&window, 77), browser.widget());
        EXPECT_TRUE(browser.widget()->isVisibleTo(&window));
    }
    EXPECT_EQ(FindControl(&window, 77), nullptr) << "each window ends with its browser object";
}

TEST_F(SimpleBrowserTest, TheViewFillsTheWindowAfterEveryResize)
{
    SimpleBrowser browser;
    ASSERT_TRUE(browser.Create(kPlace, &window, 77));
    browser.ShowWindow(false);
    browser.MoveWindow(QRect(1, 2, 30, 40));
    EXPECT_EQ(browser.view()->geometry(), QRect(0, 0, 30, 40)) << "hidden, too";
    browser.ShowWindow(true);
    window.show();
    for (const QSize size : {QSize(500, 300), QSize(10, 10), QSize(384, 56), QSize(0, 0), QSize(1, 900)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        browser.MoveWindow(QRect(QPoint(7, 8), size));
        EXPECT_EQ(browser.widget()->geometry(), QRect(QPoint(7, 8), size));
        EXPECT_EQ(browser.view()->geometry(), QRect(QPoint(0, 0), size));
        // Resized by anyone else, too.
        browser.widget()->resize(size + QSize(3, 4));
        EXPECT_EQ(browser.view()->geometry(), QRect(QPoint(0, 0), size + QSize(3, 4)));
    }
}

TEST_F(SimpleBrowserTest, NothingHappensBeforeCreationAfterAFailedOneOrAfterTheWindowEnds)
{
    const QObjectList before = window.children();
    const QWidgetList topLevels = QApplication::topLevelWidgets();
    SimpleBrowser browser;
    const auto touchEverything = [&] {
        browser.NavigateTo("http://127.0.0.1:1/");
        browser.ShowWindow(true);
        browser.MoveWindow(QRect(1, 2, 3, 4));
        browser.DestroyWindow();
        EXPECT_EQ(browser.widget(), nullptr);
        EXPECT_EQ(browser.view(), nullptr);
        EXPECT_EQ(window.children(), before);
        EXPECT_EQ(QApplication::topLevelWidgets(), topLevels);
    };
    touchEverything();
    EXPECT_FALSE(browser.Create(kPlace, nullptr, 77));
    touchEverything();

    // Creating again replaces the window made before.
    ASSERT_TRUE(browser.Create(kPlace, &window, 77));
    const QPointer<QWidget> first = browser.widget();
    ASSERT_TRUE(browser.Create(kPlace, &window, 78));
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(FindControl(&window, 77), nullptr);
    // Ended by its owner, by the parent, or by the object itself.
    for (const auto& end : std::initializer_list<std::function<void()>> {
             [&] { browser.DestroyWindow(); },
             [&] { delete browser.widget(); },
         }) {
        ASSERT_TRUE(browser.Create(kPlace, &window, 77));
        end();
        touchEverything();
    }
    auto parent = std::make_unique<QWidget>();
    ASSERT_TRUE(browser.Create(kPlace, parent.get(), 77));
    parent.reset();
    touchEverything();
}

TEST_F(SimpleBrowserTest, CreateInPlaceOfTakesThePlaceholdersPlaceAndId)
{
    const QObjectList before = window.children();
    SimpleBrowser browser;
    EXPECT_FALSE(browser.CreateInPlaceOf(&window, 4242));
    EXPECT_FALSE(browser.CreateInPlaceOf(nullptr, kPlaceId));
    // Only the window's own controls count, not those inside them.
    SetControlId(new QWidget(FindControl(&window, 1041)), 4243);
    EXPECT_FALSE(browser.CreateInPlaceOf(&window, 4243));
    EXPECT_EQ(window.children(), before);
    EXPECT_EQ(browser.widget(), nullptr);

    const QPointer<QWidget> placeholder = FindControl(&window, kPlaceId);
    ASSERT_TRUE(browser.CreateInPlaceOf(&window, kPlaceId));
    EXPECT_EQ(placeholder, nullptr);
    EXPECT_EQ(FindControl(&window, kPlaceId), browser.widget());
    EXPECT_EQ(browser.widget()->geometry(), QRect(kPlace.topLeft(), QSize(384, 56)));
    EXPECT_TRUE(browser.widget()->isVisibleTo(&window)) << "shown, unlike the placeholder";
}

// Loading a page that grabs focus for itself moves no keyboard focus, and neither does
// Tab; a click does.
TEST(SimpleBrowserFocus, OnlyAClickGivesTheViewTheKeyboard)
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(0, 0, 100, 20);
    SimpleBrowser browser;
    ASSERT_TRUE(browser.Create(QRect(0, 30, 0, 0), &window, 77));
    auto* button = new QPushButton("next", &window);
    button->setGeometry(0, 100, 100, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // There is no window manager to make it active.
    QApplication::setActiveWindow(&window);
    edit->setFocus();

    QSignalSpy loaded(browser.view(), &QWebEngineView::loadFinished);
    browser.NavigateTo("data:text/html,<input id=i autofocus><script>window.focus();i.focus()</script>");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 30000));
    EXPECT_EQ(test::evaluate(browser.view()->page(), "document.activeElement.id"), QVariant("i"))
        << "the page did try";
    EXPECT_EQ(window.focusWidget(), edit);

    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_EQ(window.focusWidget(), button) << "Tab passes the browser by";

    QWidget* input = browser.view()->focusProxy();
    ASSERT_TRUE(input);
    QTest::mouseClick(input, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.focusWidget() == input; }, 30000));
}

} // namespace
} // namespace qvr
