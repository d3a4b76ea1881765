#include "services/TDWDocListRetrievalOperation.h"

#include "accounts/TDWCredential.h"
#include "accounts/TDWGoogleEndpoints.h"
#include "accounts/TDWKeychainMgr.h"
#include "agent/TDWCheckForMissingOperation.h"
#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "common/TDWServiceIds.h"
#include "common/TDWServiceTable.h"
#include "common/TDWSettingsKeys.h"
#include "common/TDWUrlEncoding.h"
#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWAccountServiceSetting.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDataProperty.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWEntityFetch.h"
#include "dataobjects/TDWMasterStore.h"
#include "dataobjects/TDWStoreMgr.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/foundation/TDWSafeFile.h"
#include "platform/foundation/TDWUserDefaults.h"
#include "platform/foundation/TDWWireTrace.h"
#include "platform/http/TDWHttpClient.h"
#include "platform/http/TDWHttpError.h"
#include "platform/http/TDWHttpOperation.h"
#include "platform/json/TDWJsonReader.h"
#include "platform/store/TDWContextReset.h"
#include "platform/store/TDWFetchRequest.h"
#include "services/TDWCalendarDatabaseUpdate.h"
#include "services/TDWCurlPageFetch.h"
#include "services/TDWDocListEntryProcessor.h"
#include "services/TDWListRetrievalPruner.h"
#include "services/TDWParserFactory.h"
#include "services/TDWServiceDelegate.h"
#include "status/TDWActivityMonitor.h"

#include <QDir>

#include <exception>

namespace {

// Request and resource time-out of every request of a run.
constexpr auto RequestTimeout = std::chrono::seconds(120);
// Calendars whose event stores are brought up to date at once.
constexpr int CalendarUpdateWidth = 4;

const QString StartChangeIdTemplate = QStringLiteral("${startChangeId}");
const QString IncludeQueryTemplate = QStringLiteral("${includeQuery}");
const QString LastChangeIdProperty = QStringLiteral("lastChangeId");
const QString LastLimitedProperty = QStringLiteral("lastLimited");

// The Google APIs host and key from data, shared by every parser of the program.
std::shared_ptr<const TDWParserConfig> parserConfig()
{
    return std::make_shared<const TDWParserConfig>(TDWServiceTable::shared().getConfig());
}

qint64 changeIdValue(const QVariant &value, bool *ok)
{
    // Google writes the change id as decimal text; a whole number is taken too.
    if (value.typeId() == QMetaType::QString)
        return value.toString().toLongLong(ok);
    *ok = value.typeId() == QMetaType::LongLong;
    return *ok ? value.toLongLong() : 0;
}

} // namespace

const QStringList &TDWDocListRetrievalOperation::googleDocMimeTypes()
{
    static const QStringList types{
        QStringLiteral("application/vnd.google-apps.folder"),       QStringLiteral("application/vnd.google-apps.document"),
        QStringLiteral("application/vnd.google-apps.drawing"),      QStringLiteral("application/vnd.google-apps.form"),
        QStringLiteral("application/vnd.google-apps.presentation"), QStringLiteral("application/vnd.google-apps.spreadsheet"),
    };
    return types;
}

TDWDocListRetrievalOperation::TDWDocListRetrievalOperation(const QString &accountUsername, const QString &service,
                                                           const TDWManagedObjectID &backupIterationObjectID, TDWOperationQueue *downloadQueue)
    : TDWListRetrievalOperation(accountUsername, backupIterationObjectID, service)
    , m_downloadQueue(downloadQueue)
    , m_serviceConfig(TDWServiceTable::shared().serviceConfig(service))
    , m_urlObjects(m_serviceConfig.listUrls)
    , m_tempDir(TDWFileUtils::createTempDir(QDir::tempPath(), QStringLiteral("tidewell.XXXXXX")))
    , m_startTimestampInteger(TDWClock::now().toSecsSinceEpoch())
    , m_serviceDelegate(TDWServiceDelegateClasses::shared().create(m_serviceConfig.serviceDelegateClass))
    , m_altRetrievalMethod(TDWUserDefaults::standard()->boolForKey(TDWSettingsKeys::AltRetrievalMethod))
{
}

