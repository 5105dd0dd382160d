#include "app/tasks_reminders.h"

#include "due/tasks_duedates.h"
#include "util/kvd_utils.h"

#include <QGuiApplication>

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
        .arg(OrUndefined(aRecord.note), DueDateText(aRecord.duedt));
}

TtasksNotification ReminderNotification(const TTaskRecord& aRecord)
{
    TtasksNotification notification;
    notification.TaskId = aRecord.taskid;
    notification.Body = ReminderBody(aRecord);
    notification.Title = ReminderTitle(aRecord);
    notification.MSecs = kReminderDisplayMSecs;
    notification.Icon = QGuiApplication::windowIcon();
    return notification;
}

void ShowReminder(const TTaskRecord* aRecord, ItasksNotifier& aNotifier)
{
    if (!aRecord)
        return;
    const TtasksNotification notification = ReminderNotification(*aRecord);
    aNotifier.PlayInformationSound();
    aNotifier.ShowNotification(notification);
}

TDateTime SnoozedDueDate(const QDateTime& aNow)
{
    const qint64 later = WallMSecs(aNow) + kSnoozeSeconds * 1000;
    // The database keeps whole seconds; the pass compares with what it keeps.
    return DateTimeFromWallMSecs(later - ((later % 1000) + 1000) % 1000);
}

TStoreResult FinishRemindedTask(const QString& aTaskId, ItasksNotifier& aNotifier)
{
    // The service has closed a notification whose action the user chose;
    // taking it back keeps the notifier's account in step, also when the
    // change fails and the window shows why.
    aNotifier.Withdraw(aTaskId);
    // Read again: the window's record may be older than the database.
    TStoredTask task;
    const TStoreResult read = TtasksStore::ReadTask(aTaskId, task);
    if (!read || task.finished)
        return read;
    return TtasksStore::FinishTask(aTaskId, Now());
}

TStoreResult SnoozeRemindedTask(const QString& aTaskId, ItasksNotifier& aNotifier)
{
    aNotifier.Withdraw(aTaskId);
    TStoredTask task;
    const TStoreResult read = TtasksStore::ReadTask(aTaskId, task);
    if (!read || task.finished)
        return read;
    return TtasksStore::MoveDueDates({aTaskId}, SnoozedDueDate(NowDateTime()));
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
