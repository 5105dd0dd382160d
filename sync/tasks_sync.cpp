#include "sync/tasks_sync.h"

#include "sync/tasks_sync_local.h"
#include "util/kvd_datetime.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QSet>
#include <map>
#include <set>

namespace {

// Hrefs per calendar-multiget: large enough that a first sync of thousands
// of tasks takes few requests, small enough for a modest reply each.
constexpr int kMultigetBatch = 200;

KVD_DECLARE_ERROR(ESyncStopped, EkvdError)

bool IsTaskId(const QString& aText)
{
    if (aText.size() != 16)
        return false;
    for (const QChar c : aText) {
        const char16_t u = c.unicode();
        if (!((u >= 'A' && u <= 'Y') || (u >= 'a' && u <= 'y')))
            return false;
    }
    return true;
}

struct TRemoteTodo
{
    QString href;
    QString etag;
    QByteArray data;
    TSyncTodo todo;
};

// The tags of a three-way merge: a tag is kept when it was there and neither
// side removed it, or when either side added it.
QStringList MergeTags(const QStringList* aBase, const QStringList& aLocal,
                      const QStringList& aRemote)
{
    QStringList all = aLocal + aRemote;
    if (aBase)
        all += *aBase;
    QStringList merged;
    for (const QString& tag : all) {
        const bool local = aLocal.contains(tag);
        const bool remote = aRemote.contains(tag);
        const bool keep = aBase && aBase->contains(tag) ? local && remote : local || remote;
        if (keep)
            merged << tag;
    }
    merged.sort();
    merged.removeDuplicates();
    return merged;
}

// The writes of one task, by kind.
TSyncWrite TaskWrite(const QString& aId, const QString& aExpected, const TSyncFields& aFields,
                     const QString& aCreated, const TSyncItem& aItem)
{
    TSyncWrite write;
    write.taskid = aId;
    write.expected = aExpected;
    write.fields = aFields;
    write.created = aCreated;
    write.item = aItem;
    return write;
}

TSyncWrite ItemWrite(const TSyncItem& aItem)
{
    TSyncWrite write;
    write.taskid = aItem.taskid;
    write.item = aItem;
    return write;
}

TSyncWrite ForgetWrite(const QString& aId)
{
    TSyncWrite write;
    write.taskid = aId;
    write.dropItem = true;
    return write;
}

TSyncWrite DeleteWrite(const QString& aId, const QString& aExpected)
{
    TSyncWrite write = ForgetWrite(aId);
    write.expected = aExpected;
    write.deleteTask = true;
    return write;
}

class TSyncRun
{
public:
    TSyncRun(const TSyncConfig& aConfig, const QUrl& aUrl, const std::atomic<bool>* aStop,
             TSyncResult& aResult)
        : FClient({aUrl, aConfig.user, aConfig.password, aConfig.timeoutMs, aConfig.maxReplyBytes}),
          FStop(aStop), FResult(aResult)
    {
    }

    void Run();
    // Stores what the server has confirmed so far; after a failure too, so
    // that the next run need not repeat it.
    void Save() { Check(FBatch.Flush()); }
    void Finish() { FResult.changedTaskIds = FBatch.Written(); }

private:
    static void Check(const TStoreResult& aResult)
    {
        if (!aResult)
            throw EkvdError(
                QStringLiteral("the tasks could not be stored: %1").arg(aResult.reason));
    }
    void CheckStop() const
    {
        if (FStop && FStop->load())
            throw ESyncStopped(QStringLiteral("the sync was stopped before it ended"));
    }
    void Add(TSyncWrite aWrite) { Check(FBatch.Add(std::move(aWrite))); }

