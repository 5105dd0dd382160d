#pragma once

#include "util/kvd_datetime.h"

#include <QString>

class TTaskRecord;

// The list that shows the records. A record tells it when the look of its
// row has to change; the list never calls back into the record's owner, so
// setting a mark from code raises no check notification.
class ItaskRecordRows
{
public:
    virtual void RecordFinishedChanged(const TTaskRecord& aRecord) = 0;

protected:
    ~ItaskRecordRows() = default;
};

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
    // The list model's row of the record, -1 before it has one.
    int row = -1;
    // Ids of the task's tags joined by commas, empty without tags.
    QString tagsids;
    // The list that shows the row, none for a record outside a list.
    ItaskRecordRows* rows = nullptr;

    // Stores the flag and sets the row's check mark to match, directly.
    void SetFinished(bool aValue)
    {
        finished = aValue;
        if (rows)
            rows->RecordFinishedChanged(*this);
    }
};