TDWDocListRetrievalOperation::~TDWDocListRetrievalOperation() = default;

void TDWDocListRetrievalOperation::cancel()
{
    TDWListRetrievalOperation::cancel();
    m_nextPage.cancel();
    std::lock_guard lock(m_clientMutex);
    if (m_client)
        m_client->cancel();
}

std::unique_ptr<TDWManagedObjectContext> TDWDocListRetrievalOperation::newMoc() const
{
    return TDWMasterStore::shared().newMoc();
}

void TDWDocListRetrievalOperation::main()
{
    if (start())
        finishStarting();
}

// The start of the run up to the endpoints; false when it has ended the run.
bool TDWDocListRetrievalOperation::start()
{
    const std::shared_ptr<TDWStoreMgr> storeMgr = TDWMasterStore::shared().storeMgr();
    m_accountServiceStore = storeMgr ? storeMgr->storeForAccountUsername(accountUsername(), service()) : nullptr;
    checkForMissingBackups();
    if (isCancelled()) {
        finish(false);
        return false;
    }
    if (!m_accountServiceStore) {
        tdwLog(QStringLiteral("ERROR: Unable to find account/service store."));
        finish(false);
        return false;
    }
    m_entryProcessor = std::make_unique<TDWDocListEntryProcessor>(accountUsername(), service(), backupIterationObjectID(), m_accountServiceStore,
                                                                  m_serviceConfig.folderType, m_serviceDelegate.get());
    const bool hasChangeUrls = !m_serviceConfig.changeUrls.isEmpty();
    bool initial = true;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        const TDWContextReset reset(moc.get());
        m_previousLargestChangeId = NoChangeId;
        TDWError error;
        const TDWAccount::Ptr account = moc ? TDWAccount::byUsername(accountUsername(), *moc, &error) : nullptr;
        initial = !account || !account->lastListIterationForService(service());
        if (account && service() == TDWServiceIds::Docs && account->limitGoogleDocs())
            m_limited = true;
        if (moc && hasChangeUrls && !initial)
            m_previousLargestChangeId = getLastChangeIdWithLimited(m_limited, *moc);
    }
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->startedRetrievingApiListForAccountUsername(accountUsername(), service(), initial);
    if (hasChangeUrls && !isIncremental())
        return requestLargestChangeId();
    return true;
}

qint64 TDWDocListRetrievalOperation::getLastChangeIdWithLimited(bool limited, TDWManagedObjectContext &moc)
{
    const std::shared_ptr<TDWAccountServiceSetting> setting = TDWAccountServiceSetting::byAccountUsername(accountUsername(), service(), moc);
    if (!setting)
        return NoChangeId;
    const qint64 leftBehind =
        setting->numDownloadsFailed() + setting->numDownloadsMissing() + setting->numDownloadsNoBackup() + setting->numDownloadsPending();
    if (leftBehind >= 1)
        return NoChangeId;
    const QString lastLimited = TDWDataProperty::propertyValueForName(LastLimitedProperty, m_accountServiceStore, moc);
    if (!lastLimited.isNull() && (lastLimited.toLongLong() != 0) != limited)
        return NoChangeId;
    const QString lastChangeId = TDWDataProperty::propertyValueForName(LastChangeIdProperty, m_accountServiceStore, moc);
    bool ok = false;
    const qint64 changeId = lastChangeId.toLongLong(&ok);
    return ok ? changeId : NoChangeId;
}

QByteArray TDWDocListRetrievalOperation::accessToken() const
{
    const std::shared_ptr<TDWCredential> credential = TDWKeychainMgr::keychainMgr()->credentialForUsername(accountUsername());
    return credential ? credential->accessToken().toUtf8() : QByteArray();
}

