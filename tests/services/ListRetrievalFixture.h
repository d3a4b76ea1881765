#pragma once

#include "DataObjectsTestSupport.h"
#include "FakeGoogleServer.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocRev.h"
#include "platform/store/TDWManagedObjectID.h"
#include "status/TDWActivityMonitor.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

#include <gtest/gtest.h>

namespace listtest {

inline const QString User = QStringLiteral("User@Example.com");
inline const QString Token = QStringLiteral("at-user");

// One run of the item list retrieval as the API backup runs it: made by name
// through the program's own registration, on a queue of its own.
struct RunOutcome
{
    bool finished = false;  // the operation ended (a safety net against hangs)
    bool succeeded = false; // the activity monitor was told the list was retrieved
    TDWError failure;       // the protocol layer's error that failed it, as the backup run reads it
};

// A data folder with the account (its credential in the keychain), the fake
// Google server serving `scenario()`, and one backup iteration per run.
class ListRetrievalTest : public ::testing::Test
{
protected:
    static void startFake(const QJsonObject &scenario);
    static void stopFake();
    static tdwtest::FakeGoogleServer &fake() { return *s_fake; }

    void SetUp() override;
    void TearDown() override;

    // Adds the account with these services enabled and its credential.
    void addAccount(const QStringList &services, bool limitGoogleDocs = false);
    // A new backup iteration starting at the instant given (default: now).
    TDWManagedObjectID newIteration(const QDateTime &start = {});
    // Runs one retrieval of the service in a new iteration.
    RunOutcome run(const QString &service);
    RunOutcome runInIteration(const QString &service, const TDWManagedObjectID &iterationId);

    TDWPersistentStorePtr store(const QString &service) { return stack.store(User, service); }
    // The items of the store: docId -> whether deleted.
    QMap<QString, bool> items(const QString &service);
    QString dataProperty(const QString &service, const QString &name);
    // A null value removes the property.
    void setDataProperty(const QString &service, const QString &name, const QString &value);
    // The folder of one run's list pages, and the names of the page files in it.
    QString pageFolder(const QString &service);
    // The query strings of the logged requests to that path, in order.
    QStringList queries(const QString &path);
    bool logged(const QString &fragment) const;

    dotest::MetadataStack stack;
    TDWActivityMonitor monitor;
    QStringList log;

private:
    static tdwtest::FakeGoogleServer *s_fake;
    mutable std::mutex m_logMutex;
    quint64 m_token = 0;
};

} // namespace listtest
