#include "ical/tasks_ics.h"

#include "ical/tasks_ical.h"
#include "store/tasks_db.h"
#include "store/tasks_statement.h"
#include "store/tasks_store.h"
#include "util/kvd_colors.h"
#include "util/kvd_datetime.h"
#include "util/kvd_errors.h"
#include "util/kvd_utils.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QSaveFile>
#include <QSet>
#include <iterator>
#include <memory>
#include <vector>

namespace {

const QString kTable =
    QStringLiteral("CREATE TABLE IF NOT EXISTS ical_tasks( taskid VARCHAR(16), uid TEXT UNIQUE, "
                   "vtodo TEXT, PRIMARY KEY(taskid));");
const QString kMemberIdsStatement = QStringLiteral("select taskid, uid from ical_tasks");
const QString kInsertKeptStatement =
    QStringLiteral("insert into ical_tasks (taskid, uid, vtodo) values (:taskid, :uid, :vtodo)");
const QString kMembersStatement = QStringLiteral("select taskid, uid, vtodo from ical_tasks");
// A UID names one task: the row of another task with it gives way.
const QString kWriteMemberStatement = QStringLiteral(
    "insert or replace into ical_tasks (taskid, uid, vtodo) values (:taskid, :uid, :vtodo)");
const QString kDropMemberStatement = QStringLiteral("delete from ical_tasks where taskid=:taskid");
// The existence test of the table for an export, which writes nothing.
const QString kTableExistsStatement = QStringLiteral(
    "select count(*) as n from sqlite_master where type='table' and name='ical_tasks'");

QString NowText(bool aUtc)
{
    const QDateTime now = NowDateTime();
    return (aUtc ? now.toUTC() : now.toLocalTime()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// A local date-time text of the mapping in the form the store writes; a null
// text (NULL) for none and for a text that is no date-time.
QString StoredForm(const QString& aText)
{
    const TDateTime value = SqlTextToDateTime(aText);
    return aText.isEmpty() || value == 0 ? QString() : DateTimeToSqlText(value);
}

// A stored time in the mapping's text form: empty for NULL and for a value
// that is no date-time.
QString MappedForm(const QString& aStored)
{
    return SqlTextToDateTime(aStored) == 0 ? QString() : aStored;
}

// A text of the file, never NULL in the table.
QString NotNull(const QString& aText)
{
    return aText.isNull() ? QStringLiteral("") : aText;
}

// The tags of the titles, by the rule of TagsTitled; a title that names none
// makes a new tag. False when the engine refused.
bool TagsOf(TTaskRows& aRows, const QStringList& aTitles, std::vector<TStoredTag>& aTags,
            QStringList& aIds)
{
    for (const QString& title : aTitles) {
        QStringList found = TagsTitled(aTags, title);
        if (found.isEmpty()) {
            const TStoredTag tag{GenerateId(), title,
                                 ImportTagColor(static_cast<int>(aTags.size()))};
            if (!aRows.InsertTag(tag))
                return false;
            aTags.push_back(tag);
            found << tag.tagid;
        }
        for (const QString& id : found) {
            if (!aIds.contains(id))
                aIds << id;
        }
    }
    return true;
}

// Stores one task, its tag links and its kept object. False when the engine
// refused a statement.
bool StoreTask(TtasksDB& aDB, TTaskRows& aRows, const QString& aId, const TIcalTask& aTask,
               std::vector<TStoredTag>& aTags)
{
    TTaskRow row;
    row.taskid = aId;
    row.summary = NotNull(aTask.summary);
    row.note = NotNull(aTask.note);
    row.createddt = aTask.created.isEmpty() ? QString() : aTask.created;
    row.duedt = StoredForm(aTask.due);
    row.finisheddt = StoredForm(aTask.finished);
    if (!aRows.Insert(row))
        return false;
    QStringList tagIds;
    if (!TagsOf(aRows, aTask.tags, aTags, tagIds))
        return false;
    for (const QString& tagId : tagIds) {
        if (!aRows.Link(aId, tagId))
            return false;
    }
    std::unique_ptr<TZQuery> query = aDB.NewQuery();
    UseStatement(*query, kInsertKeptStatement);
    BindText(*query, QStringLiteral("taskid"), aId);
    BindText(*query, QStringLiteral("uid"), aTask.uid);
    BindText(*query, QStringLiteral("vtodo"), QString::fromUtf8(aTask.kept));
    return RunStatement(aDB, *query);
}

// The ids of the tasks and the UIDs of their kept objects; the objects of
// tasks deleted since the last import go.
bool KnownIds(TtasksDB& aDB, TTaskRows& aRows, QSet<QString>& aKnown)
{
    if (!aRows.ReadIds(aKnown))
        return false;
    std::unique_ptr<TZQuery> query = aDB.NewQuery();
    if (!RunStatement(aDB, *query, kMemberIdsStatement))
        return false;
    QStringList gone;
    QSet<QString> uids;
    for (; !query->Eof(); query->Next()) {
        const QString taskid = query->FieldByName(QStringLiteral("taskid")).AsString();
        if (aKnown.contains(taskid))
            uids.insert(query->FieldByName(QStringLiteral("uid")).AsString());
        else
            gone << taskid;
    }
    query->Close();
    for (const QString& taskid : gone) {
        if (!DropMember(aDB, taskid))
            return false;
    }
    aKnown.unite(uids);
    return true;
}

QString CannotRead(const QString& aPath, const QString& aReason)
{
    return QStringLiteral("The file %1 could not be imported: %2.").arg(aPath, aReason);
}

} // namespace

bool MakeMemberTable(TtasksDB& aDB)
{
    return aDB.Exec(kTable);
}

bool ReadMembers(TtasksDB& aDB, std::vector<TIcsMember>& aMembers)
{
    aMembers.clear();
    std::unique_ptr<TZQuery> query = aDB.NewQuery();
    if (!RunStatement(aDB, *query, kMembersStatement))
        return false;
    const TZField taskid = query->FieldByName(QStringLiteral("taskid"));
    const TZField uid = query->FieldByName(QStringLiteral("uid"));
    const TZField vtodo = query->FieldByName(QStringLiteral("vtodo"));
    for (; !query->Eof(); query->Next())
        aMembers.push_back({taskid.AsString(), uid.AsString(), vtodo.AsString().toUtf8()});
    return true;
}

bool WriteMember(TtasksDB& aDB, const TIcsMember& aMember)
{
    std::unique_ptr<TZQuery> query = aDB.NewQuery();
    UseStatement(*query, kWriteMemberStatement);
    BindText(*query, QStringLiteral("taskid"), aMember.taskid);
    BindText(*query, QStringLiteral("uid"), aMember.uid);
    BindText(*query, QStringLiteral("vtodo"), QString::fromUtf8(aMember.vtodo));
    return RunStatement(aDB, *query);
}

bool DropMember(TtasksDB& aDB, const QString& aTaskId)
{
    std::unique_ptr<TZQuery> query = aDB.NewQuery();
    UseStatement(*query, kDropMemberStatement);
    BindText(*query, QStringLiteral("taskid"), aTaskId);
    return RunStatement(aDB, *query);
}

bool IcsSupported()
{
    return true;
}

QString TIcsImportResult::Summary() const
{
    if (!ok)
        return error;
    QString text = QStringLiteral("%1 added, %2 skipped (already present), %3 refused.")
                       .arg(added)
                       .arg(skipped)
                       .arg(refused.size());
    if (ignored > 0)
        text += QStringLiteral(" %1 other %2 (events, journal entries) passed over.")
                    .arg(ignored)
                    .arg(ignored == 1 ? QStringLiteral("entry") : QStringLiteral("entries"));
    for (const TIcsRefusal& refusal : refused)
        text += QStringLiteral("\nRefused \"%1\": %2.").arg(refusal.label, refusal.reason);
    return text;
}

namespace {

TIcsImportResult Import(const QString& aPath)
{
    TIcsImportResult result;
    result.ok = false;
    QFile file(aPath);
    if (!file.open(QIODevice::ReadOnly)) {
        result.error = CannotRead(aPath, file.errorString().toLower());
        return result;
    }
    if (file.size() > kMaxIcsFileSize) {
        result.error = CannotRead(aPath, QStringLiteral("it is larger than 64 MiB"));
        return result;
    }
    // A file that is not a regular file (a pipe) reports no size: read one
    // byte past the limit to tell.
    const QByteArray text = file.read(kMaxIcsFileSize + 1);
    if (text.size() > kMaxIcsFileSize) {
        result.error = CannotRead(aPath, QStringLiteral("it is larger than 64 MiB"));
        return result;
    }
    if (file.error() != QFileDevice::NoError) {
        result.error = CannotRead(aPath, file.errorString().toLower());
        return result;
    }
    std::vector<TIcalRead> reads;
    QString parseError;
    if (!IcsToTasks(text, NowText(false), reads, result.ignored, parseError)) {
        result.error = CannotRead(aPath, parseError);
        return result;
    }

    const QString failed = QStringLiteral("The tasks of %1 could not be imported; nothing was "
                                          "stored.")
                               .arg(aPath);
    TtasksDB& db = *GetTasksDB();
    TDBOperation operation(db);
    TDBTransaction transaction(db);
    if (!transaction.Started()) {
        result.error = db.FailureMessage(failed);
        return result;
    }
    TTaskRows rows(db);
    QSet<QString> known;
    std::vector<TStoredTag> tags;
    if (!MakeMemberTable(db) || !KnownIds(db, rows, known) || !rows.ReadTags(tags)) {
        result.error = db.FailureMessage(failed);
        return result;
    }

    for (TIcalRead& read : reads) {
        if (!read.refusal.isEmpty()) {
            result.refused.push_back({read.label, read.refusal});
            continue;
        }
        TIcalTask& task = read.task;
        if (!task.uid.isEmpty() && known.contains(task.uid)) {
            ++result.skipped;
            continue;
        }
        const QString id =
            IsGeneratedId(task.uid) && !known.contains(task.uid) ? task.uid : GenerateId();
        if (task.uid.isEmpty())
            task.uid = id;
        // A to-do that the engine refuses leaves nothing of itself behind.
        const size_t tagsBefore = tags.size();
        QString reason;
        bool stored = db.Exec(QStringLiteral("SAVEPOINT ics_task"));
        if (stored) {
            stored = StoreTask(db, rows, id, task, tags);
            if (!stored) {
                reason = db.LastFailureReason();
                if (transaction.Lost())
                    break;
                db.Exec(QStringLiteral("ROLLBACK TO ics_task"));
            }
            db.Exec(QStringLiteral("RELEASE ics_task"));
        } else {
            reason = db.LastFailureReason();
        }
        if (transaction.Lost())
            break;
        if (!stored) {
            tags.resize(tagsBefore);
            result.refused.push_back({read.label, reason});
            continue;
        }
        known.insert(id);
        known.insert(task.uid);
        ++result.added;
    }
    if (!transaction.Commit()) {
        result = TIcsImportResult();
        result.ok = false;
        result.error = db.FailureMessage(failed);
        return result;
    }
    result.ok = true;
    return result;
}

TIcsExportResult Export(const QString& aPath, const QStringList& aIds)
{
    TIcsExportResult result;
    result.ok = false;
    const QString what = QStringLiteral("The tasks could not be exported to %1.").arg(aPath);
    const QSet<QString> wanted(aIds.cbegin(), aIds.cend());
    std::vector<TIcalTask> tasks;
    {
        // One read transaction: the tasks and their tags as they were at one
        // moment. An export writes nothing to the database.
        TtasksDB& db = *GetTasksDB();
        TDBOperation operation(db);
        TDBTransaction transaction(db);
        std::unique_ptr<TZQuery> query = db.NewQuery();
        bool read = transaction.Started() && RunStatement(db, *query, kTableExistsStatement);
        const bool hasTable =
            read && !query->Eof() && query->FieldByName(QStringLiteral("n")).AsInteger() > 0;
        query->Close();
        std::vector<TTaskRow> rows;
        std::vector<TIcsMember> members;
        read = read && TTaskRows(db).ReadAll(rows) && (!hasTable || ReadMembers(db, members));
        read = read && transaction.Commit();
        if (!read) {
            result.error = db.FailureMessage(what);
            return result;
        }
        QHash<QString, const TIcsMember*> memberOf;
        for (const TIcsMember& member : members)
            memberOf.insert(member.taskid, &member);
        for (const TTaskRow& row : rows) {
            if (!wanted.isEmpty() && !wanted.contains(row.taskid))
                continue;
            TIcalTask task;
            if (const TIcsMember* member = memberOf.value(row.taskid)) {
                task.uid = member->uid;
                task.kept = member->vtodo;
            }
            if (task.uid.isEmpty())
                task.uid = row.taskid;
            task.summary = row.summary;
            task.note = row.note;
            task.due = MappedForm(row.duedt);
            task.finished = MappedForm(row.finisheddt);
            task.created = MappedForm(row.createddt);
            task.tags = row.tagTitles;
            tasks.push_back(task);
        }
    }
    const QString now = NowText(true);
    std::vector<QByteArray> objects;
    objects.reserve(tasks.size());
    for (const TIcalTask& task : tasks)
        objects.push_back(TaskToIcs(task, now));
    const QByteArray text = JoinIcs(objects);

    QSaveFile file(aPath);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit()) {
        result.error = FailureText(what, file.errorString().toLower());
        return result;
    }
    result.ok = true;
    result.written = static_cast<int>(tasks.size());
    return result;
}

} // namespace

TIcsImportResult ImportIcs(const QString& aPath)
{
    try {
        return Import(aPath);
    } catch (const std::exception& error) {
        // The database cannot be opened.
        TIcsImportResult result;
        result.ok = false;
        result.error = ErrorMessage(error);
        return result;
    }
}

TIcsExportResult ExportIcs(const QString& aPath, const QStringList& aIds)
{
    try {
        return Export(aPath, aIds);
    } catch (const std::exception& error) {
        TIcsExportResult result;
        result.ok = false;
        result.error = ErrorMessage(error);
        return result;
    }
}
