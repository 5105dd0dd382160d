#include "sync/tasks_sync_local.h"

#include "ical/tasks_ics.h"
#include "store/tasks_statement.h"
#include "util/kvd_colors.h"
#include "util/kvd_utils.h"

#include <initializer_list>
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

// A value bound to a parameter of the sync's statements: a null text binds
// NULL.
struct TBound
{
    QString name;
    QString value;
};

// Runs a statement on one of the sync's own tables with its values.
bool Run(TtasksDB& aDB, TZQuery& aQuery, const QString& aSQL,
         std::initializer_list<TBound> aValues = {})
{
    UseStatement(aQuery, aSQL);
    for (const TBound& value : aValues)
        BindTextOrNull(aQuery, value.name, value.value);
    return RunStatement(aDB, aQuery);
}

void ReadRow(const TTaskRow& aRow, TLocalTask& aTask)
{
    aTask.taskid = aRow.taskid;
    aTask.fields.summary = aRow.summary;
    aTask.fields.note = aRow.note;
    aTask.fields.due = aRow.duedt;
    aTask.fields.finished = aRow.finisheddt;
    aTask.fields.tags = aRow.tagTitles;
    aTask.fields.Normalize();
    aTask.created = aRow.createddt;
}

bool MakeTables(TtasksDB& aDB)
{
    for (const QString& statement : kTables) {
        if (!aDB.Exec(statement))
            return false;
    }
    return true;
}

// The canonical fields of one stored task, empty text when there is none.
bool ReadCanonical(TTaskRows& aRows, const QString& aId, QString& aCanonical)
{
    aCanonical.clear();
    TTaskRow row;
    bool found = false;
    if (!aRows.Read(aId, row, found))
        return false;
    if (found) {
        TLocalTask task;
        ReadRow(row, task);
        aCanonical = task.fields.Canonical();
    }
    return true;
}

// An older version kept the server's text of a member in sync_items only,
// where a change of address would forget it: it becomes the task's object
// (where the task has none yet), so that the task goes to any collection
// whole. Inside the caller's transaction.
bool AdoptOldObjects(TtasksDB& aDB)
{
    std::vector<TIcsMember> members;
    if (!ReadMembers(aDB, members))
        return false;
    std::set<QString> kept;
    for (const TIcsMember& member : members)
        kept.insert(member.taskid);
    std::unique_ptr<TZQuery> query = aDB.NewQuery();
    if (!Run(aDB, *query, kOldObjectsStatement))
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
        if (!WriteMember(aDB, member))
            return false;
    }
    return Run(aDB, *query, kDropOldObjectsStatement);
}

} // namespace

TStoreResult TSyncLocal::Open(const QString& aUrl, QString& aToken)
{
    aToken.clear();
    {
        const TDBOperation operation(FDB);
        if (!MakeTables(FDB) || !MakeMemberTable(FDB))
            return StatementOutcome(FDB, false);
    }
    TDBTransaction transaction(FDB);
    bool done = transaction.Started() && AdoptOldObjects(FDB);
    {
        std::unique_ptr<TZQuery> query = FDB.NewQuery();
        const QString key = QStringLiteral("key");
        QString collection;
        if (done) {
            done = Run(FDB, *query, kReadStateStatement, {{key, QStringLiteral("collection")}});
            if (done && !query->Eof())
                collection = query->FieldByName(QStringLiteral("value")).AsString();
        }
        if (done && collection == aUrl) {
            done = Run(FDB, *query, kReadStateStatement, {{key, QStringLiteral("token")}});
            if (done && !query->Eof())
                aToken = query->FieldByName(QStringLiteral("value")).AsString();
        } else if (done) {
            done = Run(FDB, *query, kForgetItemsStatement) &&
                   Run(FDB, *query, kForgetStateStatement) &&
                   Run(FDB, *query, kWriteStateStatement,
                       {{key, QStringLiteral("collection")}, {QStringLiteral("value"), aUrl}});
        }
    }
    return transaction.Finish(done);
}

