#pragma once

#include "engine/entry_list.h"
#include "engine/queue_item.h"

#include <QAbstractListModel>

#include <cstdint>
#include <deque>
#include <functional>
#include <string_view>

namespace qvr {

// The queue list's rows: a view of the download queue itself, told by the queue
// decisions where it changed. No row is made before it is shown, and a change
// costs the rows it touches, however long the queue: 100,000 tracks waiting cost
// the window what their widths take.
class QueueRows final : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    // As the downloaded files' (DownloadedFilesModel::index): asked for every row at
    // each layout of the whole list.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override
    {
        return row >= 0 && column == 0 && static_cast<std::uint32_t>(row) < m_rows && !parent.isValid()
            ? createIndex(row, 0)
            : QModelIndex();
    }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Shows `queue`, which must outlive this or the next show(), anew.
    void show(const EntryList<QueueItem>& queue);
    // `count` rows from `row` on came into the queue shown, or left it.
    void rowsAdded(std::uint32_t row, std::uint32_t count);
    void rowsRemoved(std::uint32_t row, std::uint32_t count);

    // How wide a title shows; with it, widestRow() says which is widest.
    void measureWith(std::function<int(std::string_view)> widthOf) { m_widthOf = std::move(widthOf); }
    [[nodiscard]] int widestRow() const { return m_widest; }

private:
    const QueueItem* itemAt(std::uint32_t row) const;
    int widthOf(const QueueItem* item) const;
    void findWidest();

    const EntryList<QueueItem>* m_queue = nullptr;
    std::uint32_t m_rows = 0;     // what the view was told
    std::deque<int> m_widths;     // of the titles, row by row: the queue changes at its ends
    int m_widest = -1;
    std::function<int(std::string_view)> m_widthOf;
    // The last row looked up: a view asks for its rows one after another.
    mutable std::uint32_t m_cursorRow = 0;
    mutable const QueueItem* m_cursor = nullptr;
};

} // namespace qvr
