#include "sync/tasks_sync.h"

#include "sync/tasks_sync_local.h"
#include "util/kvd_datetime.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QSet>
#include <map>
#include <set>

namespace {

// Hrefs per calendar-multiget: large enough that a first sync of thousands
// of tasks takes few requests, small enough for a modest reply each.
constexpr int kMultigetBatch = 200;

KVD_DECLARE_ERROR(ESyncStopped, EkvdError)

// A text of the sync for the user, through the translations.
QString Tr(const char* aText)
{
    return QCoreApplication::translate("TSync", aText);
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
                     const QString& aCreated, const TSyncItem& aItem, const TIcsMember& aMember)
{
    TSyncWrite write;
    write.taskid = aId;
    write.expected = aExpected;
    write.fields = aFields;
    write.created = aCreated;
    write.item = aItem;
    write.member = aMember;
    return write;
}

TSyncWrite ItemWrite(const TSyncItem& aItem, const TIcsMember& aMember)
{
    TSyncWrite write;
    write.taskid = aItem.taskid;
    write.item = aItem;
    write.member = aMember;
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
    write.dropMember = true;
    return write;
}

// A name for a member of the server that could not be read: its summary
// where one can be found in it, else its file name.
QString LabelOf(const QString& aHref, const QByteArray& aData)
{
    // The text may not even be whole: the first SUMMARY line is looked for.
    static const QRegularExpression kSummary(QStringLiteral("^SUMMARY(;[^:\\r\\n]*)?:([^\\r\\n]*)"),
                                             QRegularExpression::MultilineOption |
                                                 QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = kSummary.match(QString::fromUtf8(aData));
    const QString summary = match.hasMatch() ? match.captured(2).trimmed() : QString();
    return summary.isEmpty() ? aHref.section(QLatin1Char('/'), -1) : summary;
}

class TSyncRun
{
public:
    TSyncRun(TtasksDB& aStore, const TCalDavSettings& aClient, const std::atomic<bool>* aStop,
             TSyncResult& aResult)
        : FClient(aClient), FStop(aStop), FResult(aResult), FLocal(aStore), FBatch(aStore)
    {
    }

    void Run();
    // Stores what the server has confirmed so far; after a failure too, so
    // that the next run need not repeat it.
    void Save() { Check(FBatch.Flush()); }
    void Finish()
    {
        FResult.changedTaskIds = FBatch.Written();
        FResult.itemErrors = FItemErrors;
    }

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
    // False when the server did not take it back.
    bool Restore(const TSyncItem& aItem);
    void PushLocal(const TSyncItem& aItem);
    void Create(const TLocalTask& aTask);
    // Reads one member again after a refused precondition; false when it is gone.
    bool Refetch(const QString& aHref, TRemoteTodo& aRemote);
    // The local task that a member new to this collection is, by its UID:
    // empty when none.
    QString TaskOfUid(const QString& aUid) const;
    // The object of the task as last stored, empty when it has none.
    QByteArray ObjectOf(const QString& aTaskId, const QByteArray& aFallback = QByteArray()) const;
    // Writes the task's object to aHref over aEtag (empty: a new member). The
    // server's status comes back; a refusal other than a changed member is
    // an error of that task, and the sync goes on with the others.
    TCalDavWrite PutTask(const TLocalTask& aTask, const QString& aHref, const QString& aEtag,
                         const QByteArray& aData);
    void ItemFailed(const QString& aSummary, const QString& aWhat, const TCalDavWrite& aWrite);

    TCalDavClient FClient;
    const std::atomic<bool>* FStop;
    TSyncResult& FResult;
    TSyncLocal FLocal;
    TSyncBatch FBatch;
    std::map<QString, TLocalTask> FTasks;
    std::map<QString, TSyncItem> FItems;
    std::map<QString, QString> FTaskOfHref;
    std::map<QString, TIcsMember> FMembers;
    std::map<QString, QString> FTaskOfMemberUid;
    // What the server changed: href and entity tag; and what it removed.
    std::map<QString, QString> FChanged;
    QStringList FRemoved;
    // Members synced before that the collection no longer holds, while it
    // cannot be told whether another client deleted them or the collection
    // was emptied or made anew: they are uploaded again, never deleted here.
    QStringList FLost;
    QString FNewToken;
    std::vector<TRemoteTodo> FFetched;
    QStringList FItemErrors;
    // Something reported by the server is not yet applied: the sync token
    // stays, so the next run is told again.
    bool FIncomplete = false;
    std::set<QString> FHandled;
    std::vector<TLocalTask> FCopies;
    int FRestored = 0;
    // The members the last sync put back, and those this one does.
    QStringList FRestoredBefore;
    QStringList FRestoredNow;
    // What this run wrote to the server: member and new entity tag, and the
    // members it deleted; so that the token after them can be taken.
    std::map<QString, QString> FWritten;
    QStringList FDeleted;

    // The token of the collection with this run's own writes in it, where the
    // server's report shows nothing else since aToken; else aToken. A token
    // taken before the writes stands for a state without them: a collection
    // emptied and made anew could answer to it again, as if nothing of ours
    // had ever been there.
    QString TokenAfterWrites(const QString& aToken);
};

void TSyncRun::ListRemote(const QString& aToken, const QString& aServerToken)
{
    std::map<QString, QString> listing;
    bool full = true;
    bool listed = false;
    // The server no longer knows the token it gave: the collection may have
    // been emptied or made anew at the same address.
    bool tokenRefused = false;
    if (!aServerToken.isEmpty()) {
        TCalDavChanges changes;
        if (!aToken.isEmpty() && FClient.SyncCollection(aToken, changes)) {
            full = false;
            listed = true;
        } else {
            tokenRefused = !aToken.isEmpty();
            if (FClient.SyncCollection(QString(), changes))
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
        tokenRefused = tokenRefused || !aToken.isEmpty();
        for (const TCalDavItem& item : FClient.ListTodos())
            listing[item.href] = item.etag;
    }
    if (full) {
        QStringList missing;
        for (const auto& [href, taskid] : FTaskOfHref) {
            if (!listing.count(href))
                missing << href;
        }
        // A full listing is trusted to tell deletions only while the
        // collection is the one synced before: the token it gave still holds,
        // and it kept some of the members. Otherwise nothing is deleted here,
        // but what the last sync put back and is gone again: another client
        // deletes it, and a task must not come back for ever.
        const bool reset =
            tokenRefused || (!missing.isEmpty() && missing.size() == qsizetype(FTaskOfHref.size()));
        for (const QString& href : missing)
            (reset && !FRestoredBefore.contains(href) ? FLost : FRemoved) << href;
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
                FItemErrors << Tr("\"%1\" on the server cannot be read: %2 (%3)")
                                   .arg(LabelOf(item.href, item.data), error, item.href);
                FIncomplete = true;
            }
        }
    }
}

QString TSyncRun::TaskOfUid(const QString& aUid) const
{
    if (aUid.isEmpty())
        return QString();
    const auto member = FTaskOfMemberUid.find(aUid);
    if (member != FTaskOfMemberUid.end() && FTasks.count(member->second))
        return member->second;
    if (IsGeneratedId(aUid) && FTasks.count(aUid) && !FMembers.count(aUid))
        return aUid;
    return QString();
}

QByteArray TSyncRun::ObjectOf(const QString& aTaskId, const QByteArray& aFallback) const
{
    const auto member = FMembers.find(aTaskId);
    return member != FMembers.end() && !member->second.vtodo.isEmpty() ? member->second.vtodo
                                                                       : aFallback;
}

void TSyncRun::ItemFailed(const QString& aSummary, const QString& aWhat, const TCalDavWrite& aWrite)
{
    FItemErrors
        << Tr("\"%1\" was not %2: the server answered %3").arg(aSummary, aWhat, aWrite.answer);
    FIncomplete = true;
}

TCalDavWrite TSyncRun::PutTask(const TLocalTask& aTask, const QString& aHref, const QString& aEtag,
                               const QByteArray& aData)
{
    CheckStop();
    const TCalDavWrite put = FClient.Put(aHref, aData, aEtag);
    if (put.Ok())
        FWritten[aHref] = put.etag;
    if (!put.Ok() && !put.PreconditionFailed())
        ItemFailed(aTask.fields.summary, Tr("sent to the server"), put);
    return put;
}

void TSyncRun::ApplyRemote(const TRemoteTodo& aRemote)
{
    const TSyncFields& fields = aRemote.todo.fields;
    const TIcsMember member{QString(), aRemote.todo.uid, aRemote.data};
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
                      {item.taskid, aRemote.href, aRemote.etag, fields.Canonical(), {}},
                      {item.taskid, member.uid, member.vtodo}));
        if (current != fields.Canonical())
            ++FResult.downloaded;
        return;
    }
    // New in this collection. A task here with its UID is the same task,
    // uploaded by another store, kept by another collection (a changed
    // address), or made on both sides by an interrupted upload: never a
    // second task.
    const QString uid = aRemote.todo.uid;
    const QString local = TaskOfUid(uid);
    if (!local.isEmpty()) {
        const auto item = FItems.find(local);
        if (item != FItems.end() && !FRemoved.contains(item->second.href) &&
            !FLost.contains(item->second.href)) {
            // Two members of one UID: the one synced before stays the task's.
            if (TtasksLog* log = GetTasksLog())
                log->Log(QStringLiteral("Sync: %1 has the UID of the member %2; left alone")
                             .arg(aRemote.href, item->second.href));
            return;
        }
        FHandled.insert(local);
        std::optional<QString> base;
        if (item != FItems.end()) {
            base = item->second.base;
        } else {
            // The object as last stored is the common ground where the server
            // still holds it unchanged: then what changed here wins, without
            // a conflict.
            TSyncTodo stored;
            QString error;
            if (ParseVTodo(ObjectOf(local), stored, error) && stored.fields == fields)
                base = fields.Canonical();
        }
        Merge(base, FTasks[local], aRemote);
        return;
    }
    const QString id =
        IsGeneratedId(uid) && !FTasks.count(uid) && !FItems.count(uid) ? uid : GenerateId();
    FHandled.insert(id);
    Add(TaskWrite(id, QString(), fields, aRemote.todo.created,
                  {id, aRemote.href, aRemote.etag, fields.Canonical(), {}},
                  {id, member.uid, member.vtodo}));
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
    QString uid = aRemote.todo.uid;
    if (merged != remote) {
        data = WriteVTodo(aRemote.data, uid, aTask.created, merged, &uid);
        const TCalDavWrite put = PutTask(aTask, aRemote.href, aRemote.etag, data);
        // Changed on the server once more (the next run merges again), or
        // refused (said in the result).
        if (!put.Ok()) {
            FIncomplete = true;
            return;
        }
        etag = put.etag;
        ++FResult.uploaded;
    }
    TSyncWrite write = ItemWrite({aTask.taskid, aRemote.href, etag, merged.Canonical(), {}},
                                 {aTask.taskid, uid, data});
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
        TSyncWrite forget = ForgetWrite(aItem.taskid);
        forget.dropMember = true;
        Add(std::move(forget));
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
    Restore(aItem);
}

