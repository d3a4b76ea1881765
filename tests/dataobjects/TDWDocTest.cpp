#include "DataObjectsTestSupport.h"

#include "TestSupport.h"
#include "dataobjects/TDWDoc.h"
#include "dataobjects/TDWDocParent.h"
#include "dataobjects/TDWDocRev.h"
#include "dataobjects/TDWMasterStore.h"

#include <gtest/gtest.h>

namespace {

using dotest::at;

const QString Alice = QStringLiteral("alice@example.com");

class TDWDocTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        stack.addAccount(Alice);
        docs = stack.store(Alice, QStringLiteral("docs"));
        mail = stack.store(Alice, QStringLiteral("mail"));
        ASSERT_TRUE(docs && mail);
    }

    TDWDoc::Ptr doc(const TDWPersistentStorePtr &store, const QString &docId, const QString &docType = QStringLiteral("file"))
    {
        auto doc = TDWDoc::newWithMoc(*stack.moc, store);
        doc->setDocId(docId);
        doc->setDocType(docType);
        doc->setAccountUsername(Alice);
        doc->setService(store == mail ? QStringLiteral("mail") : QStringLiteral("docs"));
        return doc;
    }

    dotest::MetadataStack stack;
    TDWPersistentStorePtr docs;
    TDWPersistentStorePtr mail;
};

TEST_F(TDWDocTest, LookupsByIdStayInTheirStoreAndSeeUnsavedItems)
{
    doc(docs, QStringLiteral("a"));
    doc(mail, QStringLiteral("a"));
    ASSERT_TRUE(stack.moc->save(nullptr));
    const auto placeholder = doc(docs, QStringLiteral("b")); // made earlier on the same page, not saved yet

    EXPECT_EQ(TDWDoc::byDocId(QStringLiteral("b"), docs, *stack.moc, nullptr), placeholder);
    EXPECT_EQ(TDWDoc::byDocId(QStringLiteral("a"), docs, *stack.moc, nullptr)->persistentStore(), docs);
    EXPECT_FALSE(TDWDoc::byDocId(QStringLiteral("b"), mail, *stack.moc, nullptr));

    const auto byIds = TDWDoc::byDocIds({QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("zz")}, docs, *stack.moc, nullptr);
    ASSERT_TRUE(byIds);
    EXPECT_EQ(QSet<QString>(byIds->keyBegin(), byIds->keyEnd()), (QSet<QString>{QStringLiteral("a"), QStringLiteral("b")}));
    const auto none = TDWDoc::byDocIds({}, docs, *stack.moc, nullptr);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->isEmpty());
    EXPECT_EQ(TDWDoc::countByStore(docs, *stack.moc, nullptr), 2);
    EXPECT_EQ(TDWDoc::allByStore(mail, *stack.moc, nullptr)->size(), 1);
}

TEST_F(TDWDocTest, FolderNamesInUseAreTheLowerCasedLastPartsOfItemFoldersOfThatStoreOnly)
{
    struct Item
    {
        const char *docId;
        const char *docType;
        const char *dirPath;
    };
    const Item items[] = {
        {"report", "file", "alice at example dot com/Report"},
        {"mixed", "document", "alice at example dot com/MiXed Case"},
        {"box", "folder", "alice at example dot com/Box"},  // a grouping's folder is no item folder
        {"none", "file", ""},
        {"unset", "file", nullptr},
    };
    for (const Item &item : items) {
        const auto made = doc(docs, QString::fromUtf8(item.docId), QString::fromUtf8(item.docType));
        if (item.dirPath)
            made->setDirPath(QString::fromUtf8(item.dirPath));
    }
    doc(mail, QStringLiteral("other"))->setDirPath(QStringLiteral("alice at example dot com/Elsewhere"));
    ASSERT_TRUE(stack.moc->save(nullptr));

    const std::optional<QSet<QString>> names = TDWDoc::folderNamesInUse(docs, *stack.moc, nullptr);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, (QSet<QString>{QStringLiteral("report"), QStringLiteral("mixed case")}));
    TDWError error;
    EXPECT_FALSE(TDWDoc::folderNamesInUse(nullptr, *stack.moc, &error));
    EXPECT_FALSE(error.isNull());
}

