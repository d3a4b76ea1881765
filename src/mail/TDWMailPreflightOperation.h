#pragma once

#include "accounts/TDWPreflight.h"
#include "mail/TDWFoldersWithFlags.h"
#include "platform/foundation/TDWOperation.h"

#include <QList>
#include <QString>

#include <chrono>
#include <memory>

// The Gmail access check of the account setup: with the access token given
// (the keychain is not asked), the account's folder list must be readable
// over IMAP, every required special folder present, and All Mail's size must
// not be exactly one of the IMAP folder size limits (DefaultFolderSizeLimits),
// which would mean the account truncates its folders. It refuses at once when
// a known mail-scanning proxy intercepts IMAP over TLS.
//
// A concurrent operation: start() hands the IMAP work to the main thread,
// where the replies and the overall time-out arrive, and the operation ends
// by finishing itself in every case (pass, failure, time-out, cancel), so a
// queue's count falls. As a TDWPreflight, run() starts it and blocks the
// calling worker thread (never the main thread) until it has finished.
// The results are meaningful once it has finished.
class TDWMailPreflightOperation : public TDWOperation, public TDWPreflight
{
    Q_OBJECT

public:
    // The service id is not kept: this check is always the "mail" one.
    TDWMailPreflightOperation(const QString &username, const QString &accessToken, const QString &service);
    ~TDWMailPreflightOperation() override;

    bool isConcurrent() const override;
    void run() override;
    void cancel() override;

    TDWError error() const override;
    QString username() const override;
    QString service() const override;
    QString accessToken() const;
    TDWFoldersWithFlags foldersWithFlags() const;
    // All Mail's message count; 0 until known.
    qint64 numMessages() const;

    // The overall limit, 60 s (through the injectable clock) unless set before start().
    void setTimeoutInterval(std::chrono::milliseconds interval);

    // The sizes Gmail lets a user cap an IMAP folder at.
    static inline const QList<qint64> DefaultFolderSizeLimits = {1000, 2000, 5000, 10000};
    // The All Mail sizes that fail the check, DefaultFolderSizeLimits unless
    // set before start() (tests show the same rule on a small mailbox).
    void setFolderSizeLimits(const QList<qint64> &limits);

    // Whether the mail-scanning proxy's settings file exists, reads as UTF-8
    // and does not switch its IMAP-over-TLS section off.
    static bool avastMailShieldRunning();
    // Where that file is looked for; tests point it elsewhere. Empty restores the default.
    static void setMailShieldConfigurationPath(const QString &path);

protected:
    void main() override;

private:
    struct Check;

    std::shared_ptr<Check> m_check;
};
