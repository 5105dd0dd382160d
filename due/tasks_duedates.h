#pragma once

// Due-date rules of the tasks, the same for the window and the command line:
// the general choices ("Hour", "4 Hours", "Tomorrow", "Unplanned") turned into
// a date-time that is rounded to the time granularity and moved out of the
// night, the editor's date row read as a date-time, the list menu's move, and
// the text a due date-time is shown in. They read the settings and the clock
// and show nothing, so no display is needed to apply them.

#include "settings/tasks_settings.h"
#include "util/kvd_datetime.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <QTime>

struct TStoredTask;

// The hours that stand for "no due date-time" in the general choices.
constexpr int kNoDueHours = -1;

// Due date-time for a general choice of aHours from now, read once through the
// clock: now plus aHours, rounded to the time granularity, and moved on by the
// length of the night when it falls into the night that is under way or the
// next one to begin. 0 for a negative aHours.
TDateTime DueDateFromHours(int aHours);
// The same computation for a given local "now".
TDateTime DueDateFromHoursAt(int aHours, const QDateTime& aNow);

// Hours of a general choice: "Hour" 1, "4 Hours" 4, "Tomorrow" 24, and
// kNoDueHours for "Unplanned" and for "Exact", which is no general choice. The
// list menu's date items stand for the same choices: "Immediately" for "Hour",
// "Today" for "4 Hours", "Tomorrow" and "Unplanned".
int ChoiceHours(TDueChoice aChoice);
// The due date-time of a general choice, computed from now; 0 for "Unplanned"
// and "Exact". A menu move computes it once for all selected tasks.
TDateTime DueDateOfChoice(TDueChoice aChoice);

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
QString DueDateText(const TStoredTask& aTask);
