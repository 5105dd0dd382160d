#pragma once

// Reminders: once a minute the window looks at its loaded tasks and announces
// each open one whose due time lies within a minute of now, with the
// information sound and a balloon (or the desktop's notification) holding its
// summary, note and due date-time; and the actions "Done" and "Snooze" that a
// notification offers. The pass that also catches up on due times missed
// during sleep or while the program was closed is in tasks_missed.h.

#include "app/tasks_notifier.h"
#include "app/tasks_records.h"
#include "store/tasks_store.h"

#include <QString>
#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

// How long a reminder's balloon stays, in milliseconds.
constexpr int kReminderDisplayMSecs = 60000;
// A task is announced while the whole seconds between now and its due time are
// at most this many.
constexpr qint64 kReminderWindowSeconds = 60;

// The balloon's title: the summary, or "undefined" when it holds nothing but
// blanks and control characters. A summary with text is shown untrimmed.
QString ReminderTitle(const TTaskRecord& aRecord);
// The balloon's text: the note ("undefined" when blank in the same way) and
// the due date-time text, each under its heading.
QString ReminderBody(const TTaskRecord& aRecord);

// The task's reminder: its id, the balloon's title and text, the balloon's
// display time and the program's icon.
TtasksNotification ReminderNotification(const TTaskRecord& aRecord);

// Plays the information sound and shows the task's reminder (the balloon, or
// the desktop's notification where the notifier has one); nothing for none.
void ShowReminder(const TTaskRecord* aRecord, ItasksNotifier& aNotifier);

// How much later "Snooze" reminds again, in seconds.
constexpr qint64 kSnoozeSeconds = 600;
// The due date-time that "Snooze" gives at aNow: ten minutes later, to the
// whole second, as the database keeps it.
TDateTime SnoozedDueDate(const QDateTime& aNow);
// "Done" on a task's reminder: takes back its notification and finishes the
// task now, as ticking it does. A task finished already stays as it is.
// Fails with "the task is no longer stored" when it was deleted, or with the
// database's reason.
TStoreResult FinishRemindedTask(const QString& aTaskId, ItasksNotifier& aNotifier);
// "Snooze" on a task's reminder: takes back its notification and moves the
// task's due date-time to SnoozedDueDate of now, so that the reminder pass
// announces it again then. A finished task keeps its due date-time. Fails as
// FinishRemindedTask does.
TStoreResult SnoozeRemindedTask(const QString& aTaskId, ItasksNotifier& aNotifier);

// One record's step of the reminder pass: an open task that has not been
// announced since it was loaded and whose due time is within the window of
// now (read anew through the clock) is announced and marked notified. True
// when it was announced; the caller then marks it unread.
bool CheckReminder(TTaskRecord& aRecord, ItasksNotifier& aNotifier);

// One pass over many records. Reading the desktop's clock costs a few
// microseconds, too much for each of a hundred thousand records once a minute,
// so the pass reads it once when it starts and again for each record whose due
// time lies within a few minutes of that start: only those can fall into the
// window while the pass runs, which takes milliseconds. For them the clock is
// read anew, as CheckReminder does.
class TReminderPass
{
public:
    // How far beyond the window a due time must lie from the pass's start to
    // be left without asking the clock again.
    static constexpr qint64 kSlackSeconds = 300;

    TReminderPass();
    bool Check(TTaskRecord& aRecord, ItasksNotifier& aNotifier);

private:
    qint64 FStartMSecs;
};

namespace TasksReminders {

// The record behind an element of the window's record container: a record, a
// (smart) pointer to one, or a map entry holding either.
inline TTaskRecord* RecordOf(TTaskRecord& aRecord)
{
    return &aRecord;
}
inline TTaskRecord* RecordOf(TTaskRecord* aRecord)
{
    return aRecord;
}
template <typename T> TTaskRecord* RecordOf(const std::unique_ptr<T>& aRecord)
{
    return aRecord.get();
}
template <typename T> TTaskRecord* RecordOf(const std::shared_ptr<T>& aRecord)
{
    return aRecord.get();
}
template <typename K, typename V> TTaskRecord* RecordOf(std::pair<const K, V>& aEntry)
{
    return RecordOf(aEntry.second);
}

} // namespace TasksReminders

// One reminder pass over the loaded records, in the container's own order:
// each record announced by CheckReminder is handed to aMarkUnread by its id.
// Returns how many were announced; the window then updates its controls.
template <typename Records>
int CheckReminders(Records& aRecords, ItasksNotifier& aNotifier,
                   const std::function<void(const QString&)>& aMarkUnread)
{
    TReminderPass pass;
    int announced = 0;
    for (auto& element : aRecords) {
        TTaskRecord* record = TasksReminders::RecordOf(element);
        if (!record || !pass.Check(*record, aNotifier))
            continue;
        ++announced;
        if (aMarkUnread)
            aMarkUnread(record->taskid);
    }
    return announced;
}
