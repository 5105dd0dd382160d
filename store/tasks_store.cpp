#include "store/tasks_store.h"

#include "store/tasks_statement.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <memory>

namespace {

// The list statement. Finish times are stored in local time, so "finished
// today" compares with the local date of the program's clock, bound as :today;
// the engine's date("now") is UTC and would hide today's tasks for hours.
const QString kListStatement = QStringLiteral(
    "select ts.*, group_concat(tt.tagid) as tagsids from tasks ts left join tags_tasks tt "
    "on ts.taskid=tt.taskid where ts.finisheddt isnull or date(ts.finisheddt)=:today "
    "group by ts.taskid order by ts.finisheddt, ts.duedt,ts.createddt desc");
// The list statement for one task: the same row, or none when the task is not
// listed. The links have no index on the task id, so joining them on it alone
// would scan them all for one task; here each tag id that the links hold
// (found by stepping through the index on (tagid, taskid)) is looked up with
// the task id. The row's tag ids come in the order of the whole list, by id.
const QString kListOneStatement = QStringLiteral(
    "select ts.*, group_concat(tt.tagid) as tagsids from tasks ts left join tags_tasks tt "
    "on tt.taskid=ts.taskid and tt.tagid in (with recursive linked(tagid) as (select "
    "min(tagid) from tags_tasks union all select (select min(tagid) from tags_tasks where "
    "tagid>linked.tagid) from linked where linked.tagid is not null) select tagid from "
    "linked) where ts.taskid=:taskid and (ts.finisheddt isnull or "
    "date(ts.finisheddt)=:today) group by ts.taskid");
// For more tasks than this one run of the whole list costs less than a read
// of each.
constexpr qsizetype kFewTasks = 64;

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
// An edit writes only the fields the user changed: a field whose :set flag is
// 0 keeps its stored value, which another change may have written meanwhile.
const QString kEditStatement =
    QStringLiteral("update tasks set summary=case when :setsummary then :summary else summary end, "
                   "note=case when :setnote then :note else note end, "
                   "duedt=case when :setduedt then :duedt else duedt end where taskid=:taskid");
const QString kUnlinkOneStatement =
    QStringLiteral("delete from tags_tasks where taskid=:taskid and tagid=:tagid");

const QString kTagsStatement = QStringLiteral("select * from tags order by title, createddt asc");
const QString kInsertTagStatement =
    QStringLiteral("insert into tags (tagid, title, color, createddt) values (:tagid, :title, "
                   ":color, datetime(\"now\"))");
const QString kUpdateTagStatement =
    QStringLiteral("update tags set title=:title, color=:color where tagid=:tagid");
const QString kDeleteTagStatement = QStringLiteral("delete from tags where tagid=:tagid");
const QString kDeleteTagLinksStatement =
    QStringLiteral("delete from tags_tasks where tagid=:tagid");

// The rows of tasks as another program knows them (TTaskRows): every column,
// and the creation and finish times that program gave.
const QString kRowsStatement =
    QStringLiteral("select taskid, summary, note, duedt, finisheddt, createddt from tasks order "
                   "by createddt, taskid");
const QString kRowStatement = QStringLiteral(
    "select taskid, summary, note, duedt, finisheddt, createddt from tasks where taskid=:taskid");
const QString kRowsTitlesStatement =
    QStringLiteral("select tt.taskid, tg.title from tags_tasks tt join tags tg on "
                   "tg.tagid=tt.tagid order by tg.title");
const QString kRowTitlesStatement =
    QStringLiteral("select tg.title from tags_tasks tt join tags tg on tg.tagid=tt.tagid where "
                   "tt.taskid=:taskid order by tg.title");
const QString kIdsStatement = QStringLiteral("select taskid from tasks");
const QString kInsertRowStatement = QStringLiteral(
    "insert into tasks (taskid, summary, note, createddt, duedt, finisheddt) values (:taskid, "
    ":summary, :note, coalesce(:createddt, datetime(\"now\")), :duedt, :finisheddt)");
const QString kUpdateRowStatement =
    QStringLiteral("update tasks set summary=:summary, note=:note, duedt=:duedt, "
                   "finisheddt=:finisheddt where taskid=:taskid");

const QString kTaskGone = QStringLiteral("the task is no longer stored");

// The reminders' own tables, made by their first operation on a database, so
// that a database that never ran a reminder pass holds the schema alone.
const QString kReminderTables[] = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS announced( taskid VARCHAR(16), duedt DATETIME, "
                   "PRIMARY KEY(taskid, duedt));"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS reminder_pass( id INTEGER, lastdt DATETIME "
                   "DEFAULT NULL, PRIMARY KEY(id));")};
const QString kLastPassStatement = QStringLiteral("select lastdt from reminder_pass where id=1");
const QString kRecordPassStatement =
    QStringLiteral("insert or replace into reminder_pass (id, lastdt) values (1, :lastdt)");
// Due date-times are written as the store writes them, YYYY-MM-DD HH:MM:SS,
// whose text order is their time order.
const QString kListAnnouncedStatement =
    QStringLiteral("select taskid, duedt from announced where duedt>=:fromdt and duedt<=:untildt");
const QString kAnnounceStatement =
    QStringLiteral("insert or ignore into announced (taskid, duedt) values (:taskid, :duedt)");
const QString kPruneGoneStatement =
    QStringLiteral("delete from announced where not exists (select 1 from tasks ts where "
                   "ts.taskid=announced.taskid and ts.finisheddt isnull)");
const QString kPruneOlderStatement =
    QStringLiteral("delete from announced where exists (select 1 from announced later where "
                   "later.taskid=announced.taskid and later.duedt>announced.duedt)");

TStoreResult Outcome(bool aOk)
{
    return StatementOutcome(*GetTasksDB(), aOk);
}

bool Run(TZQuery& aQuery)
{
    return RunStatement(*GetTasksDB(), aQuery);
}

// The task insert of the editor and of the bulk entry; aNote nullptr stores NULL.
bool InsertTaskRow(TZQuery& aQuery, const QString& aId, const QString& aSummary,
                   const QString* aNote, TDateTime aDue)
{
    UseStatement(aQuery, kInsertStatement);
    BindText(aQuery, QStringLiteral("taskid"), aId);
    BindText(aQuery, QStringLiteral("summary"), aSummary);
    if (aNote)
        BindText(aQuery, QStringLiteral("note"), *aNote);
    else
        aQuery.ParamByName(QStringLiteral("note")).Clear();
    BindDateTime(aQuery, QStringLiteral("duedt"), aDue);
    return Run(aQuery);
}

// The tag-link insert of the editor and of the bulk entry.
bool InsertLink(TtasksDB& aDB, TZQuery& aQuery, const QString& aTaskId, const QString& aTagId)
{
    UseStatement(aQuery, kLinkStatement);
    BindText(aQuery, QStringLiteral("taskid"), aTaskId);
    BindText(aQuery, QStringLiteral("tagid"), aTagId);
    return RunStatement(aDB, aQuery);
}

// Runs a statement whose only parameter is aName.
bool RunWithId(TtasksDB& aDB, TZQuery& aQuery, const QString& aSQL, const QString& aName,
               const QString& aId)
{
    UseStatement(aQuery, aSQL);
    BindText(aQuery, aName, aId);
    return RunStatement(aDB, aQuery);
}

void LogLine(const QString& aText)
{
    if (TtasksLog* log = GetTasksLog())
        log->Log(aText);
}

// A column's value for a list key: a null text for NULL, otherwise its text.
QString KeyValue(const TZField& aField)
{
    if (aField.IsNull())
        return QString();
    QString text = aField.AsString();
    if (text.isNull())
        text = QStringLiteral("");
    return text;
}

// A row of kReadStatement, with the stored texts of its times as the list's
// key holds them.
void ReadTaskRow(const TZQuery& aQuery, TStoredTask& aTask)
{
    const TZField due = aQuery.FieldByName(QStringLiteral("duedt"));
    const TZField finished = aQuery.FieldByName(QStringLiteral("finisheddt"));
    aTask.taskid = aQuery.FieldByName(QStringLiteral("taskid")).AsString();
    aTask.summary = aQuery.FieldByName(QStringLiteral("summary")).AsString();
    aTask.note = aQuery.FieldByName(QStringLiteral("note")).AsString();
    // A NULL or malformed due date-time reads as 0: the task is unplanned.
    aTask.duedt = due.AsDateTime();
    aTask.finished = !finished.IsNull();
    aTask.order.finisheddt = KeyValue(finished);
    aTask.order.duedt = KeyValue(due);
    aTask.order.createddt = KeyValue(aQuery.FieldByName(QStringLiteral("createddt")));
    aTask.order.taskid = aTask.taskid;
}

// The tag ids of the task's links, ordered by id.
bool ReadLinks(TZQuery& aQuery, const QString& aTaskId, QStringList& aTagIds)
{
    aTagIds.clear();
    if (!RunWithId(*GetTasksDB(), aQuery, kReadLinksStatement, QStringLiteral("taskid"), aTaskId))
        return false;
    for (; !aQuery.Eof(); aQuery.Next())
        aTagIds << aQuery.FieldByName(QStringLiteral("tagid")).AsString();
    return true;
}

// Stored texts as the engine tells them apart: NULL is not the empty text.
bool SameStoredText(const QString& aLeft, const QString& aRight)
{
    return aLeft.isNull() == aRight.isNull() && aLeft == aRight;
}

// The fields the user changed that were changed elsewhere since the edit read
// the task, to another value than the user's. Summary and note compare as the
// editor shows them, where NULL and the empty text are alike.
QList<TTaskField> EditConflicts(const TTaskEdit& aEdit, const TStoredTask& aStored)
{
    QList<TTaskField> fields;
    if (aEdit.summary && aStored.summary != aEdit.loaded.summary &&
        aStored.summary != *aEdit.summary)
        fields << TTaskField::Summary;
    if (aEdit.note && aStored.note != aEdit.loaded.note && aStored.note != *aEdit.note)
        fields << TTaskField::Note;
    if (aEdit.duedt && !SameStoredText(aStored.order.duedt, aEdit.loaded.order.duedt) &&
        !SameStoredText(aStored.order.duedt, StoredDueText(*aEdit.duedt)))
        fields << TTaskField::DueDateTime;
    return fields;
}

// The stored links of aLinked that stand for aTagId: the editor ticks a tag
// for a link whose id differs from the tag's only in case.
QStringList LinksFor(const QStringList& aLinked, const QString& aTagId)
{
    QStringList links;
    for (const QString& linked : aLinked) {
        if (linked.compare(aTagId, Qt::CaseInsensitive) == 0)
            links << linked;
    }
    return links;
}

// Writes the user's changes of aEdit onto a task whose links are aLinked.
bool WriteEdit(const TTaskEdit& aEdit, const QStringList& aLinked)
{
    TtasksDB* db = GetTasksDB();
    bool written = true;
    if (aEdit.summary || aEdit.note || aEdit.duedt) {
        std::unique_ptr<TZQuery> task = db->NewQuery();
        UseStatement(*task, kEditStatement);
        BindText(*task, QStringLiteral("taskid"), aEdit.taskid);
        task->ParamByName(QStringLiteral("setsummary")).SetAsInteger(aEdit.summary ? 1 : 0);
        BindText(*task, QStringLiteral("summary"), aEdit.summary.value_or(QString()));
        task->ParamByName(QStringLiteral("setnote")).SetAsInteger(aEdit.note ? 1 : 0);
        BindText(*task, QStringLiteral("note"), aEdit.note.value_or(QString()));
        task->ParamByName(QStringLiteral("setduedt")).SetAsInteger(aEdit.duedt ? 1 : 0);
        BindDateTime(*task, QStringLiteral("duedt"), aEdit.duedt.value_or(0));
        written = Run(*task);
    }
    // The first refused statement ends the attempt: the engine may already
    // have given up the transaction.
    std::unique_ptr<TZQuery> links = db->NewQuery();
    for (const QString& tagId : aEdit.linkTagIds) {
        if (written && LinksFor(aLinked, tagId).isEmpty())
            written = InsertLink(*GetTasksDB(), *links, aEdit.taskid, tagId);
    }
    for (const QString& tagId : aEdit.unlinkTagIds) {
        for (const QString& linked : LinksFor(aLinked, tagId)) {
            if (!written)
                break;
            UseStatement(*links, kUnlinkOneStatement);
            BindText(*links, QStringLiteral("taskid"), aEdit.taskid);
            BindText(*links, QStringLiteral("tagid"), linked);
            written = Run(*links);
        }
    }
    return written;
}

// The columns of the list statement that a row of the list is read from.
class TListColumns
{
public:
    explicit TListColumns(const TZQuery& aQuery)
        : FTaskId(aQuery.FieldByName(QStringLiteral("taskid"))),
          FSummary(aQuery.FieldByName(QStringLiteral("summary"))),
          FNote(aQuery.FieldByName(QStringLiteral("note"))),
          FDueDt(aQuery.FieldByName(QStringLiteral("duedt"))),
          FFinishedDt(aQuery.FieldByName(QStringLiteral("finisheddt"))),
          FCreatedDt(aQuery.FieldByName(QStringLiteral("createddt"))),
          FTagsIds(aQuery.FieldByName(QStringLiteral("tagsids")))
    {
    }

