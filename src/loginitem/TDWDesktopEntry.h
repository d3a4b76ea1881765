#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The "Desktop Entry" group of a freedesktop .desktop file, as far as the
// autostart folder needs it: plain (unlocalised) string values, whether the
// session starts the entry, and the program its Exec line runs. Also the
// quoting that writing an Exec line needs, so what we write reads back the same.
class TDWDesktopEntry
{
public:
    // Reads a file; empty when it cannot be read or has no "Desktop Entry" group.
    static std::optional<TDWDesktopEntry> read(const QString &path);
    static std::optional<TDWDesktopEntry> parse(const QByteArray &text);

    // The value of an unlocalised key with the string escapes (\s \n \t \r \\)
    // undone; empty when the key is absent.
    QString value(const QString &key) const;
    bool contains(const QString &key) const { return m_values.contains(key); }

    // Whether a session starts the entry: not when Hidden is true (the XDG
    // autostart rule for an entry switched off), nor when GNOME's own switch
    // X-GNOME-Autostart-enabled is false.
    bool isEnabled() const;

    // The Exec line split into arguments by its quoting rules, with "%%" read
    // as "%"; empty when there is no Exec line or its quoting is broken.
    std::optional<QStringList> execArguments() const;

    // `argument` as one quoted Exec argument, escaped for a string value.
    // Empty for an argument that an Exec line cannot hold (control characters).
    static QString execValueForArgument(const QString &argument);

private:
    QHash<QString, QString> m_values;
};
