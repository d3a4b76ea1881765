#include "common/TDWServiceTable.h"

#include "platform/foundation/TDWPropertyList.h"
#include "platform/foundation/TDWUserDefaults.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

QVariantMap entry(std::initializer_list<std::pair<QString, QVariant>> pairs)
{
    QVariantMap map;
    for (const auto &[key, value] : pairs)
        map.insert(key, value);
    return map;
}

QString writeTable(const QVariant &root)
{
    const QString path = QDir(tdwtest::freshDir(QStringLiteral("table"))).filePath(QStringLiteral("Config.plist"));
    TDWError error;
    EXPECT_TRUE(TDWPropertyList::writeFile(root, path, &error)) << error.description().toStdString();
    return path;
}

QStringList ids(const QVariantList &entries)
{
    QStringList out;
    for (const QVariant &e : entries)
        out << e.toMap().value(QStringLiteral("id")).toString();
    return out;
}

QStringList ids(const QList<TDWServiceConfig> &services)
{
    QStringList out;
    for (const TDWServiceConfig &service : services)
        out << service.id;
    return out;
}

QStringList flags(const QList<TDWSpecialMailLabel> &labels)
{
    QStringList out;
    for (const TDWSpecialMailLabel &label : labels)
        out << label.flag;
    return out;
}

// A small table with the cases the lookups must get right: a repeated id,
// a label both forced and required, entries that are neither.
QVariantMap fixture()
{
    QVariantMap config;
    config.insert(QStringLiteral("services"), QVariantList{
        entry({{QStringLiteral("id"), QStringLiteral("mail")}, {QStringLiteral("itemdir"), QStringLiteral("first")}}),
        entry({{QStringLiteral("id"), QStringLiteral("docs")}, {QStringLiteral("listdir"), QStringLiteral("drivelists")},
               {QStringLiteral("itemdir"), QStringLiteral("Google Drive")}, {QStringLiteral("listOfItemsLabel"), QStringLiteral("file list")},
               {QStringLiteral("preflightClass"), QStringLiteral("TDWApiPreflightOperation")},
               {QStringLiteral("preflighturl"), QStringLiteral("https://example.com/about")}, {QStringLiteral("gdataversion"), QStringLiteral("3.0")},
               {QStringLiteral("serviceDisabled"), true}, {QStringLiteral("serviceLabel"), QStringLiteral("Drive")},
               {QStringLiteral("listurls"), QVariantList{entry({{QStringLiteral("url"), QStringLiteral("https://example.com/files")},
                                                                {QStringLiteral("parserClass"), QStringLiteral("TDWDriveListParser")}}),
                                                         entry({{QStringLiteral("url"), QStringLiteral("https://example.com/more")}})}},
               {QStringLiteral("changeUrls"), QVariantList{entry({{QStringLiteral("url"), QStringLiteral("https://example.com/changes")}})}},
               {QStringLiteral("maxChangeIdUrl"), QStringLiteral("https://example.com/about?fields=largestChangeId")},
               {QStringLiteral("folderType"), QStringLiteral("folder")},
               {QStringLiteral("serviceDelegateClass"), QStringLiteral("TDWDocsServiceDelegate")},
               {QStringLiteral("contentHosts"), QStringList{QStringLiteral("https://content.example.com/")}}}),
        entry({{QStringLiteral("id"), QStringLiteral("mail")}, {QStringLiteral("itemdir"), QStringLiteral("second")}}),
        entry({{QStringLiteral("serviceLabel"), QStringLiteral("no id")}}),
    });
    config.insert(QStringLiteral("doctypes"), QVariantList{
        entry({{QStringLiteral("id"), QStringLiteral("folder")}, {QStringLiteral("isGrouping"), true}}),
        entry({{QStringLiteral("id"), QStringLiteral("file")}, {QStringLiteral("label"), QStringLiteral("File")}}),
    });
    config.insert(QStringLiteral("specialmaillabels"), QVariantList{
        entry({{QStringLiteral("flag"), QStringLiteral("Inbox")}, {QStringLiteral("label"), QStringLiteral("Inbox")}, {QStringLiteral("folderType"), 2},
               {QStringLiteral("forced"), true}, {QStringLiteral("required"), true}}),
        entry({{QStringLiteral("flag"), QStringLiteral("Sent")}, {QStringLiteral("forced"), true}, {QStringLiteral("required"), false}}),
        entry({{QStringLiteral("flag"), QStringLiteral("AllMail")}, {QStringLiteral("required"), true}}),
        entry({{QStringLiteral("flag"), QStringLiteral("Spam")}}),
    });
    return config;
}

