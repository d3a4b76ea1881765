#include "StoreTestModel.h"

#include "TestSupport.h"

#include "platform/store/TDWJsonArchive.h"
#include "platform/store/TDWSqliteStatement.h"
#include "platform/store/TDWStoreError.h"

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace storetest;

namespace {

QDateTime utc(const char *text)
{
    QDateTime date = QDateTime::fromString(QString::fromLatin1(text), Qt::ISODateWithMs);
    date.setTimeSpec(Qt::UTC);
    return date;
}

TDWManagedObjectPtr fetchOne(TDWManagedObjectContext &context, const QString &entity, const QString &condition, const QVariantList &bindings)
{
    TDWFetchRequest request(entity);
    request.setSqlCondition(condition, bindings);
    auto found = context.executeFetchRequest(request, nullptr);
    return found && found->size() == 1 ? found->first() : nullptr;
}

TDWManagedObjectPtr itemByCode(TDWManagedObjectContext &context, const QString &code)
{
    return fetchOne(context, QStringLiteral("Item"), QStringLiteral("t.code = ?"), {code});
}

TEST(ManagedObjectContext, ValuesOfEveryTypeRoundTripThroughTheStore)
{
    Stack stack;
    const QVariantMap extra{{QStringLiteral("flag"), true}, {QStringLiteral("when"), utc("2020-02-03T04:05:06.789")}};
    {
        auto context = stack.newContext();
        TDWManagedObjectPtr full = context->insertNewObject(QStringLiteral("Owner"));
        full->setValue(QStringLiteral("name"), QStringLiteral("Ana Ünal"));
        full->setValue(QStringLiteral("active"), true);
        full->setValue(QStringLiteral("joined"), utc("2001-01-01T00:01:00.250"));
        full->setValue(QStringLiteral("score"), 2.5);
        full->setValue(QStringLiteral("photo"), QByteArray("\x00\x01\xff", 3));
        full->setValue(QStringLiteral("extra"), TDWJsonArchive::archive(extra));
        context->insertNewObject(QStringLiteral("Owner"))->setValue(QStringLiteral("name"), QStringLiteral("Empty"));
        TDWError error;
        ASSERT_TRUE(context->save(&error)) << error.description().toStdString();
    }
    auto context = stack.newContext();
    TDWManagedObjectPtr full = fetchOne(*context, QStringLiteral("Owner"), QStringLiteral("t.name = ?"), {QStringLiteral("Ana Ünal")});
    ASSERT_TRUE(full);
    EXPECT_EQ(full->stringValue(QStringLiteral("name")), QStringLiteral("Ana Ünal"));
    EXPECT_TRUE(full->boolValue(QStringLiteral("active")));
    EXPECT_EQ(full->dateValue(QStringLiteral("joined")), utc("2001-01-01T00:01:00.250"));
    EXPECT_EQ(full->doubleValue(QStringLiteral("score")), 2.5);
    EXPECT_EQ(full->dataValue(QStringLiteral("photo")), QByteArray("\x00\x01\xff", 3));
    EXPECT_EQ(TDWJsonArchive::unarchive(full->dataValue(QStringLiteral("extra")), nullptr).toMap(), extra);

    TDWManagedObjectPtr empty = fetchOne(*context, QStringLiteral("Owner"), QStringLiteral("t.name = ?"), {QStringLiteral("Empty")});
    ASSERT_TRUE(empty);
    EXPECT_FALSE(empty->boolValue(QStringLiteral("active"), true)) << "the declared default is stored";
    EXPECT_TRUE(empty->value(QStringLiteral("joined")).isNull());
    EXPECT_EQ(empty->integerValue(QStringLiteral("score"), -1), -1);

    // The storage convention other SQL relies on: seconds since 2001 as REAL, booleans as 0/1, archives as text.
    EXPECT_EQ(sqliteShell(stack.main->path(), QStringLiteral("SELECT joined, active, typeof(extra) FROM Owner WHERE name = 'Ana Ünal'")),
              QStringLiteral("60.25|1|text"));
}

TEST(ManagedObjectContext, ValuesOfAnotherTypeAreRefused)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr owner = context->insertNewObject(QStringLiteral("Owner"));
    owner->setValue(QStringLiteral("score"), 1.5);
    tdwtest::LogCapture log;
    owner->setValue(QStringLiteral("score"), QStringLiteral("many"));
    owner->setValue(QStringLiteral("joined"), QStringLiteral("yesterday"));
    owner->setValue(QStringLiteral("nope"), 1);
    EXPECT_EQ(owner->doubleValue(QStringLiteral("score")), 1.5);
    EXPECT_TRUE(owner->value(QStringLiteral("joined")).isNull());
    EXPECT_EQ(log.lines().size(), 3);
    // Integers of any width are kept as 64-bit values.
    owner->setValue(QStringLiteral("score"), 3);
    EXPECT_EQ(owner->value(QStringLiteral("score")).metaType().id(), QMetaType::Double);
}

