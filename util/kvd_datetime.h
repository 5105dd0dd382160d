#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>
#include <cmath>
#include <optional>

// A date-time as the system holds it: days since 1899-12-30 00:00 local time,
// the fraction being the time of day. 0 means "none". Before the epoch the
// whole part counts back while the fraction still counts forward from the
// day's start: -1.25 is 1899-12-29 06:00.
using TDateTime = double;

constexpr double kMSecsPerDay = 86400000.0;
constexpr qint64 kWholeMSecsPerDay = 86400000;

// The clock. Everything that asks for "now" asks here, so tests can set it.
TDateTime Now();
QDateTime NowDateTime();
void SetFixedNow(const QDateTime& aNow);
void ResetNow();

// Wall-clock milliseconds: milliseconds since 1899-12-30 00:00 on the local
// clock, every day 24 hours long. Rules that round or compare date-times work
// on these whole numbers rather than on the day count, whose binary fraction
// puts an exact minute a hair below itself on some days.
qint64 WallMSecs(const QDate& aDate, qint64 aMSecsOfDay);
// The local date and time of aValue.
qint64 WallMSecs(const QDateTime& aValue);
// The day count of wall-clock milliseconds.
TDateTime DateTimeFromWallMSecs(qint64 aWallMSecs);
// The wall-clock milliseconds of a day count, rounded to the nearest
// millisecond (a time of day that rounds up to 24:00 is the next day's 00:00,
// counted away from the epoch). Nothing for a value that is no date: not
// finite, or so far from the epoch that its milliseconds would not fit.
// Inline: the reminder pass converts every loaded task's due time with it.
inline std::optional<qint64> WallMSecsFromDateTime(TDateTime aValue)
{
    if (!std::isfinite(aValue) || std::fabs(aValue) >= 1e11)
        return std::nullopt;
    double whole = std::trunc(aValue);
    double msecs = std::round(std::fabs(aValue - whole) * kMSecsPerDay);
    if (msecs >= kMSecsPerDay) {
        msecs -= kMSecsPerDay;
        whole += aValue >= 0 ? 1 : -1;
    }
    return static_cast<qint64>(whole) * kWholeMSecsPerDay + static_cast<qint64>(msecs);
}

TDateTime DateTimeFromQDateTime(const QDateTime& aValue);
// Local date-time of a day count, to the nearest millisecond; invalid for a
// value that is no date.
QDateTime QDateTimeFromDateTime(TDateTime aValue);
TDateTime EncodeDateTime(int aYear, int aMonth, int aDay, int aHour = 0, int aMinute = 0,
                         int aSecond = 0, int aMSec = 0);

// The database's text form "YYYY-MM-DD HH:MM:SS"; a fraction of a second is cut off.
QString DateTimeToSqlText(TDateTime aValue);
// Reads the database's text form (a date alone, a "T" separator and a fraction of
// a second are accepted too). Empty or malformed text gives 0.
TDateTime SqlTextToDateTime(const QString& aText);
TDateTime SqlTextToDateTime(const char* aText, qsizetype aLength);

// The locale's short date format with the year in four digits ("dd.MM.yyyy"
// where the locale says "dd.MM.yy"): a due date can lie in any century.
QString ShortDateFormat(const QLocale& aLocale);

// The locale's short date with a four-digit year, then a blank and the long
// time unless the time of day is exactly midnight.
QString FormatDateTimeLocale(TDateTime aValue);
