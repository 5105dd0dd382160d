#include "sync/tasks_sync_local.h"

#include "ical/tasks_ics.h"
#include "util/kvd_utils.h"

#include <memory>
#include <set>

namespace {

const QString kTables[] = {
    QStringLiteral("CREATE TABLE IF NOT EXISTS sync_items( taskid VARCHAR(16), href TEXT, etag "
                   "TEXT, base TEXT, vtodo TEXT, PRIMARY KEY(taskid));"),
    QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS i_sync_items_href ON sync_items( href );"),
    QStringLiteral("CREATE TABLE IF NOT EXISTS sync_state( key TEXT, value TEXT, PRIMARY "
                   "KEY(key));")};

const QString kReadStateStatement = QStringLiteral("select value from sync_state where key=:key");
const QString kWriteStateStatement =
    QStringLiteral("insert or replace into sync_state (key, value) values (:key, :value)");
const QString kForgetItemsStatement = QStringLiteral("delete from sync_items");
const QString kForgetStateStatement = QStringLiteral("delete from sync_state");
const QString kItemsStatement =
    QStringLiteral("select taskid, href, etag, base, vtodo from sync_items");
const QString kWriteItemStatement =
    QStringLiteral("insert or replace into sync_items (taskid, href, etag, base, vtodo) values "
                   "(:taskid, :href, :etag, :base, :vtodo)");
const QString kOldObjectsStatement =
    QStringLiteral("select taskid, vtodo from sync_items where vtodo is not null and vtodo<>''");
const QString kDropOldObjectsStatement =
    QStringLiteral("update sync_items set vtodo=null where vtodo is not null");
const QString kDropItemStatement = QStringLiteral("delete from sync_items where taskid=:taskid");
// An item whose member another task took over (a re-created member) goes.
const QString kDropHrefStatement =
    QStringLiteral("delete from sync_items where href=:href and taskid<>:taskid");

const QString kTasksStatement =
    QStringLiteral("select taskid, summary, note, duedt, finisheddt, createddt from tasks");
const QString kTaskStatement = QStringLiteral(
    "select taskid, summary, note, duedt, finisheddt, createddt from tasks where taskid=:taskid");
const QString kTitlesStatement =
    QStringLiteral("select l.taskid, t.title from tags_tasks l join tags t on t.tagid=l.tagid");
const QString kTaskTitlesStatement = QStringLiteral(
    "select l.taskid, t.title from tags_tasks l join tags t on t.tagid=l.tagid where "
    "l.taskid=:taskid");
const QString kInsertTaskStatement = QStringLiteral(
    "insert into tasks (taskid, summary, note, createddt, duedt, finisheddt) values (:taskid, "
    ":summary, :note, coalesce(:createddt, datetime(\"now\")), :duedt, :finisheddt)");
const QString kUpdateTaskStatement =
    QStringLiteral("update tasks set summary=:summary, note=:note, duedt=:duedt, "
                   "finisheddt=:finisheddt where taskid=:taskid");
const QString kUnlinkStatement = QStringLiteral("delete from tags_tasks where taskid=:taskid");
const QString kLinkStatement =
    QStringLiteral("insert into tags_tasks (taskid, tagid) values (:taskid, :tagid)");
const QString kInsertTagStatement =
    QStringLiteral("insert into tags (tagid, title, color, createddt) values (:tagid, :title, "
                   ":color, datetime(\"now\"))");
const QString kDeleteTaskStatement = QStringLiteral("delete from tasks where taskid=:taskid");

TStoreResult Outcome(bool aOk)
{
    if (aOk)
        return TStoreResult();
    return TStoreResult{false, GetTasksDB()->LastFailureReason()};
}

bool Run(TZQuery& aQuery, const QString& aSQL)
{
    if (aQuery.SQL() != aSQL)
        aQuery.SetSQL(aSQL);
    return GetTasksDB()->Query(aSQL, &aQuery);
}

// Sets a parameter before or after the statement is put on the query:
// putting it there keeps the values set by name.
TZParam& Param(TZQuery& aQuery, const QString& aName)
{
    if (TZParam* param = aQuery.Params().FindParam(aName))
        return *param;
    return aQuery.Params().CreateParam(TZFieldType::ftString, aName, TZParamType::ptInput);
}

void SetText(TZQuery& aQuery, const QString& aName, const QString& aValue)
{
    if (aValue.isNull())
        Param(aQuery, aName).Clear();
    else
        Param(aQuery, aName).SetAsString(aValue);
}

// A stored date-time as the sync compares it; empty for NULL.
QString TimeText(const TZField& aField)
{
    if (aField.IsNull())
        return QString();
    const TDateTime value = aField.AsDateTime();
    // A value that is no date-time is kept as it is, so that it still
    // compares as itself.
    return value != 0 ? DateTimeToSqlText(value) : aField.AsString();
}

void ReadRow(const TZQuery& aQuery, TLocalTask& aTask)
{
    aTask.taskid = aQuery.FieldByName(QStringLiteral("taskid")).AsString();
    aTask.fields.summary = aQuery.FieldByName(QStringLiteral("summary")).AsString();
    aTask.fields.note = aQuery.FieldByName(QStringLiteral("note")).AsString();
    aTask.fields.due = TimeText(aQuery.FieldByName(QStringLiteral("duedt")));
    aTask.fields.finished = TimeText(aQuery.FieldByName(QStringLiteral("finisheddt")));
    aTask.created = TimeText(aQuery.FieldByName(QStringLiteral("createddt")));
}

bool MakeTables()
{
    for (const QString& statement : kTables) {
        if (!GetTasksDB()->Exec(statement))
            return false;
    }
    return true;
}

// The canonical fields of one stored task, empty text when there is none.
bool ReadCanonical(TZQuery& aQuery, const QString& aId, QString& aCanonical)
{
    aCanonical.clear();
    SetText(aQuery, QStringLiteral("taskid"), aId);
    if (!Run(aQuery, kTaskStatement))
        return false;
    if (aQuery.Eof())
        return true;
    TLocalTask task;
    ReadRow(aQuery, task);
    SetText(aQuery, QStringLiteral("taskid"), aId);
    if (!Run(aQuery, kTaskTitlesStatement))
        return false;
    for (; !aQuery.Eof(); aQuery.Next())
        task.fields.tags << aQuery.FieldByName(QStringLiteral("title")).AsString();
    task.fields.Normalize();
    aCanonical = task.fields.Canonical();
    return true;
}

// An older version kept the server's text of a member in sync_items only,
// where a change of address would forget it: it becomes the task's object
// (where the task has none yet), so that the task goes to any collection
// whole. Inside the caller's transaction.
bool AdoptOldObjects()
{
    std::vector<TIcsMember> members;
    if (!ReadMembers(members))
        return false;
    std::set<QString> kept;
    for (const TIcsMember& member : members)
        kept.insert(member.taskid);
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    if (!Run(*query, kOldObjectsStatement))
        return false;
    std::vector<TIcsMember> adopted;
    for (; !query->Eof(); query->Next()) {
        const QString taskid = query->FieldByName(QStringLiteral("taskid")).AsString();
        const QByteArray vtodo = query->FieldByName(QStringLiteral("vtodo")).AsString().toUtf8();
        TSyncTodo todo;
        QString error;
        if (!kept.count(taskid) && ParseVTodo(vtodo, todo, error) && !todo.uid.isEmpty())
            adopted.push_back({taskid, todo.uid, vtodo});
    }
    for (const TIcsMember& member : adopted) {
        if (!WriteMember(member))
            return false;
    }
    return Run(*query, kDropOldObjectsStatement);
}

} // namespace

