#include "controls/simple_browser.h"
#include "controls/web_view.h"

#include "tests/controls/browser_test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QWebEngineView>

#include <gtest/gtest.h>

namespace qvr {
namespace {

// A browser between a field that has the keyboard and a button; its page asks for it.
class SimpleBrowserTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QAccessible::setActive(true);  // as with a screen reader: the engine describes its page
        ASSERT_TRUE(browser.Create(QRect(0, 30, 0, 0), &window, 77, qtWebEngineViews()));
        next = new QPushButton(QStringLiteral("next"), &window);
        next->setGeometry(0, 100, 100, 20);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        QApplication::setActiveWindow(&window);  // there is no window manager to make it active
        edit->setFocus();
        QSignalSpy loaded(view(), &QWebEngineView::loadFinished);
        browser.NavigateTo("data:text/html,<input id=i autofocus><script>window.focus();i.focus()</script>");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !loaded.isEmpty(); }, 30000));
        ASSERT_EQ(test::evaluate(view()->page(), "document.activeElement.id"), QVariant("i")) << "the page did try";
    }

    QWebEngineView* view() const { return qobject_cast<QWebEngineView*>(browser.view()); }
    void clickIntoThePage()
    {
        QTest::mouseClick(view()->focusProxy(), Qt::LeftButton, {}, QPoint(10, 10));
        ASSERT_TRUE(QTest::qWaitFor([&] { return window.focusWidget() == view()->focusProxy(); }, 30000));
    }
    // Whether the browser window or anything below it says it has the focus; the engine's
    // objects, should they show here, have no type for the sanitizer to check calls by.
    __attribute__((no_sanitize("vptr"))) static bool saysFocused(QAccessibleInterface* accessible)
    {
        if (!accessible)
            return false;
        bool focused = accessible->state().focused;
        for (int i = 0; i < accessible->childCount(); ++i)
            focused = saysFocused(accessible->child(i)) || focused;
        return focused;
    }
    bool pageSaysFocused() const { return saysFocused(QAccessible::queryAccessibleInterface(browser.widget())); }

    QWidget window;
    QLineEdit* edit = new QLineEdit(&window);
    SimpleBrowser browser;
    QPushButton* next = nullptr;  // after the browser in the Tab order
};

TEST_F(SimpleBrowserTest, APageThatAsksForTheKeyboardDoesNotGetIt)
{
    EXPECT_EQ(window.focusWidget(), edit);
}

TEST_F(SimpleBrowserTest, TabPassesTheBrowserBy)
{
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_EQ(window.focusWidget(), next);
}

TEST_F(SimpleBrowserTest, ThePageSaysItHasNoFocusWhileTheKeyboardIsElsewhere)
{
    EXPECT_FALSE(pageSaysFocused());
}

TEST_F(SimpleBrowserTest, ThePageSaysItHasTheFocusWhileTheKeyboardIsInIt)
{
    clickIntoThePage();
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(browser.widget())->state().focused);
}

TEST_F(SimpleBrowserTest, ThePageSaysItHasNoFocusOnceTheKeyboardLeavesIt)
{
    clickIntoThePage();
    edit->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(pageSaysFocused());
}

} // namespace
} // namespace qvr