TStoreResult TSyncLocal::SaveToken(const QString& aToken)
{
    return SaveValue(QStringLiteral("token"), aToken);
}

TStoreResult TSyncLocal::ReadValue(const QString& aKey, QString& aValue)
{
    aValue.clear();
    const TDBOperation operation(FDB);
    std::unique_ptr<TZQuery> query = FDB.NewQuery();
    if (!Run(FDB, *query, kReadStateStatement, {{QStringLiteral("key"), aKey}}))
        return StatementOutcome(FDB, false);
    if (!query->Eof())
        aValue = query->FieldByName(QStringLiteral("value")).AsString();
    return StatementOutcome(FDB, true);
}

TStoreResult TSyncLocal::SaveValue(const QString& aKey, const QString& aValue)
{
    const TDBOperation operation(FDB);
    std::unique_ptr<TZQuery> query = FDB.NewQuery();
    return StatementOutcome(
        FDB, Run(FDB, *query, kWriteStateStatement,
                 {{QStringLiteral("key"), aKey}, {QStringLiteral("value"), aValue}}));
}

TStoreResult TSyncLocal::ReadTasks(std::map<QString, TLocalTask>& aTasks)
{
    aTasks.clear();
    // One read transaction: the tasks and their links as of one moment.
    TDBTransaction transaction(FDB);
    std::vector<TTaskRow> rows;
    bool read = transaction.Started() && TTaskRows(FDB).ReadAll(rows);
    const TStoreResult result = transaction.Finish(read);
    if (!result)
        return result;
    for (const TTaskRow& row : rows) {
        TLocalTask task;
        ReadRow(row, task);
        aTasks[task.taskid] = std::move(task);
    }
    return result;
}

TStoreResult TSyncLocal::ReadItems(std::vector<TSyncItem>& aItems)
{
    aItems.clear();
    const TDBOperation operation(FDB);
    std::unique_ptr<TZQuery> query = FDB.NewQuery();
    if (!Run(FDB, *query, kItemsStatement))
        return StatementOutcome(FDB, false);
    const TZField taskid = query->FieldByName(QStringLiteral("taskid"));
    const TZField href = query->FieldByName(QStringLiteral("href"));
    const TZField etag = query->FieldByName(QStringLiteral("etag"));
    const TZField base = query->FieldByName(QStringLiteral("base"));
    const TZField vtodo = query->FieldByName(QStringLiteral("vtodo"));
    for (; !query->Eof(); query->Next())
        aItems.push_back({taskid.AsString(), href.AsString(), etag.AsString(), base.AsString(),
                          vtodo.AsString().toUtf8()});
    return StatementOutcome(FDB, true);
}

TStoreResult TSyncLocal::ReadMembers(std::vector<TIcsMember>& aMembers)
{
    const TDBOperation operation(FDB);
    return StatementOutcome(FDB, ::ReadMembers(FDB, aMembers));
}

TStoreResult TSyncBatch::Add(TSyncWrite aWrite)
{
    FWrites.push_back(std::move(aWrite));
    if (FWrites.size() >= static_cast<size_t>(kBatchSize))
        return Flush();
    return TStoreResult();
}

bool TSyncBatch::TagsOf(TTaskRows& aRows, const QString& aTitle, QStringList& aIds)
{
    aIds = TagsTitled(*FTags, aTitle, true);
    if (!aIds.isEmpty())
        return true;
    // Inside the task's transaction: the tag is stored exactly when the task
    // that carries it is. Coloured as an import colours the tags it makes.
    const TStoredTag tag{GenerateId(), aTitle, ImportTagColor(static_cast<int>(FTags->size()))};
    if (!aRows.InsertTag(tag))
        return false;
    FTags->push_back(tag);
    aIds << tag.tagid;
    return true;
}

