#include "platform/foundation/TDWError.h"

TDWError::TDWError(QString domain, qint64 code, QVariantMap userInfo)
    : m_domain(std::move(domain)), m_code(code), m_userInfo(std::move(userInfo))
{
}

TDWError TDWError::withDescription(const QString &domain, qint64 code, const QString &description, QVariantMap userInfo)
{
    userInfo.insert(LocalizedDescriptionKey, description);
    return TDWError(domain, code, std::move(userInfo));
}

TDWError TDWError::withScope(Scope scope) const
{
    TDWError scoped = *this;
    scoped.m_scope = scope;
    return scoped;
}

QString TDWError::localizedDescription() const
{
    const auto it = m_userInfo.constFind(LocalizedDescriptionKey);
    if (it != m_userInfo.constEnd())
        return it->toString();
    return QStringLiteral("The operation couldn't be completed. (%1 error %2.)").arg(m_domain).arg(m_code);
}

QString TDWError::description() const
{
    return QStringLiteral("Error Domain=%1 Code=%2 \"%3\"").arg(m_domain).arg(m_code).arg(localizedDescription());
}
