#include "app/tasks_reminders.h"

#include "app/tasks_duedates.h"

#include <cmath>
#include <limits>

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMSecsPerDayInt = 86400000;

// Empty once characters of code 32 and below are taken off both ends.
bool IsBlank(const QString& aText)
{
    for (const QChar c : aText)
        if (c.unicode() > 32)
            return false;
    return true;
}

QString OrUndefined(const QString& aText)
{
    return IsBlank(aText) ? QStringLiteral("undefined") : aText;
}

} // namespace

QString ReminderTitle(const TTaskRecord& aRecord)
{
    return OrUndefined(aRecord.summary);
}

QString ReminderBody(const TTaskRecord& aRecord)
{
    return QStringLiteral("NOTE:\r\n%1\r\n\r\nDUE DATETIME:\r\n%2")
        .arg(OrUndefined(aRecord.note), DueDateText(aRecord));
}

void ShowReminder(const TTaskRecord* aRecord, ItasksNotifier& aNotifier)
{
    if (!aRecord)
        return;
    const QString body = ReminderBody(*aRecord);
    const QString title = ReminderTitle(*aRecord);
    aNotifier.PlayInformationSound();
    aNotifier.ShowBalloon(title, body, kReminderDisplayMSecs);
}

qint64 ReminderDistanceSeconds(const TTaskRecord& aRecord, const QDateTime& aNow)
{
    // Both sides as wall-clock milliseconds since the epoch of the day count;
    // a due time that is no finite day count is as far away as can be.
    if (!std::isfinite(aRecord.duedt) || std::fabs(aRecord.duedt) > 1e7)
        return std::numeric_limits<qint64>::max();
    const QDateTime now = aNow.toLocalTime();
    const qint64 nowMSecs =
        kEpoch.daysTo(now.date()) * kMSecsPerDayInt + now.time().msecsSinceStartOfDay();
    // Before the epoch the day count's fraction runs forward from a day that
    // its whole part counts back to.
    const double whole = std::trunc(aRecord.duedt);
    const double fraction = std::fabs(aRecord.duedt - whole);
    const qint64 dueMSecs =
        static_cast<qint64>(whole) * kMSecsPerDayInt + std::llround(fraction * kMSecsPerDayInt);
    const qint64 distance = nowMSecs > dueMSecs ? nowMSecs - dueMSecs : dueMSecs - nowMSecs;
    return distance / 1000;
}

bool CheckReminder(TTaskRecord& aRecord, ItasksNotifier& aNotifier)
{
    // notified is asked before the distance only to spare the clock; the
    // three skips are independent, so the outcome is the same in any order.
    if (aRecord.finished || aRecord.notified)
        return false;
    if (ReminderDistanceSeconds(aRecord, NowDateTime()) > kReminderWindowSeconds)
        return false;
    ShowReminder(&aRecord, aNotifier);
    aRecord.notified = true;
    return true;
}