    void Read(TStoredTask& aTask) const
    {
        aTask.taskid = FTaskId.AsString();
        aTask.summary = FSummary.AsString();
        aTask.note = FNote.AsString();
        aTask.duedt = FDueDt.AsDateTime();
        aTask.finished = !FFinishedDt.IsNull();
        aTask.tagsids = FTagsIds.AsString();
        aTask.order.finisheddt = KeyValue(FFinishedDt);
        aTask.order.duedt = KeyValue(FDueDt);
        aTask.order.createddt = KeyValue(FCreatedDt);
        aTask.order.taskid = aTask.taskid;
    }

private:
    TZField FTaskId;
    TZField FSummary;
    TZField FNote;
    TZField FDueDt;
    TZField FFinishedDt;
    TZField FCreatedDt;
    TZField FTagsIds;
};

// The order of code points, which is that of UTF-8 bytes: a surrogate pair
// (a code point above U+FFFF) comes after every other UTF-16 unit.
int CompareText(QStringView aLeft, QStringView aRight)
{
    const auto unit = [](char16_t aUnit) -> int {
        if (aUnit >= 0xE000)
            return aUnit - 0x800;
        if (aUnit >= 0xD800)
            return aUnit + 0x2000;
        return aUnit;
    };
    const qsizetype common = std::min(aLeft.size(), aRight.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t left = aLeft[i].unicode();
        const char16_t right = aRight[i].unicode();
        if (left != right)
            return unit(left) < unit(right) ? -1 : 1;
    }
    if (aLeft.size() == aRight.size())
        return 0;
    return aLeft.size() < aRight.size() ? -1 : 1;
}

// A number as the engine writes an INTEGER or REAL as text ("-12", "3.5",
// "1.0e+20"); a column of date-times holds a number only in this form, since
// text that reads as a number is stored as one.
bool AsNumber(QStringView aText, double& aValue)
{
    qsizetype i = 0;
    const qsizetype size = aText.size();
    const auto digits = [&] {
        const qsizetype start = i;
        while (i < size && aText[i].isDigit() && aText[i].unicode() < 128)
            ++i;
        return i > start;
    };
    if (i < size && aText[i] == QLatin1Char('-'))
        ++i;
    if (!digits())
        return false;
    if (i < size && aText[i] == QLatin1Char('.')) {
        ++i;
        if (!digits())
            return false;
    }
    if (i < size && (aText[i] == QLatin1Char('e') || aText[i] == QLatin1Char('E'))) {
        ++i;
        if (i < size && (aText[i] == QLatin1Char('+') || aText[i] == QLatin1Char('-')))
            ++i;
        if (!digits())
            return false;
    }
    if (i != size)
        return false;
    bool ok = false;
    aValue = aText.toDouble(&ok);
    return ok;
}

// NULL first, then numbers by value, then text by its bytes.
int CompareValues(const QString& aLeft, const QString& aRight)
{
    if (aLeft.isNull() || aRight.isNull())
        return int(aRight.isNull()) - int(aLeft.isNull());
    double left = 0;
    double right = 0;
    const bool leftNumber = AsNumber(aLeft, left);
    const bool rightNumber = AsNumber(aRight, right);
    if (leftNumber && rightNumber)
        return left < right ? -1 : (right < left ? 1 : 0);
    if (leftNumber != rightNumber)
        return leftNumber ? -1 : 1;
    return CompareText(aLeft, aRight);
}

// Two decimal digits at aAt, at most aMax.
bool TwoDigits(QStringView aText, qsizetype aAt, int aMax)
{
    const QChar high = aText[aAt];
    const QChar low = aText[aAt + 1];
    if (high < QLatin1Char('0') || high > QLatin1Char('9') || low < QLatin1Char('0') ||
        low > QLatin1Char('9'))
        return false;
    return (high.unicode() - '0') * 10 + (low.unicode() - '0') <= aMax;
}

// Every tag, in the order of ListTags.
bool ReadTagRows(TtasksDB& aDB, TZQuery& aQuery, std::vector<TStoredTag>& aTags)
{
    aTags.clear();
    if (!RunStatement(aDB, aQuery, kTagsStatement))
        return false;
    const TZField tagid = aQuery.FieldByName(QStringLiteral("tagid"));
    const TZField title = aQuery.FieldByName(QStringLiteral("title"));
    const TZField color = aQuery.FieldByName(QStringLiteral("color"));
    const TZField image = aQuery.FieldByName(QStringLiteral("image"));
    const TZField createddt = aQuery.FieldByName(QStringLiteral("createddt"));
    for (; !aQuery.Eof(); aQuery.Next()) {
        TStoredTag& tag = aTags.emplace_back();
        tag.tagid = tagid.AsString();
        tag.title = title.AsString();
        tag.color = static_cast<int32_t>(color.AsInteger());
        tag.image = static_cast<int>(image.AsInteger());
        tag.createddt = createddt.AsDateTime();
    }
    return true;
}

// A row of kRowsStatement or kRowStatement.
void ReadRow(const TZQuery& aQuery, TTaskRow& aRow)
{
    aRow.taskid = aQuery.FieldByName(QStringLiteral("taskid")).AsString();
    aRow.summary = aQuery.FieldByName(QStringLiteral("summary")).AsString();
    aRow.note = aQuery.FieldByName(QStringLiteral("note")).AsString();
    aRow.duedt = StoredTimeText(aQuery.FieldByName(QStringLiteral("duedt")));
    aRow.finisheddt = StoredTimeText(aQuery.FieldByName(QStringLiteral("finisheddt")));
    aRow.createddt = StoredTimeText(aQuery.FieldByName(QStringLiteral("createddt")));
    aRow.tagTitles.clear();
}

// The values of the row statements' parameters but the id.
void BindRow(TZQuery& aQuery, const TTaskRow& aRow)
{
    BindText(aQuery, QStringLiteral("taskid"), aRow.taskid);
    BindTextOrNull(aQuery, QStringLiteral("summary"), aRow.summary);
    BindTextOrNull(aQuery, QStringLiteral("note"), aRow.note);
    BindTextOrNull(aQuery, QStringLiteral("duedt"), aRow.duedt);
    BindTextOrNull(aQuery, QStringLiteral("finisheddt"), aRow.finisheddt);
}

// Makes the reminders' tables where they are missing.
bool MakeReminderTables()
{
    TtasksDB* db = GetTasksDB();
    for (const QString& statement : kReminderTables) {
        if (!db->Exec(statement))
            return false;
    }
    return true;
}

TStoreResult SetFinished(const QString& aId, TDateTime aWhen)
{
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, kFinishStatement);
    BindDateTime(*query, QStringLiteral("finisheddt"), aWhen);
    BindText(*query, QStringLiteral("taskid"), aId);
    return Outcome(Run(*query));
}

} // namespace

