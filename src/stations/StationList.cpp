#include "StationList.h"

#include <algorithm>

bool StationList::entryLess(const QString &a, const QString &b)
{
    const int folded = QString::compare(a, b, Qt::CaseInsensitive);
    if (folded != 0)
        return folded < 0;
    return QString::compare(a, b, Qt::CaseSensitive) < 0;
}

bool StationList::contains(const QString &entry) const
{
    const auto it = std::lower_bound(m_entries.cbegin(), m_entries.cend(), entry, entryLess);
    return it != m_entries.cend() && *it == entry;
}

void StationList::setSelected(int position)
{
    m_selected = position >= 0 && position < count() ? position : -1;
}

void StationList::add(const QString &entry)
{
    const auto it = std::upper_bound(m_entries.cbegin(), m_entries.cend(), entry, entryLess);
    m_entries.insert(it - m_entries.cbegin(), entry);
}

void StationList::addAll(const QStringList &entries)
{
    if (entries.isEmpty())
        return;
    const qsizetype middle = m_entries.size();
    m_entries += entries;
    std::stable_sort(m_entries.begin() + middle, m_entries.end(), entryLess);
    std::inplace_merge(m_entries.begin(), m_entries.begin() + middle, m_entries.end(), entryLess);
}

void StationList::removeAt(int position)
{
    if (position < 0 || position >= count())
        return;
    m_entries.removeAt(position);
    setSelected(m_selected);
}

void StationList::clear()
{
    m_entries.clear();
    m_selected = -1;
}

void StationList::weedList()
{
    // Each entry is compared with the last one kept, starting from the empty text;
    // compacting in place keeps this linear however many repeats there are.
    QString remembered;
    qsizetype kept = 0;
    for (qsizetype i = 0; i < m_entries.size(); ++i) {
        if (m_entries[i] == remembered)
            continue;
        remembered = m_entries[i];
        m_entries[kept++] = remembered;
    }
    m_entries.resize(kept);
}

QString StationList::updateCount()
{
    if (m_entries.isEmpty()) {
        m_selected = -1;
        return countText(0);
    }
    weedList();
    m_selected = 0;
    return countText(count());
}

QString StationList::countText(int count)
{
    if (count == 0)
        return QStringLiteral("No Data Sheets Loaded");
    if (count == 1)
        return QStringLiteral("One Data Sheet Loaded");
    return QString::number(count) + QStringLiteral(" Data Sheets Loaded");
}

bool EntryBatch::offer(const QString &entry)
{
    if (m_list.contains(entry) || m_seen.contains(entry))
        return true;
    if (m_list.count() + m_entries.size() >= StationList::MaxEntries) {
        m_full = true;
        return false;
    }
    m_seen.insert(entry);
    m_entries << entry;
    return true;
}

QString EntryBatch::fullMessage()
{
    return QStringLiteral("The GSID list is full; it holds at most %1 entries.")
        .arg(StationList::MaxEntries);
}
