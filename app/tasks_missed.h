#pragma once

// The reminder pass that misses nothing. The pass of the minute timer
// announces a task within a minute of its due time; a due time that passes
// while the computer sleeps, or while the program is not running, falls
// between two passes. This pass first looks back over the due times since the
// previous pass whenever more than the timer's interval lies between the two
// (the clock jumped: a resume from sleep, a start after the program was
// closed) and announces, once, each open task that fell due in that stretch
// and was never announced for that due time: up to kSingleLimit one by one,
// more with one notification that counts them. Then the minute's pass runs as
// before. What was announced, and when the last pass ran, is kept in the
// store, so that no due time is announced twice, also across restarts.

#include "app/tasks_reminders.h"

#include <QString>
#include <functional>
#include <optional>
#include <vector>

class TtasksMissedReminders
{
public:
    using TMarkUnread = std::function<void(const QString&)>;

    // Up to this many tasks that fell due while the user was away are
    // announced one by one; more, with one notification that counts them.
    static constexpr int kSingleLimit = 3;
    // A due time that lies this many milliseconds or more before a pass is
    // beyond the minute's window of that pass (whole seconds up to 60).
    static constexpr qint64 kWindowMSecs = (kReminderWindowSeconds + 1) * 1000;

    TtasksMissedReminders() = default;
    TtasksMissedReminders(const TtasksMissedReminders&) = delete;
    TtasksMissedReminders& operator=(const TtasksMissedReminders&) = delete;

    // One pass over the window's loaded records (see CheckReminders in
    // tasks_reminders.h for the containers it takes): the look back when the
    // clock jumped, then the minute's pass. Each task announced is marked
    // notified and handed to aMarkUnread by its id. Returns how many tasks
    // were announced, counted ones included. The first pass of a program
    // reads the store; a database it cannot reach costs the look back, never
    // a reminder of the minute.
    template <typename Records>
    int CheckReminders(Records& aRecords, ItasksNotifier& aNotifier,
                       const TMarkUnread& aMarkUnread);

    // Records the moment of the latest pass for the next start; the window
    // calls it as it closes. Due times after it count as missed then.
    void Close();

private:
    struct TPass
    {
        // The moment the pass began, in wall-clock milliseconds.
        qint64 Now = 0;
        // Due times after this one, up to Now + kWindowMSecs, are looked at.
        qint64 From = 0;
        bool LookBack = false;
    };

    TPass BeginPass();
    int LookBack(const TPass& aPass, const std::vector<TTaskRecord*>& aRecords,
                 ItasksNotifier& aNotifier, const TMarkUnread& aMarkUnread);
    void Announced(const TTaskRecord& aRecord);
    void EndPass(const TPass& aPass);

    bool FStarted = false;
    // The moment of the latest pass, in wall-clock milliseconds; none before
    // the first pass of a database that never recorded one.
    std::optional<qint64> FLastPass;
    // The latest pass written to the store.
    std::optional<qint64> FRecordedPass;
    // The announcements of this pass, written as it ends.
    std::vector<TAnnouncement> FAnnounced;
};

// The notification that counts the tasks that fell due while the user was
// away: "N tasks fell due while you were away" over their summaries, in the
// order given, the first few of them. It has no task id: a click shows the
// window.
TtasksNotification MissedNotification(const std::vector<const TTaskRecord*>& aRecords);

template <typename Records>
int TtasksMissedReminders::CheckReminders(Records& aRecords, ItasksNotifier& aNotifier,
                                          const TMarkUnread& aMarkUnread)
{
    const TPass pass = BeginPass();
    int announced = 0;
    // Only a pass after a jump of the clock gathers the records.
    if (pass.LookBack) {
        std::vector<TTaskRecord*> records;
        for (auto& element : aRecords) {
            if (TTaskRecord* record = TasksReminders::RecordOf(element))
                records.push_back(record);
        }
        announced += LookBack(pass, records, aNotifier, aMarkUnread);
    }
    TReminderPass minute;
    for (auto& element : aRecords) {
        TTaskRecord* record = TasksReminders::RecordOf(element);
        if (!record || !minute.Check(*record, aNotifier))
            continue;
        ++announced;
        Announced(*record);
        if (aMarkUnread)
            aMarkUnread(record->taskid);
    }
    EndPass(pass);
    return announced;
}
