#include "ui/downloaded_files.h"

#include "controls/list_box.h"
#include "ui/uniform_rows.h"

#include <QFile>
#include <QListView>

#include <optional>
#include <vector>

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
std::optional<std::vector<Run>> differences(const FileList& from, const FileList& to)
{
    std::vector<Run> runs;
    auto i = from.begin();
    auto j = to.begin();
    std::size_t row = 0;  // of j
    const auto same = [&] { return i != from.end() && j != to.end() && *i == *j; };
    while (i != from.end() || j != to.end()) {
        if (same()) {
            ++i;
            ++j;
            ++row;
            continue;
        }
        if (runs.size() == kMostRuns)
            return std::nullopt;
        Run run {row};
        do {
            // Both lists are sorted, so the smaller name is the one the other lacks.
            if (j == to.end() || (i != from.end() && listTextLess(*i, *j))) {
                ++i;
                ++run.removed;
            } else {
                ++j;
                ++row;
                ++run.inserted;
            }
        } while ((i != from.end() || j != to.end()) && !same());
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
    const std::string_view name = m_entries.at(static_cast<std::size_t>(index.row()));
    return QFile::decodeName(QByteArray::fromRawData(name.data(), static_cast<qsizetype>(name.size())));
}

void DownloadedFilesModel::show(FileList& entries)
{
    const std::optional<std::vector<Run>> runs = differences(m_entries, entries);
    if (!runs) {
        beginResetModel();
        std::swap(m_entries, entries);
        measureAll();
        endResetModel();
        return;
    }
    // Front to back: the rows before each run are already those of the new list,
    // so the run starts at its place in the new list.
    for (const Run& run : *runs) {
        const int row = static_cast<int>(run.at);
        if (run.removed > 0) {
            beginRemoveRows({}, row, row + static_cast<int>(run.removed) - 1);
            for (std::size_t k = 0; k < run.removed; ++k)
                removeRow(run.at);
            endRemoveRows();
        }
        if (run.inserted > 0) {
            beginInsertRows({}, row, row + static_cast<int>(run.inserted) - 1);
            for (std::size_t k = 0; k < run.inserted; ++k)
                insertRow(run.at + k, entries.at(run.at + k));
            endInsertRows();
        }
    }
    findWidest();
}

void DownloadedFilesModel::change(const FileListChanges& changes)
{
    for (const std::string& entry : changes.gone) {
        if (const std::optional<std::size_t> row = m_entries.find(entry)) {
            beginRemoveRows({}, static_cast<int>(*row), static_cast<int>(*row));
            removeRow(*row);
            endRemoveRows();
        }
    }
    for (const std::string& entry : changes.came) {
        if (const std::optional<std::size_t> row = m_entries.placeOf(entry)) {
            beginInsertRows({}, static_cast<int>(*row), static_cast<int>(*row));
            insertRow(*row, entry);
            endInsertRows();
        }
    }
    findWidest();
}

void DownloadedFilesModel::insertRow([[maybe_unused]] std::size_t row, std::string_view entry)
{
    const int width = widthOf(entry);
    const bool widest = m_widths.empty() || width > m_widths.rbegin()->first;
    ++m_widths[width];
    if (widest)
        m_widest = std::string(entry);
    [[maybe_unused]] const std::optional<std::size_t> at = m_entries.insert(entry);
    Q_ASSERT(at == row);
}

void DownloadedFilesModel::removeRow(std::size_t row)
{
    const std::string_view entry = m_entries.at(row);
    const int width = widthOf(entry);
    const bool wasWidest = m_widest && *m_widest == entry;
    if (const auto count = m_widths.find(width); count != m_widths.end() && --count->second == 0)
        m_widths.erase(count);
    m_entries.erase(row);
    if (wasWidest)
        m_widest.reset();
}

void DownloadedFilesModel::findWidest()
{
    if (m_widest || m_widths.empty())
        return;
    // The widest went: another as wide is looked for once the rows are all changed.
    const int widest = m_widths.rbegin()->first;
    for (const std::string_view other : m_entries) {
        if (widthOf(other) == widest) {
            m_widest = std::string(other);
            break;
        }
    }
}

void DownloadedFilesModel::measureAll()
{
    m_widths.clear();
    m_widest.reset();
    int widest = 0;
    for (const std::string_view entry : m_entries) {
        const int width = widthOf(entry);
        ++m_widths[width];
        if (!m_widest || width > widest) {
            m_widest = std::string(entry);
            widest = width;
        }
    }
}

int DownloadedFilesModel::widestRow() const
{
    const std::optional<std::size_t> row = m_widest ? m_entries.find(*m_widest) : std::nullopt;
    return row ? static_cast<int>(*row) : -1;
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
