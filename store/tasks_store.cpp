#include "store/tasks_store.h"

#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <memory>

namespace {

// The list statement. Finish times are stored in local time, so "finished
// today" compares with the local date of the program's clock, bound as :today;
// the engine's date("now") is UTC and would hide today's tasks for hours.
const QString kListStatement = QStringLiteral(
    "select ts.*, group_concat(tt.tagid) as tagsids from tasks ts left join tags_tasks tt "
    "on ts.taskid=tt.taskid where ts.finisheddt isnull or date(ts.finisheddt)=:today "
    "group by ts.taskid order by ts.finisheddt, ts.duedt,ts.createddt desc");

// Ids and values are bound, never spliced into the text.
const QString kReadStatement = QStringLiteral("select * from tasks where taskid=:taskid");
const QString kReadLinksStatement =
    QStringLiteral("select tagid from tags_tasks where taskid=:taskid order by tagid");
const QString kInsertStatement =
    QStringLiteral("insert into tasks (taskid, summary, note, createddt, duedt) values (:taskid, "
                   ":summary, :note, datetime(\"now\"), :duedt)");
const QString kUpdateStatement = QStringLiteral(
    "update tasks set summary=:summary, note=:note, duedt=:duedt where taskid=:taskid");
const QString kDeleteStatement = QStringLiteral("delete from tasks where taskid=:taskid");
const QString kFinishStatement =
    QStringLiteral("update tasks set finisheddt=:finisheddt where taskid=:taskid");
const QString kMoveStatement = QStringLiteral("update tasks set duedt=:duedt where taskid=:taskid");
const QString kLinkStatement =
    QStringLiteral("insert into tags_tasks (taskid, tagid) values (:taskid, :tagid)");
const QString kUnlinkStatement = QStringLiteral("delete from tags_tasks where taskid=:taskid");

const QString kTagsStatement = QStringLiteral("select * from tags order by title, createddt asc");
const QString kInsertTagStatement =
    QStringLiteral("insert into tags (tagid, title, color, createddt) values (:tagid, :title, "
                   ":color, datetime(\"now\"))");
const QString kUpdateTagStatement =
    QStringLiteral("update tags set title=:title, color=:color where tagid=:tagid");
const QString kDeleteTagStatement = QStringLiteral("delete from tags where tagid=:tagid");
const QString kDeleteTagLinksStatement =
    QStringLiteral("delete from tags_tasks where tagid=:tagid");

const QString kTaskGone = QStringLiteral("the task is no longer stored");

// The outcome of an operation that is still under way, so that the reason is
// that of its own latest failure.
TStoreResult Outcome(bool aOk)
{
    if (aOk)
        return TStoreResult();
    return TStoreResult{false, GetTasksDB()->LastFailureReason()};
}

// Puts aSQL on the query, with its parameters, unless it is there already.
void UseStatement(TZQuery& aQuery, const QString& aSQL)
{
    if (aQuery.SQL() != aSQL)
        aQuery.SetSQL(aSQL);
}

void SetText(TZQuery& aQuery, const QString& aName, const QString& aValue)
{
    aQuery.ParamByName(aName).SetAsString(aValue);
}

// A date-time of 0 is stored as NULL.
void SetDateTime(TZQuery& aQuery, const QString& aName, TDateTime aValue)
{
    TZParam& param = aQuery.ParamByName(aName);
    if (aValue != 0)
        param.SetAsDateTime(aValue);
    else
        param.Clear();
}

// Runs the statement on the query through the store.
bool Run(TZQuery& aQuery)
{
    // The store assigns the text to the query again: hand it a copy, not the
    // query's own string.
    const QString sql = aQuery.SQL();
    return GetTasksDB()->Query(sql, &aQuery);
}

// The task insert of the editor and of the bulk entry; aNote nullptr stores NULL.
bool InsertTaskRow(TZQuery& aQuery, const QString& aId, const QString& aSummary,
                   const QString* aNote, TDateTime aDue)
{
    UseStatement(aQuery, kInsertStatement);
    SetText(aQuery, QStringLiteral("taskid"), aId);
    SetText(aQuery, QStringLiteral("summary"), aSummary);
    if (aNote)
        SetText(aQuery, QStringLiteral("note"), *aNote);
    else
        aQuery.ParamByName(QStringLiteral("note")).Clear();
    SetDateTime(aQuery, QStringLiteral("duedt"), aDue);
    return Run(aQuery);
}

// The tag-link insert of the editor and of the bulk entry.
bool InsertLink(TZQuery& aQuery, const QString& aTaskId, const QString& aTagId)
{
    UseStatement(aQuery, kLinkStatement);
    SetText(aQuery, QStringLiteral("taskid"), aTaskId);
    SetText(aQuery, QStringLiteral("tagid"), aTagId);
    return Run(aQuery);
}

// Runs a statement whose only parameter is aName.
bool RunWithId(TZQuery& aQuery, const QString& aSQL, const QString& aName, const QString& aId)
{
    UseStatement(aQuery, aSQL);
    SetText(aQuery, aName, aId);
    return Run(aQuery);
}

void LogLine(const QString& aText)
{
    if (TtasksLog* log = GetTasksLog())
        log->Log(aText);
}

TStoreResult SetFinished(const QString& aId, TDateTime aWhen)
{
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, kFinishStatement);
    SetDateTime(*query, QStringLiteral("finisheddt"), aWhen);
    SetText(*query, QStringLiteral("taskid"), aId);
    return Outcome(Run(*query));
}

} // namespace

