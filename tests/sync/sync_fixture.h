#pragma once

// Two local stores (two database files) that sync through one Radicale
// collection. The store is one object per process, so the fixture switches
// it between the two files; only one side is open at a time.

#include "radicale_server.h"
#include "store/tasks_store.h"
#include "sync/tasks_sync.h"
#include "sync/tasks_sync_local.h"
#include "util/kvd_utils.h"

#include <QtTest>
#include <map>

// The dates the sync tests store. Functions, not constants: the date-time
// helpers must not run before main.
inline TDateTime Due()
{
    return EncodeDateTime(2027, 3, 14, 9, 30);
}
inline TDateTime OtherDue()
{
    return EncodeDateTime(2027, 4, 1, 18, 0);
}
inline TDateTime Finished()
{
    return EncodeDateTime(2026, 12, 10, 16, 45, 12);
}
// A stored date-time as the sync's fields hold it.
inline QString Text(TDateTime aValue)
{
    return DateTimeToSqlText(aValue);
}

class TSyncFixture
{
public:
    enum TSide
    {
        kFirst,
        kSecond
    };

    TRadicaleServer server;
    QString url;

    QString File(TSide aSide) const
    {
        return FDir.filePath(aSide == kFirst ? QStringLiteral("first.db")
                                             : QStringLiteral("second.db"));
    }
    void Use(TSide aSide)
    {
        ReleaseTasksDB();
        SetTasksDBFile(File(aSide));
    }
    // Fresh stores and a fresh collection.
    bool Reset()
    {
        ReleaseTasksDB();
        QFile::remove(FDir.filePath(QStringLiteral("first.db")));
        QFile::remove(FDir.filePath(QStringLiteral("second.db")));
        url = server.MakeCalendar();
        return !url.isEmpty();
    }
    QString CollectionName() const { return QUrl(url).path().section(QLatin1Char('/'), 2, 2); }

    TSyncConfig Config() const
    {
        TSyncConfig config;
        config.url = url;
        config.client.user = TRadicaleServer::kUser;
        config.client.password = TRadicaleServer::kPassword;
        return config;
    }
    TSyncResult Sync(TSide aSide)
    {
        Use(aSide);
        return SyncOnce(*GetTasksDB(), Config());
    }

    // A new task with tags by title (made when missing); its id.
    static QString NewTask(const QString& aSummary, const QStringList& aTags = {},
                           const QString& aNote = QString(), TDateTime aDue = 0)
    {
        TStoredTask task;
        task.taskid = GenerateId();
        task.summary = aSummary;
        task.note = aNote;
        task.duedt = aDue;
        if (!TtasksStore::SaveTask(task, TagIds(aTags), true))
            return QString();
        return task.taskid;
    }
    static bool Edit(const QString& aId, const QString& aSummary, const QString& aNote,
                     TDateTime aDue, const QStringList& aTags)
    {
        TStoredTask task;
        task.taskid = aId;
        task.summary = aSummary;
        task.note = aNote;
        task.duedt = aDue;
        return bool(TtasksStore::SaveTask(task, TagIds(aTags), false));
    }
    static QStringList TagIds(const QStringList& aTitles)
    {
        std::vector<TStoredTag> tags;
        TtasksStore::ListTags(tags);
        QStringList ids;
        for (const QString& title : aTitles) {
            QString id;
            for (const TStoredTag& tag : tags) {
                if (tag.title == title)
                    id = tag.tagid;
            }
            if (id.isEmpty()) {
                TStoredTag tag;
                tag.tagid = id = GenerateId();
                tag.title = title;
                tag.color = 0xFF;
                TtasksStore::SaveTag(tag, true);
                tags.push_back(tag);
            }
            ids << id;
        }
        return ids;
    }
    static std::map<QString, TLocalTask> Tasks()
    {
        std::map<QString, TLocalTask> tasks;
        TSyncLocal(*GetTasksDB()).ReadTasks(tasks);
        return tasks;
    }
    // The tasks by id as canonical fields, for comparing two stores.
    std::map<QString, QString> Fields(TSide aSide)
    {
        Use(aSide);
        std::map<QString, QString> fields;
        for (const auto& [id, task] : Tasks())
            fields[id] = task.fields.Canonical();
        return fields;
    }
    // The names of the sync's tables in the open store.
    static QStringList SyncTables()
    {
        std::unique_ptr<TZQuery> query = GetTasksDB()->NewQuery();
        const QString sql =
            QStringLiteral("select name from sqlite_master where name like 'sync%' order by name");
        GetTasksDB()->Query(sql, query.get());
        QStringList names;
        for (; query->Active() && !query->Eof(); query->Next())
            names << query->FieldByName(QStringLiteral("name")).AsString();
        return names;
    }

private:
    QTemporaryDir FDir;
};

#define QVERIFY_SYNC(aResult)                                                                      \
    do {                                                                                           \
        const TSyncResult result_ = (aResult);                                                     \
        QVERIFY2(result_.ok, qPrintable(result_.error));                                           \
    } while (false)
