#pragma once

#include <QString>
#include <QVariantMap>

// The error value that engine calls hand back through a trailing `TDWError *error`
// out-parameter: a domain, an integer code and a user-info dictionary whose
// "localizedDescription" entry holds the text a user may read.
class TDWError
{
public:
    static inline const QString LocalizedDescriptionKey = QStringLiteral("localizedDescription");

    TDWError() = default;
    TDWError(QString domain, qint64 code, QVariantMap userInfo = {});

    // An error whose user info holds only the given description.
    static TDWError withDescription(const QString &domain, qint64 code, const QString &description);

    bool isNull() const { return m_domain.isEmpty(); }
    const QString &domain() const { return m_domain; }
    qint64 code() const { return m_code; }
    const QVariantMap &userInfo() const { return m_userInfo; }

    // The description from the user info, or a generic sentence naming domain and code.
    QString localizedDescription() const;
    // One-line form for log lines: "Error Domain=<domain> Code=<code> \"<description>\"".
    QString description() const;

    bool operator==(const TDWError &other) const = default;

private:
    QString m_domain;
    qint64 m_code = 0;
    QVariantMap m_userInfo;
};

// Stores `value` through an optional out-parameter.
inline void tdwSetError(TDWError *out, const TDWError &value)
{
    if (out)
        *out = value;
}
