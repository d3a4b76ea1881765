#pragma once

#include <QString>
#include <QVariantMap>

// The error value that engine calls hand back through a trailing `TDWError *error`
// out-parameter: a domain, an integer code and a user-info dictionary whose
// "localizedDescription" entry holds the text a user may read.
//
// Every domain is declared in one shape, in a header of its own named after it
// (TDWStoreError.h is the model):
//
//     namespace TDWFooError {
//     inline const QString Domain = QStringLiteral("TDWFooErrorDomain");
//     enum Code : qint64 { Bar = 1, ... };
//     TDWError make(Code code, const QString &description, ...);
//     }
//
// Domains whose codes are errno values name the ones callers test and take
// the others as Code(errno).
//
// An error also says how far the failure reaches (its scope), so that a loop
// over many items can skip an item's failure and stop at once on the others.
// The protocol layers decide it once, where they read the server's answer;
// errors of other domains concern the item at hand.
//
// Logging: the layer that decides what a failure means (skips the item, stops
// the run, tells the user) logs it, once, in one line beginning "ERROR: ".
// The layers under it hand the error back through their `TDWError *error` or
// result and log nothing of it.
class TDWError
{
public:
    static inline const QString LocalizedDescriptionKey = QStringLiteral("localizedDescription");

    enum class Scope {
        Item,       // this message or file: the next one may well succeed
        Request,    // this folder or request: the others may still succeed
        Connection, // the connection or the server: nothing more will succeed now
        SignIn,     // the credentials were refused: nothing will succeed until the user signs in again
        Cancelled,  // the work was cancelled
    };

    TDWError() = default;
    TDWError(QString domain, qint64 code, QVariantMap userInfo = {});

    // An error whose user info holds the given description besides `userInfo`.
    static TDWError withDescription(const QString &domain, qint64 code, const QString &description, QVariantMap userInfo = {});

    bool isNull() const { return m_domain.isEmpty(); }
    const QString &domain() const { return m_domain; }
    qint64 code() const { return m_code; }
    const QVariantMap &userInfo() const { return m_userInfo; }
    Scope scope() const { return m_scope; }
    // This error with another scope.
    TDWError withScope(Scope scope) const;
    // Whether a loop over items must stop: the failure reaches past the item and its request.
    bool endsRun() const { return m_scope == Scope::Connection || m_scope == Scope::SignIn || m_scope == Scope::Cancelled; }

    // The description from the user info, or a generic sentence naming domain and code.
    QString localizedDescription() const;
    // One-line form for log lines: "Error Domain=<domain> Code=<code> \"<description>\"".
    QString description() const;

    bool operator==(const TDWError &other) const = default;

private:
    QString m_domain;
    qint64 m_code = 0;
    QVariantMap m_userInfo;
    Scope m_scope = Scope::Item;
};

// Stores `value` through an optional out-parameter.
inline void tdwSetError(TDWError *out, const TDWError &value)
{
    if (out)
        *out = value;
}