QStringList TagsTitled(const std::vector<TStoredTag>& aTags, const QString& aTitle, bool aExactOnly)
{
    QStringList ids;
    for (const TStoredTag& tag : aTags) {
        if (tag.title == aTitle)
            ids << tag.tagid;
    }
    if (!ids.isEmpty() || aExactOnly)
        return ids;
    for (const TStoredTag& tag : aTags) {
        if (tag.title.compare(aTitle, Qt::CaseInsensitive) == 0)
            ids << tag.tagid;
    }
    return ids;
}

QString StoredTimeText(const TZField& aField)
{
    if (aField.IsNull())
        return QString();
    const TDateTime value = aField.AsDateTime();
    // A value that is no date-time is kept as it is, so that it still
    // compares as itself.
    return value != 0 ? DateTimeToSqlText(value) : aField.AsString();
}

QString StoredDueText(TDateTime aDue)
{
    return aDue != 0 ? DateTimeToSqlText(aDue) : QString();
}

bool DueDateTimeDiffers(const TStoredTask& aTask, TDateTime aDue)
{
    return !SameStoredText(StoredDueText(aDue), aTask.order.duedt);
}

QString TaskListStatement()
{
    return kListStatement;
}

QString TaskListToday()
{
    return NowDateTime().date().toString(QStringLiteral("yyyy-MM-dd"));
}

