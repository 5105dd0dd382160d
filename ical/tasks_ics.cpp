#include "ical/tasks_ics.h"

#include "ical/tasks_ical.h"
#include "store/tasks_db.h"
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
const QString kPruneStatement =
    QStringLiteral("delete from ical_tasks where not exists (select 1 from tasks ts where "
                   "ts.taskid=ical_tasks.taskid)");
const QString kKnownStatement =
    QStringLiteral("select taskid as id from tasks union select uid as id from ical_tasks");
const QString kTagsStatement = QStringLiteral("select tagid, title from tags");
const QString kInsertTaskStatement = QStringLiteral(
    "insert into tasks (taskid, summary, note, createddt, duedt, finisheddt) values (:taskid, "
    ":summary, :note, coalesce(:createddt, datetime(\"now\")), :duedt, :finisheddt)");
const QString kInsertTagStatement =
    QStringLiteral("insert into tags (tagid, title, color, createddt) values (:tagid, :title, "
                   ":color, datetime(\"now\"))");
const QString kLinkStatement =
    QStringLiteral("insert into tags_tasks (taskid, tagid) values (:taskid, :tagid)");
const QString kInsertKeptStatement =
    QStringLiteral("insert into ical_tasks (taskid, uid, vtodo) values (:taskid, :uid, :vtodo)");
const QString kMembersStatement = QStringLiteral("select taskid, uid, vtodo from ical_tasks");
// A UID names one task: the row of another task with it gives way.
const QString kWriteMemberStatement = QStringLiteral(
    "insert or replace into ical_tasks (taskid, uid, vtodo) values (:taskid, :uid, :vtodo)");
const QString kDropMemberStatement = QStringLiteral("delete from ical_tasks where taskid=:taskid");
const QString kExportStatement = QStringLiteral(
    "select ts.taskid, ts.summary, ts.note, ts.duedt, ts.finisheddt, ts.createddt, it.uid, "
    "it.vtodo from tasks ts left join ical_tasks it on it.taskid=ts.taskid order by "
    "ts.createddt, ts.taskid");
const QString kExportTagsStatement =
    QStringLiteral("select tt.taskid, tg.title from tags_tasks tt join tags tg on "
                   "tg.tagid=tt.tagid order by tg.title");
// The same before the first import made the table.
const QString kExportPlainStatement = QStringLiteral(
    "select ts.taskid, ts.summary, ts.note, ts.duedt, ts.finisheddt, ts.createddt, null as uid, "
    "null as vtodo from tasks ts order by ts.createddt, ts.taskid");
// The existence test of the table for an export, which writes nothing.
const QString kTableExistsStatement = QStringLiteral(
    "select count(*) as n from sqlite_master where type='table' and name='ical_tasks'");

constexpr int32_t kWhite = 0xFFFFFF;
constexpr int32_t kCream = 0xF0FBFF;

QString NowText(bool aUtc)
{
    const QDateTime now = NowDateTime();
    return (aUtc ? now.toUTC() : now.toLocalTime()).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

bool Run(TZQuery& aQuery, const QString& aSQL)
{
    return GetTasksDB()->Query(aSQL, &aQuery);
}

void Bind(TZQuery& aQuery, const QString& aSQL, const QString& aName, const QString& aValue)
{
    if (aQuery.SQL() != aSQL)
        aQuery.SetSQL(aSQL);
    aQuery.ParamByName(aName).SetAsString(aValue);
}

// A local date-time text of the mapping as the store binds it; empty binds NULL.
void BindDateTime(TZQuery& aQuery, const QString& aName, const QString& aText)
{
    TZParam& param = aQuery.ParamByName(aName);
    const TDateTime value = SqlTextToDateTime(aText);
    if (aText.isEmpty() || value == 0)
        param.Clear();
    else
        param.SetAsDateTime(value);
}

// A date-time column in the mapping's text form; empty for NULL.
QString DateTimeText(const TZField& aField)
{
    const TDateTime value = aField.AsDateTime();
    return value == 0 ? QString() : DateTimeToSqlText(value);
}

QString Failure(const QString& aWhat)
{
    const QString reason = GetTasksDB()->LastFailureReason();
    return FailureText(aWhat, reason);
}

struct TKnownTag
{
    QString tagid;
    QString title;
};

// The tags of the titles: the tags of exactly that title, or when there is
// none, those whose title differs only in letter case (as the command line
// finds them); a title that matches none makes a new tag. False when the
// engine refused.
bool TagsOf(const QStringList& aTitles, std::vector<TKnownTag>& aTags, QStringList& aIds,
            QString& aReason)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    for (const QString& title : aTitles) {
        QStringList found;
        for (const TKnownTag& tag : aTags) {
            if (tag.title == title)
                found << tag.tagid;
        }
        if (found.isEmpty()) {
            for (const TKnownTag& tag : aTags) {
                if (tag.title.compare(title, Qt::CaseInsensitive) == 0)
                    found << tag.tagid;
            }
        }
        if (found.isEmpty()) {
            const QString id = GenerateId();
            Bind(*query, kInsertTagStatement, QStringLiteral("tagid"), id);
            query->ParamByName(QStringLiteral("title")).SetAsString(title);
            query->ParamByName(QStringLiteral("color"))
                .SetAsInteger(ImportTagColor(static_cast<int>(aTags.size())));
            if (!Run(*query, kInsertTagStatement)) {
                aReason = db->LastFailureReason();
                return false;
            }
            aTags.push_back({id, title});
            found << id;
        }
        for (const QString& id : found) {
            if (!aIds.contains(id))
                aIds << id;
        }
    }
    return true;
}