// An Integer attribute holds signed 64-bit values: a number outside that range is
// refused with a log line rather than stored with another value (2^64-1 as -1).
TEST(ManagedObjectContext, IntegersOutsideTheSignedRangeAreRefused)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr setting = context->insertNewObject(QStringLiteral("Setting"));
    const struct
    {
        const char *name;
        QVariant value;
        QVariant stored; // null: refused, the earlier value stays
    } rows[] = {
        {"largest signed", QVariant(std::numeric_limits<qint64>::max()), QVariant(std::numeric_limits<qint64>::max())},
        {"unsigned within range", QVariant(quint64(1600000000000000001ULL)), QVariant(qlonglong(1600000000000000001LL))},
        {"2^63", QVariant(quint64(9223372036854775808ULL)), QVariant()},
        {"2^64-1", QVariant::fromValue(std::numeric_limits<ulong>::max()), QVariant()},
        {"real rounded", QVariant(2.5), QVariant(qlonglong(3))},
        {"real beyond 2^63", QVariant(1e30), QVariant()},
        {"not a number", QVariant(std::nan("")), QVariant()},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        setting->setValue(QStringLiteral("value"), qlonglong(7));
        tdwtest::LogCapture log;
        setting->setValue(QStringLiteral("value"), row.value);
        const QVariant held = setting->value(QStringLiteral("value"));
        EXPECT_EQ(held, row.stored.isNull() ? QVariant(qlonglong(7)) : row.stored);
        EXPECT_EQ(held.metaType().id(), QMetaType::LongLong);
        EXPECT_EQ(log.lines().size(), row.stored.isNull() ? 1 : 0);
    }
}

TEST(ManagedObjectContext, NullStringsInvalidDatesAndNullDataAreNoValue)
{
    Stack stack;
    {
        auto context = stack.newContext();
        TDWManagedObjectPtr owner = context->insertNewObject(QStringLiteral("Owner"));
        owner->setValue(QStringLiteral("name"), QString());
        owner->setValue(QStringLiteral("joined"), QDateTime());
        owner->setValue(QStringLiteral("photo"), QByteArray());
        EXPECT_TRUE(owner->value(QStringLiteral("name")).isNull());
        TDWManagedObjectPtr empty = context->insertNewObject(QStringLiteral("Owner"));
        empty->setValue(QStringLiteral("name"), QStringLiteral(""));
        empty->setValue(QStringLiteral("photo"), QByteArray(""));
        ASSERT_TRUE(context->save(nullptr));
    }
    EXPECT_EQ(sqliteShell(stack.main->path(), QStringLiteral("SELECT typeof(name), typeof(joined), typeof(photo) FROM Owner ORDER BY pk")),
              QStringLiteral("null|null|null\ntext|null|blob"));
}