bool ListedBefore(const TTaskListKey& aLeft, const TTaskListKey& aRight)
{
    int order = CompareValues(aLeft.finisheddt, aRight.finisheddt);
    if (order == 0)
        order = CompareValues(aLeft.duedt, aRight.duedt);
    // Only the creation time is descending.
    if (order == 0)
        order = -CompareValues(aLeft.createddt, aRight.createddt);
    // The engine groups the rows by scanning the index on the id, and its sort
    // keeps that order among rows with equal keys.
    if (order == 0)
        order = aLeft.taskid.isNull() || aRight.taskid.isNull()
                    ? int(aRight.taskid.isNull()) - int(aLeft.taskid.isNull())
                    : CompareText(aLeft.taskid, aRight.taskid);
    return order < 0;
}

bool SurelyListedOn(const TTaskListKey& aKey, const QString& aToday)
{
    const QString& finished = aKey.finisheddt;
    if (finished.isNull())
        return true;
    // date() gives the first ten characters of "YYYY-MM-DD HH:MM:SS" when the
    // date is valid, as aToday is, and so is the time of day.
    return finished.size() == 19 && finished.startsWith(aToday) &&
           finished[10] == QLatin1Char(' ') && TwoDigits(finished, 11, 23) &&
           finished[13] == QLatin1Char(':') && TwoDigits(finished, 14, 59) &&
           finished[16] == QLatin1Char(':') && TwoDigits(finished, 17, 59);
}

