#pragma once

#include "platform/store/TDWManagedObject.h"
#include "platform/store/TDWManagedObjectContext.h"
#include "platform/store/TDWManagedObjectModel.h"
#include "platform/store/TDWPersistentStoreCoordinator.h"

#include <QString>

#include <memory>
#include <ostream>

// Readable QString values in test failure messages.
inline void PrintTo(const QString &value, std::ostream *out)
{
    *out << '"' << value.toStdString() << '"';
}

namespace storetest {

// A typed entity class, as the entity layer writes them.
class Item : public TDWManagedObject
{
public:
    QString code() const { return stringValue(QStringLiteral("code")); }
    void setCode(const QString &code) { setValue(QStringLiteral("code"), code); }
    int awakeFromInsertCalls = 0;
    int willSaveCalls = 0;

protected:
    void awakeFromInsert() override;
    void willSave() override;
};

// A small model shaped like ours but not ours: configuration "main" holds owners and
// their settings; configuration "library" holds items, their versions and the links
// between items.
std::shared_ptr<const TDWManagedObjectModel> model();
// The same layout with one attribute type changed (a newer model version).
std::shared_ptr<const TDWManagedObjectModel> changedModel();

// Later layouts of configuration "library", each knowing the ones before it:
// 2 adds Item "note" (default "none") and a folded column to Item "code", in place;
// 3 adds Version "weight" (indexed) in a rebuild of the file.
std::shared_ptr<const TDWManagedObjectModel> laterModel(int layout);

// A coordinator over a fresh folder with one "main" store and two "library" stores.
struct Stack
{
    explicit Stack(const QString &folder = {});
    std::shared_ptr<TDWPersistentStoreCoordinator> coordinator;
    TDWPersistentStorePtr main;
    TDWPersistentStorePtr libraryA;
    TDWPersistentStorePtr libraryB;
    QString folder;
    std::unique_ptr<TDWManagedObjectContext> newContext() const;
};

// Inserts an item with its first version into a store.
TDWManagedObjectPtr addItem(TDWManagedObjectContext &context, const TDWPersistentStorePtr &store, const QString &code, const QString &title);

// Runs the sqlite3 shell on a file and returns its trimmed output (an independent reader).
QString sqliteShell(const QString &path, const QString &sql);

} // namespace storetest