void expectEmpty(const TDWServiceTable &table)
{
    EXPECT_TRUE(table.getConfig().isEmpty());
    EXPECT_TRUE(table.serviceConfigs().isEmpty());
    EXPECT_EQ(table.serviceConfig(QStringLiteral("mail")), TDWServiceConfig());
    EXPECT_TRUE(table.docTypeConfigs().isEmpty());
    EXPECT_TRUE(table.docTypeConfig(QStringLiteral("folder")).isEmpty());
    EXPECT_TRUE(table.specialMailLabels().isEmpty());
    EXPECT_TRUE(table.forcedMailLabels().isEmpty());
    EXPECT_TRUE(table.requiredMailLabels().isEmpty());
}

} // namespace

TEST(TDWServiceTable, LookupsFollowTableOrderAndIds)
{
    TDWServiceTable table;
    TDWError error;
    ASSERT_TRUE(table.load(writeTable(fixture()), &error)) << error.description().toStdString();

    // The lists stay as stored; the lookups by id take the last entry of an id.
    EXPECT_EQ(ids(table.serviceConfigs()), (QStringList{QStringLiteral("mail"), QStringLiteral("docs"), QStringLiteral("mail"), QString()}));
    EXPECT_EQ(table.serviceConfig(QStringLiteral("mail")).itemDir, QStringLiteral("second"));
    EXPECT_EQ(table.serviceConfig(QStringLiteral("unknown")), TDWServiceConfig());
    EXPECT_EQ(table.serviceConfig(QString()), TDWServiceConfig());

    // The records carry the entries' values; keys they do not name stay in the table.
    const TDWServiceConfig docs = table.serviceConfig(QStringLiteral("docs"));
    EXPECT_EQ(docs.listDir, QStringLiteral("drivelists"));
    EXPECT_EQ(docs.itemDir, QStringLiteral("Google Drive"));
    EXPECT_EQ(docs.listOfItemsLabel, QStringLiteral("file list"));
    EXPECT_EQ(docs.preflightClass, QStringLiteral("TDWApiPreflightOperation"));
    EXPECT_EQ(docs.preflightUrl, QStringLiteral("https://example.com/about"));
    EXPECT_EQ(docs.gdataVersion, QStringLiteral("3.0"));
    EXPECT_TRUE(docs.disabled);
    using ListUrl = TDWServiceConfig::ListUrl;
    EXPECT_EQ(docs.listUrls, QList<ListUrl>({{QStringLiteral("https://example.com/files"), QStringLiteral("TDWDriveListParser")},
                                             {QStringLiteral("https://example.com/more"), QString()}}));
    EXPECT_EQ(docs.changeUrls, QList<ListUrl>({{QStringLiteral("https://example.com/changes"), QString()}}));
    EXPECT_EQ(docs.maxChangeIdUrl, QStringLiteral("https://example.com/about?fields=largestChangeId"));
    EXPECT_EQ(docs.folderType, QStringLiteral("folder"));
    EXPECT_EQ(docs.serviceDelegateClass, QStringLiteral("TDWDocsServiceDelegate"));
    EXPECT_EQ(docs.contentHosts, QStringList{QStringLiteral("https://content.example.com/")});
    const TDWServiceConfig mail = table.serviceConfig(QStringLiteral("mail"));
    EXPECT_FALSE(mail.disabled);
    EXPECT_TRUE(mail.listUrls.isEmpty() && mail.changeUrls.isEmpty() && mail.contentHosts.isEmpty());
    const TDWSpecialMailLabel inbox = table.specialMailLabels().value(0);
    EXPECT_EQ(inbox.label, QStringLiteral("Inbox"));
    EXPECT_EQ(inbox.folderType, 2);
    EXPECT_TRUE(inbox.forced && inbox.required);
    EXPECT_EQ(table.specialMailLabels().value(3).folderType, 0);

    EXPECT_EQ(ids(table.docTypeConfigs()), (QStringList{QStringLiteral("folder"), QStringLiteral("file")}));
    EXPECT_TRUE(table.docTypeConfig(QStringLiteral("folder")).value(QStringLiteral("isGrouping")).toBool());
    EXPECT_TRUE(table.docTypeConfig(QString()).isEmpty());

    EXPECT_EQ(flags(table.specialMailLabels()), (QStringList{QStringLiteral("Inbox"), QStringLiteral("Sent"), QStringLiteral("AllMail"), QStringLiteral("Spam")}));
    EXPECT_EQ(flags(table.forcedMailLabels()), (QStringList{QStringLiteral("Inbox"), QStringLiteral("Sent")}));
    EXPECT_EQ(flags(table.requiredMailLabels()), (QStringList{QStringLiteral("Inbox"), QStringLiteral("AllMail")}));
    EXPECT_EQ(table.getConfig(), fixture());
}

