#include "accounts/TDWPreflightRegistry.h"

#include "accounts/TDWApiPreflightOperation.h"

TDWPreflightRegistry::TDWPreflightRegistry()
{
    m_factories.insert(QStringLiteral("TDWApiPreflightOperation"),
                       [](const QString &username, const QString &accessToken, const QString &service) {
                           return std::make_unique<TDWApiPreflightOperation>(username, accessToken, service);
                       });
}

TDWPreflightRegistry &TDWPreflightRegistry::instance()
{
    static TDWPreflightRegistry registry;
    return registry;
}

void TDWPreflightRegistry::registerClass(const QString &className, Factory factory)
{
    TDWPreflightRegistry &registry = instance();
    std::lock_guard lock(registry.m_mutex);
    registry.m_factories.insert(className, std::move(factory));
}

std::unique_ptr<TDWPreflight> TDWPreflightRegistry::create(const QString &className, const QString &username,
                                                           const QString &accessToken, const QString &service)
{
    TDWPreflightRegistry &registry = instance();
    Factory factory;
    {
        std::lock_guard lock(registry.m_mutex);
        factory = registry.m_factories.value(className);
    }
    return factory ? factory(username, accessToken, service) : nullptr;
}
