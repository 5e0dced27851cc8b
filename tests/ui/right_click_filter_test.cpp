#include "ui/right_click_filter.h"

#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace qvr {
namespace {

// The filter on the shown page is the radio panel test's, and a right click outside
// it (the window's menu) the real window test's; here the receivers they never see.
TEST(LiesWithin, IsTheTargetOrAnyWidgetBelowIt)
{
    QWidget window;
    auto* target = new QWidget(&window);
    auto* innermost = new QWidget(new QWidget(target));
    const std::tuple<const char*, const QObject*, const QWidget*, bool> cases[] = {
        {"the target", target, target, true},
        {"grandchild", innermost, target, true},
        {"the target's parent", &window, target, false},
        {"not a widget", new QTimer(target), target, false},
        {"no receiver", nullptr, target, false},
        {"no target", innermost, nullptr, false},
    };
    for (const auto& [name, receiver, within, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LiesWithin(receiver, within), expected);
    }
}

} // namespace
} // namespace qvr