TEST(TDWServiceTable, UnreadableTableLeavesEveryLookupEmpty)
{
    const QString notAList = writeTable(QVariantList{QStringLiteral("services")});
    const QString broken = QDir(tdwtest::freshDir()).filePath(QStringLiteral("Config.plist"));
    QFile file(broken);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("<plist version=\"1.0\"><dict><key>services</key>");
    file.close();

    for (const QString &path : {notAList, broken, QDir(tdwtest::freshDir()).filePath(QStringLiteral("missing.plist")), QString()}) {
        SCOPED_TRACE(path.toStdString());
        TDWServiceTable table;
        ASSERT_TRUE(table.load(writeTable(fixture()), nullptr));
        tdwtest::LogCapture log;
        TDWError error;

        EXPECT_FALSE(table.load(path, &error));
        EXPECT_FALSE(error.isNull());
        EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to read the service table")));
        // A failed load replaces the earlier table instead of keeping a stale one.
        expectEmpty(table);
    }
}

TEST(TDWServiceTable, SharedTableIsTheShippedResource)
{
    const TDWServiceTable &table = TDWServiceTable::shared();
    EXPECT_EQ(ids(table.serviceConfigs()), (QStringList{QStringLiteral("mail"), QStringLiteral("docs"), QStringLiteral("contacts"),
                                                        QStringLiteral("calendar"), QStringLiteral("tasks"), QStringLiteral("reader"),
                                                        QStringLiteral("picasaweb")}));
    EXPECT_EQ(table.serviceConfig(QStringLiteral("docs")).listUrls.value(0).parserClass, QStringLiteral("TDWDriveListParser"));
    EXPECT_EQ(table.serviceConfig(QStringLiteral("mail")).preflightClass, QStringLiteral("TDWMailPreflightOperation"));
    EXPECT_EQ(table.serviceConfig(QStringLiteral("mail")).backupOperationClass, QStringLiteral("TDWMailBackupOperation"));
    EXPECT_EQ(table.serviceConfig(QStringLiteral("calendar")).backupOperationClass, QStringLiteral("TDWApiBackupOperation"));
    EXPECT_EQ(table.docTypeConfig(QStringLiteral("document")).value(QStringLiteral("exports")).toMap().value(QStringLiteral("word")).toMap().value(QStringLiteral("suffix")).toString(),
              QStringLiteral("docx"));
    // Inbox must be shown as always backed up and must exist over IMAP.
    EXPECT_TRUE(table.forcedMailLabels().contains(table.specialMailLabels().value(0)));
    EXPECT_TRUE(table.requiredMailLabels().contains(table.specialMailLabels().value(0)));
}