// Stores one task, its tag links and its kept object. False with the reason
// when the engine refused a statement.
bool StoreTask(const QString& aId, const TIcalTask& aTask, std::vector<TKnownTag>& aTags,
               QString& aReason)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    Bind(*query, kInsertTaskStatement, QStringLiteral("taskid"), aId);
    query->ParamByName(QStringLiteral("summary")).SetAsString(aTask.summary);
    query->ParamByName(QStringLiteral("note")).SetAsString(aTask.note);
    if (aTask.created.isEmpty())
        query->ParamByName(QStringLiteral("createddt")).Clear();
    else
        query->ParamByName(QStringLiteral("createddt")).SetAsString(aTask.created);
    BindDateTime(*query, QStringLiteral("duedt"), aTask.due);
    BindDateTime(*query, QStringLiteral("finisheddt"), aTask.finished);
    if (!Run(*query, kInsertTaskStatement)) {
        aReason = db->LastFailureReason();
        return false;
    }
    QStringList tagIds;
    if (!TagsOf(aTask.tags, aTags, tagIds, aReason))
        return false;
    for (const QString& tagId : tagIds) {
        Bind(*query, kLinkStatement, QStringLiteral("taskid"), aId);
        query->ParamByName(QStringLiteral("tagid")).SetAsString(tagId);
        if (!Run(*query, kLinkStatement)) {
            aReason = db->LastFailureReason();
            return false;
        }
    }
    Bind(*query, kInsertKeptStatement, QStringLiteral("taskid"), aId);
    query->ParamByName(QStringLiteral("uid")).SetAsString(aTask.uid);
    query->ParamByName(QStringLiteral("vtodo")).SetAsString(QString::fromUtf8(aTask.kept));
    if (!Run(*query, kInsertKeptStatement)) {
        aReason = db->LastFailureReason();
        return false;
    }
    return true;
}

QString CannotRead(const QString& aPath, const QString& aReason)
{
    return QStringLiteral("The file %1 could not be imported: %2.").arg(aPath, aReason);
}

} // namespace

bool MakeMemberTable()
{
    return GetTasksDB()->Exec(kTable);
}

bool ReadMembers(std::vector<TIcsMember>& aMembers)
{
    aMembers.clear();
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    if (!Run(*query, kMembersStatement))
        return false;
    const TZField taskid = query->FieldByName(QStringLiteral("taskid"));
    const TZField uid = query->FieldByName(QStringLiteral("uid"));
    const TZField vtodo = query->FieldByName(QStringLiteral("vtodo"));
    for (; !query->Eof(); query->Next())
        aMembers.push_back({taskid.AsString(), uid.AsString(), vtodo.AsString().toUtf8()});
    return true;
}

bool WriteMember(const TIcsMember& aMember)
{
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    Bind(*query, kWriteMemberStatement, QStringLiteral("taskid"), aMember.taskid);
    query->ParamByName(QStringLiteral("uid")).SetAsString(aMember.uid);
    query->ParamByName(QStringLiteral("vtodo")).SetAsString(QString::fromUtf8(aMember.vtodo));
    return Run(*query, kWriteMemberStatement);
}

