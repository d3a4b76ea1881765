#pragma once

#include "DataObjectsTestSupport.h"

#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWDocRev.h"
#include "services/TDWDocEntry.h"
#include "services/TDWDocListEntryProcessor.h"
#include "services/TDWServiceDelegate.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

#include <gtest/gtest.h>

namespace entrytest {

inline const QString Alice = QStringLiteral("alice@example.com");

// An entry as a parser would give it; the rest is set by the test.
TDWDocEntry entry(const QString &docId, const QString &title, const QString &docType = QStringLiteral("file"),
                  const QString &etag = QStringLiteral("e1"), const QDateTime &modified = dotest::at(0));

// A delegate whose reactions the test sets.
class ScriptedDelegate : public TDWServiceDelegate
{
public:
    std::function<void(const TDWDocRev::Ptr &)> onDocRevFound;
    std::function<bool(const TDWDocEntry &)> onUseEntry;
    void docRevFound(const TDWDocRev::Ptr &docRev) override
    {
        if (onDocRevFound)
            onDocRevFound(docRev);
    }
    bool useEntry(const TDWDocEntry &entry, const TDWAccount::Ptr &) override { return !onUseEntry || onUseEntry(entry); }
};

// Alice's account with every API service, backup iterations by the hour, and
// a processor per run as the list retrieval would make it; what was stored is
// read back in a fresh context.
class EntriesTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Saves an iteration started at dotest::at(hour) and makes the processor of
    // that run for the service (folder type from the service table).
    TDWDocListEntryProcessor &run(int hour, const QString &service = QStringLiteral("docs"), TDWServiceDelegate *delegate = nullptr);
    bool process(const QList<TDWDocEntry> &entries) { return m_processor->processEntries(entries); }

    // Read afresh; null when absent.
    TDWDoc::Ptr doc(const QString &docId, const QString &service = QStringLiteral("docs"));
    // The item's revisions, oldest first.
    QList<TDWDocRev::Ptr> revisions(const QString &docId, const QString &service = QStringLiteral("docs"));
    TDWDocRev::Ptr latest(const QString &docId, const QString &service = QStringLiteral("docs"));
    // The links in which the item is the child.
    QList<TDWDocParent::Ptr> parentLinks(const QString &docId, const QString &service = QStringLiteral("docs"));
    QString itemsPath(const QString &service = QStringLiteral("docs"));

    dotest::MetadataStack stack;
    QDateTime start;

private:
    std::unique_ptr<TDWDocListEntryProcessor> m_processor;
    std::unique_ptr<TDWManagedObjectContext> m_reader;
};

} // namespace entrytest
