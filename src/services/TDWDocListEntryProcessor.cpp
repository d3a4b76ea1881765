#include "services/TDWDocListEntryProcessor.h"

#include "agent/TDWDocDirRenameHandler.h"
#include "agent/TDWRuleUpdateOperation.h"
#include "common/TDWServiceIds.h"
#include "dataobjects/TDWAccount.h"
#include "common/TDWFileMgr.h"
#include "common/TDWFileUtils.h"
#include "common/TDWServiceTable.h"
#include "common/TDWUrlEncoding.h"
#include "dataobjects/TDWBackupIteration.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWClock.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"
#include "platform/store/TDWContextReset.h"
#include "services/TDWCalendarEventStore.h"
#include "services/TDWDocListPage.h"
#include "services/TDWServiceDelegate.h"
#include "services/TDWStoredContactEntry.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <stdexcept>
#include <sys/stat.h>

namespace {


QString joined(const QString &folder, const QString &name)
{
    return folder + QLatin1Char('/') + name;
}

QString docTypeLabel(const QString &docType)
{
    return TDWServiceTable::shared().docTypeConfig(docType).value(QStringLiteral("label")).toString();
}

QString pathExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.mid(dot + 1) : QString();
}

QString withoutPathExtension(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 ? name.left(dot) : name;
}

bool missingFix(const TDWDocRev::Ptr &revision, const QString &flag)
{
    return !revision->extensiblePropertyForKey(flag).toBool();
}

bool contactHasStructuredAddress(const QString &entryXml)
{
    TDWStoredContactEntry stored;
    return stored.parse(entryXml) && stored.entry().hasChildNamed("gd:structuredPostalAddress");
}

bool needsDownload(qint64 status)
{
    return status == TDWDocRev::DownloadPending || status == TDWDocRev::DownloadFailed || status == TDWDocRev::FileMissing;
}

// Makes the first free numbered revision folder ("1", "2", ...) from `number`
// on in `itemFolder` and answers its number; *made tells whether it was made.
// mkdir itself tells what is taken (anything there, dangling links included);
// the item folder is made only when missing. A folder that cannot be made
// keeps its number: it is made again before the delegate needs it.
qint64 makeRevisionFolder(const QString &itemFolder, qint64 number, bool *made)
{
    bool itemFolderMade = false;
    *made = false;
    for (;;) {
        if (::mkdir(QFile::encodeName(joined(itemFolder, QString::number(number))).constData(), TDWPrivateFiles::FolderMode) == 0) {
            *made = true;
            return number;
        }
        const int code = errno;
        if (code == EEXIST) {
            ++number;
        } else if (code == ENOENT && !itemFolderMade) {
            itemFolderMade = true;
            TDWPrivateFiles::makeFolder(itemFolder);
        } else {
            return number;
        }
    }
}

} // namespace

struct TDWDocListEntryProcessor::Page
{
    Page(TDWManagedObjectContext &moc, const TDWPersistentStorePtr &store)
        : moc(moc)
        , table(moc, store)
    {
    }

    TDWManagedObjectContext &moc;
    TDWAccount::Ptr account;
    QDateTime start;
    TDWDocListPage table;
    // The do-not-back-up rule, read once per page when a new revision first needs it.
    std::optional<TDWPredicate> exclusion;
    TDWError exclusionError;
    // Revisions the delegate backed up itself, and those of the entry at hand.
    QList<TDWDocRev::Ptr> finished;
    QList<TDWDocRev::Ptr> entryFinished;
    // Folder names the entry at hand took.
    QStringList entryDirNames;
    // Whether the entry at hand's new revision folder was just made (the
    // delegate then needs no second making of it).
    bool entryRevisionFolderMade = false;
};

TDWDocListEntryProcessor::TDWDocListEntryProcessor(const QString &accountUsername, const QString &service,
                                                   const TDWManagedObjectID &backupIterationObjectID,
                                                   TDWPersistentStorePtr accountServiceStore, const QString &serviceFolderType,
                                                   TDWServiceDelegate *serviceDelegate)
    : m_accountUsername(accountUsername)
    , m_service(service)
    , m_backupIterationObjectID(backupIterationObjectID)
    , m_accountServiceStore(std::move(accountServiceStore))
    , m_serviceFolderType(serviceFolderType)
    , m_serviceDelegate(serviceDelegate)
{
}

