#pragma once

// Pins the local time zone and the default locale for the length of a scope,
// so date texts and calendar days do not depend on the machine running the tests.

#include "platform/foundation/TDWClock.h"

#include <QByteArray>
#include <QDateTime>
#include <QLocale>

#include <ctime>

class PinnedZoneAndLocale
{
public:
    PinnedZoneAndLocale(const char *zone, const char *locale)
        : m_savedZone(qgetenv("TZ")), m_hadZone(qEnvironmentVariableIsSet("TZ")), m_savedLocale(QLocale())
    {
        qputenv("TZ", zone);
        tzset();
        QLocale::setDefault(QLocale(QString::fromLatin1(locale)));
    }
    ~PinnedZoneAndLocale()
    {
        if (m_hadZone)
            qputenv("TZ", m_savedZone);
        else
            qunsetenv("TZ");
        tzset();
        QLocale::setDefault(m_savedLocale);
    }
    PinnedZoneAndLocale(const PinnedZoneAndLocale &) = delete;
    PinnedZoneAndLocale &operator=(const PinnedZoneAndLocale &) = delete;

private:
    QByteArray m_savedZone;
    bool m_hadZone;
    QLocale m_savedLocale;
};

// Fixes what TDWClock::now() answers for the length of a scope.
class PinnedNow
{
public:
    explicit PinnedNow(const QDateTime &now) { TDWClock::setNowProvider([now] { return now; }); }
    ~PinnedNow() { TDWClock::setNowProvider({}); }
    PinnedNow(const PinnedNow &) = delete;
    PinnedNow &operator=(const PinnedNow &) = delete;
};

// A local wall-clock time in the pinned zone.
inline QDateTime localAt(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}
