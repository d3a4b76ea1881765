#pragma once

#include <QDateTime>

#include <QVariantList>

struct sqlite3;
struct sqlite3_stmt;

// The SQL side of predicates: functions the translated SQL calls, and the stored
// form of dates that the translation binds.
namespace TDWPredicateSql {

// Registers on a connection the functions that translated predicates call
// (string comparisons with [c]/[d] folding, LIKE wildcards, substring tests), so
// that SQL answers exactly as evaluation in memory does. Call it on every
// connection that runs translated predicates.
bool registerFunctions(sqlite3 *db);

// Binds the bindings of a translated fragment (qlonglong, double, QString,
// QByteArray; invalid for NULL) to consecutive parameters from `firstIndex` (1-based).
bool bindValues(sqlite3_stmt *statement, int firstIndex, const QVariantList &bindings);

// Dates are stored as REAL seconds since 2001-01-01T00:00:00Z (the reference date).
double secondsSinceReferenceDate(const QDateTime &date);
QDateTime dateFromSecondsSinceReferenceDate(double seconds);

} // namespace TDWPredicateSql