TStoreResult TSyncLocal::Open(const QString& aUrl, QString& aToken)
{
    aToken.clear();
    {
        const TDBOperation operation;
        if (!MakeTables() || !MakeMemberTable())
            return Outcome(false);
    }
    TDBTransaction transaction;
    bool done = transaction.Started() && AdoptOldObjects();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        QString collection;
        if (done) {
            SetText(*query, QStringLiteral("key"), QStringLiteral("collection"));
            done = Run(*query, kReadStateStatement);
            if (done && !query->Eof())
                collection = query->FieldByName(QStringLiteral("value")).AsString();
        }
        if (done && collection == aUrl) {
            SetText(*query, QStringLiteral("key"), QStringLiteral("token"));
            done = Run(*query, kReadStateStatement);
            if (done && !query->Eof())
                aToken = query->FieldByName(QStringLiteral("value")).AsString();
        } else if (done) {
            done = Run(*query, kForgetItemsStatement) && Run(*query, kForgetStateStatement);
            SetText(*query, QStringLiteral("key"), QStringLiteral("collection"));
            SetText(*query, QStringLiteral("value"), aUrl);
            done = done && Run(*query, kWriteStateStatement);
        }
    }
    done = done && transaction.Commit();
    if (!done)
        transaction.Rollback();
    return Outcome(done);
}