bool TDWDocListRetrievalOperation::requestLargestChangeId()
{
    TDWHttpRequest request{QUrl(m_serviceConfig.maxChangeIdUrl)};
    request.setBearerToken(accessToken(), TDWGoogleEndpoints::bearerHosts());
    request.setTotalTimeout(RequestTimeout);
    auto client = std::make_shared<TDWHttpClient>();
    {
        std::lock_guard lock(m_clientMutex);
        m_client = client;
    }
    if (isCancelled())
        client->cancel();
    const TDWHttpResponse response = client->perform(request);
    if (!response.hasResponse()) {
        tdwLog(QStringLiteral("ERROR: Unable to get max change id: %1").arg(response.error().localizedDescription()));
        setFailureCause(response.error());
        finish(false);
        return false;
    }
    if (response.statusCode() != 200) {
        tdwLog(QStringLiteral("ERROR: Request to get max change id returned status code %1").arg(response.statusCode()));
        setFailureCause(response.statusError());
        finish(false);
        return false;
    }
    TDWJsonReader reader;
    TDWError readError;
    const std::optional<TDWJsonObject> answer = reader.readObject(response.body(), &readError);
    if (!answer) {
        tdwLog(QStringLiteral("ERROR parsing max change id response: %1").arg(readError.localizedDescription()));
        finish(false);
        return false;
    }
    bool ok = false;
    const qint64 changeId = changeIdValue(answer->value("largestChangeId"), &ok);
    if (!ok) {
        tdwLog(QStringLiteral("ERROR parsing max change id response."));
        finish(false);
        return false;
    }
    setLargestChangeId(changeId);
    return true;
}

void TDWDocListRetrievalOperation::finishStarting()
{
    if (isIncremental() && !m_serviceConfig.changeUrls.isEmpty())
        m_urlObjects = m_serviceConfig.changeUrls;
    m_urlIndex = 0;
    m_nextUrl = nextUrlForService();
    if (m_nextUrl.isNull()) {
        // No endpoint means no listing, which must not pass for an empty account.
        tdwLog(QStringLiteral("ERROR: No list URL for %1").arg(service()));
        finish(false);
        return;
    }
    if (!setCurrentDocDirNames()) {
        finish(false);
        return;
    }
    readPages();
}

void TDWDocListRetrievalOperation::readPages()
{
    while (startWithUrl(m_nextUrl) && processResponse()) {
    }
}

QString TDWDocListRetrievalOperation::includeQuery() const
{
    QString query = QStringLiteral("trashed=false");
    if (!m_limited)
        return query;
    QStringList terms;
    for (const QString &type : googleDocMimeTypes())
        terms << QStringLiteral("mimeType = '%1'").arg(type);
    return query + QLatin1String(" and (") + terms.join(QLatin1String(" or ")) + u')';
}

QString TDWDocListRetrievalOperation::nextUrlForService()
{
    if (m_urlIndex >= m_urlObjects.size())
        return {};
    QString url = m_urlObjects.at(m_urlIndex).url;
    if (isIncremental())
        url.replace(StartChangeIdTemplate, QString::number(m_previousLargestChangeId + 1));
    if (service() == TDWServiceIds::Docs)
        url.replace(IncludeQueryTemplate, TDWUrlEncoding::stringByUrlEncoding(includeQuery()));
    ++m_urlIndex;
    return url;
}

QSet<QString> &TDWDocListRetrievalOperation::currentDocDirNames()
{
    return m_entryProcessor->currentDocDirNames();
}

bool TDWDocListRetrievalOperation::setCurrentDocDirNames()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    const TDWContextReset reset(moc.get());
    TDWError error;
    if (!moc || !TDWAccount::byUsername(accountUsername(), *moc, &error))
        return false;
    const std::optional<QSet<QString>> names = TDWDoc::folderNamesInUse(m_accountServiceStore, *moc, &error);
    if (!names) {
        tdwLog(QStringLiteral("ERROR: setCurrentDocDirNames failed in DocListProcessor - unable to retrieve docs: %1").arg(error.localizedDescription()));
        return false;
    }
    currentDocDirNames() = *names;
    return true;
}

void TDWDocListRetrievalOperation::checkForMissingBackups()
{
    TDWCheckForMissingOperation check(accountUsername(), service());
    // Before the listing makes folders, so that the names a stopped run took are free again.
    check.removeOrphanFolders();
    check.main();
}

