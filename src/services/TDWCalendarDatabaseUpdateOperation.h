#pragma once

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/http/TDWHttpResponse.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWManagedObjectID.h"
#include "services/TDWCalendarDatabaseUpdate.h"
#include "services/TDWCalendarEventStore.h"

#include <QDateTime>
#include <QString>
#include <QUrl>
#include <QVariantMap>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

class BKSExpBackoffConnectionDelegateWrapper;

// Brings one calendar's event store up to date with the calendar's events on
// Google Calendar (v3), page after page, and gives the calendar a new revision
// when an event changed after its file was written, so that the calendar file
// is written again. Incremental (events changed since the last complete pass,
// deleted ones included) while the store is intact; otherwise, after a 410
// Gone, or when the user's access role on the calendar changed, every event
// into a fresh store. Made by the list retrieval through its registered name
// and run on a worker thread of its calendar queue; every request goes through
// the back-off, which resends after 5xx answers.
//
// successful() is true only when the last page was stored and the calendar's
// last-update time saved; every other end leaves it false. Pages stored before
// a failure stay in the store, but the last-update time does not move, so the
// next backup asks again from the old time.
//
// The events and the item's last-update time lie in two stores, saved one
// after the other. The event store keeps, with its events, markers of the
// last pass that stored its last page and of the last that changed an event
// (TDWCalendarEventStore); a pass that finds them later than the item's time
// first finishes the stopped pass from the store (time and revision), so that
// no change stored is ever left out of the calendar's file.
class TDWCalendarDatabaseUpdateOperation : public TDWCalendarDatabaseUpdate
{
    Q_OBJECT

public:
    TDWCalendarDatabaseUpdateOperation(const TDWManagedObjectID &docRevObjectID, const QString &accountUsername, const QDateTime &iterationDate);
    ~TDWCalendarDatabaseUpdateOperation() override;

    bool successful() const override { return m_successful; }
    void cancel() override;

    // Opens the calendar's event store (see TDWCalendarEventStore).
    std::unique_ptr<TDWManagedObjectContext> getCalendarEventMoc(const TDWDoc::Ptr &calendarDoc);

protected:
    void main() override;

private:
    enum class PageOutcome { NextPage, LastPage, Failed };

    // The first URL of the pass: full, or incremental from the item's last update; null when the pass cannot start.
    std::optional<QString> prepareStartingUrl(TDWManagedObjectContext &moc);
    QString eventsUrlString(const QString &docId) const;
    // Fetches the pages from startingUrlString on, restarting once in full after a 410.
    void fetchPages();
    // The answer to one GET, through the back-off; null when no request could be sent or none answered.
    std::optional<TDWHttpResponse> send(const QString &urlString);
    // The parsed page of a 200 answer; null (after logging) when the body is no JSON object.
    std::optional<QVariantMap> parsePage(const TDWHttpResponse &response);
    PageOutcome processEventResult(const QVariantMap &page, QString *nextUrlString);
    // Stores the page's events in the event store; false after logging the failure.
    // The last page also leaves the marker of a pass stored whole.
    bool storeEvents(const QVariantList &items, const QString &defaultTimeZone, const TDWDoc::Ptr &calendarDoc, bool lastPage);
    bool finishLastPage(const TDWDocRev::Ptr &docRev, TDWManagedObjectContext &moc);
    // After a 410: drops the store and clears the item's fields; false when the pass cannot restart.
    bool handleGoneStatusCode();
    // Finishes, from the event store's markers, a pass stopped after its events were saved;
    // answers the calendar's current revision (a new one when the pass made it), null on failure.
    TDWDocRev::Ptr catchUpWithEventStore(const TDWDocRev::Ptr &docRev, TDWManagedObjectContext &moc);
    TDWDocRev::Ptr newRevisionOf(const TDWDocRev::Ptr &currentRev, TDWManagedObjectContext &moc);
    TDWDocRev::Ptr revisionIn(TDWManagedObjectContext &moc, TDWError *error) const;
    void handleError(const QString &message) const;

    // The calendar's current revision; replaced when catchUpWithEventStore() makes a new one.
    TDWManagedObjectID m_docRevObjectID;
    QString m_accountUsername;
    const QDateTime m_iterationDate;
    QString m_docId;
    QString m_title;
    QString m_startingUrlString;
    bool m_incremental = false;
    QDateTime m_opStartDate;
    TDWCalendarEventStore m_eventStore;
    bool m_eventChanged = false;
    std::atomic<bool> m_successful = false;

    std::mutex m_connectionMutex; // guards m_connection, which cancel() reaches from any thread
    std::shared_ptr<BKSExpBackoffConnectionDelegateWrapper> m_connection;
};
