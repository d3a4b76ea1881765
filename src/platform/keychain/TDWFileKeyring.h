#pragma once

#include "platform/keychain/TDWKeyringBackend.h"

#include <map>
#include <mutex>
#include <utility>

// Secrets kept in one JSON file, "secrets.json", in a folder of their own
// that only the user may enter (0700; the file 0600), for machines where no
// Secret Service answers. Every change rewrites the file through a temporary
// file and a rename, so a crash leaves the old secrets or the new ones. A file
// that cannot be read or understood makes the store unavailable and is never
// written over.
class TDWFileKeyring : public TDWKeyringBackend
{
public:
    explicit TDWFileKeyring(QString folder);

    // "Keyring" in the user's Tidewell data folder.
    static QString defaultFolder();

    QString folder() const { return m_folder; }
    QString filePath() const;

    QString name() const override;
    TDWKeyringStatus find(const QString &service, const QString &account, QByteArray *secret, TDWError *error) override;
    bool store(const QString &service, const QString &account, const QByteArray &secret, TDWError *error) override;
    TDWKeyringStatus remove(const QString &service, const QString &account, TDWError *error) override;

private:
    using Items = std::map<std::pair<QString, QString>, QByteArray>;

    bool read(Items *items, TDWError *error) const;
    bool write(const Items &items, TDWError *error) const;
    bool prepareFolder(TDWError *error) const;
    // Holds an exclusive lock that other processes using the folder respect
    // for the whole read-change-write; -1 when it could not be taken.
    int lockFolder(TDWError *error) const;

    const QString m_folder;
    std::mutex m_mutex; // one change at a time within the process
};