TEST(TDWServiceTable, ThrottleLevelFollowsTheUserDefault)
{
    QVariantMap config = fixture();
    config.insert(QStringLiteral("throttlelevels"), QVariantMap{
        {QStringLiteral("moderate"), entry({{QStringLiteral("menutag"), 2}})},
        {QStringLiteral("fast"), entry({{QStringLiteral("menutag"), 3}})},
    });
    TDWServiceTable table;
    ASSERT_TRUE(table.load(writeTable(config), nullptr));
    TDWUserDefaults *defaults = TDWUserDefaults::standard();
    const QString key = QStringLiteral("ThrottleLevel");

    struct Row
    {
        QVariant setting;
        qint64 expectedTag; // 0: no level
    };
    const Row rows[] = {
        {QVariant(), 2},
        {QStringLiteral("fast"), 3},
        {QStringLiteral("moderate"), 2},
        {QStringLiteral("turbo"), 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.setting.toString().toStdString());
        defaults->setObject(row.setting, key);
        const QVariantMap level = table.getThrottleLevel();
        EXPECT_EQ(level.value(QStringLiteral("menutag")).toLongLong(), row.expectedTag);
        EXPECT_EQ(level.isEmpty(), row.expectedTag == 0);
    }
    defaults->removeObjectForKey(key);

    TDWServiceTable withoutLevels;
    ASSERT_TRUE(withoutLevels.load(writeTable(fixture()), nullptr));
    EXPECT_TRUE(withoutLevels.getThrottleLevel().isEmpty());
}

// Readers on other threads see either the old or the new table, never a mix
// and never a freed one, while the table is replaced under them.
TEST(TDWServiceTable, ReadersSeeWholeTablesWhileItIsReplaced)
{
    QVariantMap other = fixture();
    other.insert(QStringLiteral("services"), QVariantList{entry({{QStringLiteral("id"), QStringLiteral("calendar")}})});
    const QString first = writeTable(fixture());
    const QString second = writeTable(other);

    TDWServiceTable table;
    ASSERT_TRUE(table.load(first, nullptr));
    std::atomic<bool> stop = false;
    std::atomic<int> torn = 0;
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop) {
                const QStringList seen = ids(table.serviceConfigs());
                if (seen.size() != 4 && seen != QStringList{QStringLiteral("calendar")})
                    ++torn;
                if (table.requiredMailLabels().size() != 2)
                    ++torn;
            }
        });
    }
    for (int i = 0; i < 200; ++i)
        ASSERT_TRUE(table.load(i % 2 ? first : second, nullptr));
    stop = true;
    for (std::thread &reader : readers)
        reader.join();
    EXPECT_EQ(torn, 0);
}

TEST(ServiceTable, ExportTypesKeepTheTablesOrder)
{
    // Written by hand: the property list writer sorts keys, and the order is the point.
    const QString path = QDir(tdwtest::freshDir(QStringLiteral("table"))).filePath(QStringLiteral("Config.plist"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
  <key>doctypes</key>
  <array>
    <dict>
      <key>exports</key>
      <dict>
        <key>word</key><dict><key>suffix</key><string>docx</string></dict>
        <key>pdf</key><dict><key>suffix</key><string>pdf</string></dict>
      </dict>
      <key>id</key><string>document</string>
    </dict>
    <dict><key>id</key><string>file</string></dict>
  </array>
</dict></plist>)");
    file.close();
    TDWServiceTable table;
    ASSERT_TRUE(table.load(path, nullptr));
    EXPECT_EQ(table.exportTypes(QStringLiteral("document")), QStringList({QStringLiteral("word"), QStringLiteral("pdf")}));
    EXPECT_TRUE(table.exportTypes(QStringLiteral("file")).isEmpty());
    EXPECT_TRUE(table.exportTypes(QStringLiteral("unknown")).isEmpty());
}
