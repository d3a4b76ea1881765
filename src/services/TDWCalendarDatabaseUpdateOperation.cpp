#include "services/TDWCalendarDatabaseUpdateOperation.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "common/BKSExpBackoffConnectionDelegateWrapper.h"
#include "common/TDWFileMgr.h"
#include "common/TDWServiceIds.h"
#include "common/TDWUrlEncoding.h"
#include "dataobjects/TDWEvent.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/http/TDWHttpRequest.h"
#include "platform/json/TDWJsonReader.h"
#include "platform/store/TDWContextReset.h"
#include "services/GDataDateTime.h"

#include <QDir>
#include <QFileInfo>
#include <QTimeZone>

namespace {

// The attributes a new calendar revision takes over from the current one, besides its item.
const QStringList CopiedKeys{
    QStringLiteral("etag"),        QStringLiteral("contentUrl"),        QStringLiteral("exportType"),
    QStringLiteral("title"),       QStringLiteral("sortTitle"),         QStringLiteral("starred"),      QStringLiteral("hidden"),
    QStringLiteral("shared"),      QStringLiteral("liked"),             QStringLiteral("viewedByMe"),   QStringLiteral("ownerName"),
    QStringLiteral("ownerEmail"),  QStringLiteral("lastModifiedName"),  QStringLiteral("lastModifiedEmail"),
    QStringLiteral("publishDate"), QStringLiteral("xmlString"),         QStringLiteral("photoEtag"),    QStringLiteral("to"),
    QStringLiteral("from"),        QStringLiteral("cc"),                QStringLiteral("who"),          QStringLiteral("isUnread"),
    QStringLiteral("content"),     QStringLiteral("summary"),           QStringLiteral("location"),     QStringLiteral("contentUrlDate"),
    QStringLiteral("timeZone"),    QStringLiteral("accessRole"),        QStringLiteral("messageFlags")};
const QString CalendarFixKey = QStringLiteral("has252calendarfix");
constexpr std::chrono::seconds RequestIdleTimeout(120);
constexpr int StatusOk = 200;
constexpr int StatusGone = 410;

QDateTime rfc3339Date(const QVariant &value)
{
    return GDataDateTime(value.toString()).date();
}

// Made only once the revision is saved: a folder made first would be left as an
// orphan by a stop before the save, and the next revision numbered past it.
void makeFolderOfSavedRevision(const TDWDocRev::Ptr &revision)
{
    TDWPrivateFiles::makeFolder(QDir(TDWFileMgr::backedUpItemsPathForService(revision->doc()->service())).filePath(revision->dirPath()));
}

} // namespace

TDWCalendarDatabaseUpdateOperation::TDWCalendarDatabaseUpdateOperation(const TDWManagedObjectID &docRevObjectID, const QString &accountUsername,
                                                                       const QDateTime &iterationDate)
    : m_docRevObjectID(docRevObjectID)
    , m_accountUsername(accountUsername)
    , m_iterationDate(iterationDate)
    , m_eventStore(accountUsername)
{
}

TDWCalendarDatabaseUpdateOperation::~TDWCalendarDatabaseUpdateOperation() = default;

void TDWCalendarDatabaseUpdateOperation::cancel()
{
    TDWOperation::cancel();
    std::lock_guard lock(m_connectionMutex);
    if (m_connection)
        m_connection->cancel();
}

std::unique_ptr<TDWManagedObjectContext> TDWCalendarDatabaseUpdateOperation::getCalendarEventMoc(const TDWDoc::Ptr &calendarDoc)
{
    return m_eventStore.getCalendarEventMoc(calendarDoc);
}

void TDWCalendarDatabaseUpdateOperation::main()
{
    if (isCancelled())
        return;
    m_opStartDate = TDWClock::now();
    std::optional<QString> startingUrl;
    {
        std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
        if (!moc)
            return;
        TDWContextReset reset(moc.get());
        startingUrl = prepareStartingUrl(*moc);
    }
    if (!startingUrl)
        return;
    m_startingUrlString = *startingUrl;
    fetchPages();
}

