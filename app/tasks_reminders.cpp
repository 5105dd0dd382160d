#include "app/tasks_reminders.h"

#include "app/tasks_duedates.h"
#include "util/kvd_utils.h"

#include <limits>

namespace {

QString OrUndefined(const QString& aText)
{
    return IsBlankText(aText) ? QStringLiteral("undefined") : aText;
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

// The wall-clock milliseconds of a due time; kFarAway for a value that is no
// date at all.
qint64 DueMSecs(TDateTime aDue)
{
    return WallMSecsFromDateTime(aDue).value_or(kFarAway);
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
