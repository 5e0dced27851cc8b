#pragma once

#include <QFontMetrics>
#include <QStyledItemDelegate>

#include <array>
#include <optional>
#include <string_view>
#include <unordered_map>

class QAbstractItemView;
class QListView;

namespace qvr {

// How wide a text shows in a font, from the widths of its characters (kerning aside):
// measuring thousands of texts exactly costs far more than showing them.
class TextWidths {
public:
    explicit TextWidths(const QFontMetrics& metrics) : m_metrics(metrics) { m_ascii.fill(-1); }
    // `text` as bytes of UTF-8, or as well as they decode.
    int operator()(std::string_view text);

private:
    int of(char32_t character);

    QFontMetrics m_metrics;
    std::array<int, 128> m_ascii;
    std::unordered_map<char32_t, int> m_other;
};

// Makes every row of a list view the size of its widest one, which its owner names:
// the view then lays out thousands of rows by measuring one, and still scrolls as far
// as the widest text goes, as a list that measures every row would.
class UniformRows final : public QStyledItemDelegate {
    Q_OBJECT

public:
    // Becomes `view`'s delegate, and its child.
    explicit UniformRows(QListView* view);
    // The delegate of a view set up so; null for any other.
    static UniformRows* of(const QAbstractItemView* view);

    // How wide `text` shows in the view's font (TextWidths).
    int widthOf(std::string_view text);
    // The row of the widest text, named whenever the rows change.
    void setWidest(int row);
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    QListView* m_view;
    std::optional<TextWidths> m_widths;  // once the view has its font
    int m_widest = -1;
};

} // namespace qvr
