#include "ui/downloaded_files.h"

#include "controls/list_box.h"
#include "engine/file_list.h"
#include "ui/uniform_rows.h"

#include <QFile>
#include <QListView>

#include <algorithm>
#include <optional>

namespace qvr {

namespace {

// Beyond this many places where the lists differ, showing the new list anew is
// cheaper than moving the rows between them again and again.
constexpr std::size_t kMostRuns = 16;

// Where two lists in the list's order differ: at row `at` of the new list, `removed`
// rows of the old one go and `inserted` rows of the new one come in their place.
struct Run {
    std::size_t at = 0;
    std::size_t removed = 0;
    std::size_t inserted = 0;
};

// The runs that make `from` into `to`, front to back; none when there are more
// than kMostRuns.
std::optional<std::vector<Run>> differences(const std::vector<std::string>& from, const std::vector<std::string>& to)
{
    std::vector<Run> runs;
    std::size_t i = 0;
    std::size_t j = 0;
    const auto same = [&] { return i < from.size() && j < to.size() && from[i] == to[j]; };
    while (i < from.size() || j < to.size()) {
        if (same()) {
            ++i;
            ++j;
            continue;
        }
        if (runs.size() == kMostRuns)
            return std::nullopt;
        Run run {j};
        do {
            // Both lists are sorted, so the smaller name is the one the other lacks.
            if (j == to.size() || (i < from.size() && listTextLess(from[i], to[j]))) {
                ++i;
                ++run.removed;
            } else {
                ++j;
                ++run.inserted;
            }
        } while ((i < from.size() || j < to.size()) && !same());
        runs.push_back(run);
    }
    return runs;
}

} // namespace

int DownloadedFilesModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

QVariant DownloadedFilesModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
        return {};
    const std::string& name = m_entries[static_cast<std::size_t>(index.row())];
    return QFile::decodeName(QByteArray::fromRawData(name.data(), static_cast<qsizetype>(name.size())));
}

void DownloadedFilesModel::show(std::vector<std::string>& entries)
{
    const std::optional<std::vector<Run>> runs = differences(m_entries, entries);
    const auto widthOf = [this](const std::string& name) { return m_widthOf ? m_widthOf(name) : 0; };
    if (!runs) {
        beginResetModel();
        m_entries.swap(entries);
        m_widths.resize(m_entries.size());
        std::ranges::transform(m_entries, m_widths.begin(), widthOf);
        endResetModel();
        return;
    }
    // Front to back: the rows before each run are already those of the new list,
    // so the run starts at its place in the new list. The rows' names are copied,
    // so that the new list stays whole and can take the old one's place at the end.
    for (const Run& run : *runs) {
        const auto at = static_cast<std::ptrdiff_t>(run.at);
        const int row = static_cast<int>(run.at);
        if (run.removed > 0) {
            beginRemoveRows({}, row, row + static_cast<int>(run.removed) - 1);
            m_entries.erase(m_entries.begin() + at, m_entries.begin() + at + static_cast<std::ptrdiff_t>(run.removed));
            m_widths.erase(m_widths.begin() + at, m_widths.begin() + at + static_cast<std::ptrdiff_t>(run.removed));
            endRemoveRows();
        }
        if (run.inserted > 0) {
            beginInsertRows({}, row, row + static_cast<int>(run.inserted) - 1);
            const auto first = entries.begin() + at;
            const auto last = first + static_cast<std::ptrdiff_t>(run.inserted);
            m_entries.insert(m_entries.begin() + at, first, last);
            std::vector<int> widths(run.inserted);
            std::transform(first, last, widths.begin(), widthOf);
            m_widths.insert(m_widths.begin() + at, widths.begin(), widths.end());
            endInsertRows();
        }
    }
    // The same names: no row changes.
    m_entries.swap(entries);
}

int DownloadedFilesModel::widestRow() const
{
    const auto widest = std::ranges::max_element(m_widths);
    return widest == m_widths.end() ? -1 : static_cast<int>(widest - m_widths.begin());
}

QListView* makeDownloadedFilesView(QWidget* parent)
{
    auto* view = new CListView(parent);
    auto* model = new DownloadedFilesModel(view);
    view->setModel(model);
    auto* rows = new UniformRows(view);
    model->measureWith([rows](std::string_view name) { return rows->widthOf(name); });
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return view;
}

DownloadedFilesModel* downloadedFilesOf(const QWidget* view)
{
    const auto* list = qobject_cast<const QListView*>(view);
    return list ? qobject_cast<DownloadedFilesModel*>(list->model()) : nullptr;
}

} // namespace qvr
