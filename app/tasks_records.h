#pragma once

#include "util/kvd_datetime.h"

#include <QString>

// One loaded task of the main window's list. The list model owns the records;
// a record lives from one load of the list to the next.
class TTaskRecord
{
public:
    explicit TTaskRecord(const QString& aTaskId = QString()) : taskid(aTaskId) {}

    bool finished = false;
    QString taskid;
    QString summary;
    QString note;
    // Days since 1899-12-30 (local time); 0 when the task is unplanned.
    TDateTime duedt = 0;
    // A reminder was shown for this record since it was loaded.
    bool notified = false;
    // The row of the list that shows the record, -1 before it has one.
    int node = -1;
    // Ids of the task's tags joined by commas, empty without tags.
    QString tagsids;
};
