// A writer for the kill test: saves batch after batch into two stores and prints
// "saved <n1> <n2>" (the batch just saved in each store) after each save that
// returned success, until it is killed.
// Usage: store_kill_writer <folder>
//
// Every save writes, in each of the two stores, its next batch n: 20 entries of
// batch n inserted, the entries of batch n-3 deleted, the store's counter row set to n.
// Each store counts on from its own counter, since a kill between the two commits
// may leave one store a batch ahead.
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace {

std::shared_ptr<const TDWManagedObjectModel> writerModel()
{
    auto model = std::make_shared<TDWManagedObjectModel>(QStringLiteral("k1"));
    model->addEntity(QStringLiteral("Entry"), {QStringLiteral("log")})
        .addAttribute(QStringLiteral("batch"), TDWAttributeType::Integer, {.indexed = true})
        .addAttribute(QStringLiteral("payload"), TDWAttributeType::String);
    model->addEntity(QStringLiteral("Counter"), {QStringLiteral("log")}).addAttribute(QStringLiteral("value"), TDWAttributeType::Integer);
    if (!model->finalize(nullptr))
        return nullptr;
    return model;
}

int fail(const TDWError &error)
{
    std::fprintf(stderr, "%s\n", qPrintable(error.description()));
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    auto coordinator = std::make_shared<TDWPersistentStoreCoordinator>(writerModel());
    TDWError error;
    QList<TDWPersistentStorePtr> stores;
    for (const char *name : {"one.sqlite3", "two.sqlite3"}) {
        TDWPersistentStorePtr store = coordinator->addPersistentStore(QStringLiteral("log"), folder.filePath(QString::fromLatin1(name)), {}, &error);
        if (!store)
            return fail(error);
        stores.append(store);
    }
    TDWManagedObjectContext context(coordinator);
    QList<TDWManagedObjectPtr> counters;
    QList<qint64> batches;
    for (const TDWPersistentStorePtr &store : stores) {
        TDWFetchRequest request(QStringLiteral("Counter"));
        request.setAffectedStores({store});
        auto found = context.executeFetchRequest(request, &error);
        if (!found)
            return fail(error);
        TDWManagedObjectPtr counter = found->isEmpty() ? context.insertNewObject(QStringLiteral("Counter"), store) : found->first();
        batches.append(counter->integerValue(QStringLiteral("value")));
        counters.append(counter);
    }
    const QString payload(200, QLatin1Char('x'));
    for (;;) {
        for (int s = 0; s < stores.size(); ++s) {
            const qint64 batch = ++batches[s];
            for (int i = 0; i < 20; ++i) {
                TDWManagedObjectPtr entry = context.insertNewObject(QStringLiteral("Entry"), stores[s]);
                entry->setValue(QStringLiteral("batch"), batch);
                entry->setValue(QStringLiteral("payload"), payload);
            }
            TDWFetchRequest old(QStringLiteral("Entry"));
            old.setAffectedStores({stores[s]});
            old.setSqlCondition(QStringLiteral("t.batch = ?"), {batch - 3});
            auto doomed = context.executeFetchRequest(old, &error);
            if (!doomed)
                return fail(error);
            for (const TDWManagedObjectPtr &entry : *doomed)
                context.deleteObject(entry);
            counters[s]->setValue(QStringLiteral("value"), batch);
        }
        if (!context.save(&error))
            return fail(error);
        std::printf("saved %lld %lld\n", static_cast<long long>(batches[0]), static_cast<long long>(batches[1]));
        std::fflush(stdout);
    }
}
