#include "util/kvd_datetime.h"

#include <QLocale>
#include <QRegularExpression>
#include <cmath>
#include <mutex>
#include <utility>

namespace {

// 1899-12-30, day 0 of the day count. Constant-initialised, so that a static
// object of another file may count days before this file's initialisers run.
constexpr QDate kEpoch = QDate::fromJulianDay(2415019);

std::mutex gClockLock;
bool gFixed = false;
QDateTime gFixedNow;

// The locale's long time format (with seconds) without the time zone that Qt's
// long format adds: a due time is a wall-clock time.
QString LongTimeFormat(const QLocale& aLocale)
{
    static const QRegularExpression zone(QStringLiteral("\\s*\\bt+\\b\\s*"));
    return aLocale.timeFormat(QLocale::LongFormat).remove(zone).trimmed();
}

} // namespace

QString ShortDateFormat(const QLocale& aLocale)
{
    // Runs of 'y' outside quoted literals: a two-digit year becomes four.
    const QString format = aLocale.dateFormat(QLocale::ShortFormat);
    QString result;
    bool quoted = false;
    for (qsizetype i = 0; i < format.size();) {
        const QChar c = format[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            result += c;
            ++i;
            continue;
        }
        qsizetype run = 1;
        while (i + run < format.size() && format[i + run] == c)
            ++run;
        if (!quoted && c == QLatin1Char('y') && run < 4)
            result += QStringLiteral("yyyy");
        else
            result += format.mid(i, run);
        i += run;
    }
    return result;
}

namespace {

// The day count of a whole number of days since the epoch and the
// milliseconds of that day's time.
TDateTime DayCount(qint64 aDays, qint64 aMSecsOfDay)
{
    const double days = static_cast<double>(aDays);
    const double fraction = static_cast<double>(aMSecsOfDay) / kMSecsPerDay;
    // Before the epoch the fraction still counts forward from the day's start,
    // so the whole part moves toward zero and the fraction is subtracted.
    return days >= 0 ? days + fraction : days - fraction;
}

// Whole days since the epoch, counted toward minus infinity, and the
// milliseconds of that day, which are never negative.
std::pair<qint64, qint64> SplitWallMSecs(qint64 aWallMSecs)
{
    qint64 days = aWallMSecs / kWholeMSecsPerDay;
    qint64 msecs = aWallMSecs % kWholeMSecsPerDay;
    if (msecs < 0) {
        msecs += kWholeMSecsPerDay;
        --days;
    }
    return {days, msecs};
}

} // namespace

QDateTime NowDateTime()
{
    std::lock_guard<std::mutex> guard(gClockLock);
    return gFixed ? gFixedNow : QDateTime::currentDateTime();
}

TDateTime Now()
{
    return DateTimeFromQDateTime(NowDateTime());
}

void SetFixedNow(const QDateTime& aNow)
{
    std::lock_guard<std::mutex> guard(gClockLock);
    gFixed = true;
    gFixedNow = aNow;
}

void ResetNow()
{
    std::lock_guard<std::mutex> guard(gClockLock);
    gFixed = false;
}

qint64 WallMSecs(const QDate& aDate, qint64 aMSecsOfDay)
{
    return kEpoch.daysTo(aDate) * kWholeMSecsPerDay + aMSecsOfDay;
}

qint64 WallMSecs(const QDateTime& aValue)
{
    const QDateTime local = aValue.toLocalTime();
    return WallMSecs(local.date(), local.time().msecsSinceStartOfDay());
}

TDateTime DateTimeFromWallMSecs(qint64 aWallMSecs)
{
    const auto [days, msecs] = SplitWallMSecs(aWallMSecs);
    return DayCount(days, msecs);
}

TDateTime DateTimeFromQDateTime(const QDateTime& aValue)
{
    if (!aValue.isValid())
        return 0;
    const QDateTime local = aValue.toLocalTime();
    return DayCount(kEpoch.daysTo(local.date()), local.time().msecsSinceStartOfDay());
}

