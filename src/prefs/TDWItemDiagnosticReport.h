#pragma once

#include <QString>

// Where an item diagnostic writes: the item diagnostics window, in the
// program. Each text is shown followed by one empty line; done() ends the
// report and comes exactly once.
class TDWItemDiagnosticReport
{
public:
    virtual ~TDWItemDiagnosticReport() = default;
    virtual void addOutputString(const QString &text) = 0;
    virtual void done() = 0;
};
