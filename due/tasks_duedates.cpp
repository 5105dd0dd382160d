#include "due/tasks_duedates.h"

#include "settings/tasks_settings.h"
#include "store/tasks_store.h"

namespace {

constexpr qint64 kMSecsPerMinute = 60 * 1000;
constexpr qint64 kMSecsPerHour = 60 * kMSecsPerMinute;

// Rounds to the nearest multiple of aStep minutes counted from the epoch after
// cutting the seconds, an exact half rounding up.
qint64 RoundToMinutes(qint64 aWallMSecs, int aStep)
{
    const qint64 n = aWallMSecs / kMSecsPerMinute;
    const qint64 q = n / aStep;
    const qint64 r = n - q * aStep;
    const qint64 minutes = r < aStep / 2.0 ? q * aStep : q * aStep + aStep;
    return minutes * kMSecsPerMinute;
}

} // namespace

TDateTime DueDateFromHoursAt(int aHours, const QDateTime& aNow)
{
    if (aHours < 0 || !aNow.isValid())
        return 0;
    const QDateTime now = aNow.toLocalTime();
    const int from = NightHoursFrom();
    const int to = NightHoursTo();
    // Whole wall-clock milliseconds, not the day count: cut to whole minutes,
    // the day count's 15:30:00 would count as 15:29 on some days.
    qint64 due = RoundToMinutes(WallMSecs(now) + aHours * kMSecsPerHour, TimeGranularity());

    // The night ends at the first night_hours_to o'clock after now: today's
    // when it has not yet struck, otherwise tomorrow's. It begins at the
    // night_hours_from o'clock before that end, so a night from 22 to 7 that is
    // under way began the evening before.
    const QDate endDate = now.time().hour() < to ? now.date() : now.date().addDays(1);
    const qint64 nightEnd = WallMSecs(endDate, to * kMSecsPerHour);
    const QDate startDate = from > to ? endDate.addDays(-1) : endDate;
    const qint64 nightStart = WallMSecs(startDate, from * kMSecsPerHour);

    // Keep the distance from the night's start, past its end. Only this one
    // night counts, and the result is not rounded again.
    if (nightStart <= due && due < nightEnd)
        due = due - nightStart + nightEnd;
    // Built the way the clock builds a day count, so equal times give equal values.
    return DateTimeFromWallMSecs(due);
}

TDateTime DueDateFromHours(int aHours)
{
    if (aHours < 0)
        return 0;
    return DueDateFromHoursAt(aHours, NowDateTime());
}

int ChoiceHours(TDueChoice aChoice)
{
    switch (aChoice) {
    case TDueChoice::Hour:
        return 1;
    case TDueChoice::FourHours:
        return 4;
    case TDueChoice::Tomorrow:
        return 24;
    case TDueChoice::Unplanned:
    case TDueChoice::Exact:
        break;
    }
    return kNoDueHours;
}

TDateTime DueDateOfChoice(TDueChoice aChoice)
{
    return DueDateFromHours(ChoiceHours(aChoice));
}

TDateTime ExactDueDate(const QDate& aDate, const QTime& aTime)
{
    if (!aDate.isValid())
        return 0;
    return DateTimeFromWallMSecs(
        WallMSecs(aDate, aTime.isValid() ? aTime.msecsSinceStartOfDay() : 0));
}

TDateTime EditorDueDateOf(const TEditorDateRow& aRow)
{
    if (!aRow.general)
        return ExactDueDate(aRow.date, aRow.time);
    if (aRow.unplanned)
        return DueDateOfChoice(TDueChoice::Unplanned);
    if (aRow.hour)
        return DueDateOfChoice(TDueChoice::Hour);
    if (aRow.fourHours)
        return DueDateOfChoice(TDueChoice::FourHours);
    if (aRow.tomorrow)
        return DueDateOfChoice(TDueChoice::Tomorrow);
    return 0;
}

QString DueDateText(TDateTime aDue)
{
    if (aDue == 0)
        return QStringLiteral("unplanned");
    return FormatDateTimeLocale(aDue);
}

QString DueDateText(const TStoredTask& aTask)
{
    return DueDateText(aTask.duedt);
}
