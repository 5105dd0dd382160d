#pragma once

#include <QDateTime>
#include <QString>

// A date-time as the system holds it: days since 1899-12-30 00:00 local time,
// the fraction being the time of day. 0 means "none".
using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;

// The clock. Everything that asks for "now" asks here, so tests can set it.
TDateTime Now();
QDateTime NowDateTime();
void SetFixedNow(const QDateTime& aNow);
void ResetNow();

TDateTime DateTimeFromQDateTime(const QDateTime& aValue);
// Local date-time of a day count, to the nearest millisecond.
QDateTime QDateTimeFromDateTime(TDateTime aValue);
TDateTime EncodeDateTime(int aYear, int aMonth, int aDay, int aHour = 0, int aMinute = 0,
                         int aSecond = 0, int aMSec = 0);

// The database's text form "YYYY-MM-DD HH:MM:SS"; a fraction of a second is cut off.
QString DateTimeToSqlText(TDateTime aValue);
// Reads the database's text form (a date alone, a "T" separator and a fraction of
// a second are accepted too). Empty or malformed text gives 0.
TDateTime SqlTextToDateTime(const QString& aText);
TDateTime SqlTextToDateTime(const char* aText, qsizetype aLength);

// The locale's short date, then a blank and the long time unless the time of
// day is exactly midnight.
QString FormatDateTimeLocale(TDateTime aValue);