bool TDWDocListRetrievalOperation::startWithUrl(const QString &url)
{
    if (isCancelled()) {
        finish(false);
        return false;
    }
    // The token as it stands now: the backup run renews it while the list runs.
    const QByteArray token = accessToken();
    if (m_altRetrievalMethod) {
        const TDWCurlPageFetch::Result result =
            TDWCurlPageFetch::fetch(url, token, TDWGoogleEndpoints::bearerHosts(), m_serviceConfig.gdataVersion,
                                    [this] { return isCancelled(); });
        if (isCancelled()) {
            finish(false);
            return false;
        }
        m_statusCode = result.statusCode;
        if (result.statusCode == 200)
            m_responseData = result.body;
        return true;
    }
    return fetchInProcess(url, token);
}

bool TDWDocListRetrievalOperation::fetchInProcess(const QString &url, const QByteArray &token)
{
    if (!m_nextPage.isStarted() || m_pageUrl != url)
        fetchAhead(url, token);
    TDWError error;
    TDWHttpResponse response = m_nextPage.take(&error);
    m_pageUrl.clear();
    if (!error.isNull())
        response = TDWHttpResponse::failure(error, QUrl(url));
    if (!response.hasResponse()) {
        // Logged once, here: the run ends without a page to speak of.
        if (response.error().scope() != TDWError::Scope::Cancelled)
            tdwLog(QStringLiteral("ERROR: Request for item list page failed: GET %1: %2")
                       .arg(QString::fromUtf8(TDWWireTrace::maskSecrets(QUrl(url).toEncoded())), response.error().localizedDescription()));
        setFailureCause(response.error());
        finish(false);
        return false;
    }
    m_responseData = response.body();
    m_statusCode = response.statusCode();
    // Logged with the body when the page is processed.
    if (m_statusCode != 200)
        setFailureCause(response.statusError());
    return true;
}

void TDWDocListRetrievalOperation::fetchAhead(const QString &url, const QByteArray &token)
{
    TDWHttpRequest request{QUrl(url)};
    request.setBearerToken(token, TDWGoogleEndpoints::bearerHosts());
    const QString version = m_serviceConfig.gdataVersion;
    if (!version.isEmpty())
        request.setHeader("GData-Version", version.toUtf8());
    request.setTotalTimeout(RequestTimeout);
    m_nextPage.start(std::make_shared<TDWHttpOperation>(request));
    m_pageUrl = url;
    // A cancel() that came before the start above found nothing to end.
    if (isCancelled())
        m_nextPage.cancel();
}

std::unique_ptr<TDWParser> TDWDocListRetrievalOperation::makeParser() const
{
    return TDWParserFactory::create(m_urlObjects.value(m_urlIndex - 1).parserClass, parserConfig());
}

void TDWDocListRetrievalOperation::keepPage(const QString &accountDirPath, const QString &suffix)
{
    const QString pageFolder = QDir(TDWFileMgr::itemListXmlPathForService(service()))
                                   .filePath(accountDirPath + u'/' + QString::number(m_startTimestampInteger));
    TDWPrivateFiles::makeFolder(pageFolder);
    TDWPrivateFiles::makeFolder(QDir(TDWFileMgr::backedUpItemsPathForService(service())).filePath(accountDirPath));
    const QString path = QDir(pageFolder).filePath(QStringLiteral("list%1.%2").arg(m_numFiles + 1).arg(suffix));
    TDWError error;
    if (!TDWSafeFile::write(path, m_responseData, &error, TDWPrivateFiles::FileMode))
        tdwLog(QStringLiteral("ERROR: Unable to write list page \"%1\": %2").arg(path, error.localizedDescription()));
    ++m_numFiles;
}

bool TDWDocListRetrievalOperation::processResponse()
{
    QString accountDirPath;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        const TDWContextReset reset(moc.get());
        TDWError error;
        if (const TDWAccount::Ptr account = moc ? TDWAccount::byUsername(accountUsername(), *moc, &error) : nullptr)
            accountDirPath = account->dirPath();
    }
    if (m_statusCode != 200) {
        tdwLog(QStringLiteral("ERROR: Unexpected status code from item list: %1\n%2").arg(m_statusCode).arg(QString::fromUtf8(m_responseData)));
        finish(false);
        return false;
    }
    const std::unique_ptr<TDWParser> parser = makeParser();
    if (!parser) {
        tdwLog(QStringLiteral("ERROR: No parser"));
        finish(false);
        return false;
    }
    if (!accountDirPath.isEmpty())
        keepPage(accountDirPath, parser->fileTypeSuffix());
    QList<TDWDocEntry> entries;
    if (!parsePage(*parser, &entries))
        return false;
    // The next page named by this one comes while this one is stored.
    if (!m_nextUrl.isNull() && !m_altRetrievalMethod)
        fetchAhead(m_nextUrl, accessToken());
    if (!processEntries(entries)) {
        tdwLog(QStringLiteral("ERROR: processEntries returned no"));
        finish(false);
        return false;
    }
    return chooseNextPage(*parser);
}