TEST_F(TDWDocTest, ADuplicateIdIsLoggedAndTheFirstReturned)
{
    const auto first = doc(docs, QStringLiteral("a"));
    doc(docs, QStringLiteral("a"));
    ASSERT_TRUE(stack.moc->save(nullptr));
    tdwtest::LogCapture log;
    EXPECT_EQ(TDWDoc::byDocId(QStringLiteral("a"), docs, *stack.moc, nullptr), first);
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Multiple document results for ID a")));
}

TEST_F(TDWDocTest, FetchesWithoutAStoreFailInsteadOfSearchingEveryStore)
{
    doc(docs, QStringLiteral("a"));
    ASSERT_TRUE(stack.moc->save(nullptr));
    tdwtest::LogCapture log;
    TDWError error;
    EXPECT_FALSE(TDWDoc::byDocId(QStringLiteral("a"), nullptr, *stack.moc, &error));
    EXPECT_FALSE(error.isNull());
    // The caller that takes the error decides what it means, and logs it.
    EXPECT_FALSE(log.contains(QStringLiteral("ERROR: [Doc byDocId...]")));
    // One that does not leaves the line to the lookup.
    EXPECT_FALSE(TDWDoc::byDocId(QStringLiteral("a"), nullptr, *stack.moc, nullptr));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: [Doc byDocId...] -- NSError error: ")));
}

TEST_F(TDWDocTest, AllMailSequenceIgnoresDeletedItemsAndRefusesTwins)
{
    const auto deleted = doc(mail, QStringLiteral("1"));
    deleted->setAllMailSeq(10);
    deleted->setDeleted(true);
    const auto live = doc(mail, QStringLiteral("2"));
    live->setAllMailSeq(10);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_EQ(TDWDoc::byAllMailMessageSequence(10, mail, *stack.moc, nullptr), live);

    doc(mail, QStringLiteral("3"))->setAllMailSeq(10);
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWDoc::byAllMailMessageSequence(10, mail, *stack.moc, nullptr));
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: multiple results in byAllMailMessageSequence")));
    EXPECT_FALSE(TDWDoc::byAllMailMessageSequence(11, mail, *stack.moc, nullptr));
}

TEST_F(TDWDocTest, TypeAndMessageIdFetches)
{
    doc(docs, QStringLiteral("f"), QStringLiteral("folder"));
    doc(docs, QStringLiteral("d"), QStringLiteral("document"));
    doc(docs, QStringLiteral("c"), QStringLiteral("comment"));
    doc(mail, QStringLiteral("m1"), QStringLiteral("message"))->setGmailMessageId(QStringLiteral("101"));
    doc(mail, QStringLiteral("m2"), QStringLiteral("message"))->setGmailMessageId(QStringLiteral("102"));
    ASSERT_TRUE(stack.moc->save(nullptr));
    const auto notFolders = TDWDoc::byDocTypesNotIn({QStringLiteral("folder"), QStringLiteral("comment")}, docs, *stack.moc, nullptr);
    ASSERT_TRUE(notFolders);
    ASSERT_EQ(notFolders->size(), 1);
    EXPECT_EQ(notFolders->first()->docId(), QStringLiteral("d"));
    const auto messages = TDWDoc::byGmailMessageIds({QStringLiteral("101"), QStringLiteral("101"), QStringLiteral("999")}, mail, *stack.moc, nullptr);
    ASSERT_TRUE(messages);
    ASSERT_EQ(messages->size(), 1);
    EXPECT_EQ(messages->first()->docId(), QStringLiteral("m1"));
}

TEST_F(TDWDocTest, ContainersAreWhatTheServiceTableSays)
{
    const QList<QPair<QString, bool>> cases{
        {QStringLiteral("folder"), true}, {QStringLiteral("group"), true}, {QStringLiteral("file"), false},
        {QStringLiteral("nosuchtype"), false}, {QString(), false},
    };
    for (const auto &[type, grouping] : cases)
        EXPECT_EQ(doc(docs, QStringLiteral("x"), type)->isGrouping(), grouping) << type.toStdString();
}