TEST(ManagedObjectContext, PermanentIdentifiersAndTheirURIsSurviveARestart)
{
    QString folder;
    QUrl uri;
    TDWManagedObjectID id;
    {
        Stack stack;
        folder = stack.folder;
        auto context = stack.newContext();
        TDWManagedObjectPtr item = addItem(*context, stack.libraryB, QStringLiteral("x"), QStringLiteral("X"));
        EXPECT_TRUE(item->objectID().isTemporaryID());
        EXPECT_EQ(item->objectID().uriRepresentation().toString().left(20), QStringLiteral("x-tidewell:///Item/t"));
        ASSERT_TRUE(context->save(nullptr));
        id = item->objectID();
        EXPECT_FALSE(id.isTemporaryID());
        uri = id.uriRepresentation();
        EXPECT_EQ(uri.toString(), QStringLiteral("x-tidewell://%1/Item/p%2").arg(stack.libraryB->identifier()).arg(id.rowId()));
    }
    Stack restarted(folder);
    const TDWManagedObjectID resolved = restarted.coordinator->managedObjectIDForURIRepresentation(QUrl(uri.toString()));
    EXPECT_EQ(resolved, id);
    auto context = restarted.newContext();
    TDWManagedObjectPtr item = context->existingObjectWithID(resolved, nullptr);
    ASSERT_TRUE(item);
    EXPECT_EQ(std::dynamic_pointer_cast<Item>(item)->code(), QStringLiteral("x"));

    const QString store = restarted.libraryB->identifier();
    for (const QString &bad : {QStringLiteral("http://%1/Item/p1").arg(store), QStringLiteral("x-tidewell://%1/Item/p1").arg(QStringLiteral("0000")),
                               QStringLiteral("x-tidewell://%1/Nope/p1").arg(store), QStringLiteral("x-tidewell://%1/Owner/p1").arg(store),
                               QStringLiteral("x-tidewell://%1/Item/p0").arg(store), QStringLiteral("x-tidewell://%1/Item/pabc").arg(store),
                               QStringLiteral("x-tidewell://%1/Item/1").arg(store), QStringLiteral("x-tidewell:///Item/t5"),
                               QStringLiteral("x-tidewell://%1/Item/p1/extra").arg(store)})
        EXPECT_TRUE(restarted.coordinator->managedObjectIDForURIRepresentation(QUrl(bad)).isNull()) << bad.toStdString();
}

TEST(ManagedObjectContext, OneObjectPerRowAndObjectsNoOneHoldsAreReleased)
{
    Stack stack;
    {
        auto context = stack.newContext();
        for (const char *code : {"a", "b", "c"})
            addItem(*context, stack.libraryA, QString::fromLatin1(code), QStringLiteral("t"));
        ASSERT_TRUE(context->save(nullptr));
    }
    auto context = stack.newContext();
    {
        auto first = context->executeFetchRequest(TDWFetchRequest(QStringLiteral("Item")), nullptr);
        auto second = context->executeFetchRequest(TDWFetchRequest(QStringLiteral("Item")), nullptr);
        ASSERT_TRUE(first && second && first->size() == 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(first->at(i), second->at(i));
            EXPECT_EQ(context->objectWithID(first->at(i)->objectID()), first->at(i));
        }
        EXPECT_EQ(context->registeredObjectCount(), 3);
    }
    EXPECT_EQ(context->registeredObjectCount(), 0);
}

TEST(ManagedObjectContext, RowIdsAreNeverGivenToAnotherObject)
{
    QString folder;
    qint64 highest = 0;
    qint64 reserved = 0;
    {
        Stack stack;
        folder = stack.folder;
        auto context = stack.newContext();
        QList<TDWManagedObjectPtr> items;
        for (const char *code : {"a", "b", "c"})
            items.append(addItem(*context, stack.libraryA, QString::fromLatin1(code), QStringLiteral("t")));
        ASSERT_TRUE(context->save(nullptr));
        highest = items.last()->objectID().rowId();
        context->deleteObject(items.last());
        ASSERT_TRUE(context->save(nullptr));

        // A reserved id stays used even when its object is never saved.
        TDWManagedObjectPtr unsaved = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
        TDWError error;
        ASSERT_TRUE(context->obtainPermanentIDsForObjects({unsaved}, &error)) << error.description().toStdString();
        EXPECT_FALSE(unsaved->objectID().isTemporaryID());
        EXPECT_TRUE(unsaved->isInserted());
        reserved = unsaved->objectID().rowId();
        EXPECT_GT(reserved, highest);
        context->rollback();
    }
    Stack reopened(folder);
    auto context = reopened.newContext();
    TDWManagedObjectPtr item = addItem(*context, reopened.libraryA, QStringLiteral("d"), QStringLiteral("t"));
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_GT(item->objectID().rowId(), reserved);
}

