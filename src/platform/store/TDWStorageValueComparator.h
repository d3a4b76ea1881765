#pragma once

#include "platform/store/TDWSortDescriptor.h"

#include <QVariant>

#include <memory>

class QCollator;

// Orders values in their storage form (null, qlonglong, double, QString, QByteArray)
// exactly as our SQL orders them: nulls first, then numbers by value, then text
// (by code point, case-folded, or by the locale's collation), then data byte by
// byte. Used to merge the results of several stores and of unsaved objects into the
// order SQLite gives one store. Localized comparisons follow the default locale at
// the time of the first one; an instance serves one thread.
class TDWStorageValueComparator
{
public:
    TDWStorageValueComparator();
    ~TDWStorageValueComparator();

    int compare(const QVariant &a, const QVariant &b, TDWSortDescriptor::Comparison comparison) const;
    // Compares by Unicode code point (the byte order of UTF-8), not by UTF-16 unit.
    static int compareCodePoints(const QString &a, const QString &b);

private:
    QCollator &collator(bool caseInsensitive) const;

    mutable std::unique_ptr<QCollator> m_collators[2];
};
