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

namespace {

constexpr qint64 kFarAway = std::numeric_limits<qint64>::max();

// Wall-clock milliseconds since 1899-12-30 00:00 of a local date-time.
qint64 WallMSecs(const QDateTime& aValue)
{
    const QDateTime local = aValue.toLocalTime();
    return kEpoch.daysTo(local.date()) * kMSecsPerDayInt + local.time().msecsSinceStartOfDay();
}

// The same for a day count, to the nearest millisecond; kFarAway for a value
// that is no date at all.
qint64 DueMSecs(TDateTime aDue)
{
    if (!std::isfinite(aDue) || std::fabs(aDue) > 1e7)
        return kFarAway;
    // Before the epoch the day count's fraction runs forward from a day that
    // its whole part counts back to.
    const double whole = std::trunc(aDue);
    const double fraction = std::fabs(aDue - whole);
    return static_cast<qint64>(whole) * kMSecsPerDayInt + std::llround(fraction * kMSecsPerDayInt);
}

qint64 DistanceSeconds(qint64 aDueMSecs, qint64 aNowMSecs)
{
    if (aDueMSecs == kFarAway)
        return kFarAway;
    const qint64 distance = aNowMSecs > aDueMSecs ? aNowMSecs - aDueMSecs : aDueMSecs - aNowMSecs;
    return distance / 1000;
}

void Announce(TTaskRecord& aRecord, ItasksNotifier& aNotifier)
{
    ShowReminder(&aRecord, aNotifier);
    aRecord.notified = true;
}

// The whole seconds between aNow and the record's due time, rounded toward zero.
qint64 ReminderDistanceSeconds(const TTaskRecord& aRecord, const QDateTime& aNow)
{
    return DistanceSeconds(DueMSecs(aRecord.duedt), WallMSecs(aNow));
}

} // namespace

bool CheckReminder(TTaskRecord& aRecord, ItasksNotifier& aNotifier)
{
    // notified is asked before the distance only to spare the clock; the
    // three skips are independent, so the outcome is the same in any order.
    if (aRecord.finished || aRecord.notified)
        return false;
    if (ReminderDistanceSeconds(aRecord, NowDateTime()) > kReminderWindowSeconds)
        return false;
    Announce(aRecord, aNotifier);
    return true;
}

TReminderPass::TReminderPass() : FStartMSecs(WallMSecs(NowDateTime())) {}

bool TReminderPass::Check(TTaskRecord& aRecord, ItasksNotifier& aNotifier)
{
    if (aRecord.finished || aRecord.notified)
        return false;
    const qint64 due = DueMSecs(aRecord.duedt);
    if (DistanceSeconds(due, FStartMSecs) > kReminderWindowSeconds + kSlackSeconds)
        return false;
    if (DistanceSeconds(due, WallMSecs(NowDateTime())) > kReminderWindowSeconds)
        return false;
    Announce(aRecord, aNotifier);
    return true;
}
