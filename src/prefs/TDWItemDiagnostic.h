#pragma once

#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWClassRegistry.h"
#include "platform/store/TDWManagedObjectID.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

class TDWItemDiagnosticReport;
class TDWManagedObjectContext;

// What the service table's "diagnosticClass" names: a check of one backed-up
// item that writes what it finds to the item diagnostics window. It is made
// with the object identifier of the item's latest revision and the report it
// writes to (which it does not own), started with run(), and ends its report
// with exactly one done(), unless it is released first: a released diagnostic
// writes nothing more.
class TDWItemDiagnostic
{
public:
    TDWItemDiagnostic(const TDWManagedObjectID &docRevObjectId, TDWItemDiagnosticReport *report);
    virtual ~TDWItemDiagnostic();
    TDWItemDiagnostic(const TDWItemDiagnostic &) = delete;
    TDWItemDiagnostic &operator=(const TDWItemDiagnostic &) = delete;

    virtual void run() = 0;

    // Written when the revision is no longer in the store.
    static inline const QString RevisionMissingMessage = QStringLiteral("Unable to locate item revision.");

    // The stored entry text with a line break between each ">" and a "<"
    // right after it; "(null)" for a revision listed from JSON, which has none.
    static QString reformattedEntry(const QString &xmlString);

protected:
    // What the store holds of the revision and its item.
    struct Stored
    {
        QString docId;
        QString xmlString;
    };

    const TDWManagedObjectID &docRevObjectId() const { return m_docRevObjectId; }
    TDWItemDiagnosticReport *report() const { return m_report; }
    // The revision, looked up in `moc`; null when it is gone.
    TDWDocRev::Ptr revision(TDWManagedObjectContext &moc) const;
    // The revision and its item, read in a fresh context; when either is gone,
    // nothing, and the report is ended with RevisionMissingMessage.
    std::optional<Stored> storedOrFinish();
    // The access token of the item's account as its stored credential holds it now.
    QByteArray accessToken() const;

private:
    TDWManagedObjectID m_docRevObjectId;
    TDWItemDiagnosticReport *m_report;
};

// The item diagnostics by name; the application registers them at start-up.
using TDWItemDiagnosticClasses = TDWClassRegistry<TDWItemDiagnostic, const TDWManagedObjectID &, TDWItemDiagnosticReport *>;