bool DropMember(const QString& aTaskId)
{
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    Bind(*query, kDropMemberStatement, QStringLiteral("taskid"), aTaskId);
    return Run(*query, kDropMemberStatement);
}

bool IcsSupported()
{
    return true;
}

int32_t ImportTagColor(int aTagCount)
{
    std::vector<int32_t> colors;
    for (const TNamedColor& color : kTagColors) {
        if (color.Value != kWhite && color.Value != kCream)
            colors.push_back(color.Value);
    }
    const int count = static_cast<int>(colors.size());
    return colors[((aTagCount % count) + count) % count];
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
    TDBOperation operation;
    TtasksDB* db = GetTasksDB();
    TDBTransaction transaction;
    if (!transaction.Started()) {
        result.error = Failure(failed);
        return result;
    }
    std::unique_ptr<TZQuery> query = db->NewQuery();
    QSet<QString> known;
    std::vector<TKnownTag> tags;
    bool ready = db->Exec(kTable) && db->Exec(kPruneStatement) && Run(*query, kKnownStatement);
    for (; ready && !query->Eof(); query->Next())
        known.insert(query->FieldByName(QStringLiteral("id")).AsString());
    ready = ready && Run(*query, kTagsStatement);
    for (; ready && !query->Eof(); query->Next())
        tags.push_back({query->FieldByName(QStringLiteral("tagid")).AsString(),
                        query->FieldByName(QStringLiteral("title")).AsString()});
    query->Close();
    if (!ready) {
        result.error = Failure(failed);
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
        const std::vector<TKnownTag> tagsBefore = tags;
        QString reason;
        bool stored = db->Exec(QStringLiteral("SAVEPOINT ics_task"));
        if (stored) {
            stored = StoreTask(id, task, tags, reason);
            if (!stored) {
                if (transaction.Lost())
                    break;
                db->Exec(QStringLiteral("ROLLBACK TO ics_task"));
            }
            db->Exec(QStringLiteral("RELEASE ics_task"));
        } else {
            reason = db->LastFailureReason();
        }
        if (transaction.Lost())
            break;
        if (!stored) {
            tags = tagsBefore;
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
        result.error = Failure(failed);
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
    QStringList ids;
    {
        // One read transaction: the tasks and their tags as they were at one
        // moment. An export writes nothing to the database.
        TDBOperation operation;
        TtasksDB* db = GetTasksDB();
        TDBTransaction transaction;
        std::unique_ptr<TZQuery> query = db->NewQuery();
        bool read = transaction.Started() && Run(*query, kTableExistsStatement);
        const bool hasTable =
            read && !query->Eof() && query->FieldByName(QStringLiteral("n")).AsInteger() > 0;
        read = read && Run(*query, hasTable ? kExportStatement : kExportPlainStatement);
        QHash<QString, qsizetype> index;
        for (; read && !query->Eof(); query->Next()) {
            const QString id = query->FieldByName(QStringLiteral("taskid")).AsString();
            if (!wanted.isEmpty() && !wanted.contains(id))
                continue;
            TIcalTask task;
            task.uid = query->FieldByName(QStringLiteral("uid")).AsString();
            if (task.uid.isEmpty())
                task.uid = id;
            task.summary = query->FieldByName(QStringLiteral("summary")).AsString();
            task.note = query->FieldByName(QStringLiteral("note")).AsString();
            task.due = DateTimeText(query->FieldByName(QStringLiteral("duedt")));
            task.finished = DateTimeText(query->FieldByName(QStringLiteral("finisheddt")));
            task.created = DateTimeText(query->FieldByName(QStringLiteral("createddt")));
            task.kept = query->FieldByName(QStringLiteral("vtodo")).AsString().toUtf8();
            index.insert(id, static_cast<qsizetype>(tasks.size()));
            tasks.push_back(task);
        }
        read = read && Run(*query, kExportTagsStatement);
        for (; read && !query->Eof(); query->Next()) {
            const auto at =
                index.constFind(query->FieldByName(QStringLiteral("taskid")).AsString());
            if (at != index.constEnd())
                tasks[*at].tags << query->FieldByName(QStringLiteral("title")).AsString();
        }
        query->Close();
        read = read && transaction.Commit();
        if (!read) {
            result.error = Failure(what);
            return result;
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