QString TaskListStatement()
{
    return kListStatement;
}

// ---------------------------------------------------------------- transaction

TDBTransaction::TDBTransaction() : FDB(GetTasksDB())
{
    FStarted = FDB->StartTransaction();
    FOpen = FStarted;
}

TDBTransaction::~TDBTransaction()
{
    try {
        Rollback();
    } catch (const std::exception&) {
        // The store has logged the failed rollback; a destructor that ends a
        // failed operation has nobody left to tell.
    }
}

bool TDBTransaction::Lost() const
{
    return FOpen && !FDB->Connection().InTransaction();
}

bool TDBTransaction::Commit()
{
    if (!FOpen)
        return false;
    if (Lost()) {
        Rollback();
        return false;
    }
    FOpen = false;
    // A commit that fails is rolled back by the store.
    return FDB->Commit();
}

void TDBTransaction::Rollback()
{
    if (!FOpen)
        return;
    FOpen = false;
    FDB->Rollback();
}

// ---------------------------------------------------------------- tasks

TStoreResult TtasksStore::ListTasks(std::vector<TStoredTask>& aTasks)
{
    aTasks.clear();
    const TDBOperation operation;
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    UseStatement(*query, kListStatement);
    SetText(*query, QStringLiteral("today"),
            NowDateTime().date().toString(QStringLiteral("yyyy-MM-dd")));
    if (!Run(*query))
        return Outcome(false);
    const TZField taskid = query->FieldByName(QStringLiteral("taskid"));
    const TZField summary = query->FieldByName(QStringLiteral("summary"));
    const TZField note = query->FieldByName(QStringLiteral("note"));
    const TZField duedt = query->FieldByName(QStringLiteral("duedt"));
    const TZField finisheddt = query->FieldByName(QStringLiteral("finisheddt"));
    const TZField tagsids = query->FieldByName(QStringLiteral("tagsids"));
    for (; !query->Eof(); query->Next()) {
        TStoredTask& task = aTasks.emplace_back();
        task.taskid = taskid.AsString();
        task.summary = summary.AsString();
        task.note = note.AsString();
        task.duedt = duedt.AsDateTime();
        task.finished = !finisheddt.IsNull();
        task.tagsids = tagsids.AsString();
    }
    return Outcome(true);
}