TEST(ManagedObjectContext, ObtainedIdentifiersAreUsedBySaveAndByLinksToThem)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr item = context->insertNewObject(QStringLiteral("Item"), stack.libraryA);
    TDWManagedObjectPtr version = context->insertNewObject(QStringLiteral("Version"), stack.libraryA);
    version->setObjectValue(QStringLiteral("item"), item);
    ASSERT_TRUE(context->obtainPermanentIDsForObjects({item}, nullptr));
    const TDWManagedObjectID id = item->objectID();
    EXPECT_EQ(version->objectIDValue(QStringLiteral("item")), id);
    EXPECT_EQ(context->objectWithID(id), item);
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_EQ(item->objectID(), id);
    auto other = stack.newContext();
    TDWManagedObjectPtr stored = other->existingObjectWithID(version->objectID(), nullptr);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->objectIDValue(QStringLiteral("item")), id);
}

TEST(ManagedObjectContext, SaveWritesOnlyChangedPropertiesSoOtherContextsEditsSurvive)
{
    Stack stack;
    {
        auto context = stack.newContext();
        TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("T"));
        item->setValue(QStringLiteral("size"), 1);
        ASSERT_TRUE(context->save(nullptr));
    }
    auto first = stack.newContext();
    auto second = stack.newContext();
    TDWManagedObjectPtr mine = itemByCode(*first, QStringLiteral("a"));
    TDWManagedObjectPtr theirs = itemByCode(*second, QStringLiteral("a"));
    ASSERT_TRUE(mine && theirs);
    mine->setValue(QStringLiteral("title"), QStringLiteral("Mine"));
    theirs->setValue(QStringLiteral("size"), 2);
    EXPECT_EQ(mine->changedValues().keys(), QStringList{QStringLiteral("title")});
    ASSERT_TRUE(first->save(nullptr));
    ASSERT_TRUE(second->save(nullptr));
    auto check = stack.newContext();
    TDWManagedObjectPtr stored = itemByCode(*check, QStringLiteral("a"));
    EXPECT_EQ(stored->stringValue(QStringLiteral("title")), QStringLiteral("Mine"));
    EXPECT_EQ(stored->integerValue(QStringLiteral("size")), 2);
}

// Rows of one save that change different columns each get their own columns
// written, also when rows before them changed others.
TEST(ManagedObjectContext, OneSaveWritesEachRowsOwnChangedColumns)
{
    Stack stack;
    const QStringList codes{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c"), QStringLiteral("d")};
    {
        auto context = stack.newContext();
        for (const QString &code : codes)
            addItem(*context, stack.libraryA, code, QStringLiteral("T"))->setValue(QStringLiteral("size"), 1);
        ASSERT_TRUE(context->save(nullptr));
    }
    const struct
    {
        const char *code;
        QVariant title;
        QVariant size;
    } changes[] = {
        {"a", QStringLiteral("A"), {}},
        {"b", QStringLiteral("B"), {}},
        {"c", {}, 3},
        {"d", QStringLiteral("D"), 4},
    };
    {
        auto context = stack.newContext();
        for (const auto &change : changes) {
            TDWManagedObjectPtr item = itemByCode(*context, QString::fromLatin1(change.code));
            ASSERT_TRUE(item);
            if (change.title.isValid())
                item->setValue(QStringLiteral("title"), change.title);
            if (change.size.isValid())
                item->setValue(QStringLiteral("size"), change.size);
        }
        ASSERT_TRUE(context->save(nullptr));
    }
    auto check = stack.newContext();
    for (const auto &change : changes) {
        SCOPED_TRACE(change.code);
        TDWManagedObjectPtr stored = itemByCode(*check, QString::fromLatin1(change.code));
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->stringValue(QStringLiteral("title")), change.title.isValid() ? change.title.toString() : QStringLiteral("T"));
        EXPECT_EQ(stored->integerValue(QStringLiteral("size")), change.size.isValid() ? change.size.toLongLong() : 1);
    }
}

// Text is stored as UTF-8; a lone surrogate (no character) becomes a
// question mark, as Qt's conversion makes it, and costs none of the characters after it.
TEST(ManagedObjectContext, TextIsStoredAsUtf8AndALoneSurrogateLosesNothingAfterIt)
{
    Stack stack;
    const QString texts[] = {QStringLiteral("Ünal \u00e9 \u4e2d"), QString::fromUtf8("\xF0\x9F\x98\x80 face"),
                             QString(QChar(0xD800)) + QStringLiteral("after"), QStringLiteral("tail") + QChar(0xDC00)};
    {
        auto context = stack.newContext();
        int n = 0;
        for (const QString &text : texts)
            addItem(*context, stack.libraryA, QString::number(n++), text);
        ASSERT_TRUE(context->save(nullptr));
    }
    auto check = stack.newContext();
    int n = 0;
    for (const QString &text : texts) {
        SCOPED_TRACE(n);
        TDWManagedObjectPtr stored = itemByCode(*check, QString::number(n++));
        ASSERT_TRUE(stored);
        EXPECT_EQ(stored->stringValue(QStringLiteral("title")), QString::fromUtf8(text.toUtf8()));
    }
    EXPECT_EQ(QString::fromUtf8(texts[2].toUtf8()), QStringLiteral("?after"));
}

