#pragma once

#include <QString>

// One key of a fetch order: a key path (through to-one relationships, e.g.
// "doc.docTypeLabel"), a direction and the comparison. Nulls come first in
// ascending order. Ties are always broken by row id, so pages of one order never
// overlap or skip rows.
class TDWSortDescriptor
{
public:
    enum Comparison {
        Compare,                    // numbers by value, strings by code point, dates in time
        CaseInsensitive,            // strings compared in their case-folded form
        Localized,                  // strings compared as the user's locale sorts them
        LocalizedCaseInsensitive,   // the same, ignoring case
    };

    TDWSortDescriptor(QString keyPath, bool ascending = true, Comparison comparison = Compare)
        : m_keyPath(std::move(keyPath))
        , m_ascending(ascending)
        , m_comparison(comparison)
    {
    }

    const QString &keyPath() const { return m_keyPath; }
    bool ascending() const { return m_ascending; }
    Comparison comparison() const { return m_comparison; }

private:
    QString m_keyPath;
    bool m_ascending = true;
    Comparison m_comparison = Compare;
};
