#pragma once

#include "accounts/TDWPreflight.h"

#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

// The preflight check classes by name, so that the service table's
// "preflightClass" names the check of each service. The HTTP API check is
// registered from the start; other checks (the mail check) register
// themselves before a preflight needs them.
class TDWPreflightRegistry
{
public:
    using Factory = std::function<std::unique_ptr<TDWPreflight>(const QString &username, const QString &accessToken,
                                                                const QString &service)>;

    // Adds or replaces the class of that name. Safe from any thread.
    static void registerClass(const QString &className, Factory factory);
    // A new check of that class, or null when no class has that name.
    static std::unique_ptr<TDWPreflight> create(const QString &className, const QString &username, const QString &accessToken,
                                                const QString &service);

private:
    static TDWPreflightRegistry &instance();
    TDWPreflightRegistry();

    std::mutex m_mutex;
    QHash<QString, Factory> m_factories;
};
