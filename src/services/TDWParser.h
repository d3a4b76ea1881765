#pragma once

#include "services/TDWDocEntry.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <limits>

// The face of a list-page parser: one object per page, `parse` once, then any
// of the answers. The service table names the class per list URL.
class TDWParser
{
public:
    // The change id a page answers when it reports none.
    static constexpr qint64 NoChangeId = std::numeric_limits<qint64>::max();

    virtual ~TDWParser() = default;

    // False when the bytes are not a page of the expected kind; then no other answer means anything.
    virtual bool parse(const QByteArray &page) = 0;
    // The page's items in page order, without the ones the parser rejects.
    virtual QList<TDWDocEntry> docEntries() const = 0;
    // Absolute URL of the following page; null on the last page.
    virtual QString nextUrl() const = 0;
    // Suffix of the kept copy of the page ("xml", "json").
    virtual QString fileTypeSuffix() const = 0;
    // Items on the page as the page states them, rejected ones included (for progress).
    virtual qint64 numEntries() const = 0;
    // Continuation token of a Reader page; null for every other kind.
    virtual QString continuation() const = 0;
    // The largest change id of a Drive change page; NoChangeId otherwise.
    virtual qint64 largestChangeId() const { return NoChangeId; }
};