// Parses the page and takes its entries; false when the run has ended. A
// page that fails to parse fails the run: reading on as if it had been
// complete would pass the unread rest of the list off as deleted.
bool TDWDocListRetrievalOperation::parsePage(TDWParser &parser, QList<TDWDocEntry> *entries)
{
    try {
        if (!parser.parse(m_responseData)) {
            tdwLog(QStringLiteral("ERROR: Unable to parse response"));
            finish(false);
            return false;
        }
        *entries = parser.docEntries();
        const QString previousUrl = m_nextUrl;
        m_nextUrl = parser.nextUrl();
        if (!m_nextUrl.isNull() && m_nextUrl == previousUrl) {
            tdwLog(QStringLiteral("ERROR: The item list names the page just read as the next one: %1").arg(m_nextUrl));
            finish(false);
            return false;
        }
        m_numObjectsRetrieved += parser.numEntries();
        if (m_numObjectsRetrieved > 0)
            if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
                monitor->updateApiListForAccountUsername(accountUsername(), service(), m_numObjectsRetrieved);
        if (isIncremental() && m_largestChangeId == NoChangeId) {
            m_largestChangeId = parser.largestChangeId();
            if (m_largestChangeId == NoChangeId) {
                tdwLog(QStringLiteral("ERROR: Unable to retrieve largest change id from changes feed."));
                finish(false);
                return false;
            }
        }
    } catch (const std::exception &exception) {
        tdwLog(QStringLiteral("ERROR: Encountered exception when parsing the response for %1 for %2: %3")
                   .arg(accountUsername(), service(), QString::fromUtf8(exception.what())));
        finish(false);
        return false;
    }
    return true;
}

bool TDWDocListRetrievalOperation::chooseNextPage(const TDWParser &parser)
{
    const QString continuation = parser.continuation();
    if (m_nextUrl.isNull() && !continuation.isNull())
        m_nextUrl = m_urlObjects.value(m_urlIndex - 1).url + QLatin1String("&c=")
                    + TDWUrlEncoding::stringByUrlEncoding(continuation);
    if (m_nextUrl.isNull()) {
        if (m_urlIndex == m_urlObjects.size() && !queueMoreUrls()) {
            finish(false);
            return false;
        }
        m_nextUrl = nextUrlForService();
    }
    if (m_nextUrl.isNull()) {
        finish(true);
        return false;
    }
    return true;
}

bool TDWDocListRetrievalOperation::queueMoreUrls()
{
    if (!m_serviceDelegate)
        return true;
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    const TDWContextReset reset(moc.get());
    TDWError error;
    const auto iteration =
        moc ? std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(backupIterationObjectID(), &error)) : nullptr;
    if (!iteration) {
        tdwLog(QStringLiteral("ERROR: Unable to find backup iteration."));
        return false;
    }
    const std::optional<QList<TDWServiceConfig::ListUrl>> more = m_serviceDelegate->moreLinksForBackupIteration(iteration, m_accountServiceStore, *moc);
    if (!more)
        return false;
    m_urlObjects.append(*more);
    return true;
}

bool TDWDocListRetrievalOperation::processEntries(const QList<TDWDocEntry> &entries)
{
    return m_entryProcessor->processEntries(entries);
}

void TDWDocListRetrievalOperation::obsoleteDoc(const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &latestRev, const QDateTime &obsoletedDate)
{
    m_entryProcessor->obsoleteDoc(doc, latestRev, obsoletedDate);
}

