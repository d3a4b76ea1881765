#pragma once

#include "platform/foundation/TDWError.h"
#include "platform/store/TDWSqliteConnection.h"

#include <QString>
#include <QVariantMap>

#include <memory>
#include <mutex>
#include <vector>

class TDWManagedObjectModel;
class TDWEntityDescription;

// One SQLite store file held by a coordinator: its path, configuration, stable
// identifier and metadata, and a pool of connections that contexts borrow for
// the length of one fetch or save. Handed out as std::shared_ptr; after it is
// removed from its coordinator every use fails with StoreRemoved.
class TDWPersistentStore : public std::enable_shared_from_this<TDWPersistentStore>
{
public:
    struct Options
    {
        bool readOnly = false;
        // Brings a file of an earlier layout forward before opening it (for stores
        // opened on demand); otherwise such a file is refused with OlderLayout and
        // left to the upgrade at start-up.
        bool migrate = false;
    };

    // A borrowed connection; goes back to the pool (or is closed, once the store is
    // removed) when the lease ends.
    class Lease
    {
    public:
        Lease() = default;
        Lease(std::shared_ptr<TDWPersistentStore> store, std::unique_ptr<TDWSqliteConnection> connection);
        Lease(Lease &&) noexcept = default;
        Lease &operator=(Lease &&other) noexcept;
        ~Lease();
        bool isValid() const { return m_connection != nullptr; }
        TDWSqliteConnection *operator->() const { return m_connection.get(); }
        TDWSqliteConnection &operator*() const { return *m_connection; }

    private:
        void giveBack();
        std::shared_ptr<TDWPersistentStore> m_store;
        std::unique_ptr<TDWSqliteConnection> m_connection;
    };

    // Opens (creating when missing) the file of a configuration: creates the schema of
    // an empty file, refuses a file of another configuration or an unknown layout
    // (IncompatibleVersion), of a newer layout (NewerLayout, the file untouched), of
    // an earlier one unless asked to migrate it (OlderLayout), or one that is not
    // ours (NotAStore).
    static std::shared_ptr<TDWPersistentStore> open(std::shared_ptr<const TDWManagedObjectModel> model, const QString &configuration,
                                                    const QString &path, const Options &options, TDWError *error);

    // The metadata of a store file, read without the model (for version detection).
    static QVariantMap metadataForFile(const QString &path, TDWError *error);

    const QString &identifier() const { return m_identifier; }
    const QString &configurationName() const { return m_configuration; }
    const QString &path() const { return m_path; }
    bool isReadOnly() const { return m_options.readOnly; }
    const TDWManagedObjectModel &model() const { return *m_model; }
    bool holdsEntity(const TDWEntityDescription &entity) const;
    // Order in which stores are locked when one save writes several of them.
    quint64 sequenceNumber() const { return m_sequenceNumber; }

    QVariantMap metadata() const;
    // Adds, replaces (or, with a null value, removes) metadata keys; written at once.
    // A context can also write them with its rows (setMetadataToSave).
    bool setMetadata(const QVariantMap &values, TDWError *error);

    // Copies the store into a single self-contained file (the log folded in), while
    // other connections go on reading and writing, and checks the copy; a copy that
    // fails its check is deleted.
    bool copyToPath(const QString &destination, TDWError *error);
    // The same for a store file that no coordinator holds.
    static bool copyFile(const QString &source, const QString &destination, TDWError *error);

    bool isRemoved() const;

    // For contexts: a connection of this store's pool.
    Lease acquire(TDWError *error);
    // Serialises this process's writers, so they queue here instead of polling the
    // file lock; the busy timeout still covers other processes.
    std::mutex &writeMutex() { return m_writeMutex; }

private:
    friend class TDWPersistentStoreCoordinator;
    friend class TDWSaveTransaction;
    TDWPersistentStore(std::shared_ptr<const TDWManagedObjectModel> model, QString configuration, QString path, Options options);
    static bool bringLayoutForward(const std::shared_ptr<const TDWManagedObjectModel> &model, const QString &configuration,
                                   const QString &path, const Options &options, TDWError *error);
    bool initialize(std::unique_ptr<TDWSqliteConnection> connection, TDWError *error);
    void markRemoved();
    // False, with the reason, when the keys may not be written: the store is
    // read-only, or a key is one the store keeps itself.
    bool canWriteMetadata(const QVariantMap &values, TDWError *error) const;
    // Takes keys written and committed into the in-memory copy.
    void rememberMetadata(const QVariantMap &values);
    void giveBack(std::unique_ptr<TDWSqliteConnection> connection);
    std::unique_ptr<TDWSqliteConnection> openConnection(bool create, TDWError *error) const;
    static bool copyDatabase(TDWSqliteConnection &source, const QString &destination, TDWError *error);
    // True when SQLite's integrity check answers "ok"; otherwise false with its findings.
    static bool checkIntegrity(TDWSqliteConnection &connection, TDWError *error);

    std::shared_ptr<const TDWManagedObjectModel> m_model;
    QString m_configuration;
    QString m_path;
    Options m_options;
    QString m_identifier;
    quint64 m_sequenceNumber = 0;

    mutable std::mutex m_mutex; // guards the fields below
    QVariantMap m_metadata;
    std::vector<std::unique_ptr<TDWSqliteConnection>> m_idle;
    bool m_removed = false;

    std::mutex m_writeMutex;
};

using TDWPersistentStorePtr = std::shared_ptr<TDWPersistentStore>;
