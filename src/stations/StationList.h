#pragma once

#include <QSet>
#include <QStringList>

// The list of GSIDs: entries in ascending text order, weeded of repeats by
// updateCount, with one selected position. It runs without any window; the list
// control of the main window shows it.
class StationList {
public:
    static constexpr int MaxEntries = 32767;

    // Text order: case-insensitive first, then exact, so the order is total; digits
    // compare as characters (100 before 99).
    static bool entryLess(const QString &a, const QString &b);

    const QStringList &entries() const { return m_entries; }
    int count() const { return int(m_entries.size()); }
    bool isEmpty() const { return m_entries.isEmpty(); }
    bool contains(const QString &entry) const;
    int selected() const { return m_selected; }
    void setSelected(int position);

    // Inserts at the ordered place; repeats stay until weedList.
    void add(const QString &entry);
    // The same for many entries at once, without moving the list once per entry.
    void addAll(const QStringList &entries);
    void removeAt(int position);
    void clear();

    // Removes every entry equal to the one before it.
    void weedList();
    // Weeds, selects the first entry and returns the count text.
    QString updateCount();
    static QString countText(int count);

private:
    QStringList m_entries;
    int m_selected = -1;
};

// Collects the entries one paste or import adds, keeping the list within
// MaxEntries distinct entries. Repeats of present entries are left out at once;
// weeding would remove them anyway.
class EntryBatch {
public:
    explicit EntryBatch(const StationList &list) : m_list(list) {}

    // Offers an accepted token; false once the list is full (this token dropped).
    bool offer(const QString &entry);
    bool full() const { return m_full; }
    const QStringList &entries() const { return m_entries; }

    static QString fullMessage();

private:
    const StationList &m_list;
    QSet<QString> m_seen;
    QStringList m_entries;
    bool m_full = false;
};