// ---------------------------------------------------------------- transaction

TDBTransaction::TDBTransaction() : FDB(GetTasksDB())
{
    FStarted = FDB->StartTransaction();
    FOpen = FStarted;
}

TDBTransaction::TDBTransaction(TtasksDB& aDB) : FOperation(aDB), FDB(&aDB)
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

TStoreResult TDBTransaction::Finish(bool aDone)
{
    const bool done = aDone && Commit();
    if (!done)
        Rollback();
    return StatementOutcome(*FDB, done);
}

// ---------------------------------------------------------------- task rows

TTaskRows::TTaskRows(TtasksDB& aDB) : FDB(aDB), FQuery(aDB.NewQuery()), FLinks(aDB.NewQuery()) {}

TTaskRows::~TTaskRows() = default;

bool TTaskRows::ReadAll(std::vector<TTaskRow>& aRows)
{
    aRows.clear();
    if (!RunStatement(FDB, *FQuery, kRowsStatement))
        return false;
    QHash<QString, size_t> index;
    for (; !FQuery->Eof(); FQuery->Next()) {
        ReadRow(*FQuery, aRows.emplace_back());
        index.insert(aRows.back().taskid, aRows.size() - 1);
    }
    if (!RunStatement(FDB, *FQuery, kRowsTitlesStatement))
        return false;
    const TZField taskid = FQuery->FieldByName(QStringLiteral("taskid"));
    const TZField title = FQuery->FieldByName(QStringLiteral("title"));
    for (; !FQuery->Eof(); FQuery->Next()) {
        const auto at = index.constFind(taskid.AsString());
        if (at != index.constEnd())
            aRows[*at].tagTitles << title.AsString();
    }
    FQuery->Close();
    return true;
}

