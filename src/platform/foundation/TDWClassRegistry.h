#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>

// The classes of one kind by name, so that a name read from the service table
// ("preflightClass", "parserClass") makes an object of that class. One
// registry per base class and constructor arguments, shared by the program;
// the application fills it at start-up (TDWRegisterClasses) and every part
// that makes such objects asks it. Safe from any thread.
template <class Base, class... Args>
class TDWClassRegistry
{
public:
    using Factory = std::function<std::unique_ptr<Base>(Args...)>;

    static TDWClassRegistry &shared()
    {
        static TDWClassRegistry registry;
        return registry;
    }

    // Adds the class `Derived`, made from the arguments, under `name`; a
    // second registration of a name replaces the first.
    template <class Derived>
    void registerClass(const QString &name)
    {
        std::lock_guard lock(m_mutex);
        m_factories.insert(name, [](Args... args) { return std::make_unique<Derived>(std::forward<Args>(args)...); });
    }

    // A new object of the class registered under `name`; null when none is.
    std::unique_ptr<Base> create(const QString &name, Args... args) const
    {
        Factory factory;
        {
            std::lock_guard lock(m_mutex);
            factory = m_factories.value(name);
        }
        return factory ? factory(std::forward<Args>(args)...) : nullptr;
    }

private:
    TDWClassRegistry() = default;

    mutable std::mutex m_mutex;
    QHash<QString, Factory> m_factories;
};
