#pragma once

#include <QDateTime>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <mutex>
#include <sys/types.h>

// The user's settings: one property-list file with a layer of registered
// defaults underneath that is never written. Safe to use from any thread.
//
// Setters change memory at once and schedule a write on the object's thread
// (coalescing every change made before it runs); synchronize() writes at once
// and also takes in what another process changed in the file meanwhile.
class TDWUserDefaults : public QObject
{
    Q_OBJECT

public:
    // $XDG_CONFIG_HOME/Tidewell/defaults.plist, created on first use from any
    // thread. When the application object exists by then, it lives on the main
    // thread and flushes pending changes when the application object is destroyed.
    static TDWUserDefaults *standard();

    explicit TDWUserDefaults(const QString &path, QObject *parent = nullptr);
    ~TDWUserDefaults() override;

    QString path() const;

    // Adds to the layer under the stored values (later registrations win).
    void registerDefaults(const QVariantMap &defaults);

    // The stored value, else the registered one, else an invalid QVariant.
    QVariant objectForKey(const QString &key) const;
    QString stringForKey(const QString &key) const;          // empty unless the value is a string
    bool boolForKey(const QString &key) const;               // numbers and "YES"/"true"/"1" strings convert
    qint64 integerForKey(const QString &key) const;          // numbers, bools and numeric strings convert; else 0
    double doubleForKey(const QString &key) const;           // the same conversions; else 0.0
    QDateTime dateForKey(const QString &key) const;          // null unless the value is a date
    QVariantMap dictionaryForKey(const QString &key) const;  // empty unless a dictionary
    QVariantList arrayForKey(const QString &key) const;      // empty unless an array
    QStringList stringArrayForKey(const QString &key) const; // empty unless an array of strings only

    // Stores the value as it will read back from the file (int becomes qint64,
    // a string list an array). An invalid QVariant removes the key; a value
    // with no property-list form is refused and logged, leaving the key as it was.
    void setObject(const QVariant &value, const QString &key);
    void setBool(bool value, const QString &key);
    void setInteger(qint64 value, const QString &key);
    void setDouble(double value, const QString &key);
    void setString(const QString &value, const QString &key);
    void removeObjectForKey(const QString &key);

    // Writes pending changes atomically and takes in changes another process
    // made to the file. False (and a logged error) when the write failed; the
    // changes stay pending for the next attempt.
    bool synchronize();

    // The registered values overlaid by the stored ones.
    QVariantMap dictionaryRepresentation() const;

signals:
    // Emitted, in the thread that made the change, for every set and remove,
    // and from synchronize() for each key another process changed.
    void changed(const QString &key);

private:
    // Identifies one version of the file, to notice when another process replaced it.
    struct FileStamp
    {
        bool exists = false;
        ino_t inode = 0;
        off_t size = 0;
        qint64 mtimeNs = 0;
        bool operator==(const FileStamp &) const = default;
    };

    static FileStamp stampOf(const QString &path);
    // The file's dictionary; empty (with an "ERROR: " line and m_corrupt set) when unreadable.
    QVariantMap load();
    void store(const QString &key, const QVariant &value);
    void scheduleWrite();

    const QString m_path;

    // Guards the values below; never held during file I/O.
    mutable std::mutex m_mutex;
    QVariantMap m_registered;
    QVariantMap m_stored;
    // Keys changed here and not yet written, with the change's sequence number,
    // so a write only retires the changes it actually contained.
    QHash<QString, quint64> m_pending;
    quint64 m_sequence = 0;
    bool m_writeScheduled = false;

    // Serialises synchronize(); guards the file state below.
    std::mutex m_fileMutex;
    FileStamp m_stamp;
    bool m_corrupt = false;
};