bool TDWDocListEntryProcessor::dateIsEqualTo(const QDateTime &date, const QDateTime &other)
{
    if (!date.isValid() || !other.isValid())
        return date.isValid() == other.isValid();
    return date == other;
}

bool TDWDocListEntryProcessor::processEntries(const QList<TDWDocEntry> &entries)
{
    std::unique_ptr<TDWManagedObjectContext> moc = TDWMasterStore::shared().newMoc();
    TDWContextReset resetOnExit(moc.get());
    Page page(*moc, m_accountServiceStore);
    page.account = TDWAccount::byUsername(m_accountUsername, *moc, nullptr);
    if (!page.account)
        return false;
    const auto iteration = std::dynamic_pointer_cast<TDWBackupIteration>(moc->existingObjectWithID(m_backupIterationObjectID, nullptr));
    if (!iteration) {
        tdwLog(QStringLiteral("ERROR: Unable to find the backup iteration in DocListRetrievalOperation processEntries"));
        return false;
    }
    page.start = iteration->iterationStartTime();
    if (!page.table.load(entries, nullptr))
        return false;

    for (const TDWDocEntry &entry : entries) {
        // One savepoint per entry: a failed entry changes nothing, the others are kept.
        moc->beginSavepoint();
        page.table.beginEntry();
        page.entryFinished.clear();
        page.entryDirNames.clear();
        page.entryRevisionFolderMade = false;
        QString failure;
        try {
            if (processEntry(page, entry) == Outcome::DropPage)
                return false;
        } catch (const std::exception &exception) {
            failure = QString::fromUtf8(exception.what());
        } catch (...) {
            failure = QStringLiteral("unknown exception");
        }
        if (failure.isNull()) {
            moc->releaseSavepoint();
            page.table.commitEntry();
            page.finished.append(page.entryFinished);
            continue;
        }
        tdwLog(QStringLiteral("Exception processing entry -- type: %1, id: %2, exception: %3").arg(entry.docType(), entry.docId(), failure));
        moc->rollbackToSavepoint();
        page.table.undoEntry();
        for (const QString &name : std::as_const(page.entryDirNames))
            m_currentDocDirNames.remove(name);
    }

    TDWError error;
    if (!moc->save(&error)) {
        tdwLog(QStringLiteral("ERROR: Unable to save in DocListRetrievalOperation processEntries: %1, details: %2")
                   .arg(error.localizedDescription(), error.description()));
        return false;
    }
    for (const TDWDocRev::Ptr &revision : std::as_const(page.finished))
        TDWDocDirRenameHandler::considerDocDirRenameForDocRevId(revision->objectID());
    return true;
}

TDWDocListEntryProcessor::Outcome TDWDocListEntryProcessor::processEntry(Page &page, TDWDocEntry entry)
{
    if (m_serviceDelegate && !m_serviceDelegate->useEntry(entry, page.account))
        return Outcome::Done;
    if (entry.ownerEmail().isEmpty() && entry.accessRole() == QLatin1String("owner"))
        entry.setOwnerEmail(m_accountUsername);

    TDWDoc::Ptr doc = page.table.item(entry.docId());
    if (!doc && entry.docType() == QLatin1String("calendarmeta")) {
        // Calendars were once stored under their encoded ids.
        const QString encoded = TDWUrlEncoding::stringByUrlEncoding(entry.docId());
        if (encoded != entry.docId())
            doc = TDWDoc::byDocId(encoded, m_accountServiceStore, page.moc, nullptr);
        if (doc) {
            doc->setDocId(entry.docId());
            page.table.renameItem(encoded, doc);
        }
    }

    if (entry.deleted()) {
        if (doc)
            obsoleteDoc(doc, page.table.latestRevision(doc, nullptr), page.start);
        return Outcome::Done;
    }

    const bool reappeared = doc && doc->deleted();
    if (reappeared)
        doc->setDeleted(false);

    TDWDocRev::Ptr candidate;
    if (!doc) {
        doc = newDocForEntry(page, entry);
        page.table.addItem(doc);
    } else {
        TDWError error;
        candidate = page.table.latestRevision(doc, &error);
        if (!error.isNull()) {
            tdwLog(QStringLiteral("ERROR: Unable to locate candidateDocRev: %1").arg(error.localizedDescription()));
            return Outcome::DropPage;
        }
    }

    bool reuse = false;
    if (candidate && decideReuse(entry, doc, candidate, reappeared, &reuse) == Outcome::DropPage)
        return Outcome::DropPage;

    TDWDocRev::Ptr revision = candidate;
    if (!reuse) {
        revision = newDocRevForEntry(page, entry, doc);
        if (candidate) {
            candidate->setLatest(false);
            if (!candidate->obsoletedDate().isValid())
                candidate->setObsoletedDate(page.start);
        }
        page.table.setLatestRevision(doc, revision);
    }
    updateDocRev(page, revision, entry);
    revision->setLastSeenDate(page.start);
    const bool grouping = doc->isGrouping();
    // The rule sees the revision complete: flags, people, dates and content included.
    if (!reuse && !grouping)
        applyExclusionRule(page, revision);
    if (!grouping && needsDownload(revision->exportStatus()))
        offerToDelegate(page, revision, doc);
    return Outcome::Done;
}

