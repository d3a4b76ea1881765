#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>

// A set of message sequence numbers or UIDs, kept as sorted, disjoint,
// inclusive ranges; written on the wire as an IMAP sequence set ("1:5,9").
class TDWImapIndexSet
{
public:
    struct Range
    {
        quint32 first = 0;
        quint32 last = 0;
        bool operator==(const Range &) const = default;
    };

    TDWImapIndexSet() = default;
    static TDWImapIndexSet fromRange(quint32 first, quint32 last);

    // Adds first..last inclusive (either order); 0 is no valid number and is left out.
    void addRange(quint32 first, quint32 last);
    void addIndex(quint32 index) { addRange(index, index); }

    bool isEmpty() const { return m_ranges.isEmpty(); }
    bool contains(quint32 index) const;
    quint64 count() const;
    quint32 lastIndex() const { return m_ranges.isEmpty() ? 0 : m_ranges.last().last; }
    const QList<Range> &ranges() const { return m_ranges; }

    // The numbers that are at most `max` (sequence numbers past EXISTS are an error for servers).
    TDWImapIndexSet clampedTo(quint32 max) const;

    // "1:5,9"; empty for an empty set.
    QByteArray toImapSet() const;

    bool operator==(const TDWImapIndexSet &) const = default;

private:
    QList<Range> m_ranges;
};
