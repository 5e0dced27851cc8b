#include "ui/queue_rows.h"

#include <QString>

#include <algorithm>

namespace qvr {

int QueueRows::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows);
}

QVariant QueueRows::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0)
        return {};
    const QueueItem* item = itemAt(static_cast<std::uint32_t>(index.row()));
    return item ? QVariant(QString::fromStdString(item->title)) : QVariant();
}

const QueueItem* QueueRows::itemAt(std::uint32_t row) const
{
    // The queue itself, never the rows the view was told: a view that asks while
    // a change is being told gets a title, or none, but never a freed one.
    if (!m_queue || row >= m_queue->getCount())
        return nullptr;
    const auto distance = [row](std::uint32_t from) { return from > row ? from - row : row - from; };
    const std::uint32_t last = m_queue->getCount() - 1;
    std::uint32_t at = 0;
    const QueueItem* item = m_queue->GetHead();
    if (distance(last) < distance(at)) {
        at = last;
        item = m_queue->getTail();
    }
    if (m_cursor && distance(m_cursorRow) < distance(at)) {
        at = m_cursorRow;
        item = m_cursor;
    }
    for (; item && at < row; ++at)
        item = item->next.get();
    for (; item && at > row; --at)
        item = item->prev;
    m_cursorRow = row;
    m_cursor = item;
    return item;
}

int QueueRows::widthOf(const QueueItem* item) const
{
    return m_widthOf && item ? m_widthOf(item->title) : 0;
}

void QueueRows::findWidest()
{
    // The last of equal widths: a queue drained from its head then rarely loses it.
    m_widest = -1;
    for (std::size_t row = 0; row < m_widths.size(); ++row) {
        if (m_widest < 0 || m_widths[row] >= m_widths[static_cast<std::size_t>(m_widest)])
            m_widest = static_cast<int>(row);
    }
}

void QueueRows::show(const EntryList<QueueItem>& queue)
{
    beginResetModel();
    m_queue = &queue;
    m_cursor = nullptr;
    m_rows = queue.getCount();
    m_widths.clear();
    for (const QueueItem* item = queue.GetHead(); item; item = item->next.get())
        m_widths.push_back(widthOf(item));
    findWidest();
    endResetModel();
}

void QueueRows::rowsAdded(std::uint32_t row, std::uint32_t count)
{
    if (!m_queue || count == 0 || row > m_rows)
        return;
    m_cursor = nullptr;
    const auto first = static_cast<int>(row);
    beginInsertRows({}, first, first + static_cast<int>(count) - 1);
    if (m_widest >= first)
        m_widest += static_cast<int>(count);
    for (std::uint32_t added = 0; added < count; ++added) {
        const int width = widthOf(itemAt(row + added));
        m_widths.insert(m_widths.begin() + first + static_cast<int>(added), width);
        if (m_widest < 0 || width >= m_widths[static_cast<std::size_t>(m_widest)])
            m_widest = first + static_cast<int>(added);
    }
    m_cursor = nullptr;
    m_rows += count;
    endInsertRows();
}

void QueueRows::rowsRemoved(std::uint32_t row, std::uint32_t count)
{
    if (count == 0 || row >= m_rows)
        return;
    count = std::min(count, m_rows - row);
    m_cursor = nullptr;
    const auto first = static_cast<int>(row);
    const int end = first + static_cast<int>(count);
    beginRemoveRows({}, first, end - 1);
    m_widths.erase(m_widths.begin() + first, m_widths.begin() + end);
    m_rows -= count;
    if (m_widest >= end)
        m_widest -= static_cast<int>(count);
    else if (m_widest >= first)
        findWidest();
    endRemoveRows();
}

} // namespace qvr
