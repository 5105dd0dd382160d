#pragma once

// Tasks in the test's database and the records a list load makes of them, for
// the tests of reminders that read and write the store.

#include "app/tasks_records.h"
#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "store/zdb.h"
#include "util/kvd_datetime.h"

#include <QDateTime>
#include <QString>
#include <memory>
#include <vector>

// The window's list model keeps its records this way.
using TLoadedRecords = std::vector<std::unique_ptr<TTaskRecord>>;

// Stores a new open task; an invalid aDue leaves it unplanned.
inline bool StoreTask(const QString& aId, const QDateTime& aDue, const QString& aSummary = {})
{
    TStoredTask task;
    task.taskid = aId;
    task.summary = aSummary.isNull() ? QStringLiteral("Task ") + aId : aSummary;
    task.duedt = aDue.isValid() ? DateTimeFromQDateTime(aDue) : 0;
    return bool(TtasksStore::SaveTask(task, {}, true));
}

// The records of a list load at the current clock, as the window makes them.
inline TLoadedRecords LoadRecords()
{
    std::vector<TStoredTask> tasks;
    TtasksStore::ListTasks(tasks);
    TLoadedRecords records;
    for (const TStoredTask& task : tasks) {
        auto record = std::make_unique<TTaskRecord>(task.taskid);
        record->summary = task.summary;
        record->note = task.note;
        record->duedt = task.duedt;
        record->finished = task.finished;
        record->tagsids = task.tagsids;
        records.push_back(std::move(record));
    }
    return records;
}

// The first column of the first row of a statement as text; "<null>" for
// NULL, "<none>" without rows, "<failed>" when the statement fails.
inline QString Scalar(const QString& aSQL)
{
    auto query = GetTasksDB()->NewQuery();
    if (!GetTasksDB()->Query(aSQL, query.get()))
        return QStringLiteral("<failed>");
    if (query->Eof())
        return QStringLiteral("<none>");
    const TZField field = query->FieldByName(query->FieldNames().value(0));
    return field.IsNull() ? QStringLiteral("<null>") : field.AsString();
}

// A task as the database holds it now.
inline TStoredTask StoredTask(const QString& aId)
{
    TStoredTask task;
    TtasksStore::ReadTask(aId, task);
    return task;
}