bool TSyncBatch::WriteTask(TTaskRows& aRows, const QString& aId, const TSyncFields& aFields,
                           const QString& aCreated, const std::optional<QString>& aCurrent)
{
    QString current = aCurrent.value_or(QString());
    bool stored = aCurrent || ReadCanonical(aRows, aId, current);
    TTaskRow row;
    row.taskid = aId;
    row.summary = aFields.summary;
    row.note = aFields.note;
    row.duedt = aFields.due.isEmpty() ? QString() : aFields.due;
    row.finisheddt = aFields.finished.isEmpty() ? QString() : aFields.finished;
    if (stored && current.isEmpty()) {
        row.createddt = aCreated.isEmpty() ? QString() : aCreated;
        stored = aRows.Insert(row);
    } else if (stored) {
        stored = aRows.Update(row);
    }
    stored = stored && aRows.Unlink(aId);
    for (const QString& title : aFields.tags) {
        QStringList tagIds;
        stored = stored && TagsOf(aRows, title, tagIds);
        for (const QString& tagId : tagIds)
            stored = stored && aRows.Link(aId, tagId);
    }
    return stored;
}

TStoreResult TSyncBatch::Flush()
{
    if (FWrites.empty())
        return TStoreResult();
    QStringList written;
    int skipped = 0;
    TDBTransaction transaction(FDB);
    bool stored = transaction.Started();
    {
        TTaskRows rows(FDB);
        if (stored && !FTags)
            stored = rows.ReadTags(FTags.emplace());
        FTagsStored = FTags ? FTags->size() : 0;
        std::unique_ptr<TZQuery> query = FDB.NewQuery();
        for (const TSyncWrite& write : FWrites) {
            if (!stored)
                break;
            std::optional<QString> current;
            if (write.expected) {
                current.emplace();
                stored = ReadCanonical(rows, write.taskid, *current);
                if (stored && *current != *write.expected) {
                    ++skipped;
                    continue;
                }
            }
            // The task's row first, then the copy of a conflict as a new task.
            std::vector<std::pair<QString, const TSyncFields*>> taskRows;
            if (write.fields)
                taskRows.emplace_back(write.taskid, &*write.fields);
            if (write.conflictCopy)
                taskRows.emplace_back(write.conflictCopy->taskid, &write.conflictCopy->fields);
            for (const auto& [taskid, fields] : taskRows) {
                if (!stored)
                    break;
                const bool own = taskid == write.taskid;
                // A conflict's copy is a new task.
                stored = WriteTask(rows, taskid, *fields, own ? write.created : QString(),
                                   own ? current : std::optional<QString>(QString()));
                if (stored)
                    written << taskid;
            }
            if (stored && write.deleteTask)
                stored = rows.Delete(write.taskid);
            if (stored && write.item) {
                const TSyncItem& item = *write.item;
                const QString taskid = QStringLiteral("taskid");
                const QString href = QStringLiteral("href");
                stored = Run(FDB, *query, kDropHrefStatement,
                             {{href, item.href}, {taskid, item.taskid}}) &&
                         // The object itself is the task's member below.
                         Run(FDB, *query, kWriteItemStatement,
                             {{taskid, item.taskid},
                              {href, item.href},
                              {QStringLiteral("etag"), item.etag},
                              {QStringLiteral("base"), item.base},
                              {QStringLiteral("vtodo"), QString()}});
            }
            if (stored && write.member)
                stored = WriteMember(FDB, *write.member);
            if (stored && write.dropMember)
                stored = DropMember(FDB, write.taskid);
            if (stored && write.dropItem)
                stored = Run(FDB, *query, kDropItemStatement,
                             {{QStringLiteral("taskid"), write.taskid}});
            if (stored && write.deleteTask)
                written << write.taskid;
        }
    }
    const TStoreResult result = transaction.Finish(stored);
    FWrites.clear();
    if (!result) {
        // Tags made in the lost transaction are not stored; nor were any
        // when the tags could not be read.
        if (FTags)
            FTags->resize(FTagsStored);
        return result;
    }
    FWritten << written;
    FSkipped += skipped;
    return result;
}