TEST(ManagedObjectContext, RefreshKeepsLocalChangesOnTopOfStoredOnesOrDropsThem)
{
    Stack stack;
    {
        auto context = stack.newContext();
        addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("T"))->setValue(QStringLiteral("size"), 1);
        ASSERT_TRUE(context->save(nullptr));
    }
    auto mine = stack.newContext();
    TDWManagedObjectPtr item = itemByCode(*mine, QStringLiteral("a"));
    {
        auto other = stack.newContext();
        TDWManagedObjectPtr theirs = itemByCode(*other, QStringLiteral("a"));
        theirs->setValue(QStringLiteral("title"), QStringLiteral("Theirs"));
        theirs->setValue(QStringLiteral("size"), 5);
        ASSERT_TRUE(other->save(nullptr));
    }
    item->setValue(QStringLiteral("title"), QStringLiteral("Mine"));
    mine->refreshObject(item, true);
    EXPECT_EQ(item->stringValue(QStringLiteral("title")), QStringLiteral("Mine"));
    EXPECT_EQ(item->integerValue(QStringLiteral("size")), 5);
    EXPECT_EQ(item->committedValues({QStringLiteral("title")}).value(QStringLiteral("title")).toString(), QStringLiteral("Theirs"));
    EXPECT_TRUE(item->isUpdated());

    mine->refreshObject(item, false);
    EXPECT_TRUE(item->isFault());
    EXPECT_FALSE(mine->hasChanges());
    EXPECT_EQ(item->stringValue(QStringLiteral("title")), QStringLiteral("Theirs"));
}

TEST(ManagedObjectContext, ValuesSetBackToTheirStoredStateAreNoChange)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("T"));
    ASSERT_TRUE(context->save(nullptr));
    item->setValue(QStringLiteral("title"), QStringLiteral("X"));
    EXPECT_TRUE(context->hasChanges());
    item->setValue(QStringLiteral("title"), QStringLiteral("T"));
    EXPECT_FALSE(context->hasChanges());
    EXPECT_TRUE(item->changedValues().isEmpty());
}

TEST(ManagedObjectContext, RollbackRestoresStoredStateAndDropsInserts)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr kept = addItem(*context, stack.libraryA, QStringLiteral("kept"), QStringLiteral("T"));
    TDWManagedObjectPtr doomed = addItem(*context, stack.libraryA, QStringLiteral("doomed"), QStringLiteral("T"));
    ASSERT_TRUE(context->save(nullptr));

    kept->setValue(QStringLiteral("title"), QStringLiteral("changed"));
    context->deleteObject(doomed);
    TDWManagedObjectPtr added = addItem(*context, stack.libraryA, QStringLiteral("added"), QStringLiteral("T"));
    EXPECT_EQ(context->insertedObjects().size(), 2);
    EXPECT_EQ(context->updatedObjects(), QList<TDWManagedObjectPtr>{kept});
    EXPECT_EQ(context->deletedObjects().size(), 2); // the item and, by cascade, its version
    context->rollback();

    EXPECT_FALSE(context->hasChanges());
    EXPECT_EQ(kept->stringValue(QStringLiteral("title")), QStringLiteral("T"));
    EXPECT_FALSE(doomed->isDeleted());
    EXPECT_EQ(doomed->objectsValue(QStringLiteral("versions")).size(), 1);
    EXPECT_EQ(added->managedObjectContext(), nullptr);
    EXPECT_EQ(context->countForFetchRequest(TDWFetchRequest(QStringLiteral("Item")), nullptr), 2);
}

