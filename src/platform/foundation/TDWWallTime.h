#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

// The instant a wall-clock reading denotes. A reading that a daylight-saving
// change skips is taken at the offset in force before the change, as a clock
// that was not put forward would show it: 02:30 on a day whose clocks jump from
// 02:00 to 03:00 is 03:30 of the new offset, and the midnight of a day whose
// clocks jump from 00:00 to 01:00 is the start of that day.
namespace TDWWallTime {

// In the system's local zone.
QDateTime localInstant(const QDate &day, const QTime &time);
// In `zone`, which must be valid.
QDateTime instantInZone(const QDate &day, const QTime &time, const QTimeZone &zone);

} // namespace TDWWallTime