TDWDocListEntryProcessor::Outcome TDWDocListEntryProcessor::decideReuse(const TDWDocEntry &entry, const TDWDoc::Ptr &doc,
                                                                        const TDWDocRev::Ptr &candidate, bool reappeared, bool *reuse)
{
    *reuse = false;
    const QString title = candidate->title();
    if (title.isNull() || entry.title().isNull() || title != entry.title())
        return Outcome::Done;
    const QDateTime entryDate = entry.lastModifiedDate();
    const QDateTime candidateDate = candidate->lastModifiedDate();
    if (!entryDate.isValid() && !candidateDate.isValid()) {
        if (candidate->etag() != entry.etag() || candidate->etag().isNull() != entry.etag().isNull())
            return Outcome::Done;
    } else {
        // An entry without a date leaves the date out of the test: a date kept
        // from earlier runs must not force a new revision.
        if (entryDate.isValid() && candidateDate.isValid() && candidateDate < entryDate)
            return Outcome::Done;
        const bool sameEtag = !candidate->etag().isNull() && !entry.etag().isNull() && candidate->etag() == entry.etag();
        if (!sameEtag && candidate->extensiblePropertyForKey(QStringLiteral("jsonDictionary")).isValid())
            return Outcome::Done;
    }

    if (m_service == TDWServiceIds::Calendar && (entry.accessRole().isNull() || entry.accessRole() != candidate->accessRole()))
        return Outcome::Done;
    if (reappeared)
        return Outcome::Done;
    const QString exportType = candidate->exportType();
    if (missingFix(candidate, QStringLiteral("has216fix"))
        && (exportType == QLatin1String("word") || exportType == QLatin1String("xls") || exportType == QLatin1String("ppt")))
        return Outcome::Done;
    if (missingFix(candidate, QStringLiteral("has252calendarfix")) && exportType == QLatin1String("calendar")) {
        // The event store predates a fix: its events are fetched again in full.
        if (!doc->databaseFilePath().isEmpty()) {
            const QString path = TDWCalendarEventStore::absolutePath(doc->databaseFilePath());
            if (QFileInfo(path).exists() || QFileInfo(path).isSymLink()) {
                if (!QFile::remove(path)) {
                    tdwLog(QStringLiteral("ERROR: Unable to delete file at %1").arg(path));
                    return Outcome::DropPage;
                }
            }
        }
        doc->setDatabaseFilePath(QString());
        doc->setDatabaseLastUpdatedTime(QDateTime());
        return Outcome::Done;
    }
    if (entry.docType() == QLatin1String("contact") && missingFix(candidate, QStringLiteral("contactHasStructuredAddress"))) {
        if (contactHasStructuredAddress(entry.xmlString()))
            return Outcome::Done;
        candidate->setExtensibleProperty(true, QStringLiteral("contactHasStructuredAddress"));
    }
    if (candidate->starred() != entry.starred() || candidate->hidden() != entry.hidden() || candidate->shared() != entry.shared()
        || candidate->liked() != entry.liked() || candidate->viewedByMe() != entry.viewedByMe())
        return Outcome::Done;
    if (m_service != TDWServiceIds::Calendar && entryDate.isValid() && !dateIsEqualTo(candidateDate, entryDate))
        return Outcome::Done;
    *reuse = true;
    return Outcome::Done;
}