std::optional<QString> TDWCalendarDatabaseUpdateOperation::prepareStartingUrl(TDWManagedObjectContext &moc)
{
    TDWError error;
    TDWDocRev::Ptr docRev = revisionIn(moc, &error);
    if (!docRev) {
        tdwLog(QStringLiteral("ERROR: Unable to fetch the calendar revision to update: %1").arg(error.localizedDescription()));
        return std::nullopt;
    }
    const TDWDoc::Ptr doc = docRev->doc();
    m_accountUsername = doc->accountUsername();
    m_eventStore = TDWCalendarEventStore(m_accountUsername);
    m_docId = doc->docId();
    m_title = docRev->title();
    QString url = eventsUrlString(m_docId);

    const QString storePath = TDWCalendarEventStore::absolutePath(doc->databaseFilePath());
    if (!doc->databaseFilePath().isEmpty() && QFileInfo::exists(storePath)) {
        docRev = catchUpWithEventStore(docRev, moc);
        if (!docRev)
            return std::nullopt;
    }
    const bool storeVanished = doc->databaseLastUpdatedTime().isValid() && !QFileInfo::exists(storePath);
    // A store that no pass completed (the first one failed midway) may hold events deleted since,
    // which a full pass would not remove: every full pass starts from a fresh store.
    const bool storeUnfinished = !doc->databaseFilePath().isEmpty() && !doc->databaseLastUpdatedTime().isValid();
    if (storeUnfinished && QFileInfo::exists(storePath) && !TDWPersistentStoreCoordinator::deleteStoreFiles(storePath, &error)) {
        handleError(QStringLiteral("Unable to delete file at %1: %2").arg(storePath, error.localizedDescription()));
        return std::nullopt;
    }
    if (doc->databaseFilePath().isEmpty() || storeVanished || storeUnfinished) {
        doc->setDatabaseFilePath(QString());
        doc->setDatabaseLastUpdatedTime(QDateTime());
        if (!moc.save(&error)) {
            handleError(QStringLiteral("Unable to wipe out database last update time."));
            return std::nullopt;
        }
    }
    if (doc->databaseLastUpdatedTime().isValid()) {
        const TDWDocRev::Ptr written = TDWDocRev::bestRetrievalCandidateForDocRevId(m_docRevObjectID, moc, nullptr);
        if (written && !written->accessRole().isEmpty() && written->accessRole() != docRev->accessRole()) {
            tdwLog(QStringLiteral("Access role changed from %1 to %2. Downloading all events.").arg(written->accessRole(), docRev->accessRole()));
            // The item keeps its path, so the store is made again, empty, where it was.
            if (QFileInfo::exists(storePath) && !TDWPersistentStoreCoordinator::deleteStoreFiles(storePath, &error)) {
                handleError(QStringLiteral("Unable to delete file at %1: %2").arg(storePath, error.localizedDescription()));
                return std::nullopt;
            }
        } else {
            const QString since = GDataDateTime(doc->databaseLastUpdatedTime(), QTimeZone::utc()).RFC3339String();
            url += QStringLiteral("?updatedMin=%1&showDeleted=true").arg(TDWUrlEncoding::stringByUrlEncoding(since));
            m_incremental = true;
        }
    }
    return url;
}

QString TDWCalendarDatabaseUpdateOperation::eventsUrlString(const QString &docId) const
{
    // Older items carry the calendar's feed URL as their id; the calendar id is its last segment, already encoded.
    const QString calendarId = docId.startsWith(QLatin1String("https://")) ? docId.section(QLatin1Char('/'), -1)
                                                                            : TDWUrlEncoding::stringByUrlEncoding(docId);
    return QStringLiteral("https://%1/calendar/v3/calendars/%2/events").arg(TDWGoogleEndpoints::apisHost(), calendarId);
}

void TDWCalendarDatabaseUpdateOperation::fetchPages()
{
    QString urlString = m_startingUrlString;
    while (true) {
        const std::optional<TDWHttpResponse> response = send(urlString);
        if (!response)
            return;
        if (response->statusCode() == StatusGone) {
            if (!handleGoneStatusCode())
                return;
            urlString = m_startingUrlString;
            continue;
        }
        if (response->statusCode() != StatusOk) {
            setFailureCause(response->statusError());
            handleError(QStringLiteral("ERROR: Unexpected status code (%1) when retrieving calendar event data for calendar %2.")
                            .arg(response->statusCode())
                            .arg(m_docId));
            return;
        }
        const std::optional<QVariantMap> page = parsePage(*response);
        if (!page)
            return;
        switch (processEventResult(*page, &urlString)) {
        case PageOutcome::NextPage:
            continue;
        case PageOutcome::LastPage:
            m_successful = true;
            return;
        case PageOutcome::Failed:
            return;
        }
    }
}