bool TTaskRows::Read(const QString& aId, TTaskRow& aRow, bool& aFound)
{
    aFound = false;
    UseStatement(*FQuery, kRowStatement);
    BindText(*FQuery, QStringLiteral("taskid"), aId);
    if (!RunStatement(FDB, *FQuery))
        return false;
    if (FQuery->Eof())
        return true;
    aFound = true;
    ReadRow(*FQuery, aRow);
    UseStatement(*FQuery, kRowTitlesStatement);
    BindText(*FQuery, QStringLiteral("taskid"), aId);
    if (!RunStatement(FDB, *FQuery))
        return false;
    for (; !FQuery->Eof(); FQuery->Next())
        aRow.tagTitles << FQuery->FieldByName(QStringLiteral("title")).AsString();
    FQuery->Close();
    return true;
}

bool TTaskRows::ReadIds(QSet<QString>& aIds)
{
    aIds.clear();
    if (!RunStatement(FDB, *FQuery, kIdsStatement))
        return false;
    const TZField taskid = FQuery->FieldByName(QStringLiteral("taskid"));
    for (; !FQuery->Eof(); FQuery->Next())
        aIds.insert(taskid.AsString());
    FQuery->Close();
    return true;
}

bool TTaskRows::Insert(const TTaskRow& aRow)
{
    UseStatement(*FQuery, kInsertRowStatement);
    BindRow(*FQuery, aRow);
    BindTextOrNull(*FQuery, QStringLiteral("createddt"), aRow.createddt);
    return RunStatement(FDB, *FQuery);
}

bool TTaskRows::Update(const TTaskRow& aRow)
{
    UseStatement(*FQuery, kUpdateRowStatement);
    BindRow(*FQuery, aRow);
    return RunStatement(FDB, *FQuery);
}

bool TTaskRows::Delete(const QString& aId)
{
    // The links go with the task, so none is left behind.
    return Unlink(aId) && RunWithId(FDB, *FQuery, kDeleteStatement, QStringLiteral("taskid"), aId);
}

bool TTaskRows::Link(const QString& aTaskId, const QString& aTagId)
{
    return InsertLink(FDB, *FLinks, aTaskId, aTagId);
}

bool TTaskRows::Unlink(const QString& aTaskId)
{
    return RunWithId(FDB, *FLinks, kUnlinkStatement, QStringLiteral("taskid"), aTaskId);
}