void TDWDocListRetrievalOperation::finish(bool ok)
{
    if (m_finished.exchange(true))
        return;
    m_nextPage.cancel();
    if (!m_tempDir.isEmpty())
        QDir(m_tempDir).removeRecursively();
    if (ok && !isIncremental()) {
        // A listing without a single entry cannot tell an empty account from
        // an answer that lost its items: nothing is taken as deleted from it.
        if (m_numObjectsRetrieved > 0) {
            processJustDeleted();
            processDeletedDocParents();
        } else {
            tdwLog(QStringLiteral("The item list of %1 for %2 was empty; no item is marked deleted").arg(service(), accountUsername()));
        }
        if (service() == TDWServiceIds::Calendar)
            ok = updateCalendars();
    }
    qint32 reason = 2;
    if (ok) {
        if (service() == TDWServiceIds::Docs)
            updateTypes();
        deleteOldBackups();
        deleteOldDocListFiles();
        recordSuccessfulListRetrieval();
        reason = 0;
    }
    if (TDWActivityMonitor *monitor = TDWActivityMonitor::shared())
        monitor->doneRetrievingListForAccountUsername(accountUsername(), service(), reason);
    markOpFinished();
}

void TDWDocListRetrievalOperation::markOpFinished()
{
    TDWOperation::finish();
}

QDateTime TDWDocListRetrievalOperation::iterationStartTime(TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto iteration = std::dynamic_pointer_cast<TDWBackupIteration>(moc.existingObjectWithID(backupIterationObjectID(), &error));
    return iteration ? iteration->iterationStartTime() : QDateTime();
}

void TDWDocListRetrievalOperation::processJustDeleted()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    const TDWContextReset reset(moc.get());
    TDWError error;
    const auto iteration =
        moc ? std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(backupIterationObjectID(), &error)) : nullptr;
    if (!iteration || !TDWAccount::byUsername(accountUsername(), *moc, &error))
        return;
    const QDateTime start = iteration->iterationStartTime();
    const std::optional<QList<TDWDocRev::Ptr>> revs = TDWDocRev::latestNotDeletedByStore(m_accountServiceStore, iteration, *moc, &error);
    if (!revs) {
        tdwLog(QStringLiteral("ERROR: processJustDeleted failed because of inability to retrieve DocRev's"));
        return;
    }
    for (const TDWDocRev::Ptr &rev : *revs)
        obsoleteDoc(rev->doc(), rev, start);
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: unable to save in processJustDeleted: %1, details: %2").arg(error.localizedDescription(), error.description()));
}

void TDWDocListRetrievalOperation::processDeletedDocParents()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    const TDWContextReset reset(moc.get());
    if (!moc)
        return;
    const QDateTime start = iterationStartTime(*moc);
    if (!start.isValid())
        return;
    TDWError error;
    const auto links = TDWEntityFetch(*moc, QStringLiteral("DocParent"))
                           .where(QStringLiteral("assocCurrent = 1 and lastSeenDate != %@"), {start})
                           .in(m_accountServiceStore)
                           .objects<TDWDocParent>(&error);
    if (!links) {
        tdwLog(QStringLiteral("ERROR: Unable to mark docparent as deleted: %1").arg(error.localizedDescription()));
        return;
    }
    for (const TDWDocParent::Ptr &link : *links) {
        link->setAssocCurrent(false);
        link->setObsoletedDate(start);
    }
    if (!moc->save(&error))
        tdwLog(QStringLiteral("ERROR: Unable to mark docparent as deleted: %1").arg(error.localizedDescription()));
}

bool TDWDocListRetrievalOperation::updateCalendars()
{
    QList<TDWManagedObjectID> ids;
    QDateTime start;
    {
        const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
        const TDWContextReset reset(moc.get());
        if (!moc)
            return false;
        TDWError error;
        const std::optional<QList<TDWManagedObjectID>> found =
            TDWDocRev::idsWithPredicate(TDWPredicate::parse(QStringLiteral("(latest = 1 and doc.deleted = 0)")), m_accountServiceStore, *moc, &error);
        if (!found)
            return false;
        ids = *found;
        start = iterationStartTime(*moc);
    }
    TDWOperationQueue queue;
    queue.setMaxConcurrentOperationCount(CalendarUpdateWidth);
    QList<std::shared_ptr<TDWCalendarDatabaseUpdate>> updates;
    for (const TDWManagedObjectID &id : ids) {
        std::shared_ptr<TDWCalendarDatabaseUpdate> update =
            TDWCalendarUpdateClasses::shared().create(TDWCalendarDatabaseUpdate::ClassName, id, accountUsername(), start);
        if (!update) {
            tdwLog(QStringLiteral("ERROR: No calendar event store update class \"%1\"").arg(TDWCalendarDatabaseUpdate::ClassName));
            return false;
        }
        updates.append(update);
        queue.addOperation(update);
    }
    queue.waitUntilAllOperationsAreFinished();
    bool allSucceeded = true;
    for (const std::shared_ptr<TDWCalendarDatabaseUpdate> &update : updates) {
        allSucceeded = allSucceeded && update->successful();
        // A refused sign-in or a lost connection there ends the backup run too.
        if (const TDWError cause = update->failureCause(); cause.endsRun() && failureCause().isNull())
            setFailureCause(cause);
    }
    return allSucceeded;
}