// Puts a task whose member the collection no longer holds back where it was.
bool TSyncRun::Restore(const TSyncItem& aItem)
{
    FHandled.insert(aItem.taskid);
    const TLocalTask& task = FTasks[aItem.taskid];
    QString uid = aItem.taskid;
    const QByteArray data =
        WriteVTodo(ObjectOf(aItem.taskid, aItem.vtodo), uid, task.created, task.fields, &uid);
    const TCalDavWrite put = PutTask(task, aItem.href, QString(), data);
    if (put.PreconditionFailed()) {
        // Something is there again: the two are merged.
        TRemoteTodo remote;
        if (!Refetch(aItem.href, remote))
            return false;
        Merge(aItem.base, task, remote);
        return true;
    }
    if (!put.Ok())
        return false;
    ++FResult.uploaded;
    Add(ItemWrite({aItem.taskid, aItem.href, put.etag, task.fields.Canonical(), {}},
                  {aItem.taskid, uid, data}));
    return true;
}

bool TSyncRun::Refetch(const QString& aHref, TRemoteTodo& aRemote)
{
    for (TCalDavItem& item : FClient.Multiget({aHref})) {
        aRemote = TRemoteTodo{item.href, item.etag, item.data, {}};
        QString error;
        if (ParseVTodo(item.data, aRemote.todo, error))
            return true;
        if (!error.isEmpty())
            FItemErrors << Tr("\"%1\" on the server cannot be read: %2 (%3)")
                               .arg(LabelOf(item.href, item.data), error, item.href);
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
            FDeleted << aItem.href;
            TSyncWrite forget = ForgetWrite(aItem.taskid);
            forget.dropMember = true;
            Add(std::move(forget));
            if (deleted.Ok())
                ++FResult.deletedRemote;
            return;
        }
        if (!deleted.PreconditionFailed()) {
            TSyncFields fields = TSyncFields::FromCanonical(aItem.base);
            ItemFailed(fields.summary, Tr("deleted on the server"), deleted);
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
    QString uid = aItem.taskid;
    const QByteArray data = WriteVTodo(ObjectOf(aItem.taskid, aItem.vtodo), uid,
                                       task->second.created, task->second.fields, &uid);
    const TCalDavWrite put = PutTask(task->second, aItem.href, aItem.etag, data);
    if (put.Ok()) {
        ++FResult.uploaded;
        Add(ItemWrite({aItem.taskid, aItem.href, put.etag, current, {}},
                      {aItem.taskid, uid, data}));
        return;
    }
    if (!put.PreconditionFailed())
        return;
    TRemoteTodo remote;
    if (Refetch(aItem.href, remote))
        Merge(aItem.base, task->second, remote);
    else if (!FIncomplete)
        Restore(aItem);
}

void TSyncRun::Create(const TLocalTask& aTask)
{
    QString href = FClient.HrefFor(aTask.taskid + QStringLiteral(".ics"));
    if (FTaskOfHref.count(href))
        href = FClient.HrefFor(GenerateId() + QStringLiteral(".ics"));
    // The task's whole object where it has one (imported, or from another
    // collection): its own UID and every property it carries go with it.
    QString uid = aTask.taskid;
    const auto member = FMembers.find(aTask.taskid);
    if (member != FMembers.end() && !member->second.uid.isEmpty())
        uid = member->second.uid;
    const QByteArray data =
        WriteVTodo(ObjectOf(aTask.taskid), uid, aTask.created, aTask.fields, &uid);
    const TCalDavWrite put = PutTask(aTask, href, QString(), data);
    if (put.Ok()) {
        ++FResult.uploaded;
        FTaskOfHref[href] = aTask.taskid;
        Add(ItemWrite({aTask.taskid, href, put.etag, aTask.fields.Canonical(), {}},
                      {aTask.taskid, uid, data}));
        return;
    }
    if (!put.PreconditionFailed())
        return;
    // A member of that name exists: the same task made on both sides.
    TRemoteTodo remote;
    if (Refetch(href, remote)) {
        Merge(std::nullopt, aTask, remote);
        return;
    }
    if (!FIncomplete)
        ItemFailed(aTask.fields.summary, Tr("sent to the server"), put);
}

void TSyncRun::Run()
{
    const TCalDavCollection collection = FClient.Probe();
    const QString url = FClient.Url().toString(QUrl::FullyEncoded);
    QString token;
    Check(FLocal.Open(url, token));
    std::vector<TSyncItem> items;
    Check(FLocal.ReadItems(items));
    for (TSyncItem& item : items) {
        FTaskOfHref[item.href] = item.taskid;
        FItems[item.taskid] = std::move(item);
    }
    std::vector<TIcsMember> members;
    Check(FLocal.ReadMembers(members));
    for (TIcsMember& member : members) {
        FTaskOfMemberUid[member.uid] = member.taskid;
        FMembers[member.taskid] = std::move(member);
    }
    QString restored;
    Check(FLocal.ReadValue(QStringLiteral("restored"), restored));
    FRestoredBefore = restored.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    CheckStop();
    ListRemote(token, collection.syncToken);
    QStringList hrefs;
    for (const auto& [href, etag] : FChanged)
        hrefs << href;
    Fetch(hrefs);
    // The local tasks are read after the server's, so that an edit made
    // while the server answered is seen now.
    Check(FLocal.ReadTasks(FTasks));

    for (const TRemoteTodo& remote : FFetched) {
        CheckStop();
        ApplyRemote(remote);
    }
    for (const QString& href : FRemoved) {
        const auto known = FTaskOfHref.find(href);
        if (known != FTaskOfHref.end() && !FHandled.count(known->second))
            ApplyRemoved(FItems[known->second]);
    }
    for (const QString& href : FLost) {
        const auto known = FTaskOfHref.find(href);
        if (known == FTaskOfHref.end() || FHandled.count(known->second))
            continue;
        const TSyncItem& item = FItems[known->second];
        if (FTasks.count(item.taskid)) {
            if (Restore(item)) {
                ++FRestored;
                FRestoredNow << item.href;
            }
        } else {
            TSyncWrite forget = ForgetWrite(item.taskid);
            forget.dropMember = true;
            FHandled.insert(item.taskid);
            Add(std::move(forget));
        }
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
    if (FRestored > 0)
        FResult.notice =
            Tr("the collection no longer held %1 of the tasks synced with it before (it was "
               "emptied, or made anew on the server): they were uploaded to it again, and no "
               "task was deleted here")
                .arg(FRestored);
    Check(FLocal.SaveValue(QStringLiteral("restored"), FRestoredNow.join(QLatin1Char('\n'))));
    if (FBatch.Skipped() > 0)
        FIncomplete = true;
    if (!FIncomplete && !FNewToken.isEmpty())
        Check(FLocal.SaveToken(TokenAfterWrites(FNewToken)));
    if (!FItemErrors.isEmpty()) {
        constexpr int kNamed = 5;
        QString error = FItemErrors.size() == 1
                            ? Tr("a task did not go through: ")
                            : Tr("%1 tasks did not go through: ").arg(FItemErrors.size());
        error += FItemErrors.mid(0, kNamed).join(QStringLiteral("; "));
        if (FItemErrors.size() > kNamed)
            error += Tr(" (and %1 more)").arg(FItemErrors.size() - kNamed);
        error += Tr("; the other tasks were synced");
        throw ECalDavError(error);
    }
}

QString TSyncRun::TokenAfterWrites(const QString& aToken)
{
    if (FWritten.empty() && FDeleted.isEmpty())
        return aToken;
    CheckStop();
    TCalDavChanges changes;
    if (!FClient.SyncCollection(aToken, changes))
        return aToken;
    for (const TCalDavItem& item : changes.changed) {
        const auto written = FWritten.find(item.href);
        if (written == FWritten.end() || written->second.isEmpty() || written->second != item.etag)
            return aToken;
    }
    for (const QString& href : changes.removed) {
        if (!FDeleted.contains(href))
            return aToken;
    }
    return changes.token.isEmpty() ? aToken : changes.token;
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

TSyncResult SyncOnce(TtasksDB& aStore, const TSyncConfig& aConfig, const std::atomic<bool>* aStop)
{
    TSyncResult result;
    if (aConfig.url.trimmed().isEmpty()) {
        result.error = QStringLiteral("no collection is configured for the sync");
        result.finishedAt = NowDateTime();
        return result;
    }
    try {
        TCalDavSettings client = aConfig.client;
        client.url = CollectionUrl(aConfig.url);
        TSyncRun run(aStore, client, aStop, result);
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

void TSyncWorker::Sync(TtasksDB& aStore, const TSyncConfig& aConfig)
{
    const TSyncResult result = SyncOnce(aStore, aConfig, &FStop);
    Q_EMIT Finished(result);
}
