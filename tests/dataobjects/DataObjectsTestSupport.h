#pragma once

#include "dataobjects/TDWStoreMgr.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>

// Readable values in failure messages.
inline void PrintTo(const QString &value, std::ostream *out)
{
    *out << '"' << value.toStdString() << '"';
}

namespace dotest {

// Fixed, distinct instants for validity dates: at(1) < at(2) < ...
QDateTime at(int hour);

// A data folder of its own with the master store open on the shared coordinator,
// a store manager over it and a context; accounts made with addAccount().
struct MetadataStack
{
    MetadataStack();
    // The stack of a data folder that already exists (another process's, say).
    explicit MetadataStack(const QString &existingFolder);
    ~MetadataStack();
    // Adds and saves an account with the given services enabled.
    void addAccount(const QString &username, const QStringList &services = {QStringLiteral("mail"), QStringLiteral("docs")});
    TDWPersistentStorePtr store(const QString &username, const QString &service);
    // Closes everything and opens the same folder again, as a restart would.
    void reopen();

    QString folder;
    std::shared_ptr<TDWPersistentStoreCoordinator> coordinator;
    std::shared_ptr<TDWStoreMgr> storeMgr;
    std::unique_ptr<TDWManagedObjectContext> moc;

private:
    void open();
};

// Runs the sqlite3 shell on a file (an independent reader) and returns its trimmed output.
QString sqlite(const QString &path, const QString &sql);

} // namespace dotest
