#include "app/tasks_duedates.h"

#include "settings/tasks_settings.h"
#include "store/tasks_db.h"

#include <cmath>

namespace {

const QDate kEpoch(1899, 12, 30);
constexpr qint64 kMSecsPerMinute = 60 * 1000;
constexpr qint64 kMSecsPerHour = 60 * kMSecsPerMinute;
constexpr qint64 kMSecsPerDayInt = 24 * kMSecsPerHour;

// Wall-clock milliseconds since 1899-12-30 00:00 of a local date and time.
// The rules work on whole milliseconds rather than on the day count, whose
// binary fraction puts an exact minute a hair below itself on some days: cut
// to whole minutes, 15:30:00 would then count as 15:29.
qint64 WallMSecs(const QDate& aDate, qint64 aMSecsOfDay)
{
    return kEpoch.daysTo(aDate) * kMSecsPerDayInt + aMSecsOfDay;
}

qint64 WallMSecs(const QDateTime& aValue)
{
    const QDateTime local = aValue.toLocalTime();
    return WallMSecs(local.date(), local.time().msecsSinceStartOfDay());
}

// The day count of wall-clock milliseconds at or after the epoch, built the way
// the clock builds it, so equal times give equal values.
TDateTime DayCount(qint64 aWallMSecs)
{
    const qint64 days = aWallMSecs / kMSecsPerDayInt;
    const qint64 msecs = aWallMSecs % kMSecsPerDayInt;
    return static_cast<double>(days) + msecs / kMSecsPerDay;
}

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

const QString kMoveStatement = QStringLiteral("update tasks set duedt=:duedt where taskid=:taskid");

} // namespace

TDateTime DueDateFromHoursAt(int aHours, const QDateTime& aNow)
{
    if (aHours < 0 || !aNow.isValid())
        return 0;
    const QDateTime now = aNow.toLocalTime();
    const int from = NightHoursFrom();
    const int to = NightHoursTo();
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
    return DayCount(due);
}

TDateTime DueDateFromHours(int aHours)
{
    if (aHours < 0)
        return 0;
    return DueDateFromHoursAt(aHours, NowDateTime());
}

// The editor's general choices 1 to 3 ("Hour", "4 Hours", "Tomorrow") and the
// list menu's tag numbers 1 to 3 ("Immediately", "Today", "Tomorrow") stand
// for the same hours; everything else means no due date-time.
int GeneralChoiceHours(int aChoice)
{
    switch (aChoice) {
    case 1:
        return 1;
    case 2:
        return 4;
    case 3:
        return 24;
    default:
        return kNoDueHours;
    }
}

int DueDateMoveHours(int aTag)
{
    return GeneralChoiceHours(aTag);
}

TDateTime DueDateForMoveTag(int aTag)
{
    return DueDateFromHours(DueDateMoveHours(aTag));
}

TDateTime ExactDueDate(const QDate& aDate, const QTime& aTime)
{
    if (!aDate.isValid())
        return 0;
    const double days = static_cast<double>(kEpoch.daysTo(aDate));
    const double fraction = (aTime.isValid() ? aTime.msecsSinceStartOfDay() : 0) / kMSecsPerDay;
    // Before the epoch the fraction counts forward from the day's start while
    // the whole part counts back, as the day count holds such values.
    return days >= 0 ? days + fraction : days - fraction;
}

TDateTime EditorDueDateOf(const TEditorDateRow& aRow)
{
    if (!aRow.general)
        return ExactDueDate(aRow.date, aRow.time);
    if (aRow.unplanned)
        return DueDateFromHours(GeneralChoiceHours(0));
    if (aRow.hour)
        return DueDateFromHours(GeneralChoiceHours(1));
    if (aRow.fourHours)
        return DueDateFromHours(GeneralChoiceHours(2));
    if (aRow.tomorrow)
        return DueDateFromHours(GeneralChoiceHours(3));
    return 0;
}

QString DueDateText(TDateTime aDue)
{
    if (aDue == 0)
        return QStringLiteral("unplanned");
    return FormatDateTimeLocale(aDue);
}

QString DueDateText(const TTaskRecord& aRecord)
{
    return DueDateText(aRecord.duedt);
}

bool MoveDueDates(const QStringList& aIds, TDateTime aDue)
{
    if (aIds.isEmpty())
        return true;
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    query->Params().Clear();
    query->Params().CreateParam(TZFieldType::ftString, QStringLiteral("taskid"),
                                TZParamType::ptInput);
    query->Params().CreateParam(TZFieldType::ftString, QStringLiteral("duedt"),
                                TZParamType::ptInput);
    bool allStored = true;
    for (const QString& id : aIds) {
        query->ParamByName(QStringLiteral("taskid")).SetAsString(id);
        TZParam& due = query->ParamByName(QStringLiteral("duedt"));
        if (aDue != 0)
            due.SetAsDateTime(aDue);
        else
            due.Clear();
        // Each update commits on its own; the store logs a failure and the
        // remaining ids are still updated.
        if (!db->Query(kMoveStatement, query.get()))
            allStored = false;
    }
    return allStored;
}