void TDWDocListEntryProcessor::obsoleteDoc(const TDWDoc::Ptr &doc, const TDWDocRev::Ptr &latestRev, const QDateTime &obsoletedDate)
{
    QList<TDWDocParent::Ptr> links = doc->parentDocs();
    links.append(doc->childDocs());
    for (const TDWDocParent::Ptr &link : std::as_const(links)) {
        if (link->obsoletedDate().isValid())
            continue;
        link->setAssocCurrent(false);
        link->setObsoletedDate(obsoletedDate);
    }
    doc->setDeleted(true);
    if (latestRev && !latestRev->obsoletedDate().isValid())
        latestRev->setObsoletedDate(obsoletedDate);
}

TDWDoc::Ptr TDWDocListEntryProcessor::newDocForEntry(Page &page, const TDWDocEntry &entry)
{
    TDWDoc::Ptr doc = TDWDoc::newWithMoc(page.moc, m_accountServiceStore);
    doc->setAccountUsername(page.account->username());
    doc->setDocId(entry.docId());
    doc->setDocType(entry.docType());
    doc->setDocTypeLabel(docTypeLabel(entry.docType()));
    doc->setService(m_service);
    doc->setIsUnlabeledMessage(false);
    if (!doc->isGrouping()) {
        const QString name = newItemFolderName(page.account->dirPath(), entry.title());
        page.entryDirNames.append(name.toLower());
        doc->setDirPath(joined(page.account->dirPath(), name));
    }
    doc->setDeleted(false);
    return doc;
}

QString TDWDocListEntryProcessor::newItemFolderName(const QString &accountDirPath, const QString &title)
{
    const QString base = TDWFileUtils::generateFilenameFromString(withoutPathExtension(title));
    QString candidate = base;
    for (qint64 n = 1; m_currentDocDirNames.contains(candidate.toLower()); ++n)
        candidate = QStringLiteral("%1-%2").arg(base).arg(n);
    const QString parent = joined(TDWFileMgr::backedUpItemsPathForService(m_service), accountDirPath);
    // A folder that cannot be made is made again before the delegate needs it;
    // the name stands all the same.
    const QString made = TDWFileUtils::createDirectoryIn(parent, candidate);
    const QString name = made.isEmpty() ? candidate : QFileInfo(made).fileName();
    m_currentDocDirNames.insert(name.toLower());
    return name;
}

TDWDocRev::Ptr TDWDocListEntryProcessor::newDocRevForEntry(Page &page, const TDWDocEntry &entry, const TDWDoc::Ptr &doc)
{
    TDWDocRev::Ptr revision = TDWDocRev::newWithMoc(page.moc, m_accountServiceStore);
    revision->setEtag(entry.etag());
    revision->setDoc(doc);
    revision->setXmlString(entry.xmlString());
    revision->setIsUnread(false);
    revision->setAccessRole(entry.accessRole());
    revision->setTitle(entry.title());
    if (!doc->isGrouping()) {
        qint64 number = 1;
        if (const TDWDocRev::Ptr latest = page.table.latestRevision(doc, nullptr)) {
            const qint64 previous = QFileInfo(latest->dirPath()).fileName().toLongLong();
            if (previous != 0)
                number = previous;
        }
        const QString itemFolder = joined(TDWFileMgr::backedUpItemsPathForService(doc->service()), doc->dirPath());
        number = makeRevisionFolder(itemFolder, number, &page.entryRevisionFolderMade);
        revision->setDirPath(joined(doc->dirPath(), QString::number(number)));

        const QVariantMap config = TDWServiceTable::shared().docTypeConfig(doc->docType());
        const QStringList exportTypes = TDWServiceTable::shared().exportTypes(doc->docType());
        if (!exportTypes.isEmpty()) {
            const QString exportType = exportTypes.first();
            const QString suffix =
                config.value(QStringLiteral("exports")).toMap().value(exportType).toMap().value(QStringLiteral("suffix")).toString();
            revision->setExportType(exportType);
            revision->setFilePath(joined(revision->dirPath(), TDWFileUtils::generateFilenameFromString(entry.title(), suffix)));
        } else {
            revision->setExportType(QString());
            const QString extension = entry.filenameExtension().isNull() ? pathExtension(entry.title()) : entry.filenameExtension();
            revision->setFilePath(joined(revision->dirPath(), TDWFileUtils::generateFilenameFromString(entry.title(), extension)));
        }
    }
    revision->setSortTitle(entry.title());
    revision->setFirstSeenDate(page.start);
    // One archive for the fix flags ("jsonDictionary" follows at once, with
    // the rest of the entry's values).
    QVariantMap fixes{{QStringLiteral("has216fix"), true}, {QStringLiteral("has252calendarfix"), true}};
    if (entry.docType() == QLatin1String("contact"))
        fixes.insert(QStringLiteral("contactHasStructuredAddress"), true);
    revision->setExtensibleProperties(fixes);
    return revision;
}