bool TTaskRows::ReadTags(std::vector<TStoredTag>& aTags)
{
    const bool read = ReadTagRows(FDB, *FQuery, aTags);
    FQuery->Close();
    return read;
}

bool TTaskRows::InsertTag(const TStoredTag& aTag)
{
    UseStatement(*FQuery, kInsertTagStatement);
    BindText(*FQuery, QStringLiteral("tagid"), aTag.tagid);
    BindText(*FQuery, QStringLiteral("title"), aTag.title);
    BindInteger(*FQuery, QStringLiteral("color"), aTag.color);
    return RunStatement(FDB, *FQuery);
}

// ---------------------------------------------------------------- tasks

TStoreResult TtasksStore::ListTasks(std::vector<TStoredTask>& aTasks)
{
    aTasks.clear();
    const TDBOperation operation;
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    UseStatement(*query, kListStatement);
    BindText(*query, QStringLiteral("today"), TaskListToday());
    if (!Run(*query))
        return Outcome(false);
    const TListColumns columns(*query);
    for (; !query->Eof(); query->Next())
        columns.Read(aTasks.emplace_back());
    return Outcome(true);
}

TStoreResult TtasksStore::ListTasksOf(const QStringList& aIds, std::vector<TStoredTask>& aTasks)
{
    aTasks.clear();
    QStringList ids = aIds;
    ids.removeDuplicates();
    if (ids.isEmpty())
        return Outcome(true);
    if (ids.size() > kFewTasks) {
        std::vector<TStoredTask> listed;
        const TStoreResult read = ListTasks(listed);
        if (!read)
            return read;
        const QSet<QString> wanted(ids.cbegin(), ids.cend());
        for (TStoredTask& task : listed) {
            if (wanted.contains(task.taskid))
                aTasks.push_back(std::move(task));
        }
        return read;
    }
    // One read transaction: the rows as they were at one moment.
    TDBTransaction transaction;
    bool read = transaction.Started();
    if (read) {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        UseStatement(*query, kListOneStatement);
        BindText(*query, QStringLiteral("today"), TaskListToday());
        for (qsizetype i = 0; read && i < ids.size(); ++i) {
            BindText(*query, QStringLiteral("taskid"), ids[i]);
            read = Run(*query);
            if (read && !query->Eof())
                TListColumns(*query).Read(aTasks.emplace_back());
        }
    }
    read = read && transaction.Commit();
    if (!read) {
        transaction.Rollback();
        aTasks.clear();
        return Outcome(false);
    }
    std::sort(aTasks.begin(), aTasks.end(),
              [](const TStoredTask& aLeft, const TStoredTask& aRight) {
                  return ListedBefore(aLeft.order, aRight.order);
              });
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
        read = RunWithId(*GetTasksDB(), *query, kReadStatement, QStringLiteral("taskid"), aId);
        found = read && !query->Eof();
        if (found) {
            ReadTaskRow(*query, aTask);
            QStringList ids;
            read = ReadLinks(*query, aId, ids);
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
            BindText(*task, QStringLiteral("taskid"), aTask.taskid);
            BindText(*task, QStringLiteral("summary"), aTask.summary);
            BindText(*task, QStringLiteral("note"), aTask.note);
            BindDateTime(*task, QStringLiteral("duedt"), aTask.duedt);
            stored = Run(*task);
        }
        stored = stored && RunWithId(*GetTasksDB(), *links, kUnlinkStatement,
                                     QStringLiteral("taskid"), aTask.taskid);
        for (const QString& tagId : aTagIds)
            stored = stored && InsertLink(*GetTasksDB(), *links, aTask.taskid, tagId);
    }
    return transaction.Finish(stored);
}

TStoreResult TtasksStore::SaveTaskEdit(const TTaskEdit& aEdit, TTaskEditConflict& aConflict)
{
    aConflict = TTaskEditConflict();
    // The comparison and the write in one transaction: nothing else writes
    // the task between them.
    TDBTransaction transaction;
    bool done = transaction.Started();
    bool found = false;
    TStoredTask stored;
    QStringList linked;
    if (done) {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        done = RunWithId(*GetTasksDB(), *query, kReadStatement, QStringLiteral("taskid"),
                         aEdit.taskid);
        found = done && !query->Eof();
        if (found) {
            ReadTaskRow(*query, stored);
            done = ReadLinks(*query, aEdit.taskid, linked);
        }
    }
    if (done && found)
        aConflict.fields = EditConflicts(aEdit, stored);
    aConflict.gone = done && !found;
    if (done && !aConflict.fields.isEmpty())
        aConflict.stored = stored;
    if (done && !aConflict.Any())
        done = WriteEdit(aEdit, linked);
    done = done && transaction.Commit();
    if (!done) {
        transaction.Rollback();
        aConflict = TTaskEditConflict();
    }
    return Outcome(done);
}