TEST(ManagedObjectContext, ResetForgetsEveryObject)
{
    Stack stack;
    auto context = stack.newContext();
    TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("T"));
    ASSERT_TRUE(context->save(nullptr));
    item->setValue(QStringLiteral("title"), QStringLiteral("unsaved"));
    context->reset();
    EXPECT_FALSE(context->hasChanges());
    EXPECT_EQ(context->registeredObjectCount(), 0);
    EXPECT_EQ(item->managedObjectContext(), nullptr);
    EXPECT_NE(context->objectWithID(item->objectID()), item);
    EXPECT_EQ(itemByCode(*context, QStringLiteral("a"))->stringValue(QStringLiteral("title")), QStringLiteral("T"));
}

TEST(ManagedObjectContext, HooksRunOnInsertAndBeforeEverySave)
{
    Stack stack;
    auto context = stack.newContext();
    auto item = std::dynamic_pointer_cast<Item>(context->insertNewObject(QStringLiteral("Item"), stack.libraryA));
    ASSERT_TRUE(item);
    EXPECT_EQ(item->awakeFromInsertCalls, 1);
    EXPECT_EQ(item->stringValue(QStringLiteral("kind")), QStringLiteral("file"));
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_EQ(item->willSaveCalls, 1);
    const QDateTime stamped = item->dateValue(QStringLiteral("modified"));
    EXPECT_TRUE(stamped.isValid());
    // Saving with nothing changed does not touch the object.
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_EQ(item->willSaveCalls, 1);
    auto other = stack.newContext();
    EXPECT_EQ(other->existingObjectWithID(item->objectID(), nullptr)->dateValue(QStringLiteral("modified")), stamped);
}

TEST(ManagedObjectContext, SaveNotificationMergesIntoAnotherContext)
{
    Stack stack;
    {
        auto context = stack.newContext();
        addItem(*context, stack.libraryA, QStringLiteral("changed"), QStringLiteral("T"));
        addItem(*context, stack.libraryA, QStringLiteral("deleted"), QStringLiteral("T"));
        ASSERT_TRUE(context->save(nullptr));
    }
    QList<TDWSaveNotification> notifications;
    QObject::connect(stack.coordinator.get(), &TDWPersistentStoreCoordinator::contextDidSave,
                     [&](const TDWSaveNotification &note) { notifications.append(note); });

    auto reader = stack.newContext();
    TDWManagedObjectPtr changed = itemByCode(*reader, QStringLiteral("changed"));
    TDWManagedObjectPtr deleted = itemByCode(*reader, QStringLiteral("deleted"));
    changed->setValue(QStringLiteral("size"), 9); // a local change that must survive the merge

    auto writer = stack.newContext();
    itemByCode(*writer, QStringLiteral("changed"))->setValue(QStringLiteral("title"), QStringLiteral("New"));
    writer->deleteObject(itemByCode(*writer, QStringLiteral("deleted")));
    TDWManagedObjectPtr added = addItem(*writer, stack.libraryA, QStringLiteral("added"), QStringLiteral("T"));
    ASSERT_TRUE(writer->save(nullptr));

    ASSERT_EQ(notifications.size(), 1);
    const TDWSaveNotification &note = notifications.first();
    EXPECT_EQ(note.sender, writer.get());
    EXPECT_TRUE(note.inserted.contains(added->objectID()));
    EXPECT_EQ(note.updated, QList<TDWManagedObjectID>{changed->objectID()});
    EXPECT_TRUE(note.deleted.contains(deleted->objectID()));

    reader->mergeChangesFromSaveNotification(note);
    EXPECT_EQ(changed->stringValue(QStringLiteral("title")), QStringLiteral("New"));
    EXPECT_EQ(changed->integerValue(QStringLiteral("size")), 9);
    EXPECT_TRUE(deleted->isDeleted());
    EXPECT_EQ(deleted->managedObjectContext(), nullptr);
    TDWError error;
    ASSERT_TRUE(reader->save(&error)) << error.description().toStdString();
    auto check = stack.newContext();
    EXPECT_EQ(itemByCode(*check, QStringLiteral("changed"))->integerValue(QStringLiteral("size")), 9);
    EXPECT_EQ(itemByCode(*check, QStringLiteral("changed"))->stringValue(QStringLiteral("title")), QStringLiteral("New"));
}

