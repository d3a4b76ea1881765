#pragma once

#include <QString>

#include <memory>

class TDWImapSession;

// One IMAP session per account, so that all IMAP work of an account shares
// one set of connections and its limit. A session is kept until a request
// with another access token replaces it; the replaced session is not
// disconnected, it ends when its last user lets it go. Safe from any thread.
//
// The server is the "Hostname" user default ("imap.gmail.com" unless set;
// "host:port" names another port than 993, for local servers), and
// certificate authorities in the file that TDW_EXTRA_CA names are trusted
// besides the system's, as they are for HTTP.
class TDWImapConnectionMgr
{
public:
    TDWImapConnectionMgr() = delete;

    // The cached session of the user name when it was made with this token,
    // else a new one made with it, which replaces the cached one. User names
    // are keys as given (the program keeps them in lower case).
    static std::shared_ptr<TDWImapSession> imapSessionForUsername(const QString &username, const QString &accessToken);

    // The session for the access token of the account's stored credential
    // (the keychain manager's); null when the account has none.
    static std::shared_ptr<TDWImapSession> imapSessionForUsername(const QString &username);
};