void TDWDocListRetrievalOperation::updateTypes()
{
    static const QList<QPair<QString, QString>> renames{
        {QStringLiteral("Text document"), QStringLiteral("Google Docs")}, {QStringLiteral("Spreadsheet"), QStringLiteral("Google Sheets")},
        {QStringLiteral("Presentation"), QStringLiteral("Google Slides")}, {QStringLiteral("Drawings"), QStringLiteral("Google Drawing")},
        {QStringLiteral("Form"), QStringLiteral("Google Forms")},
    };
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    const TDWContextReset reset(moc.get());
    if (!moc)
        return;
    for (const auto &[from, to] : renames)
        updateDocTypeFrom(from, to, *moc);
    TDWError error;
    moc->save(&error);
}

void TDWDocListRetrievalOperation::updateDocTypeFrom(const QString &from, const QString &to, TDWManagedObjectContext &moc)
{
    TDWError error;
    const auto docs = TDWEntityFetch(moc, QStringLiteral("Doc")).where(QStringLiteral("docTypeLabel = %@"), {from}).objects<TDWDoc>(&error);
    if (!docs)
        return;
    for (const TDWDoc::Ptr &doc : *docs)
        doc->setDocTypeLabel(to);
}

void TDWDocListRetrievalOperation::recordSuccessfulListRetrieval()
{
    const std::unique_ptr<TDWManagedObjectContext> moc = newMoc();
    const TDWContextReset reset(moc.get());
    if (!moc)
        return;
    TDWError error;
    const auto iteration = std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(backupIterationObjectID(), &error));
    if (!iteration) {
        tdwLog(QStringLiteral("ERROR: BackupIteration not found in handleDocListResult"));
        return;
    }
    const TDWAccount::Ptr account = TDWAccount::byUsername(accountUsername(), *moc, &error);
    if (!account) {
        tdwLog(QStringLiteral("ERROR: Account not found in handleDocListResult"));
        return;
    }
    bool accountChanged = false;
    if (account->enabledForAnyService() && account->lastStatus() != 1) {
        account->setLastStatus(1);
        accountChanged = true;
    }
    const std::shared_ptr<TDWAccountServiceSetting> setting = account->settingForService(service());
    if (setting)
        setting->setLastListIteration(iteration);
    if (m_largestChangeId != NoChangeId) {
        TDWDataProperty::setPropertyValue(QString::number(m_largestChangeId), LastChangeIdProperty, m_accountServiceStore, *moc);
        TDWDataProperty::setPropertyValue(QString::number(m_limited ? 1 : 0), LastLimitedProperty, m_accountServiceStore, *moc);
    }
    if (setting && !setting->firstIterationStartTime().isValid())
        setting->setFirstIterationStartTime(iteration->iterationStartTime());
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: unable to save in recordSuccessfulListRetrieval: %1, details: %2")
                   .arg(error.localizedDescription(), error.description()));
        moc->rollback();
        return;
    }
    if (accountChanged)
        postAccountUpdate();
}

void TDWDocListRetrievalOperation::deleteOldBackups()
{
    TDWListRetrievalPruner(accountUsername(), service(), m_accountServiceStore).deleteOldBackups(m_limited && !isIncremental());
}

void TDWDocListRetrievalOperation::deleteOldDocListFiles()
{
    TDWListRetrievalPruner(accountUsername(), service(), m_accountServiceStore).deleteOldDocListFiles();
}
