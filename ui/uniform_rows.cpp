#include "ui/uniform_rows.h"

#include <QListView>
#include <QString>

namespace qvr {

int TextWidths::of(char32_t character)
{
    if (character < m_ascii.size()) {
        int& width = m_ascii[character];
        if (width < 0)
            width = m_metrics.horizontalAdvance(QChar(character));
        return width;
    }
    const auto [at, made] = m_other.try_emplace(character, 0);
    if (made)
        at->second = m_metrics.horizontalAdvance(QString::fromUcs4(&character, 1));
    return at->second;
}

int TextWidths::operator()(std::string_view text)
{
    int width = 0;
    bool ascii = true;
    for (const char byte : text) {
        if (static_cast<unsigned char>(byte) >= 0x80) {
            ascii = false;
            break;
        }
        width += of(static_cast<unsigned char>(byte));
    }
    if (ascii)
        return width;
    width = 0;
    for (const char32_t character : QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toUcs4())
        width += of(character);
    return width;
}

UniformRows::UniformRows(QListView* view) : QStyledItemDelegate(view), m_view(view)
{
    view->setItemDelegate(this);
    view->setUniformItemSizes(true);
}

UniformRows* UniformRows::of(const QAbstractItemView* view)
{
    return view ? qobject_cast<UniformRows*>(view->itemDelegate()) : nullptr;
}

int UniformRows::widthOf(std::string_view text)
{
    if (!m_widths)
        m_widths.emplace(m_view->fontMetrics());
    return (*m_widths)(text);
}

void UniformRows::setWidest(int row)
{
    // Named after the rows changed: the view measures anew as it lays them out.
    m_widest = row;
}

QSize UniformRows::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const QAbstractItemModel* model = index.model();
    if (!model || m_widest < 0 || m_widest >= model->rowCount(index.parent()))
        return QStyledItemDelegate::sizeHint(option, index);
    return QStyledItemDelegate::sizeHint(option, model->index(m_widest, index.column(), index.parent()));
}

} // namespace qvr
