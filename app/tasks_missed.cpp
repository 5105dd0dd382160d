#include "app/tasks_missed.h"

#include "store/tasks_store.h"
#include "util/kvd_errors.h"
#include "util/tasks_log.h"

#include <QGuiApplication>
#include <QSet>
#include <algorithm>
#include <utility>

namespace {

// How many summaries the counting notification lists before "and N more".
constexpr qsizetype kListedSummaries = 5;

void LogFailure(const QString& aWhat, const QString& aReason)
{
    if (TtasksLog* log = GetTasksLog())
        log->Log(FailureText(aWhat, aReason));
}

// Runs a store operation of the reminders' bookkeeping. A failure is logged
// and otherwise borne: without the bookkeeping a due time may be announced
// once more after a restart, which is better than a reminder pass that fails
// every minute. A database that cannot be opened raises, and is borne alike.
template <typename Operation> bool Bookkeep(const QString& aWhat, Operation&& aOperation)
{
    try {
        const TStoreResult result = std::forward<Operation>(aOperation)();
        if (!result)
            LogFailure(aWhat, result.reason);
        return bool(result);
    } catch (const std::exception& error) {
        LogFailure(aWhat, ErrorMessage(error));
        return false;
    }
}

// The whole seconds of wall-clock milliseconds, as the database keeps a time.
qint64 WholeSeconds(qint64 aMSecs)
{
    return aMSecs >= 0 ? aMSecs / 1000 : -((-aMSecs + 999) / 1000);
}

using TAnnouncedKey = std::pair<QString, qint64>;

} // namespace

TtasksNotification MissedNotification(const std::vector<const TTaskRecord*>& aRecords)
{
    const qsizetype count = static_cast<qsizetype>(aRecords.size());
    QStringList lines;
    for (qsizetype i = 0; i < count && i < kListedSummaries; ++i)
        lines << ReminderTitle(*aRecords[static_cast<size_t>(i)]);
    if (count > kListedSummaries)
        lines << QStringLiteral("and %1 more").arg(count - kListedSummaries);
    TtasksNotification notification;
    notification.Title = QStringLiteral("%1 tasks fell due while you were away").arg(count);
    notification.Body = lines.join(QStringLiteral("\r\n"));
    notification.MSecs = kReminderDisplayMSecs;
    notification.Icon = QGuiApplication::windowIcon();
    return notification;
}

TtasksMissedReminders::TPass TtasksMissedReminders::BeginPass()
{
    TPass pass;
    pass.Now = WallMSecs(NowDateTime());
    if (!FStarted) {
        // The announcements of tasks deleted or finished since are dropped
        // once a run, so that the table keeps about one row per open task.
        Bookkeep(QStringLiteral("The reminders' record could not be tidied."),
                 [] { return TtasksStore::PruneAnnounced(); });
        TDateTime last = 0;
        Bookkeep(QStringLiteral("The time of the last reminder pass could not be read."),
                 [&] { return TtasksStore::ReadLastReminderPass(last); });
        if (last != 0)
            FLastPass = WallMSecsFromDateTime(last);
        FRecordedPass = FLastPass;
    }
    // A database that never recorded a pass (the first run, or one from a
    // version that kept no record) has no "away" to look back on: which of
    // its past due times were already announced is unknown, and a flood of
    // old reminders would be worse than none. Its record starts now.
    const qint64 last = FLastPass.value_or(pass.Now);
    pass.From = last;
    // The first pass of a run also looks at the minute's window, where a due
    // time the previous run announced just before it closed may lie.
    if (!FStarted)
        pass.From = std::min(last, pass.Now - kWindowMSecs);
    // The timer runs once a minute: when more than that (and the second the
    // window's rounding adds) lies between two passes, the clock jumped over
    // due times that no pass looked at.
    pass.LookBack = !FStarted || pass.Now - kWindowMSecs > pass.From;
    return pass;
}

int TtasksMissedReminders::LookBack(const TPass& aPass, const std::vector<TTaskRecord*>& aRecords,
                                    ItasksNotifier& aNotifier, const TMarkUnread& aMarkUnread)
{
    const qint64 until = aPass.Now + kWindowMSecs;
    std::vector<TAnnouncement> rows;
    Bookkeep(QStringLiteral("The reminders announced before could not be read."), [&] {
        return TtasksStore::ListAnnounced(DateTimeFromWallMSecs(aPass.From),
                                          DateTimeFromWallMSecs(until), rows);
    });
    QSet<TAnnouncedKey> before;
    for (const TAnnouncement& row : rows) {
        if (const std::optional<qint64> due = WallMSecsFromDateTime(row.duedt))
            before.insert({row.taskid, WholeSeconds(*due)});
    }

    std::vector<std::pair<qint64, TTaskRecord*>> missed;
    for (TTaskRecord* record : aRecords) {
        if (record->finished || record->notified)
            continue;
        const std::optional<qint64> due = WallMSecsFromDateTime(record->duedt);
        if (!due || record->duedt == 0 || *due <= aPass.From || *due > until)
            continue;
        if (before.contains({record->taskid, WholeSeconds(*due)})) {
            // Announced by an earlier run for this due time: never again.
            record->notified = true;
            continue;
        }
        // Within the minute's window the minute's pass announces it.
        if (aPass.Now - *due >= kWindowMSecs)
            missed.emplace_back(*due, record);
    }
    if (missed.empty())
        return 0;
    // Oldest first; the id orders tasks due at the same time.
    std::sort(missed.begin(), missed.end(), [](const auto& aLeft, const auto& aRight) {
        if (aLeft.first != aRight.first)
            return aLeft.first < aRight.first;
        return aLeft.second->taskid < aRight.second->taskid;
    });

    if (missed.size() <= static_cast<size_t>(kSingleLimit)) {
        for (const auto& [due, record] : missed)
            ShowReminder(record, aNotifier);
    } else {
        std::vector<const TTaskRecord*> counted;
        counted.reserve(missed.size());
        for (const auto& [due, record] : missed)
            counted.push_back(record);
        const TtasksNotification notification = MissedNotification(counted);
        aNotifier.PlayInformationSound();
        aNotifier.ShowNotification(notification);
    }
    for (const auto& [due, record] : missed) {
        record->notified = true;
        Announced(*record);
        if (aMarkUnread)
            aMarkUnread(record->taskid);
    }
    return static_cast<int>(missed.size());
}

void TtasksMissedReminders::Announced(const TTaskRecord& aRecord)
{
    FAnnounced.push_back({aRecord.taskid, aRecord.duedt});
}

void TtasksMissedReminders::EndPass(const TPass& aPass)
{
    FStarted = true;
    FLastPass = aPass.Now;
    // A quiet minute writes nothing: the moment of the last pass matters only
    // for the next look back, and Close writes it as the program ends.
    if (FAnnounced.empty() && !aPass.LookBack)
        return;
    std::vector<TAnnouncement> announced;
    announced.swap(FAnnounced);
    if (Bookkeep(QStringLiteral("The reminders shown could not be recorded."), [&] {
            return TtasksStore::RecordReminderPass(announced, DateTimeFromWallMSecs(aPass.Now));
        }))
        FRecordedPass = aPass.Now;
}

void TtasksMissedReminders::Close()
{
    if (!FStarted || FRecordedPass == FLastPass)
        return;
    if (Bookkeep(QStringLiteral("The time of the last reminder pass could not be recorded."), [&] {
            return TtasksStore::RecordReminderPass({}, DateTimeFromWallMSecs(*FLastPass));
        }))
        FRecordedPass = FLastPass;
}