TStoreResult TtasksStore::ReadTask(const QString& aId, TStoredTask& aTask)
{
    // One read transaction: the row and its links as they were at one moment.
    TDBTransaction transaction;
    bool read = transaction.Started();
    bool found = false;
    if (read) {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        read = RunWithId(*query, kReadStatement, QStringLiteral("taskid"), aId);
        found = read && !query->Eof();
        if (found) {
            aTask.taskid = query->FieldByName(QStringLiteral("taskid")).AsString();
            aTask.summary = query->FieldByName(QStringLiteral("summary")).AsString();
            aTask.note = query->FieldByName(QStringLiteral("note")).AsString();
            // A NULL or malformed due date-time reads as 0: the task is unplanned.
            aTask.duedt = query->FieldByName(QStringLiteral("duedt")).AsDateTime();
            aTask.finished = !query->FieldByName(QStringLiteral("finisheddt")).IsNull();
            read = RunWithId(*query, kReadLinksStatement, QStringLiteral("taskid"), aId);
            QStringList ids;
            for (; read && !query->Eof(); query->Next())
                ids << query->FieldByName(QStringLiteral("tagid")).AsString();
            aTask.tagsids = ids.join(QLatin1Char(','));
        }
    }
    read = read && transaction.Commit();
    if (!read) {
        transaction.Rollback();
        return Outcome(false);
    }
    if (!found)
        return TStoreResult{false, kTaskGone};
    return Outcome(true);
}

TStoreResult TtasksStore::SaveTask(const TStoredTask& aTask, const QStringList& aTagIds,
                                   bool aCreating)
{
    // The first refused statement ends the attempt: the engine may already
    // have given up the transaction.
    TDBTransaction transaction;
    bool stored = transaction.Started();
    {
        TtasksDB* db = GetTasksDB();
        std::unique_ptr<TZQuery> task = db->NewQuery();
        std::unique_ptr<TZQuery> links = db->NewQuery();
        if (stored && aCreating) {
            stored = InsertTaskRow(*task, aTask.taskid, aTask.summary, &aTask.note, aTask.duedt);
        } else if (stored) {
            UseStatement(*task, kUpdateStatement);
            SetText(*task, QStringLiteral("taskid"), aTask.taskid);
            SetText(*task, QStringLiteral("summary"), aTask.summary);
            SetText(*task, QStringLiteral("note"), aTask.note);
            SetDateTime(*task, QStringLiteral("duedt"), aTask.duedt);
            stored = Run(*task);
        }
        stored =
            stored && RunWithId(*links, kUnlinkStatement, QStringLiteral("taskid"), aTask.taskid);
        for (const QString& tagId : aTagIds)
            stored = stored && InsertLink(*links, aTask.taskid, tagId);
    }
    stored = stored && transaction.Commit();
    if (!stored)
        transaction.Rollback();
    return Outcome(stored);
}

TStoreResult TtasksStore::DeleteTask(const QString& aId)
{
    // The links go with the task, so none is left behind.
    TDBTransaction transaction;
    bool deleted = transaction.Started();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        for (const QString& statement : {kUnlinkStatement, kDeleteStatement})
            deleted = deleted && RunWithId(*query, statement, QStringLiteral("taskid"), aId);
    }
    deleted = deleted && transaction.Commit();
    if (!deleted)
        transaction.Rollback();
    return Outcome(deleted);
}

TStoreResult TtasksStore::FinishTask(const QString& aId, TDateTime aWhen)
{
    return SetFinished(aId, aWhen);
}

TStoreResult TtasksStore::ReopenTask(const QString& aId)
{
    return SetFinished(aId, 0);
}

TStoreResult TtasksStore::MoveDueDates(const QStringList& aIds, TDateTime aDue)
{
    // One operation, so that the reason of a refused id is still there after
    // the later ids were updated.
    const TDBOperation operation;
    if (aIds.isEmpty())
        return Outcome(true);
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, kMoveStatement);
    bool allStored = true;
    for (const QString& id : aIds) {
        SetText(*query, QStringLiteral("taskid"), id);
        SetDateTime(*query, QStringLiteral("duedt"), aDue);
        // Each update commits on its own; the store logs a failure and the
        // remaining ids are still updated.
        if (!Run(*query))
            allStored = false;
    }
    return Outcome(allStored);
}