// A link kept by listings at T1 and T2 and missing from the listing at T3.
TEST_F(TDWDocTest, DatedLinkOfThreeListings)
{
    const auto folder = doc(docs, QStringLiteral("folder"), QStringLiteral("folder"));
    const auto file = doc(docs, QStringLiteral("file"));
    auto listing = [&](const QDateTime &time, bool listed) {
        if (listed) {
            auto link = TDWDocParent::currentForDoc(file, folder, *stack.moc);
            if (!link) {
                link = TDWDocParent::newWithMoc(*stack.moc, docs);
                link->setDoc(file);
                link->setParentDoc(folder);
                link->setFirstSeenDate(time);
                link->setAssocCurrent(true);
            }
            link->setLastSeenDate(time);
        }
        for (const auto &unconfirmed : TDWDocParent::forDoc(file, time, *stack.moc).value_or(QList<TDWDocParent::Ptr>())) {
            unconfirmed->setAssocCurrent(false);
            unconfirmed->setObsoletedDate(time);
        }
        ASSERT_TRUE(stack.moc->save(nullptr));
    };
    listing(at(1), true);
    listing(at(2), true);
    EXPECT_TRUE(TDWDocParent::currentParentDocExistsFor(file, *stack.moc));
    listing(at(3), false);

    const auto links = file->parentDocs();
    ASSERT_EQ(links.size(), 1);
    EXPECT_EQ(links.first()->firstSeenDate(), at(1));
    EXPECT_EQ(links.first()->lastSeenDate(), at(2));
    EXPECT_EQ(links.first()->obsoletedDate(), at(3));
    EXPECT_FALSE(TDWDocParent::currentParentDocExistsFor(file, *stack.moc));
    EXPECT_EQ(folder->childDocs(), links);

    // The revision stays valid throughout; only the link decides where it lies.
    auto revision = TDWDocRev::newWithMoc(*stack.moc, docs);
    revision->setDoc(file);
    revision->setFirstSeenDate(at(1));
    revision->setLatest(true);
    ASSERT_TRUE(stack.moc->save(nullptr));
    EXPECT_EQ(TDWDocRev::latestNotDeletedInGroup(folder, at(2), *stack.moc, nullptr)->size(), 1);
    EXPECT_TRUE(TDWDocRev::latestNotDeletedInGroup(folder, at(3), *stack.moc, nullptr)->isEmpty());
    EXPECT_TRUE(TDWDocRev::latestNotDeletedInGroup(folder, {}, *stack.moc, nullptr)->isEmpty());
    EXPECT_EQ(TDWDocRev::topLevelItemsByStore(docs, at(2), *stack.moc, nullptr)->size(), 0);
    EXPECT_EQ(TDWDocRev::topLevelItemsByStore(docs, at(3), *stack.moc, nullptr)->size(), 1);

    EXPECT_TRUE(TDWDocParent::obsoletedBefore(at(3), docs, *stack.moc)->isEmpty());
    EXPECT_EQ(TDWDocParent::obsoletedBefore(at(4), docs, *stack.moc)->size(), 1);
}

TEST_F(TDWDocTest, LinksOfUnsavedItemsAreFound)
{
    const auto folder = doc(docs, QStringLiteral("folder"), QStringLiteral("folder"));
    const auto file = doc(docs, QStringLiteral("file"));
    EXPECT_FALSE(TDWDocParent::currentForDoc(file, folder, *stack.moc));
    auto link = TDWDocParent::newWithMoc(*stack.moc, docs);
    link->setDoc(file);
    link->setParentDoc(folder);
    link->setAssocCurrent(true);
    EXPECT_EQ(TDWDocParent::currentForDoc(file, folder, *stack.moc), link);
    EXPECT_TRUE(TDWDocParent::currentParentDocExistsFor(file, *stack.moc));
    EXPECT_FALSE(TDWDocParent::currentParentDocExistsFor(folder, *stack.moc));
    // A link whose child is gone: an unsaved item must not be taken for "no item".
    link->setDoc(nullptr);
    ASSERT_TRUE(stack.moc->save(nullptr));
    auto other = TDWMasterStore::shared().newMoc();
    const auto stranger = TDWDoc::newWithMoc(*other, docs);
    EXPECT_FALSE(TDWDocParent::currentParentDocExistsFor(TDWDoc::newWithMoc(*stack.moc, docs), *stack.moc));
    tdwtest::LogCapture log;
    EXPECT_FALSE(TDWDocParent::currentParentDocExistsFor(stranger, *stack.moc));
    EXPECT_TRUE(log.contains(QStringLiteral("names an unsaved object of another context")));
}

} // namespace
