#include "common/TDWUrlEncoding.h"

#include <QUrl>

QString TDWUrlEncoding::stringByUrlEncoding(const QString &string)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(string));
}
