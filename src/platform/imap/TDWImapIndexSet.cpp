#include "platform/imap/TDWImapIndexSet.h"

#include <algorithm>

TDWImapIndexSet TDWImapIndexSet::fromRange(quint32 first, quint32 last)
{
    TDWImapIndexSet set;
    set.addRange(first, last);
    return set;
}

void TDWImapIndexSet::addRange(quint32 first, quint32 last)
{
    if (first > last)
        std::swap(first, last);
    if (last == 0)
        return;
    first = std::max<quint32>(first, 1);

    // Insert in order, then merge every range that touches or overlaps the new one.
    auto it = std::lower_bound(m_ranges.begin(), m_ranges.end(), first,
                               [](const Range &r, quint32 value) { return quint64(r.last) + 1 < value; });
    Range merged{first, last};
    auto end = it;
    while (end != m_ranges.end() && quint64(end->first) <= quint64(merged.last) + 1) {
        merged.first = std::min(merged.first, end->first);
        merged.last = std::max(merged.last, end->last);
        ++end;
    }
    const qsizetype index = it - m_ranges.begin();
    m_ranges.erase(it, end);
    m_ranges.insert(index, merged);
}

bool TDWImapIndexSet::contains(quint32 index) const
{
    auto it = std::lower_bound(m_ranges.begin(), m_ranges.end(), index,
                               [](const Range &r, quint32 value) { return r.last < value; });
    return it != m_ranges.end() && it->first <= index;
}

quint64 TDWImapIndexSet::count() const
{
    quint64 total = 0;
    for (const Range &r : m_ranges)
        total += quint64(r.last) - r.first + 1;
    return total;
}

TDWImapIndexSet TDWImapIndexSet::clampedTo(quint32 max) const
{
    TDWImapIndexSet out;
    for (const Range &r : m_ranges) {
        if (r.first > max)
            break;
        out.m_ranges.append({r.first, std::min(r.last, max)});
    }
    return out;
}

QByteArray TDWImapIndexSet::toImapSet() const
{
    QByteArray out;
    for (const Range &r : m_ranges) {
        if (!out.isEmpty())
            out.append(',');
        out.append(QByteArray::number(r.first));
        if (r.last != r.first) {
            out.append(':');
            out.append(QByteArray::number(r.last));
        }
    }
    return out;
}