std::optional<TDWHttpResponse> TDWCalendarDatabaseUpdateOperation::send(const QString &urlString)
{
    // The token is read afresh for every request: the backup run renews it while operations are queued.
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(m_accountUsername);
    if (!credential || credential->accessToken().isEmpty() || credential->accessTokenExpired()) {
        handleError(QStringLiteral("No valid access token for the calendar event request."));
        return std::nullopt;
    }
    TDWHttpRequest request{QUrl(urlString, QUrl::StrictMode)};
    // The client sends the token only to https hosts of Google's allowlist, also after a redirect.
    request.setBearerToken(credential->accessToken().toUtf8(), TDWGoogleEndpoints::bearerHosts());
    request.setIdleTimeout(RequestIdleTimeout);
    auto connection = std::make_shared<BKSExpBackoffConnectionDelegateWrapper>(request);
    {
        std::lock_guard lock(m_connectionMutex);
        if (isCancelled())
            return std::nullopt;
        m_connection = connection;
    }
    TDWError error;
    TDWHttpResponse response = connection->run(&error);
    {
        std::lock_guard lock(m_connectionMutex);
        m_connection.reset();
    }
    if (!error.isNull()) {
        if (!isCancelled())
            tdwLog(QStringLiteral("ERROR: Calendar event request for calendar %1 failed: %2").arg(m_docId, error.localizedDescription()));
        return std::nullopt;
    }
    return response;
}

std::optional<QVariantMap> TDWCalendarDatabaseUpdateOperation::parsePage(const TDWHttpResponse &response)
{
    // An answer that is no JSON object is no page: taking it as an empty last page would move the
    // last-update time past events that were never fetched.
    TDWError error;
    std::optional<QVariantMap> page = TDWJsonReader::parseObject(response.body(), &error);
    if (!page)
        handleError(QStringLiteral("ERROR processing response of calendar event request: %1").arg(error.localizedDescription()));
    return page;
}

TDWCalendarDatabaseUpdateOperation::PageOutcome TDWCalendarDatabaseUpdateOperation::processEventResult(const QVariantMap &page,
                                                                                                       QString *nextUrlString)
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return PageOutcome::Failed;
    TDWContextReset reset(moc.get());
    TDWError error;
    const TDWDocRev::Ptr docRev = revisionIn(*moc, &error);
    if (!docRev) {
        handleError(error.localizedDescription());
        return PageOutcome::Failed;
    }
    if (page.contains(QStringLiteral("timeZone")))
        docRev->setTimeZone(page.value(QStringLiteral("timeZone")).toString());
    if (page.contains(QStringLiteral("defaultReminders")))
        docRev->setDefaultReminders(page.value(QStringLiteral("defaultReminders")));
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to save time zone for calendar: %1").arg(error.localizedDescription()));

    const QVariant items = page.value(QStringLiteral("items"));
    if (!items.isNull() && items.typeId() != QMetaType::QVariantList) {
        handleError(QStringLiteral("ERROR: Unable to update calendar events: %1").arg(QStringLiteral("\"items\" is not an array")));
        return PageOutcome::Failed;
    }
    const QString nextPageToken = page.value(QStringLiteral("nextPageToken")).toString();
    if (!storeEvents(items.toList(), page.value(QStringLiteral("timeZone")).toString(), docRev->doc(), nextPageToken.isEmpty()))
        return PageOutcome::Failed;
    if (!nextPageToken.isEmpty()) {
        const QChar separator = m_startingUrlString.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?');
        *nextUrlString = m_startingUrlString + QStringLiteral("%1pageToken=%2").arg(separator, TDWUrlEncoding::stringByUrlEncoding(nextPageToken));
        return PageOutcome::NextPage;
    }
    return finishLastPage(docRev, *moc) ? PageOutcome::LastPage : PageOutcome::Failed;
}