TEST(ManagedObjectContext, ChangingARowAnotherContextDeletedFailsAndWritesNothing)
{
    Stack stack;
    {
        auto context = stack.newContext();
        addItem(*context, stack.libraryA, QStringLiteral("gone"), QStringLiteral("T"));
        addItem(*context, stack.libraryA, QStringLiteral("kept"), QStringLiteral("T"));
        ASSERT_TRUE(context->save(nullptr));
    }
    auto stale = stack.newContext();
    TDWManagedObjectPtr gone = itemByCode(*stale, QStringLiteral("gone"));
    TDWManagedObjectPtr kept = itemByCode(*stale, QStringLiteral("kept"));
    {
        auto other = stack.newContext();
        other->deleteObject(itemByCode(*other, QStringLiteral("gone")));
        ASSERT_TRUE(other->save(nullptr));
    }
    kept->setValue(QStringLiteral("title"), QStringLiteral("New"));
    gone->setValue(QStringLiteral("title"), QStringLiteral("New"));
    TDWError error;
    EXPECT_FALSE(stale->save(&error));
    EXPECT_EQ(error.code(), TDWStoreError::ObjectNotFound);
    EXPECT_TRUE(stale->hasChanges());
    auto check = stack.newContext();
    EXPECT_EQ(itemByCode(*check, QStringLiteral("kept"))->stringValue(QStringLiteral("title")), QStringLiteral("T"));
    EXPECT_FALSE(itemByCode(*check, QStringLiteral("gone")));
}

TEST(ManagedObjectContext, MissingRowsAreReportedNotInvented)
{
    Stack stack;
    auto context = stack.newContext();
    const TDWManagedObjectID missing = TDWManagedObjectID::permanent(stack.libraryA->identifier(), QStringLiteral("Item"), 999);
    TDWError error;
    EXPECT_FALSE(context->existingObjectWithID(missing, &error));
    EXPECT_EQ(error.code(), TDWStoreError::ObjectNotFound);
    TDWManagedObjectPtr fault = context->objectWithID(missing);
    ASSERT_TRUE(fault);
    EXPECT_TRUE(fault->isFault());
    tdwtest::LogCapture log;
    EXPECT_TRUE(fault->value(QStringLiteral("code")).isNull());
    EXPECT_TRUE(log.contains(QStringLiteral("ERROR: Unable to load")));
    EXPECT_FALSE(context->objectWithID(TDWManagedObjectID::permanent(QStringLiteral("unknown"), QStringLiteral("Item"), 1)));
}

TEST(ManagedObjectContext, ManyObjectsLoadByIdentifierInTheirOrder)
{
    Stack stack;
    QList<TDWManagedObjectID> ids;
    {
        auto context = stack.newContext();
        QList<TDWManagedObjectPtr> items;
        for (int i = 0; i < 5; ++i)
            items.append(addItem(*context, i % 2 ? stack.libraryA : stack.libraryB, QString::number(i), QStringLiteral("t")));
        ASSERT_TRUE(context->save(nullptr));
        for (int i = 4; i >= 0; --i)
            ids.append(items[i]->objectID());
    }
    ids.insert(2, TDWManagedObjectID::permanent(stack.libraryA->identifier(), QStringLiteral("Item"), 999));
    auto context = stack.newContext();
    auto objects = context->existingObjectsWithIDs(ids, nullptr);
    ASSERT_TRUE(objects);
    QStringList codes;
    for (const TDWManagedObjectPtr &object : *objects) {
        EXPECT_FALSE(object->isFault());
        codes.append(object->stringValue(QStringLiteral("code")));
    }
    EXPECT_EQ(codes, (QStringList{QStringLiteral("4"), QStringLiteral("3"), QStringLiteral("2"), QStringLiteral("1"), QStringLiteral("0")}));
}

TEST(ManagedObjectContext, HandWrittenSqlRunsOnOneStore)
{
    Stack stack;
    {
        auto context = stack.newContext();
        for (int i = 0; i < 6; ++i)
            addItem(*context, i < 4 ? stack.libraryA : stack.libraryB, QString::number(i), QStringLiteral("t"))->setValue(QStringLiteral("size"), i);
        ASSERT_TRUE(context->save(nullptr));
    }
    auto context = stack.newContext();
    qint64 count = -1;
    TDWError error;
    ASSERT_TRUE(context->executeSql(stack.libraryA, QStringLiteral("SELECT count(*) FROM Item WHERE size >= ?"), {1},
                                    [&](const TDWSqliteStatement &row) {
                                        count = row.int64At(0);
                                        return true;
                                    },
                                    &error));
    EXPECT_EQ(count, 3);
    auto objects = context->objectsForSql(QStringLiteral("Item"), stack.libraryA, QStringLiteral("SELECT pk FROM Item ORDER BY size DESC LIMIT 2"), {}, &error);
    ASSERT_TRUE(objects && objects->size() == 2);
    EXPECT_EQ(objects->at(0)->integerValue(QStringLiteral("size")), 3);
    EXPECT_EQ(objects->at(1)->integerValue(QStringLiteral("size")), 2);
    EXPECT_FALSE(context->executeSql(stack.libraryA, QStringLiteral("SELECT nope FROM Item"), {}, {}, &error));
    EXPECT_EQ(error.code(), TDWStoreError::Sqlite);
}

} // namespace

