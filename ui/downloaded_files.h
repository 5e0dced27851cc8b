#pragma once

#include <QAbstractListModel>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

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
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Shows `entries`, a list in the list's order, in place of the one shown, and
    // leaves in `entries` a list of as many names for the caller to free, on a thread
    // of its own if it likes. Only the rows that differ come or go, so that one track
    // arriving among thousands costs one row and the view keeps its place and
    // selection; a list that differs in many places is shown anew at once.
    void show(std::vector<std::string>& entries);
    const std::vector<std::string>& entries() const { return m_entries; }

    // How wide a name shows; with it, widestRow() says which is widest.
    void measureWith(std::function<int(std::string_view)> widthOf) { m_widthOf = std::move(widthOf); }
    [[nodiscard]] int widestRow() const;

private:
    std::vector<std::string> m_entries;
    std::vector<int> m_widths;  // of the entries, row by row
    std::function<int(std::string_view)> m_widthOf;
};

// The control of the downloaded-files list: a view of its own DownloadedFilesModel.
QListView* makeDownloadedFilesView(QWidget* parent);
// The model of such a view; null for any other widget.
DownloadedFilesModel* downloadedFilesOf(const QWidget* view);

} // namespace qvr