bool TDWCalendarDatabaseUpdateOperation::storeEvents(const QVariantList &items, const QString &defaultTimeZone, const TDWDoc::Ptr &calendarDoc,
                                                     bool lastPage)
{
    std::unique_ptr<TDWManagedObjectContext> eventMoc = getCalendarEventMoc(calendarDoc);
    if (!eventMoc) {
        handleError(QStringLiteral("Unable to get managed object context for calendar events."));
        return false;
    }
    TDWContextReset reset(eventMoc.get());
    bool changed = false;
    for (const QVariant &value : items) {
        const QVariantMap item = value.toMap();
        const QString eventId = item.value(QStringLiteral("id")).toString();
        if (eventId.isEmpty()) {
            tdwLog(QStringLiteral("ERROR: Unable to process events: an event without id"));
            handleError(QStringLiteral("ERROR: Unable to update calendar events: %1").arg(QStringLiteral("an event without id")));
            return false;
        }
        TDWEvent::Ptr event = TDWEvent::byEventId(eventId, *eventMoc);
        const bool recurrenceInstance = item.contains(QStringLiteral("recurringEventId"));
        if (item.value(QStringLiteral("status")).toString() == QLatin1String("cancelled") && !recurrenceInstance) {
            if (event) {
                eventMoc->deleteObject(event);
                changed = true;
            }
            continue;
        }
        // updatedMin is inclusive and sent in whole seconds: events of the last pass's second come
        // again unchanged, and must not give the calendar a new revision.
        const QString etag = item.value(QStringLiteral("etag")).toString();
        if (event && !etag.isEmpty() && event->etag() == etag)
            continue;
        changed = true;
        if (!event) {
            event = eventMoc->insertNew<TDWEvent>(QStringLiteral("Event"));
            event->setEventId(eventId);
        }
        event->setEtag(etag);
        if (item.contains(QStringLiteral("created")))
            event->setCreatedDate(rfc3339Date(item.value(QStringLiteral("created"))));
        if (item.contains(QStringLiteral("updated")))
            event->setUpdatedDate(rfc3339Date(item.value(QStringLiteral("updated"))));
        event->setTitle(item.value(QStringLiteral("summary")).toString());
        event->setDefaultTimeZone(defaultTimeZone);
        event->setRecurringEventId(item.value(QStringLiteral("recurringEventId")).toString());
        event->setEventJson(item);
    }
    const QString pass = m_opStartDate.toUTC().toString(Qt::ISODateWithMs);
    QVariantMap markers;
    if (changed)
        markers.insert(TDWCalendarEventStore::LastChangingPassKey, pass);
    if (lastPage)
        markers.insert(TDWCalendarEventStore::LastStoredPassKey, pass);
    if (!markers.isEmpty())
        eventMoc->setMetadataToSave(m_eventStore.store(calendarDoc), markers);
    TDWError error;
    if (!eventMoc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save calendar events: %1").arg(error.localizedDescription()));
        tdwLog(QStringLiteral("detail: %1").arg(error.description()));
        handleError(QStringLiteral("Unable to save calendar events."));
        return false;
    }
    m_eventChanged = m_eventChanged || changed;
    return true;
}

bool TDWCalendarDatabaseUpdateOperation::finishLastPage(const TDWDocRev::Ptr &docRev, TDWManagedObjectContext &moc)
{
    // The start of this pass, so that changes made while it ran are asked for again.
    docRev->doc()->setDatabaseLastUpdatedTime(m_opStartDate);
    const TDWDocRev::Ptr made = docRev->exportStatus() == TDWDocRev::BackedUp && m_eventChanged ? newRevisionOf(docRev, moc) : nullptr;
    TDWError error;
    if (!moc.save(&error)) {
        handleError(QStringLiteral("ERROR: Unable to save calendar last update time: %1").arg(error.localizedDescription()));
        return false;
    }
    if (made)
        makeFolderOfSavedRevision(made);
    return true;
}

bool TDWCalendarDatabaseUpdateOperation::handleGoneStatusCode()
{
    m_eventStore.close();
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    if (!moc)
        return false;
    TDWContextReset reset(moc.get());
    TDWError error;
    const TDWDocRev::Ptr docRev = revisionIn(*moc, &error);
    if (!docRev) {
        handleError(error.localizedDescription());
        return false;
    }
    tdwLog(QStringLiteral("Got 410 status code for calendar \"%1\".").arg(docRev->title()));
    const TDWDoc::Ptr doc = docRev->doc();
    // A full pass has nothing to restart from: another 410 would only repeat it.
    if (doc->databaseFilePath().isEmpty() || !m_incremental) {
        handleError(QStringLiteral("Got 410 response. Should not have been a partial request."));
        return false;
    }
    if (!TDWPersistentStoreCoordinator::deleteStoreFiles(TDWCalendarEventStore::absolutePath(doc->databaseFilePath()), &error)) {
        handleError(QStringLiteral("Got 410 response. Unable to delete old calendar store."));
        return false;
    }
    doc->setDatabaseLastUpdatedTime(QDateTime());
    doc->setDatabaseFilePath(QString());
    if (!moc->save(&error)) {
        handleError(QStringLiteral("Unable to save the result of a 410 response: %1").arg(error.localizedDescription()));
        return false;
    }
    m_startingUrlString = eventsUrlString(m_docId);
    m_incremental = false;
    return true;
}