    void ListRemote(const QString& aToken, const QString& aServerToken);
    void Fetch(const QStringList& aHrefs);
    void ApplyRemote(const TRemoteTodo& aRemote);
    void Merge(const std::optional<QString>& aBase, const TLocalTask& aTask,
               const TRemoteTodo& aRemote);
    void ApplyRemoved(const TSyncItem& aItem);
    void PushLocal(const TSyncItem& aItem);
    void Create(const TLocalTask& aTask);
    // Reads one member again after a refused precondition; false when it is gone.
    bool Refetch(const QString& aHref, TRemoteTodo& aRemote);

    TCalDavClient FClient;
    const std::atomic<bool>* FStop;
    TSyncResult& FResult;
    TSyncBatch FBatch;
    std::map<QString, TLocalTask> FTasks;
    std::map<QString, TSyncItem> FItems;
    std::map<QString, QString> FTaskOfHref;
    // What the server changed: href and entity tag; and what it removed.
    std::map<QString, QString> FChanged;
    QStringList FRemoved;
    QString FNewToken;
    std::vector<TRemoteTodo> FFetched;
    QStringList FItemErrors;
    // Something reported by the server is not yet applied: the sync token
    // stays, so the next run is told again.
    bool FIncomplete = false;
    std::set<QString> FHandled;
    std::vector<TLocalTask> FCopies;
};

void TSyncRun::ListRemote(const QString& aToken, const QString& aServerToken)
{
    std::map<QString, QString> listing;
    bool full = true;
    bool listed = false;
    if (!aServerToken.isEmpty()) {
        TCalDavChanges changes;
        if (!aToken.isEmpty() && FClient.SyncCollection(aToken, changes)) {
            full = false;
            listed = true;
        } else if (FClient.SyncCollection(QString(), changes)) {
            listed = true;
        }
        if (listed) {
            FNewToken = changes.token;
            for (const TCalDavItem& item : changes.changed)
                listing[item.href] = item.etag;
            if (!full) {
                for (const QString& href : changes.removed) {
                    if (FTaskOfHref.count(href) && !listing.count(href))
                        FRemoved << href;
                }
            }
        }
    }
    if (!listed) {
        for (const TCalDavItem& item : FClient.ListTodos())
            listing[item.href] = item.etag;
    }
    if (full) {
        for (const auto& [href, taskid] : FTaskOfHref) {
            if (!listing.count(href))
                FRemoved << href;
        }
    }
    for (const auto& [href, etag] : listing) {
        const auto known = FTaskOfHref.find(href);
        if (known == FTaskOfHref.end() || FItems[known->second].etag != etag || etag.isEmpty())
            FChanged[href] = etag;
    }
}

void TSyncRun::Fetch(const QStringList& aHrefs)
{
    for (qsizetype start = 0; start < aHrefs.size(); start += kMultigetBatch) {
        CheckStop();
        for (TCalDavItem& item : FClient.Multiget(aHrefs.mid(start, kMultigetBatch))) {
            TRemoteTodo remote{item.href, item.etag, item.data, {}};
            QString error;
            if (ParseVTodo(item.data, remote.todo, error)) {
                FFetched.push_back(std::move(remote));
            } else if (!error.isEmpty()) {
                FItemErrors << QStringLiteral("the server's item %1 is not a valid iCalendar "
                                              "object: %2")
                                   .arg(item.href, error);
                FIncomplete = true;
            }
        }
    }
}

void TSyncRun::ApplyRemote(const TRemoteTodo& aRemote)
{
    const TSyncFields& fields = aRemote.todo.fields;
    const auto known = FTaskOfHref.find(aRemote.href);
    if (known != FTaskOfHref.end()) {
        const TSyncItem& item = FItems[known->second];
        FHandled.insert(item.taskid);
        const auto task = FTasks.find(item.taskid);
        if (task != FTasks.end() && task->second.fields.Canonical() != item.base) {
            Merge(item.base, task->second, aRemote);
            return;
        }
        // Changed on the server only, or deleted here while it changed there:
        // the server's edit is kept.
        const QString current = task != FTasks.end() ? task->second.fields.Canonical() : QString();
        Add(TaskWrite(item.taskid, current, fields, aRemote.todo.created,
                      {item.taskid, aRemote.href, aRemote.etag, fields.Canonical(), aRemote.data}));
        if (current != fields.Canonical())
            ++FResult.downloaded;
        return;
    }
    // New on the server. A task of ours made there by another store carries
    // our id as its UID; when a local task has it and no member yet, both
    // sides made the same task (an interrupted upload, say).
    const QString uid = aRemote.todo.uid;
    if (IsTaskId(uid) && FTasks.count(uid) && !FItems.count(uid)) {
        FHandled.insert(uid);
        Merge(std::nullopt, FTasks[uid], aRemote);
        return;
    }
    const QString id =
        IsTaskId(uid) && !FTasks.count(uid) && !FItems.count(uid) ? uid : GenerateId();
    FHandled.insert(id);
    Add(TaskWrite(id, QString(), fields, aRemote.todo.created,
                  {id, aRemote.href, aRemote.etag, fields.Canonical(), aRemote.data}));
    ++FResult.downloaded;
}

void TSyncRun::Merge(const std::optional<QString>& aBase, const TLocalTask& aTask,
                     const TRemoteTodo& aRemote)
{
    const TSyncFields base = aBase ? TSyncFields::FromCanonical(*aBase) : TSyncFields();
    const TSyncFields& local = aTask.fields;
    const TSyncFields& remote = aRemote.todo.fields;
    TSyncFields merged = remote;
    bool conflict = false;
    // Per field: a value changed on one side only wins; changed on both
    // sides to different values, the server's stays and the conflict is noted.
    const auto field = [&](QString TSyncFields::*aField, bool aSameState) {
        const QString& l = local.*aField;
        const QString& r = remote.*aField;
        if (l == r)
            return;
        const bool localChanged = !aBase || l != base.*aField;
        const bool remoteChanged = !aBase || r != base.*aField;
        if (localChanged && !remoteChanged)
            merged.*aField = l;
        else if (localChanged && !(aSameState && l.isEmpty() == r.isEmpty()))
            conflict = true;
    };
    field(&TSyncFields::summary, false);
    field(&TSyncFields::note, false);
    field(&TSyncFields::due, false);
    // Finished on both sides at different moments is no conflict: the
    // server's moment stays.
    field(&TSyncFields::finished, true);
    merged.tags = MergeTags(aBase ? &base.tags : nullptr, local.tags, remote.tags);

    QString etag = aRemote.etag;
    QByteArray data = aRemote.data;
    if (merged != remote) {
        CheckStop();
        data = WriteVTodo(aRemote.data, aRemote.todo.uid, aTask.created, merged);
        const TCalDavWrite put = FClient.Put(aRemote.href, data, aRemote.etag);
        if (!put.Ok()) {
            // Changed on the server once more: the next run merges again.
            FIncomplete = true;
            return;
        }
        etag = put.etag;
        ++FResult.uploaded;
    }
    TSyncWrite write = ItemWrite({aTask.taskid, aRemote.href, etag, merged.Canonical(), data});
    write.expected = local.Canonical();
    if (merged != local) {
        write.fields = merged;
        ++FResult.downloaded;
    }
    if (conflict) {
        // The local values that lost, kept as a task of their own in the same
        // transaction as the merged one.
        TLocalTask copy{GenerateId(), QString(), local};
        copy.fields.summary = ConflictPrefix() + local.summary;
        write.conflictCopy = TSyncWrite::TCopy{copy.taskid, copy.fields};
        FCopies.push_back(copy);
        ++FResult.conflicts;
    }
    FTaskOfHref[aRemote.href] = aTask.taskid;
    Add(std::move(write));
}

void TSyncRun::ApplyRemoved(const TSyncItem& aItem)
{
    FHandled.insert(aItem.taskid);
    const auto task = FTasks.find(aItem.taskid);
    if (task == FTasks.end()) {
        Add(ForgetWrite(aItem.taskid));
        return;
    }
    const QString current = task->second.fields.Canonical();
    if (current == aItem.base) {
        Add(DeleteWrite(aItem.taskid, current));
        ++FResult.deletedLocal;
        return;
    }
    // Deleted there but edited here: the edit is not lost, the task goes
    // back to the server.
    CheckStop();
    const QByteArray data =
        WriteVTodo(aItem.vtodo, aItem.taskid, task->second.created, task->second.fields);
    const TCalDavWrite put = FClient.Put(aItem.href, data, QString());
    if (!put.Ok()) {
        FIncomplete = true;
        return;
    }
    ++FResult.uploaded;
    Add(ItemWrite({aItem.taskid, aItem.href, put.etag, current, data}));
}

bool TSyncRun::Refetch(const QString& aHref, TRemoteTodo& aRemote)
{
    for (TCalDavItem& item : FClient.Multiget({aHref})) {
        aRemote = TRemoteTodo{item.href, item.etag, item.data, {}};
        QString error;
        if (ParseVTodo(item.data, aRemote.todo, error))
            return true;
        if (!error.isEmpty())
            FItemErrors << QStringLiteral("the server's item %1 is not a valid iCalendar "
                                          "object: %2")
                               .arg(item.href, error);
        FIncomplete = true;
        return false;
    }
    return false;
}

void TSyncRun::PushLocal(const TSyncItem& aItem)
{
    const auto task = FTasks.find(aItem.taskid);
    if (task == FTasks.end()) {
        // Deleted here: delete that version there.
        CheckStop();
        const TCalDavWrite deleted = FClient.Delete(aItem.href, aItem.etag);
        if (deleted.Ok() || deleted.NotFound()) {
            Add(ForgetWrite(aItem.taskid));
            if (deleted.Ok())
                ++FResult.deletedRemote;
            return;
        }
        // Changed there meanwhile: the server's edit comes back here.
        TRemoteTodo remote;
        if (Refetch(aItem.href, remote))
            ApplyRemote(remote);
        return;
    }
    const QString current = task->second.fields.Canonical();
    if (current == aItem.base)
        return;
    CheckStop();
    const QByteArray data =
        WriteVTodo(aItem.vtodo, aItem.taskid, task->second.created, task->second.fields);
    const TCalDavWrite put = FClient.Put(aItem.href, data, aItem.etag);
    if (put.Ok()) {
        ++FResult.uploaded;
        Add(ItemWrite({aItem.taskid, aItem.href, put.etag, current, data}));
        return;
    }
    TRemoteTodo remote;
    if (Refetch(aItem.href, remote))
        Merge(aItem.base, task->second, remote);
}

void TSyncRun::Create(const TLocalTask& aTask)
{
    CheckStop();
    QString href = FClient.HrefFor(aTask.taskid + QStringLiteral(".ics"));
    if (FTaskOfHref.count(href))
        href = FClient.HrefFor(GenerateId() + QStringLiteral(".ics"));
    const QByteArray data = WriteVTodo(QByteArray(), aTask.taskid, aTask.created, aTask.fields);
    const TCalDavWrite put = FClient.Put(href, data, QString());
    if (put.Ok()) {
        ++FResult.uploaded;
        FTaskOfHref[href] = aTask.taskid;
        Add(ItemWrite({aTask.taskid, href, put.etag, aTask.fields.Canonical(), data}));
        return;
    }
    // A member of that name exists: the same task made on both sides.
    TRemoteTodo remote;
    if (Refetch(href, remote))
        Merge(std::nullopt, aTask, remote);
}

void TSyncRun::Run()
{
    const TCalDavCollection collection = FClient.Probe();
    const QString url = FClient.Url().toString(QUrl::FullyEncoded);
    QString token;
    Check(TSyncLocal::Open(url, token));
    std::vector<TSyncItem> items;
    Check(TSyncLocal::ReadItems(items));
    for (TSyncItem& item : items) {
        FTaskOfHref[item.href] = item.taskid;
        FItems[item.taskid] = std::move(item);
    }
    CheckStop();
    ListRemote(token, collection.syncToken);
    QStringList hrefs;
    for (const auto& [href, etag] : FChanged)
        hrefs << href;
    Fetch(hrefs);
    // The local tasks are read after the server's, so that an edit made
    // while the server answered is seen now.
    Check(TSyncLocal::ReadTasks(FTasks));

    for (const TRemoteTodo& remote : FFetched) {
        CheckStop();
        ApplyRemote(remote);
    }
    for (const QString& href : FRemoved) {
        const auto known = FTaskOfHref.find(href);
        if (known != FTaskOfHref.end() && !FHandled.count(known->second))
            ApplyRemoved(FItems[known->second]);
    }
    for (const auto& [taskid, item] : FItems) {
        if (!FHandled.count(taskid))
            PushLocal(item);
    }
    for (const auto& [taskid, task] : FTasks) {
        if (!FItems.count(taskid) && !FHandled.count(taskid))
            Create(task);
    }
    Save();
    // The copies of conflicts go up once they are stored here.
    const QStringList written = FBatch.Written();
    for (const TLocalTask& copy : std::vector<TLocalTask>(std::move(FCopies))) {
        if (written.contains(copy.taskid))
            Create(copy);
    }
    Save();
    if (FBatch.Skipped() > 0)
        FIncomplete = true;
    if (!FIncomplete && !FNewToken.isEmpty())
        Check(TSyncLocal::SaveToken(FNewToken));
    if (!FItemErrors.isEmpty()) {
        QString error = FItemErrors.first();
        if (FItemErrors.size() > 1)
            error += QStringLiteral(" (and %1 more)").arg(FItemErrors.size() - 1);
        throw ECalDavError(error);
    }
}

QUrl CollectionUrl(const QString& aText)
{
    QUrl url = QUrl::fromUserInput(aText.trimmed());
    if (!url.isValid() || url.host().isEmpty() ||
        (url.scheme() != QLatin1String("http") && url.scheme() != QLatin1String("https")))
        throw ECalDavError(
            QStringLiteral("the address \"%1\" is not an http or https URL").arg(aText));
    url = url.adjusted(QUrl::NormalizePathSegments | QUrl::RemoveQuery | QUrl::RemoveFragment |
                       QUrl::RemoveUserInfo);
    if (!url.path().endsWith(QLatin1Char('/')))
        url.setPath(url.path() + QLatin1Char('/'));
    return url;
}

} // namespace

QString ConflictPrefix()
{
    return QStringLiteral("Conflict: ");
}

TSyncResult SyncOnce(const TSyncConfig& aConfig, const std::atomic<bool>* aStop)
{
    TSyncResult result;
    if (aConfig.url.trimmed().isEmpty()) {
        result.error = QStringLiteral("no collection is configured for the sync");
        result.finishedAt = NowDateTime();
        return result;
    }
    try {
        TSyncRun run(aConfig, CollectionUrl(aConfig.url), aStop, result);
        try {
            run.Run();
        } catch (const std::exception&) {
            // What the server confirmed before the failure is kept.
            try {
                run.Save();
            } catch (const std::exception& aError) {
                if (TtasksLog* log = GetTasksLog())
                    log->LogException(aError);
            }
            run.Finish();
            throw;
        }
        run.Finish();
        result.ok = true;
    } catch (const std::exception& aError) {
        result.ok = false;
        result.error = ErrorMessage(aError);
    }
    result.finishedAt = NowDateTime();
    return result;
}

void TSyncWorker::Sync(const TSyncConfig& aConfig)
{
    const TSyncResult result = SyncOnce(aConfig, &FStop);
    Q_EMIT Finished(result);
}
