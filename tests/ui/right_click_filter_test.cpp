#include "ui/right_click_filter.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <vector>

namespace qvr {
namespace {

// The target, its children and others are the filter test's cases below.
TEST(LiesWithin, IsTheTargetOrAnyWidgetBelowIt)
{
    QWidget window;
    auto* target = new QWidget(&window);
    auto* inner = new QWidget(target);
    auto* innermost = new QWidget(inner);
    auto* timer = new QTimer(target);

    const std::tuple<const char*, const QObject*, const QWidget*, bool> cases[] = {
        {"grandchild", innermost, target, true},
        {"the target's parent", &window, target, false},
        {"not a widget", timer, target, false},
        {"no receiver", nullptr, target, false},
        {"no target", inner, nullptr, false},
    };
    for (const auto& [name, receiver, within, expected] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(LiesWithin(receiver, within), expected);
    }
}

// Counts the mouse events it gets, by type and button.
class Recorder final : public QWidget {
public:
    using QWidget::QWidget;
    std::vector<std::pair<QEvent::Type, Qt::MouseButton>> seen;

protected:
    void mousePressEvent(QMouseEvent* event) override { seen.emplace_back(event->type(), event->button()); }
    void mouseReleaseEvent(QMouseEvent* event) override { seen.emplace_back(event->type(), event->button()); }
    void mouseDoubleClickEvent(QMouseEvent* event) override { seen.emplace_back(event->type(), event->button()); }
};

TEST(RightClickFilter, SwallowsOnlyRightPressesAndDoubleClicksInsideTheTarget)
{
    QWidget window;
    auto* target = new Recorder(&window);
    auto* inside = new Recorder(target);
    auto* outside = new Recorder(&window);
    RightClickFilter filter;
    filter.setTarget(target);
    qApp->installEventFilter(&filter);

    using Seen = std::vector<std::pair<QEvent::Type, Qt::MouseButton>>;
    for (Recorder* receiver : std::initializer_list<Recorder*> {target, inside}) {
        QTest::mouseClick(receiver, Qt::RightButton);
        QTest::mouseDClick(receiver, Qt::RightButton);
        QTest::mouseClick(receiver, Qt::LeftButton);
        QTest::mouseDClick(receiver, Qt::MiddleButton);
        EXPECT_EQ(receiver->seen, (Seen {{QEvent::MouseButtonRelease, Qt::RightButton},
                                         {QEvent::MouseButtonPress, Qt::LeftButton},
                                         {QEvent::MouseButtonRelease, Qt::LeftButton},
                                         {QEvent::MouseButtonDblClick, Qt::MiddleButton}}));
    }
    QTest::mouseClick(outside, Qt::RightButton);
    EXPECT_EQ(outside->seen, (Seen {{QEvent::MouseButtonPress, Qt::RightButton},
                                    {QEvent::MouseButtonRelease, Qt::RightButton}}));
    qApp->removeEventFilter(&filter);
}

} // namespace
} // namespace qvr
