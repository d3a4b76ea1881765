#pragma once

#include <QObject>
#include <QString>
#include <QVariantMap>

// One named notification: who sent it (or null) and what it carries. The
// sender is kept as a plain pointer because observers mostly compare it with
// an object they know; one that dereferences it relies on the poster keeping
// the sender alive until delivery.
class TDWNotification
{
public:
    TDWNotification() = default;
    explicit TDWNotification(QString name, QObject *object = nullptr, QVariantMap userInfo = {});

    const QString &name() const { return m_name; }
    QObject *object() const { return m_object; }
    const QVariantMap &userInfo() const { return m_userInfo; }

private:
    QString m_name;
    QObject *m_object = nullptr;
    QVariantMap m_userInfo;
};
