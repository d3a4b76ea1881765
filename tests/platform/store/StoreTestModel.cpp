#include "StoreTestModel.h"

#include "TestSupport.h"

#include "platform/store/TDWSqliteConnection.h"

#include <QDateTime>
#include <QDir>
#include <QProcess>

#include <gtest/gtest.h>

namespace storetest {

void Item::awakeFromInsert()
{
    ++awakeFromInsertCalls;
    setValue(QStringLiteral("kind"), QStringLiteral("file"));
}

void Item::willSave()
{
    ++willSaveCalls;
    if (!isDeleted())
        setValue(QStringLiteral("modified"), QDateTime::currentDateTimeUtc());
}

namespace {

std::shared_ptr<TDWManagedObjectModel> build(TDWAttributeType sizeType, int layout = 1)
{
    auto model = std::make_shared<TDWManagedObjectModel>(QStringLiteral("t1"));
    const QStringList main{QStringLiteral("main")};
    const QStringList library{QStringLiteral("library")};
    model->addEntity(QStringLiteral("Owner"), main)
        .addAttribute(QStringLiteral("name"), TDWAttributeType::String, {.indexed = true})
        .addAttribute(QStringLiteral("active"), TDWAttributeType::Boolean, {.defaultValue = false})
        .addAttribute(QStringLiteral("joined"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("score"), TDWAttributeType::Double)
        .addAttribute(QStringLiteral("photo"), TDWAttributeType::Binary)
        .addAttribute(QStringLiteral("extra"), TDWAttributeType::Json)
        .addToMany(QStringLiteral("settings"), QStringLiteral("Setting"), QStringLiteral("owner"), TDWDeleteRule::Cascade);
    model->addEntity(QStringLiteral("Setting"), main)
        .addAttribute(QStringLiteral("key"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("value"), TDWAttributeType::Integer)
        .addToOne(QStringLiteral("owner"), QStringLiteral("Owner"), QStringLiteral("settings"));
    TDWEntityDescription &item = model->addEntity(QStringLiteral("Item"), library, [] { return std::make_shared<Item>(); })
        .addAttribute(QStringLiteral("code"), TDWAttributeType::String, {.indexed = true, .caseInsensitiveKey = layout >= 2})
        .addAttribute(QStringLiteral("kind"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("title"), TDWAttributeType::String, {.caseInsensitiveKey = true})
        .addAttribute(QStringLiteral("size"), sizeType)
        .addAttribute(QStringLiteral("removed"), TDWAttributeType::Boolean, {.defaultValue = false})
        .addAttribute(QStringLiteral("modified"), TDWAttributeType::Date)
        .addToMany(QStringLiteral("versions"), QStringLiteral("Version"), QStringLiteral("item"), TDWDeleteRule::Cascade)
        .addToMany(QStringLiteral("parentLinks"), QStringLiteral("Link"), QStringLiteral("child"), TDWDeleteRule::Nullify)
        .addToMany(QStringLiteral("childLinks"), QStringLiteral("Link"), QStringLiteral("parent"), TDWDeleteRule::Deny)
        .addIndex({QStringLiteral("title[c]")});
    if (layout >= 2)
        item.addAttribute(QStringLiteral("note"), TDWAttributeType::String, {.defaultValue = QStringLiteral("none")});
    TDWEntityDescription &version = model->addEntity(QStringLiteral("Version"), library)
        .addAttribute(QStringLiteral("label"), TDWAttributeType::String)
        .addAttribute(QStringLiteral("seen"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("gone"), TDWAttributeType::Date)
        .addAttribute(QStringLiteral("current"), TDWAttributeType::Boolean)
        .addToOne(QStringLiteral("item"), QStringLiteral("Item"), QStringLiteral("versions"))
        .addIndex({QStringLiteral("item"), QStringLiteral("seen")});
    if (layout >= 3)
        version.addAttribute(QStringLiteral("weight"), TDWAttributeType::Integer, {.indexed = true});
    model->addEntity(QStringLiteral("Link"), library)
        .addToOne(QStringLiteral("child"), QStringLiteral("Item"), QStringLiteral("parentLinks"))
        .addToOne(QStringLiteral("parent"), QStringLiteral("Item"), QStringLiteral("childLinks"));
    if (layout >= 2)
        model->addEarlierLayout(QStringLiteral("library"), build(sizeType, 1)->versionHash(QStringLiteral("library")),
                                {[](TDWSqliteConnection &connection, const TDWManagedObjectModel &model, TDWError *error) {
                                    return TDWStoreLayoutStep::addingAttributes(QStringLiteral("Item"), {QStringLiteral("note")})
                                               .apply(connection, model, error)
                                        && TDWStoreLayoutStep::addingFoldedColumn(QStringLiteral("Item"), QStringLiteral("code"))
                                               .apply(connection, model, error);
                                }});
    if (layout >= 3) {
        // A step that needs a file of its own: VACUUM cannot run inside a transaction.
        TDWStoreLayoutStep adding = TDWStoreLayoutStep::addingAttributes(QStringLiteral("Version"), {QStringLiteral("weight")});
        TDWStoreLayoutStep rebuild{[adding](TDWSqliteConnection &connection, const TDWManagedObjectModel &model, TDWError *error) {
                                       return adding.apply(connection, model, error) && connection.exec(QStringLiteral("VACUUM"), error);
                                   },
                                   true};
        model->addEarlierLayout(QStringLiteral("library"), build(sizeType, 2)->versionHash(QStringLiteral("library")), rebuild);
    }
    TDWError error;
    if (!model->finalize(&error))
        ADD_FAILURE() << error.description().toStdString();
    return model;
}

} // namespace

std::shared_ptr<const TDWManagedObjectModel> model()
{
    static const std::shared_ptr<const TDWManagedObjectModel> shared = build(TDWAttributeType::Integer);
    return shared;
}

std::shared_ptr<const TDWManagedObjectModel> changedModel()
{
    static const std::shared_ptr<const TDWManagedObjectModel> shared = build(TDWAttributeType::Double);
    return shared;
}

std::shared_ptr<const TDWManagedObjectModel> laterModel(int layout)
{
    static const std::shared_ptr<const TDWManagedObjectModel> second = build(TDWAttributeType::Integer, 2);
    static const std::shared_ptr<const TDWManagedObjectModel> third = build(TDWAttributeType::Integer, 3);
    return layout == 2 ? second : third;
}

Stack::Stack(const QString &existing)
    : coordinator(std::make_shared<TDWPersistentStoreCoordinator>(model()))
    , folder(existing.isEmpty() ? tdwtest::freshDir(QStringLiteral("store")) : existing)
{
    TDWError error;
    const QDir dir(folder);
    main = coordinator->addPersistentStore(QStringLiteral("main"), dir.filePath(QStringLiteral("main.sqlite3")), {}, &error);
    libraryA = coordinator->addPersistentStore(QStringLiteral("library"), dir.filePath(QStringLiteral("a.sqlite3")), {}, &error);
    libraryB = coordinator->addPersistentStore(QStringLiteral("library"), dir.filePath(QStringLiteral("b.sqlite3")), {}, &error);
    EXPECT_TRUE(main && libraryA && libraryB) << error.description().toStdString();
}

std::unique_ptr<TDWManagedObjectContext> Stack::newContext() const
{
    return std::make_unique<TDWManagedObjectContext>(coordinator);
}

TDWManagedObjectPtr addItem(TDWManagedObjectContext &context, const TDWPersistentStorePtr &store, const QString &code, const QString &title)
{
    TDWManagedObjectPtr item = context.insertNewObject(QStringLiteral("Item"), store);
    item->setValue(QStringLiteral("code"), code);
    item->setValue(QStringLiteral("title"), title);
    TDWManagedObjectPtr version = context.insertNewObject(QStringLiteral("Version"), store);
    version->setValue(QStringLiteral("label"), title);
    version->setValue(QStringLiteral("current"), true);
    version->setObjectValue(QStringLiteral("item"), item);
    return item;
}

QString sqliteShell(const QString &path, const QString &sql)
{
    QProcess shell;
    shell.start(QStringLiteral("sqlite3"), {path, sql});
    shell.waitForFinished(30000);
    return QString::fromUtf8(shell.readAllStandardOutput()).trimmed() + QString::fromUtf8(shell.readAllStandardError()).trimmed();
}

} // namespace storetest
