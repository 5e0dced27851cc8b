#pragma once

#include "engine/file_list.h"

#include <QAbstractListModel>

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

class QListView;
class QWidget;

namespace qvr {

// The downloaded-files list as the window shows it: the bytes of each name, in the
// list's order (engine/file_list.h), each shown as text as well as it can be (a
// name need not be valid text). Only the rows that are shown are ever made text.
class DownloadedFilesModel final : public QAbstractListModel {
    Q_OBJECT

public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    // The view asks for every row's index at each layout of the whole list (a storm
    // of changes at 200,000 tracks asks for millions): without the base class's
    // checks through the virtual row and column counts.
    QModelIndex index(int row, int column = 0, const QModelIndex& parent = {}) const override
    {
        return row >= 0 && column == 0 && static_cast<std::size_t>(row) < m_entries.size() && !parent.isValid()
            ? createIndex(row, 0)
            : QModelIndex();
    }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Shows `entries`, a whole list, in place of the one shown, and leaves in
    // `entries` a list for the caller to free. Only the rows that differ come or go,
    // so that the view keeps its place and selection; a list that differs in many
    // places is shown anew at once.
    void show(FileList& entries);
    // Takes the entries of `changes` out and in, row by row.
    void change(const FileListChanges& changes);
    const FileList& entries() const { return m_entries; }

    // How wide a name shows; with it, widestRow() says which is widest.
    void measureWith(std::function<int(std::string_view)> widthOf) { m_widthOf = std::move(widthOf); }
    [[nodiscard]] int widestRow() const;

private:
    void insertRow(std::size_t row, std::string_view entry);
    void removeRow(std::size_t row);
    void measureAll();
    void findWidest();
    [[nodiscard]] int widthOf(std::string_view entry) const { return m_widthOf ? m_widthOf(entry) : 0; }

    FileList m_entries;
    // How many entries show how wide, and one of the widest: the widest row is found
    // by its name, and the names are measured again only when that one goes, once
    // per change of the list however many of the widest went.
    std::map<int, std::size_t> m_widths;
    std::optional<std::string> m_widest;
    std::function<int(std::string_view)> m_widthOf;
};

// The control of the downloaded-files list: a view of its own DownloadedFilesModel.
QListView* makeDownloadedFilesView(QWidget* parent);
// The model of such a view; null for any other widget.
DownloadedFilesModel* downloadedFilesOf(const QWidget* view);

} // namespace qvr