TStoreResult TtasksStore::InsertTasks(const QStringList& aSummaries, const QStringList& aTagIds,
                                      TBulkEntryReport& aReport)
{
    aReport = TBulkEntryReport();
    // One transaction for the whole batch: a failure leaves no half of it, and
    // it is far faster than a commit per line.
    TDBTransaction transaction;
    if (!transaction.Started())
        return Outcome(false);
    {
        TtasksDB* db = GetTasksDB();
        // A query per statement keeps each compiled for the whole batch.
        std::unique_ptr<TZQuery> task = db->NewQuery();
        std::unique_ptr<TZQuery> link = db->NewQuery();
        // When the engine gives up the transaction (a full disk, an I/O error)
        // the statements after it would each commit on their own, so the batch
        // stops there.
        for (int number = 0; number < aSummaries.size() && !transaction.Lost(); ++number) {
            const QString& summary = aSummaries[number];
            if (summary.isEmpty())
                continue;
            const QString id = GenerateId();
            if (!InsertTaskRow(*task, id, summary, nullptr, 0)) {
                if (transaction.Lost())
                    break;
                aReport.failedLines << summary;
                aReport.reason = db->LastFailureReason();
                LogLine(QStringLiteral("New Tasks: line %1 was not stored").arg(number + 1));
                continue;
            }
            for (const QString& tagId : aTagIds) {
                if (InsertLink(*link, id, tagId))
                    continue;
                if (transaction.Lost())
                    break;
                ++aReport.failedLinks;
                aReport.reason = db->LastFailureReason();
                LogLine(
                    QStringLiteral("New Tasks: a tag of line %1 was not stored").arg(number + 1));
            }
        }
    }
    if (!transaction.Commit()) {
        aReport = TBulkEntryReport();
        return Outcome(false);
    }
    return Outcome(true);
}

// ---------------------------------------------------------------- tags

TStoreResult TtasksStore::ListTags(std::vector<TStoredTag>& aTags)
{
    aTags.clear();
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, kTagsStatement);
    if (!Run(*query))
        return Outcome(false);
    const TZField tagid = query->FieldByName(QStringLiteral("tagid"));
    const TZField title = query->FieldByName(QStringLiteral("title"));
    const TZField color = query->FieldByName(QStringLiteral("color"));
    const TZField image = query->FieldByName(QStringLiteral("image"));
    const TZField createddt = query->FieldByName(QStringLiteral("createddt"));
    for (; !query->Eof(); query->Next()) {
        TStoredTag& tag = aTags.emplace_back();
        tag.tagid = tagid.AsString();
        tag.title = title.AsString();
        tag.color = static_cast<int32_t>(color.AsInteger());
        tag.image = static_cast<int>(image.AsInteger());
        tag.createddt = createddt.AsDateTime();
    }
    return Outcome(true);
}

TStoreResult TtasksStore::SaveTag(const TStoredTag& aTag, bool aCreating)
{
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, aCreating ? kInsertTagStatement : kUpdateTagStatement);
    SetText(*query, QStringLiteral("tagid"), aTag.tagid);
    SetText(*query, QStringLiteral("title"), aTag.title);
    query->ParamByName(QStringLiteral("color")).SetAsInteger(aTag.color);
    return Outcome(Run(*query));
}

TStoreResult TtasksStore::DeleteTag(const QString& aId)
{
    // The tag and its links go together or not at all.
    TDBTransaction transaction;
    bool deleted = transaction.Started();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        for (const QString& statement : {kDeleteTagStatement, kDeleteTagLinksStatement})
            deleted = deleted && RunWithId(*query, statement, QStringLiteral("tagid"), aId);
    }
    deleted = deleted && transaction.Commit();
    if (!deleted)
        transaction.Rollback();
    return Outcome(deleted);
}