QDateTime QDateTimeFromDateTime(TDateTime aValue)
{
    const std::optional<qint64> wall = WallMSecsFromDateTime(aValue);
    if (!wall)
        return QDateTime();
    const auto [days, msecs] = SplitWallMSecs(*wall);
    return QDateTime(kEpoch.addDays(days),
                     QTime::fromMSecsSinceStartOfDay(static_cast<int>(msecs)));
}

TDateTime EncodeDateTime(int aYear, int aMonth, int aDay, int aHour, int aMinute, int aSecond,
                         int aMSec)
{
    return DateTimeFromQDateTime(
        QDateTime(QDate(aYear, aMonth, aDay), QTime(aHour, aMinute, aSecond, aMSec)));
}

QString DateTimeToSqlText(TDateTime aValue)
{
    const QDateTime dt = QDateTimeFromDateTime(aValue);
    if (!dt.isValid())
        return QString();
    const QDate d = dt.date();
    const QTime t = dt.time();
    return QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", d.year(), d.month(), d.day(),
                             t.hour(), t.minute(), t.second());
}

namespace {

// Reads aCount digits at aPos; false when one of them is not a digit.
template <typename Char> bool Digits(const Char* aText, qsizetype aPos, int aCount, int& aValue)
{
    aValue = 0;
    for (int i = 0; i < aCount; ++i) {
        const auto c = aText[aPos + i];
        if (c < '0' || c > '9')
            return false;
        aValue = aValue * 10 + (c - '0');
    }
    return true;
}

// A hand-written reader: the task list reads three date-times per row, so this
// runs a few hundred thousand times for a large list.
template <typename Char> TDateTime ParseSqlDateTime(const Char* aText, qsizetype aLength)
{
    while (aLength > 0 && aText[aLength - 1] == ' ')
        --aLength;
    qsizetype p = 0;
    while (p < aLength && aText[p] == ' ')
        ++p;
    int year, month, day, hour = 0, minute = 0, second = 0, msec = 0;
    if (aLength - p < 10 || !Digits(aText, p, 4, year) || aText[p + 4] != '-' ||
        !Digits(aText, p + 5, 2, month) || aText[p + 7] != '-' || !Digits(aText, p + 8, 2, day))
        return 0;
    p += 10;
    if (p < aLength) {
        if ((aText[p] != ' ' && aText[p] != 'T') || aLength - p < 6 ||
            !Digits(aText, p + 1, 2, hour) || aText[p + 3] != ':' ||
            !Digits(aText, p + 4, 2, minute))
            return 0;
        p += 6;
        if (p < aLength) {
            if (aLength - p < 3 || aText[p] != ':' || !Digits(aText, p + 1, 2, second))
                return 0;
            p += 3;
            if (p < aLength) {
                if (aText[p] != '.' || p + 1 >= aLength)
                    return 0;
                int scale = 100;
                for (++p; p < aLength; ++p) {
                    if (aText[p] < '0' || aText[p] > '9')
                        return 0;
                    msec += (aText[p] - '0') * scale;
                    scale /= 10;
                }
            }
        }
    }
    const QDate date(year, month, day);
    if (!date.isValid() || hour > 23 || minute > 59 || second > 59)
        return 0;
    return DayCount(kEpoch.daysTo(date), ((hour * 60 + minute) * 60 + second) * 1000 + msec);
}

} // namespace

TDateTime SqlTextToDateTime(const QString& aText)
{
    return ParseSqlDateTime(aText.utf16(), aText.size());
}

TDateTime SqlTextToDateTime(const char* aText, qsizetype aLength)
{
    return ParseSqlDateTime(aText, aLength);
}

QString FormatDateTimeLocale(TDateTime aValue)
{
    const QDateTime dt = QDateTimeFromDateTime(aValue);
    const QLocale locale;
    QString text = locale.toString(dt.date(), ShortDateFormat(locale));
    if (dt.time().msecsSinceStartOfDay() != 0)
        text += QLatin1Char(' ') + locale.toString(dt.time(), LongTimeFormat(locale));
    return text;
}
