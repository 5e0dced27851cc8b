#include "ui/queue_rows.h"

#include "ui/uniform_rows.h"

#include <QListWidget>

#include <algorithm>

namespace qvr {

void QueueRows::show(QListWidget& list, const EntryList<QueueItem>& queue)
{
    // The queue changes at its ends, or in one place: only the rows between what
    // stays at the front and what stays at the back are made anew, so that a long
    // queue costs little at each change and the selection stays where it was.
    std::vector<std::string> titles;
    titles.reserve(queue.GetCount());
    for (const QueueItem* item = queue.GetHead(); item; item = item->next.get())
        titles.push_back(item->title);
    std::size_t front = 0;
    while (front < titles.size() && front < m_titles.size() && titles[front] == m_titles[front])
        ++front;
    std::size_t back = 0;
    while (back < titles.size() - front && back < m_titles.size() - front
           && titles[titles.size() - 1 - back] == m_titles[m_titles.size() - 1 - back])
        ++back;
    const int row = static_cast<int>(front);
    const auto gone = static_cast<std::ptrdiff_t>(m_titles.size() - front - back);
    if (front == 0 && back == 0) {
        list.clear();
    } else {
        // The list would select the row that takes a removed selected row's place:
        // a second Remove would then take another track without anyone choosing it.
        bool selectedGone = false;
        for (std::ptrdiff_t left = gone; left > 0; --left) {
            selectedGone = selectedGone || (list.item(row) && list.item(row)->isSelected());
            delete list.takeItem(row);
        }
        if (selectedGone)
            list.clearSelection();
    }
    UniformRows* rows = UniformRows::of(&list);
    QStringList added;
    std::vector<int> widths;
    for (std::size_t i = front; i < titles.size() - back; ++i) {
        added.push_back(QString::fromStdString(titles[i]));
        widths.push_back(rows ? rows->widthOf(titles[i]) : 0);
    }
    const auto at = m_widths.begin() + static_cast<std::ptrdiff_t>(front);
    m_widths.insert(m_widths.erase(at, at + gone), widths.begin(), widths.end());
    m_titles = std::move(titles);
    // Told before the rows come, which the list then lays out.
    if (rows) {
        const auto widest = std::ranges::max_element(m_widths);
        rows->setWidest(widest == m_widths.end() ? -1 : static_cast<int>(widest - m_widths.begin()));
    }
    if (!added.isEmpty())
        list.insertItems(row, added);
}

} // namespace qvr
