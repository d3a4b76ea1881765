#pragma once

#include "agent/TDWListRetrievalOperation.h"
#include "common/TDWServiceConfig.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/foundation/TDWOperationQueue.h"
#include "platform/http/TDWHttpResponse.h"
#include "platform/store/TDWPersistentStore.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>
#include <QString>

#include <atomic>
#include <limits>
#include <memory>
#include <mutex>

class TDWDocListEntryProcessor;
class TDWHttpClient;
class TDWHttpOperation;
class TDWManagedObjectContext;
class TDWParser;
class TDWServiceDelegate;
class TDWDocEntry;

// Retrieves the list of one account's items for one HTTP API service within
// one backup iteration and brings the account-and-service store up to date
// with it: the pages are fetched one after another with the account's bearer
// token, each kept as a file and parsed by the class the service table names,
// and their entries stored before the next page is asked for. A complete full
// run then marks what it did not see as deleted; every successful run prunes
// old revisions and list pages and records itself (with Drive's change id).
//
// The run is one blocking pass in main() on the list queue's worker thread
// (the HTTP layer has a blocking client for workers); cancel() ends the page
// in flight. Every ending goes through finish(bool) exactly once. While the
// entries of one page are stored, the page its answer names next is already
// being fetched, so the server's time and ours overlap.
//
// Nothing is marked deleted from a listing that failed, ended early, could not
// be parsed or held no entries at all: only a run that read every page and saw
// something speaks for the account's whole list.
class TDWDocListRetrievalOperation : public TDWListRetrievalOperation
{
    Q_OBJECT

public:
    // What a change id field holds when no change id is known.
    static constexpr qint64 NoChangeId = std::numeric_limits<qint64>::max();
    // Google's own document types, to which a limited Drive backup is held.
    static const QStringList &googleDocMimeTypes();

    TDWDocListRetrievalOperation(const QString &accountUsername, const QString &service, const TDWManagedObjectID &backupIterationObjectID,
                                 TDWOperationQueue *downloadQueue);
    ~TDWDocListRetrievalOperation() override;

    bool isConcurrent() const override { return true; }
    void cancel() override;

    // The change id an incremental run continues from, or NoChangeId when the
    // previous run left downloads behind or was limited differently.
    qint64 getLastChangeIdWithLimited(bool limited, TDWManagedObjectContext &moc);
    void setLargestChangeId(qint64 changeId) { m_largestChangeId = changeId; }
    // Chooses the endpoints, fills the directory names and reads every page.
    void finishStarting();
    // The next endpoint with its templates filled in; null when all were taken.
    QString nextUrlForService();
    bool setCurrentDocDirNames();
    void checkForMissingBackups();

    // One page: fetched into statusCode() and responseData(); false when no
    // HTTP answer came (the run has then been finished).
    bool startWithUrl(const QString &url);
    // Keeps, parses and stores the page in statusCode() and responseData();
    // true when nextUrl() names the page to fetch next, false when the run has ended.
    bool processResponse();
    // Appends the service delegate's further endpoints; false on failure.
    bool queueMoreUrls();

    // Ends the run: the completion work of a successful run, the report to the
    // activity monitor, then the operation marked finished.
    void finish(bool ok);
    using TDWListRetrievalOperation::finish;
    void markOpFinished();
    void processJustDeleted();
    void processDeletedDocParents();
    bool updateCalendars();
    void updateTypes();
    void updateDocTypeFrom(const QString &from, const QString &to, TDWManagedObjectContext &moc);
    void recordSuccessfulListRetrieval();
    void deleteOldBackups();
    void deleteOldDocListFiles();

    // Entry processing, done by the entry processor the operation owns.
    bool processEntries(const QList<TDWDocEntry> &entries);
    void obsoleteDoc(const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &latestRev, const QDateTime &obsoletedDate);

    bool altRetrievalMethod() const { return m_altRetrievalMethod; }
    void setAltRetrievalMethod(bool alt) { m_altRetrievalMethod = alt; }
    qint64 statusCode() const { return m_statusCode; }
    void setStatusCode(qint64 status) { m_statusCode = status; }
    const QByteArray &responseData() const { return m_responseData; }
    void setResponseData(const QByteArray &data) { m_responseData = data; }
    const QString &nextUrl() const { return m_nextUrl; }
    qint64 numObjectsRetrieved() const { return m_numObjectsRetrieved; }
    quint64 numFiles() const { return m_numFiles; }
    qint64 startTimestampInteger() const { return m_startTimestampInteger; }
    const QString &serviceFolderType() const { return m_serviceConfig.folderType; }
    QSet<QString> &currentDocDirNames();
    const TDWPersistentStorePtr &accountServiceStore() const { return m_accountServiceStore; }
    qint64 previousLargestChangeId() const { return m_previousLargestChangeId; }
    qint64 largestChangeId() const { return m_largestChangeId; }
    bool limited() const { return m_limited; }

protected:
    // The start of the run, then every page.
    void main() override;

private:
    bool isIncremental() const { return m_previousLargestChangeId != NoChangeId; }
    bool start();
    bool requestLargestChangeId();
    void readPages();
    QString includeQuery() const;
    QByteArray accessToken() const;
    bool fetchInProcess(const QString &url, const QByteArray &token);
    // Starts fetching the page in process on m_pageQueue; fetchInProcess() takes it.
    void fetchAhead(const QString &url, const QByteArray &token);
    // Ends a page fetch still on its way (a run that ends early) and waits for it.
    void dropPageAhead();
    std::unique_ptr<TDWParser> makeParser() const;
    void keepPage(const QString &accountDirPath, const QString &suffix);
    bool parsePage(TDWParser &parser, QList<TDWDocEntry> *entries);
    bool chooseNextPage(const TDWParser &parser);
    QDateTime iterationStartTime(TDWManagedObjectContext &moc);
    std::unique_ptr<TDWManagedObjectContext> newMoc() const;

    TDWOperationQueue *const m_downloadQueue;
    const TDWServiceConfig m_serviceConfig;
    TDWPersistentStorePtr m_accountServiceStore;
    QList<TDWServiceConfig::ListUrl> m_urlObjects;
    qint64 m_urlIndex = 0;
    QString m_nextUrl;
    qint64 m_numObjectsRetrieved = 0;
    QString m_tempDir;
    quint64 m_numFiles = 0;
    const qint64 m_startTimestampInteger;
    std::unique_ptr<TDWServiceDelegate> m_serviceDelegate;
    std::unique_ptr<TDWDocListEntryProcessor> m_entryProcessor;
    qint64 m_previousLargestChangeId = NoChangeId;
    qint64 m_largestChangeId = NoChangeId;
    bool m_limited = false;
    bool m_altRetrievalMethod = false;
    qint64 m_statusCode = 0;
    QByteArray m_responseData;
    std::atomic<bool> m_finished = false;

    std::mutex m_clientMutex; // guards m_client and m_pageRequest, which cancel() reaches from another thread
    std::shared_ptr<TDWHttpClient> m_client;
    // The page fetched ahead: its URL, its request and the fetch that waits for it.
    QString m_pageUrl;
    std::shared_ptr<TDWHttpOperation> m_pageRequest;
    std::shared_ptr<TDWOperation> m_pageFetch;
    TDWHttpResponse m_pageResponse;
    // Last, so that it goes first: its fetch writes the members above.
    TDWOperationQueue m_pageQueue;
};
