#pragma once

#include <QTest>
#include <QVariant>
#include <QWebEnginePage>

#include <memory>
#include <optional>

namespace qvr::test {

// What `script` gives in the page, once the page has answered.
inline std::optional<QVariant> evaluate(QWebEnginePage* page, const QString& script)
{
    // Shared: an answer after the wait has given up must have somewhere to go.
    auto result = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, [result](const QVariant& value) { *result = value; });
    return QTest::qWaitFor([&] { return result->has_value(); }, 30000) ? *result : std::nullopt;
}

} // namespace qvr::test
