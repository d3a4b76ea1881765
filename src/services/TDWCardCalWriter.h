#pragma once

#include "platform/foundation/TDWError.h"

#include <QString>

// The common base of the writers that turn stored Google data into vCard and
// iCalendar text at backup time. It owns the text being built, escapes
// property values and appends content lines, folded, with CR LF line ends; it
// knows nothing of either format beyond the iCalendar header. A subclass decides which lines to write and
// writes the finished text to its file.
//
// Lengths are counted in UTF-16 units, as the folding rule has always counted
// them, but a fold never separates the two halves of a surrogate pair: each
// physical line is valid text on its own and in UTF-8.
//
// One writer serves one file: `contents` only grows.
class TDWCardCalWriter
{
public:
    // Units of a line before the first fold, and of the value on each continuation line.
    static constexpr qsizetype FoldLength = 75;
    // The PRODID of every iCalendar file the program writes.
    static inline const QString ICalendarProductId = QStringLiteral("-//Tidewell//Tidewell Calendar Backup//EN");

    TDWCardCalWriter() = default;
    virtual ~TDWCardCalWriter() = default;
    TDWCardCalWriter(const TDWCardCalWriter &) = delete;
    TDWCardCalWriter &operator=(const TDWCardCalWriter &) = delete;

    const QString &contents() const { return m_contents; }

    // The value escaped for use as a text property value: backslashes doubled,
    // each line break (CR LF, CR or LF) as backslash "n", and a backslash
    // before each ";" and ",". A ":" stays as it is: neither vCard 3.0 nor
    // iCalendar knows "\:", and readers would keep the backslash (a web
    // address would read "http\://..."). A null value gives the empty string.
    static QString escape(const QString &value);
    // The value, or the empty string for a null one.
    static QString valueOrBlank(const QString &value);
    // Appends one logical content line (given without a line end), folded,
    // followed by CR LF.
    void addLine(const QString &line);

protected:
    // For values a format writes without escaping (dates, a media type): each
    // line break becomes backslash "n", so that remote data can never end a
    // line or start a property of its own. Nothing else changes.
    static QString withoutLineBreaks(const QString &value);
    // Remote text as a parameter value: control characters (line breaks
    // included) and double quotes are dropped, and a value holding ";", ":" or
    // "," is quoted, so it can end neither the parameter nor the line.
    static QString parameterValue(const QString &value);
    // The opening lines of an iCalendar file, its product identifier included
    // (which RFC 5545 requires); "END:VCALENDAR" closes it.
    void addICalendarHeader();
    // Text appended as it stands, with no folding (Base64 blocks that carry
    // their own line structure).
    void appendUnfolded(const QString &text);

    // Writes `contents` in UTF-8 to `path`: a temporary file beside it, renamed
    // over the old file only once complete, so a failure keeps the old file.
    bool writeContents(const QString &path, TDWError *error) const;
    // The same for a backup file: an existing file there is unlocked first (the
    // new file is left unlocked; callers lock it) and the replacement is logged.
    bool replaceBackupFile(const QString &path, TDWError *error) const;

private:
    QString m_contents;
};
