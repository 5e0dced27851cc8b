#pragma once

#include <QColor>
#include <QGuiApplication>
#include <QImage>
#include <QScreen>
#include <QTest>
#include <QVariant>
#include <QWebEnginePage>
#include <QWidget>

#include <memory>
#include <optional>

namespace qvr::test {

// What `script` gives in the page, once the page has answered.
inline std::optional<QVariant> evaluate(QWebEnginePage* page, const QString& script)
{
    // Shared: an answer after the wait has given up must have somewhere to go.
    auto result = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, [result](const QVariant& value) { *result = value; });
    if (!QTest::qWaitFor([&] { return result->has_value(); }, 30000))
        return std::nullopt;
    return *result;
}

// The colour of one pixel of the screen as the display shows it, at `point` of `widget`.
inline QRgb screenPixel(const QWidget* widget, QPoint point)
{
    const QPoint global = widget->mapToGlobal(point);
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0, global.x(), global.y(), 1, 1).toImage();
    return image.isNull() ? 0 : image.pixel(0, 0) & 0xFFFFFF;
}

} // namespace qvr::test