TDWDocRev::Ptr TDWCalendarDatabaseUpdateOperation::catchUpWithEventStore(const TDWDocRev::Ptr &docRev, TDWManagedObjectContext &moc)
{
    const TDWDoc::Ptr doc = docRev->doc();
    const TDWPersistentStorePtr store = m_eventStore.store(doc);
    // A store that cannot be opened fails the pass where it is first used, with its reason.
    const QVariantMap markers = store ? store->metadata() : QVariantMap();
    // The checks below may delete the store file: it is opened again when needed.
    m_eventStore.close();
    const QDateTime lastUpdate = doc->databaseLastUpdatedTime();
    const auto markerAhead = [&](const QString &key) {
        const QDateTime marker = QDateTime::fromString(markers.value(key).toString(), Qt::ISODateWithMs);
        return marker.isValid() && (!lastUpdate.isValid() || marker > lastUpdate) ? marker : QDateTime();
    };
    // Changes stored by a pass that did not save its end: no revision holds them yet.
    m_eventChanged = markerAhead(TDWCalendarEventStore::LastChangingPassKey).isValid();
    const QDateTime storedPass = markerAhead(TDWCalendarEventStore::LastStoredPassKey);
    if (!storedPass.isValid())
        return docRev;

    tdwLog(QStringLiteral("Calendar \"%1\": finishing the pass of %2 from the events it stored.").arg(m_title, storedPass.toString(Qt::ISODateWithMs)));
    doc->setDatabaseLastUpdatedTime(storedPass);
    const TDWDocRev::Ptr made = docRev->exportStatus() == TDWDocRev::BackedUp && m_eventChanged ? newRevisionOf(docRev, moc) : nullptr;
    TDWError error;
    if (!moc.save(&error)) {
        handleError(QStringLiteral("ERROR: Unable to save calendar last update time: %1").arg(error.localizedDescription()));
        return nullptr;
    }
    const TDWDocRev::Ptr current = made ? made : docRev;
    if (made)
        makeFolderOfSavedRevision(made);
    m_docRevObjectID = current->objectID();
    m_eventChanged = false;
    return current;
}

TDWDocRev::Ptr TDWCalendarDatabaseUpdateOperation::newRevisionOf(const TDWDocRev::Ptr &currentRev, TDWManagedObjectContext &moc)
{
    const TDWDoc::Ptr doc = currentRev->doc();
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    const TDWDocRev::Ptr newRev =
        TDWDocRev::newWithMoc(moc, storeMgr ? storeMgr->storeForAccountUsername(m_accountUsername, TDWServiceIds::Calendar) : nullptr);
    newRev->setDoc(doc);
    for (const QString &key : CopiedKeys)
        newRev->setKeyValue(currentRev->keyValue(key), key);
    // The extensible values too: the default reminders, without which the calendar file would lose
    // the alarms of every event that uses them, and the fix flags that keep the revision current.
    const QVariantMap extensible = currentRev->extensibleProperties();
    for (auto it = extensible.cbegin(); it != extensible.cend(); ++it)
        newRev->setExtensibleProperty(it.value(), it.key());

    currentRev->setLatest(false);
    currentRev->setObsoletedDate(m_iterationDate);
    currentRev->setLastSeenDate(m_iterationDate.addSecs(-1));

    newRev->setLatest(true);
    newRev->setLastModifiedDate(m_iterationDate);
    newRev->setFirstSeenDate(m_iterationDate);
    newRev->setLastSeenDate(m_iterationDate);
    newRev->setExportStatus(TDWDocRev::DownloadPending);
    newRev->setExtensibleProperty(true, CalendarFixKey);

    const qint64 number = currentRev->dirPath().section(QLatin1Char('/'), -1).toLongLong();
    const QString dirPath = doc->dirPath() + QLatin1Char('/') + QString::number(number + 1);
    newRev->setDirPath(dirPath);
    newRev->setFilePath(dirPath + QLatin1Char('/') + currentRev->filePath().section(QLatin1Char('/'), -1));
    return newRev;
}

TDWDocRev::Ptr TDWCalendarDatabaseUpdateOperation::revisionIn(TDWManagedObjectContext &moc, TDWError *error) const
{
    const auto docRev = std::dynamic_pointer_cast<TDWDocRev>(moc.existingObjectWithID(m_docRevObjectID, error));
    return docRev && docRev->doc() ? docRev : nullptr;
}

void TDWCalendarDatabaseUpdateOperation::handleError(const QString &message) const
{
    tdwLog(QStringLiteral("ERROR: Unable to update calendar %1 for username: %2, error: %3").arg(m_title, m_accountUsername, message));
}