TStoreResult TtasksStore::DeleteTask(const QString& aId)
{
    // The links go with the task, so none is left behind.
    TDBTransaction transaction;
    bool deleted = transaction.Started();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        for (const QString& statement : {kUnlinkStatement, kDeleteStatement})
            deleted = deleted &&
                      RunWithId(*GetTasksDB(), *query, statement, QStringLiteral("taskid"), aId);
    }
    return transaction.Finish(deleted);
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
        BindText(*query, QStringLiteral("taskid"), id);
        BindDateTime(*query, QStringLiteral("duedt"), aDue);
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
                if (InsertLink(*GetTasksDB(), *link, id, tagId))
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
    return Outcome(ReadTagRows(*GetTasksDB(), *query, aTags));
}

TStoreResult TtasksStore::SaveTag(const TStoredTag& aTag, bool aCreating)
{
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, aCreating ? kInsertTagStatement : kUpdateTagStatement);
    BindText(*query, QStringLiteral("tagid"), aTag.tagid);
    BindText(*query, QStringLiteral("title"), aTag.title);
    BindInteger(*query, QStringLiteral("color"), aTag.color);
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
            deleted = deleted &&
                      RunWithId(*GetTasksDB(), *query, statement, QStringLiteral("tagid"), aId);
    }
    return transaction.Finish(deleted);
}

// ---------------------------------------------------------------- reminders

TStoreResult TtasksStore::ReadLastReminderPass(TDateTime& aWhen)
{
    aWhen = 0;
    const TDBOperation operation;
    if (!MakeReminderTables())
        return Outcome(false);
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, kLastPassStatement);
    if (!Run(*query))
        return Outcome(false);
    if (!query->Eof())
        aWhen = query->FieldByName(QStringLiteral("lastdt")).AsDateTime();
    return Outcome(true);
}

TStoreResult TtasksStore::ListAnnounced(TDateTime aFrom, TDateTime aUntil,
                                        std::vector<TAnnouncement>& aAnnounced)
{
    aAnnounced.clear();
    const TDBOperation operation;
    if (!MakeReminderTables())
        return Outcome(false);
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    UseStatement(*query, kListAnnouncedStatement);
    query->ParamByName(QStringLiteral("fromdt")).SetAsDateTime(aFrom);
    query->ParamByName(QStringLiteral("untildt")).SetAsDateTime(aUntil);
    if (!Run(*query))
        return Outcome(false);
    const TZField taskid = query->FieldByName(QStringLiteral("taskid"));
    const TZField duedt = query->FieldByName(QStringLiteral("duedt"));
    for (; !query->Eof(); query->Next())
        aAnnounced.push_back({taskid.AsString(), duedt.AsDateTime()});
    return Outcome(true);
}

TStoreResult TtasksStore::RecordReminderPass(const std::vector<TAnnouncement>& aAnnounced,
                                             TDateTime aPass)
{
    // The tables are made before the transaction: a statement that changes
    // the schema inside it would hold the whole file's lock for longer.
    {
        const TDBOperation operation;
        if (!MakeReminderTables())
            return Outcome(false);
    }
    TDBTransaction transaction;
    bool stored = transaction.Started();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        for (const TAnnouncement& announcement : aAnnounced) {
            if (!stored)
                break;
            UseStatement(*query, kAnnounceStatement);
            BindText(*query, QStringLiteral("taskid"), announcement.taskid);
            BindDateTime(*query, QStringLiteral("duedt"), announcement.duedt);
            stored = Run(*query);
        }
        if (stored) {
            UseStatement(*query, kRecordPassStatement);
            BindDateTime(*query, QStringLiteral("lastdt"), aPass);
            stored = Run(*query);
        }
    }
    return transaction.Finish(stored);
}

TStoreResult TtasksStore::PruneAnnounced()
{
    {
        const TDBOperation operation;
        if (!MakeReminderTables())
            return Outcome(false);
    }
    TDBTransaction transaction;
    bool pruned = transaction.Started();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        for (const QString& statement : {kPruneGoneStatement, kPruneOlderStatement}) {
            if (!pruned)
                break;
            UseStatement(*query, statement);
            pruned = Run(*query);
        }
    }
    return transaction.Finish(pruned);
}
