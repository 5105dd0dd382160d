#pragma once

// Due-date rules of the task list: the general choices ("Hour", "4 Hours",
// "Tomorrow", "Unplanned") turned into a date-time that is rounded to the time
// granularity and moved out of the night, the editor's date row read as a
// date-time, the context menu's move, and the text a due date-time is shown in.

#include "app/tasks_records.h"
#include "util/kvd_datetime.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

// The hours that stand for "no due date-time" in the general choices.
constexpr int kNoDueHours = -1;

// Due date-time for a general choice of aHours from now, read once through the
// clock: now plus aHours, rounded to the time granularity, and moved on by the
// length of the night when it falls into the night that is under way or the
// next one to begin. 0 for a negative aHours.
TDateTime DueDateFromHours(int aHours);
// The same computation for a given local "now".
TDateTime DueDateFromHoursAt(int aHours, const QDateTime& aNow);

// Hours of the editor's general choices, numbered as the default_duedatetime
// setting numbers them: 0 "Unplanned" (kNoDueHours), 1 "Hour" (1), 2 "4 Hours"
// (4), 3 "Tomorrow" (24). Any other number gives kNoDueHours.
int GeneralChoiceHours(int aChoice);

// Hours of the list menu's date items by their tag numbers: 1 "Immediately"
// (1), 2 "Today" (4), 3 "Tomorrow" (24), 4 "Unplanned" (kNoDueHours). Any other
// number gives kNoDueHours, so it sets no due date-time.
int DueDateMoveHours(int aTag);
// The due date-time a date item stands for, computed once for all selected tasks.
TDateTime DueDateForMoveTag(int aTag);

// What the editor's date row shows, as the window reads it off its widgets.
struct TEditorDateRow
{
    // The general panel is visible; otherwise the exact pickers are.
    bool general = false;
    bool unplanned = false;
    bool hour = false;
    bool fourHours = false;
    bool tomorrow = false;
    // The exact pickers.
    QDate date;
    QTime time;
};

// The due date-time the date row stands for, 0 for none. On the general panel
// the first checked choice counts, in the order "Unplanned", "Hour", "4 Hours",
// "Tomorrow" (computed from now); on the exact panel the picked date plus the
// picked time of day, seconds included.
TDateTime EditorDueDateOf(const TEditorDateRow& aRow);
// Whole days of aDate plus the time-of-day fraction of aTime; 0 for an invalid date.
TDateTime ExactDueDate(const QDate& aDate, const QTime& aTime);

// The locale's short date, then a blank and its long time (with seconds)
// unless the time of day is exactly midnight; "unplanned" for 0.
QString DueDateText(TDateTime aDue);
QString DueDateText(const TTaskRecord& aRecord);

// Sets the due date-time of every listed task to aDue (0 stores NULL), one
// statement with bound parameters per id, each committed on its own; a failing
// id does not stop the others. True when every update succeeded. The caller
// reloads the list afterwards.
bool MoveDueDates(const QStringList& aIds, TDateTime aDue);