void TDWDocListEntryProcessor::applyExclusionRule(Page &page, const TDWDocRev::Ptr &docRev)
{
    if (!page.exclusion)
        page.exclusion = TDWRuleUpdateOperation::shouldNotBackUpPredicateForAccountUsername(m_accountUsername, m_service, &page.exclusionError);
    if (!page.exclusionError.isNull())
        throw std::runtime_error(("invalid do-not-back-up rule: " + page.exclusionError.localizedDescription()).toStdString());
    TDWError error;
    const bool excluded = page.exclusion->evaluate(*docRev, &error);
    if (!error.isNull())
        throw std::runtime_error(("do-not-back-up rule cannot be evaluated: " + error.localizedDescription()).toStdString());
    docRev->setExportStatus(excluded ? TDWDocRev::ExcludedByRule : TDWDocRev::DownloadPending);
}

void TDWDocListEntryProcessor::updateDocRev(Page &page, const TDWDocRev::Ptr &docRev, const TDWDocEntry &entry)
{
    docRev->setStarred(entry.starred());
    docRev->setHidden(entry.hidden());
    docRev->setShared(entry.shared());
    docRev->setLiked(entry.liked());
    docRev->setViewedByMe(entry.viewedByMe());
    docRev->setOwnerName(entry.ownerName());
    docRev->setOwnerEmail(entry.ownerEmail());
    docRev->setLastModifiedName(entry.lastModifiedName());
    docRev->setLastModifiedEmail(entry.lastModifiedEmail());
    // No date is invented for an entry without one: a stamped "now" would
    // differ from the next run's entry and force a new revision every run.
    if (entry.lastModifiedDate().isValid())
        docRev->setLastModifiedDate(entry.lastModifiedDate());
    docRev->setPublishDate(entry.publishDate());
    docRev->setLatest(true);
    docRev->setContent(entry.content());
    docRev->setSummary(entry.summary());
    docRev->setLocation(entry.location());
    docRev->setPhotoEtag(entry.photoEtag());

    linkToParents(page, docRev->doc(), entry);

    QString contentUrl = entry.contentUrl();
    if (!contentUrl.isNull() && contentUrl.startsWith(QLatin1String("http:"), Qt::CaseInsensitive))
        contentUrl = QStringLiteral("https:") + contentUrl.mid(5);
    docRev->setContentUrl(contentUrl);
    docRev->setContentUrlDate(TDWClock::now());
    const QVariant stored = docRev->extensiblePropertyForKey(QStringLiteral("jsonDictionary"));
    // Rewriting the archive costs more than comparing, and comparing the text
    // with the stored values costs less than reading it: most entries are unchanged.
    if (!entry.jsonDictionaryMatches(stored)) {
        const QVariantMap json = entry.jsonDictionary();
        if (json.isEmpty() ? stored.isValid() : stored != QVariant(json))
            docRev->setExtensibleProperty(json.isEmpty() ? QVariant() : QVariant(json), QStringLiteral("jsonDictionary"));
    }
    docRev->setEtag(entry.etag());
}