TStoreResult TSyncLocal::SaveToken(const QString& aToken)
{
    return SaveValue(QStringLiteral("token"), aToken);
}

TStoreResult TSyncLocal::ReadValue(const QString& aKey, QString& aValue)
{
    aValue.clear();
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    SetText(*query, QStringLiteral("key"), aKey);
    if (!Run(*query, kReadStateStatement))
        return Outcome(false);
    if (!query->Eof())
        aValue = query->FieldByName(QStringLiteral("value")).AsString();
    return Outcome(true);
}

TStoreResult TSyncLocal::SaveValue(const QString& aKey, const QString& aValue)
{
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    SetText(*query, QStringLiteral("key"), aKey);
    SetText(*query, QStringLiteral("value"), aValue);
    return Outcome(Run(*query, kWriteStateStatement));
}

TStoreResult TSyncLocal::ReadTasks(std::map<QString, TLocalTask>& aTasks)
{
    aTasks.clear();
    // One read transaction: the tasks and their links as of one moment.
    TDBTransaction transaction;
    bool read = transaction.Started();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        read = read && Run(*query, kTasksStatement);
        for (; read && !query->Eof(); query->Next()) {
            TLocalTask task;
            ReadRow(*query, task);
            aTasks[task.taskid] = std::move(task);
        }
        read = read && Run(*query, kTitlesStatement);
        if (read) {
            const TZField taskid = query->FieldByName(QStringLiteral("taskid"));
            const TZField title = query->FieldByName(QStringLiteral("title"));
            for (; !query->Eof(); query->Next()) {
                const auto task = aTasks.find(taskid.AsString());
                if (task != aTasks.end())
                    task->second.fields.tags << title.AsString();
            }
        }
    }
    read = read && transaction.Commit();
    if (!read) {
        transaction.Rollback();
        aTasks.clear();
        return Outcome(false);
    }
    for (auto& [id, task] : aTasks)
        task.fields.Normalize();
    return Outcome(true);
}

TStoreResult TSyncLocal::ReadItems(std::vector<TSyncItem>& aItems)
{
    aItems.clear();
    const TDBOperation operation;
    std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
    if (!Run(*query, kItemsStatement))
        return Outcome(false);
    const TZField taskid = query->FieldByName(QStringLiteral("taskid"));
    const TZField href = query->FieldByName(QStringLiteral("href"));
    const TZField etag = query->FieldByName(QStringLiteral("etag"));
    const TZField base = query->FieldByName(QStringLiteral("base"));
    const TZField vtodo = query->FieldByName(QStringLiteral("vtodo"));
    for (; !query->Eof(); query->Next())
        aItems.push_back({taskid.AsString(), href.AsString(), etag.AsString(), base.AsString(),
                          vtodo.AsString().toUtf8()});
    return Outcome(true);
}

TStoreResult TSyncLocal::ReadMembers(std::vector<TIcsMember>& aMembers)
{
    const TDBOperation operation;
    return Outcome(::ReadMembers(aMembers));
}

TStoreResult TSyncBatch::Add(TSyncWrite aWrite)
{
    FWrites.push_back(std::move(aWrite));
    if (FWrites.size() >= static_cast<size_t>(kBatchSize))
        return Flush();
    return TStoreResult();
}

bool TSyncBatch::WriteTask(TZQuery& aQuery, const QString& aId, const TSyncFields& aFields,
                           const QString& aCreated, const std::optional<QString>& aCurrent)
{
    QString current = aCurrent.value_or(QString());
    bool stored = aCurrent || ReadCanonical(aQuery, aId, current);
    SetText(aQuery, QStringLiteral("taskid"), aId);
    SetText(aQuery, QStringLiteral("summary"), aFields.summary);
    SetText(aQuery, QStringLiteral("note"), aFields.note);
    SetText(aQuery, QStringLiteral("duedt"), aFields.due.isEmpty() ? QString() : aFields.due);
    SetText(aQuery, QStringLiteral("finisheddt"),
            aFields.finished.isEmpty() ? QString() : aFields.finished);
    if (stored && current.isEmpty()) {
        SetText(aQuery, QStringLiteral("createddt"), aCreated.isEmpty() ? QString() : aCreated);
        stored = Run(aQuery, kInsertTaskStatement);
    } else if (stored) {
        stored = Run(aQuery, kUpdateTaskStatement);
    }
    SetText(aQuery, QStringLiteral("taskid"), aId);
    stored = stored && Run(aQuery, kUnlinkStatement);
    for (const QString& title : aFields.tags) {
        if (!stored)
            break;
        auto tag = FTags->find(title);
        if (tag == FTags->end()) {
            // Inside the task's transaction: the tag is stored exactly when
            // the task that carries it is.
            const QString tagid = GenerateId();
            SetText(aQuery, QStringLiteral("tagid"), tagid);
            SetText(aQuery, QStringLiteral("title"), title);
            // Coloured as an import colours the tags it makes.
            Param(aQuery, QStringLiteral("color")).SetAsInteger(ImportTagColor(FTagCount));
            stored = Run(aQuery, kInsertTagStatement);
            tag = FTags->emplace(title, tagid).first;
            FNewTags << title;
            ++FTagCount;
        }
        SetText(aQuery, QStringLiteral("taskid"), aId);
        SetText(aQuery, QStringLiteral("tagid"), tag->second);
        stored = stored && Run(aQuery, kLinkStatement);
    }
    return stored;
}

