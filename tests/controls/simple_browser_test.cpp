#include "controls/simple_browser.h"
#include "controls/web_view.h"

#include "tests/controls/browser_test_support.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace qvr {
namespace {

// A page that grabs focus for itself moves no keyboard focus, nor does Tab; a click does.
TEST(SimpleBrowser, OnlyAClickGivesTheViewTheKeyboard)
{
    QWidget window;
    auto* edit = new QLineEdit(&window);
    edit->setGeometry(0, 0, 100, 20);
    SimpleBrowser browser;
    ASSERT_TRUE(browser.Create(QRect(0, 30, 0, 0), &window, 77, qtWebEngineViews()));
    auto* button = new QPushButton("next", &window);
    button->setGeometry(0, 100, 100, 20);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::setActiveWindow(&window);  // there is no window manager to make it active
    edit->setFocus();

    auto* view = qobject_cast<QWebEngineView*>(browser.view());
    QSignalSpy loaded(view, &QWebEngineView::loadFinished);
    browser.NavigateTo("data:text/html,<input id=i autofocus><script>window.focus();i.focus()</script>");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 30000));
    EXPECT_EQ(test::evaluate(view->page(), "document.activeElement.id"), QVariant("i")) << "the page did try";
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