void TDWDocListEntryProcessor::linkToParents(Page &page, const TDWDoc::Ptr &doc, const TDWDocEntry &entry)
{
    for (const QString &parentId : entry.parentFolderIds()) {
        TDWDoc::Ptr parent = page.table.item(parentId);
        if (parent) {
            if (parent->docType() == QLatin1String("tag")) {
                if (const TDWDocRev::Ptr latest = page.table.latestRevision(parent, nullptr))
                    latest->setLastSeenDate(page.start);
            }
        } else if (m_serviceFolderType.isEmpty()) {
            tdwLog(QStringLiteral("ERROR: Ignoring folder reference for ID “%1” because service “%2” does not have a folder type.")
                       .arg(parentId, m_service));
            continue;
        } else {
            parent = newPlaceholderParent(page, parentId, entry);
        }
        confirmLink(page, doc, parent);
    }

    if (!entry.childDocId().isEmpty()) {
        const TDWDoc::Ptr child = page.table.item(entry.childDocId());
        if (!child)
            tdwLog(QStringLiteral("ERROR: Ignoring child document because unable to find reference to %1").arg(entry.childDocId()));
        else
            confirmLink(page, child, doc);
    }

    const std::optional<QList<TDWDocParent::Ptr>> stale = page.table.currentLinksNotSeenAt(doc, page.start);
    if (!stale) {
        tdwLog(QStringLiteral("ERROR: Unable to find TDWDocParent that we should be obsoleting in TDWDocListRetrievalOperation"));
        return;
    }
    for (const TDWDocParent::Ptr &link : *stale) {
        link->setAssocCurrent(false);
        link->setObsoletedDate(page.start);
    }
}

TDWDoc::Ptr TDWDocListEntryProcessor::newPlaceholderParent(Page &page, const QString &docId, const TDWDocEntry &entry)
{
    TDWDoc::Ptr parent = TDWDoc::newWithMoc(page.moc, m_accountServiceStore);
    parent->setAccountUsername(m_accountUsername);
    parent->setDocId(docId);
    const QString docType = entry.docType() == QLatin1String("comment") ? QStringLiteral("photo") : m_serviceFolderType;
    parent->setDocType(docType);
    parent->setDocTypeLabel(docTypeLabel(docType));
    parent->setService(m_service);
    parent->setDeleted(false);
    page.table.addItem(parent);
    if (m_serviceFolderType == QLatin1String("tag")) {
        TDWDocRev::Ptr revision = TDWDocRev::newWithMoc(page.moc, m_accountServiceStore);
        revision->setTitle(docId.mid(4));
        revision->setLatest(true);
        revision->setFirstSeenDate(page.start);
        revision->setLastSeenDate(page.start);
        revision->setExportStatus(TDWDocRev::NothingToDownload);
        revision->setHidden(false);
        revision->setIsUnread(false);
        revision->setLiked(false);
        revision->setShared(false);
        revision->setStarred(false);
        revision->setViewedByMe(false);
        revision->setDoc(parent);
        page.table.setLatestRevision(parent, revision);
    }
    return parent;
}

void TDWDocListEntryProcessor::confirmLink(Page &page, const TDWDoc::Ptr &child, const TDWDoc::Ptr &parent)
{
    TDWDocParent::Ptr link = page.table.currentLink(child, parent);
    if (!link) {
        link = TDWDocParent::newWithMoc(page.moc, m_accountServiceStore);
        link->setDoc(child);
        link->setParentDoc(parent);
        link->setFirstSeenDate(page.start);
        link->setAssocCurrent(true);
        page.table.addLink(link);
    }
    link->setLastSeenDate(page.start);
}

void TDWDocListEntryProcessor::offerToDelegate(Page &page, const TDWDocRev::Ptr &docRev, const TDWDoc::Ptr &doc)
{
    if (!m_serviceDelegate)
        return;
    if (!page.entryRevisionFolderMade)
        TDWPrivateFiles::makeFolder(joined(TDWFileMgr::backedUpItemsPathForService(doc->service()), docRev->dirPath()));
    m_serviceDelegate->docRevFound(docRev);
    if (docRev->exportStatus() == TDWDocRev::BackedUp)
        page.entryFinished.append(docRev);
}
