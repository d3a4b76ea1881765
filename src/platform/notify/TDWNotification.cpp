#include "platform/notify/TDWNotification.h"

TDWNotification::TDWNotification(QString name, QObject *object, QVariantMap userInfo)
    : m_name(std::move(name)), m_object(object), m_userInfo(std::move(userInfo))
{
}
