#include "services/TDWCalendarEventStore.h"

#include "dataobjects/TDWAccount.h"
#include "dataobjects/TDWCalendarEventModel.h"
#include "dataobjects/TDWMasterStore.h"
#include "platform/foundation/TDWLog.h"
#include "platform/foundation/TDWPrivateFiles.h"

#include <QDir>
#include <QFileInfo>
#include <QUuid>

std::mutex TDWCalendarEventStore::s_folderMutex;

TDWCalendarEventStore::TDWCalendarEventStore(const QString &accountUsername)
    : m_accountUsername(accountUsername)
{
}

std::unique_ptr<TDWManagedObjectContext> TDWCalendarEventStore::getCalendarEventMoc(const TDWDoc::Ptr &calendarDoc)
{
    if (!m_psc && !openCoordinator(calendarDoc))
        return nullptr;
    return std::make_unique<TDWManagedObjectContext>(m_psc);
}

TDWPersistentStorePtr TDWCalendarEventStore::store(const TDWDoc::Ptr &calendarDoc)
{
    if (!m_psc && !openCoordinator(calendarDoc))
        return nullptr;
    return m_psc->persistentStores().value(0);
}

std::shared_ptr<const TDWManagedObjectModel> TDWCalendarEventStore::getEventModel()
{
    return TDWCalendarEventModel::model();
}

void TDWCalendarEventStore::close()
{
    m_psc.reset();
}

QString TDWCalendarEventStore::absolutePath(const QString &databaseFilePath)
{
    return QDir(QDir(TDWMasterStore::applicationSupportFolder()).filePath(FolderName)).filePath(databaseFilePath);
}

bool TDWCalendarEventStore::openCoordinator(const TDWDoc::Ptr &calendarDoc)
{
    if (!calendarDoc || !calendarDoc->managedObjectContext())
        return false;
    QString relativePath = calendarDoc->databaseFilePath();
    if (relativePath.isEmpty()) {
        relativePath = newDatabaseFilePath(calendarDoc);
        calendarDoc->setDatabaseFilePath(relativePath);
        TDWError error;
        if (!calendarDoc->managedObjectContext()->save(&error)) {
            tdwLog(QStringLiteral("ERROR: Unable to save database file path: %1").arg(error.localizedDescription()));
            return false;
        }
    }
    const QString path = absolutePath(relativePath);
    {
        std::lock_guard lock(s_folderMutex);
        const QString folder = QFileInfo(path).absolutePath();
        if (!TDWPrivateFiles::makeFolder(folder))
            return false;
    }
    const std::shared_ptr<const TDWManagedObjectModel> model = getEventModel();
    if (!model) {
        tdwLog(QStringLiteral("ERROR: exception: the calendar event model cannot be built"));
        return false;
    }
    m_psc = std::make_shared<TDWPersistentStoreCoordinator>(model);
    TDWError error;
    // Opened on demand, long after start-up: an earlier layout is brought forward here.
    TDWPersistentStore::Options options;
    options.migrate = true;
    if (!m_psc->addPersistentStore(TDWCalendarEventModel::Configuration, path, options, &error)) {
        tdwLog(QStringLiteral("detail: %1").arg(error.localizedDescription()));
        // A coordinator without its store would answer every later call with a useless context.
        m_psc.reset();
        return false;
    }
    return true;
}

QString TDWCalendarEventStore::newDatabaseFilePath(const TDWDoc::Ptr &calendarDoc) const
{
    const TDWAccount::Ptr account = TDWAccount::byUsername(m_accountUsername, *calendarDoc->managedObjectContext(), nullptr);
    const QString accountDir = account ? account->dirPath() : TDWAccount::dirPathForUsername(m_accountUsername);
    return accountDir + QLatin1Char('/') + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral(".sqlite3");
}