TStoreResult TSyncBatch::Flush()
{
    if (FWrites.empty())
        return TStoreResult();
    if (!FTags) {
        std::vector<TStoredTag> tags;
        const TStoreResult read = TtasksStore::ListTags(tags);
        if (!read)
            return read;
        FTags.emplace();
        FTagCount = static_cast<int>(tags.size());
        // The first tag of a title in the store's order stands for it.
        for (const TStoredTag& tag : tags)
            FTags->emplace(tag.title, tag.tagid);
    }
    FNewTags.clear();
    QStringList written;
    int skipped = 0;
    TDBTransaction transaction;
    bool stored = transaction.Started();
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        for (const TSyncWrite& write : FWrites) {
            if (!stored)
                break;
            std::optional<QString> current;
            if (write.expected) {
                current.emplace();
                stored = ReadCanonical(*query, write.taskid, *current);
                if (stored && *current != *write.expected) {
                    ++skipped;
                    continue;
                }
            }
            // The task's row first, then the copy of a conflict as a new task.
            std::vector<std::pair<QString, const TSyncFields*>> rows;
            if (write.fields)
                rows.emplace_back(write.taskid, &*write.fields);
            if (write.conflictCopy)
                rows.emplace_back(write.conflictCopy->taskid, &write.conflictCopy->fields);
            for (const auto& [taskid, row] : rows) {
                if (!stored)
                    break;
                const bool own = taskid == write.taskid;
                // A conflict's copy is a new task.
                stored = WriteTask(*query, taskid, *row, own ? write.created : QString(),
                                   own ? current : std::optional<QString>(QString()));
                if (stored)
                    written << taskid;
            }
            if (stored && write.deleteTask) {
                SetText(*query, QStringLiteral("taskid"), write.taskid);
                stored = Run(*query, kUnlinkStatement) && Run(*query, kDeleteTaskStatement);
            }
            if (stored && write.item) {
                const TSyncItem& item = *write.item;
                SetText(*query, QStringLiteral("href"), item.href);
                SetText(*query, QStringLiteral("taskid"), item.taskid);
                stored = Run(*query, kDropHrefStatement);
                SetText(*query, QStringLiteral("taskid"), item.taskid);
                SetText(*query, QStringLiteral("href"), item.href);
                SetText(*query, QStringLiteral("etag"), item.etag);
                SetText(*query, QStringLiteral("base"), item.base);
                // The object itself is the task's member below.
                SetText(*query, QStringLiteral("vtodo"), QString());
                stored = stored && Run(*query, kWriteItemStatement);
            }
            if (stored && write.member)
                stored = WriteMember(*write.member);
            if (stored && write.dropMember)
                stored = DropMember(write.taskid);
            if (stored && write.dropItem) {
                SetText(*query, QStringLiteral("taskid"), write.taskid);
                stored = Run(*query, kDropItemStatement);
            }
            if (stored && write.deleteTask)
                written << write.taskid;
        }
    }
    stored = stored && transaction.Commit();
    if (!stored) {
        transaction.Rollback();
        // Tags made in the lost transaction are not stored.
        for (const QString& title : FNewTags)
            FTags->erase(title);
        FTagCount -= static_cast<int>(FNewTags.size());
        FWrites.clear();
        return Outcome(false);
    }
    FWrites.clear();
    FWritten << written;
    FSkipped += skipped;
    return TStoreResult();
}