TEST(ManagedObjectContext, RollbackToSavepointUndoesOnlyTheChangesSinceTheMark)
{
    Stack stack;
    {
        auto seed = stack.newContext();
        addItem(*seed, stack.libraryA, QStringLiteral("stored"), QStringLiteral("before"));
        addItem(*seed, stack.libraryA, QStringLiteral("doomed"), QStringLiteral("kept"));
        ASSERT_TRUE(seed->save(nullptr));
    }
    auto context = stack.newContext();
    TDWManagedObjectPtr stored = itemByCode(*context, QStringLiteral("stored"));
    TDWManagedObjectPtr doomed = itemByCode(*context, QStringLiteral("doomed"));
    ASSERT_TRUE(stored && doomed);
    // Changes before the mark: an insert and an edit, both to be kept.
    TDWManagedObjectPtr early = addItem(*context, stack.libraryA, QStringLiteral("early"), QStringLiteral("one"));
    stored->setValue(QStringLiteral("title"), QStringLiteral("edited"));
    const QVariant kindAtMark = stored->value(QStringLiteral("kind"));

    context->beginSavepoint();
    stored->setValue(QStringLiteral("title"), QStringLiteral("half-done"));
    stored->setValue(QStringLiteral("kind"), QStringLiteral("x"));
    early->setValue(QStringLiteral("title"), QStringLiteral("two"));
    TDWManagedObjectPtr late = addItem(*context, stack.libraryA, QStringLiteral("late"), QStringLiteral("t"));
    TDWManagedObjectPtr version = context->insertNewObject(QStringLiteral("Version"), stack.libraryA);
    version->setObjectValue(QStringLiteral("item"), stored);
    context->deleteObject(doomed);
    context->rollbackToSavepoint();

    EXPECT_EQ(stored->stringValue(QStringLiteral("title")), QStringLiteral("edited"));
    EXPECT_EQ(stored->value(QStringLiteral("kind")), kindAtMark);
    EXPECT_EQ(early->stringValue(QStringLiteral("title")), QStringLiteral("one"));
    EXPECT_FALSE(late->managedObjectContext());
    EXPECT_FALSE(doomed->isDeleted());
    EXPECT_EQ(stored->objectsValue(QStringLiteral("versions")).size(), 1);
    ASSERT_TRUE(context->save(nullptr));

    auto reader = stack.newContext();
    EXPECT_EQ(itemByCode(*reader, QStringLiteral("stored"))->stringValue(QStringLiteral("title")), QStringLiteral("edited"));
    EXPECT_EQ(itemByCode(*reader, QStringLiteral("early"))->stringValue(QStringLiteral("title")), QStringLiteral("one"));
    EXPECT_TRUE(itemByCode(*reader, QStringLiteral("doomed")));
    EXPECT_FALSE(itemByCode(*reader, QStringLiteral("late")));
    EXPECT_EQ(sqliteShell(stack.libraryA->path(), QStringLiteral("SELECT count(*) FROM Version")), QStringLiteral("3"));
}

TEST(ManagedObjectContext, ReleasedSavepointKeepsItsChanges)
{
    Stack stack;
    auto context = stack.newContext();
    context->beginSavepoint();
    TDWManagedObjectPtr item = addItem(*context, stack.libraryA, QStringLiteral("a"), QStringLiteral("t"));
    context->releaseSavepoint();
    context->rollbackToSavepoint(); // none open: nothing to undo
    EXPECT_TRUE(item->isInserted());
    ASSERT_TRUE(context->save(nullptr));
    EXPECT_TRUE(itemByCode(*stack.newContext(), QStringLiteral("a")));
}
