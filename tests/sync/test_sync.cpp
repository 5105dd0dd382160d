// Two stores syncing through a real CalDAV server (Radicale), an independent
// client editing the server's copy, interruptions and refusals.

#include "sync_fixture.h"

#include "ical/tasks_ics.h"

#include <QProcess>
#include <algorithm>
#include <thread>

namespace {

// The python3 of the system, where python3-caldav is installed.
QString CaldavPython()
{
    const QString python = QStringLiteral("/usr/bin/python3");
    QProcess check;
    check.start(python, {QStringLiteral("-c"), QStringLiteral("import caldav")});
    if (!check.waitForFinished(30000) || check.exitStatus() != QProcess::NormalExit ||
        check.exitCode() != 0)
        return QString();
    return python;
}

} // namespace

class TestSync : public QObject
{
    Q_OBJECT

private:
    TSyncFixture F;

    // Runs the independent client; its output.
    QString Client(const QStringList& aArguments)
    {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(CaldavPython(),
                      QStringList{QStringLiteral(ULMORA_CALDAV_CLIENT), F.url,
                                  TRadicaleServer::kUser, TRadicaleServer::kPassword} +
                          aArguments);
        if (!process.waitForFinished(60000) || process.exitCode() != 0)
            return QStringLiteral("<failed>");
        return QString::fromUtf8(process.readAllStandardOutput());
    }

    // The tasks of a store as their fields, whatever their ids.
    QStringList Contents(TSyncFixture::TSide aSide)
    {
        QStringList contents;
        for (const auto& [id, fields] : F.Fields(aSide))
            contents << fields;
        contents.sort();
        return contents;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QString error;
        if (!F.server.Start(error))
            QSKIP(qPrintable(error));
    }
    void init() { QVERIFY(F.Reset()); }
    void cleanup() { ReleaseTasksDB(); }
    void cleanupTestCase() { F.server.Stop(); }

    // Each change made on one side reaches the other.
    void lifecycle_data()
    {
        QTest::addColumn<int>("actor");
        QTest::newRow("changes made in the first store") << int(TSyncFixture::kFirst);
        QTest::newRow("changes made in the second store") << int(TSyncFixture::kSecond);
    }
    void lifecycle()
    {
        QFETCH(int, actor);
        const auto here = TSyncFixture::TSide(actor);
        const auto there = TSyncFixture::TSide(1 - actor);
        const auto travel = [&] {
            QVERIFY_SYNC(F.Sync(here));
            QVERIFY_SYNC(F.Sync(there));
        };
        // Both stores have synced once, so the second store is not new.
        QVERIFY_SYNC(F.Sync(there));

        F.Use(here);
        const QString id = F.NewTask(QStringLiteral("Buy milk"), {QStringLiteral("Home")},
                                     QStringLiteral("semi-skimmed"), Due());
        QVERIFY(!id.isEmpty());
        travel();
        F.Use(there);
        auto tasks = F.Tasks();
        QCOMPARE(tasks.size(), size_t(1));
        QCOMPARE(tasks[id].fields.summary, QStringLiteral("Buy milk"));
        QCOMPARE(tasks[id].fields.note, QStringLiteral("semi-skimmed"));
        QCOMPARE(tasks[id].fields.due, Text(Due()));
        QCOMPARE(tasks[id].fields.tags, QStringList{QStringLiteral("Home")});
        QVERIFY(tasks[id].fields.finished.isEmpty());

        F.Use(here);
        QVERIFY(F.Edit(id, QStringLiteral("Buy oat milk, ; \\ and bread"),
                       QStringLiteral("two litres\nfrom the market"), OtherDue(),
                       {QStringLiteral("Home"), QStringLiteral("Shopping")}));
        travel();
        F.Use(there);
        tasks = F.Tasks();
        QCOMPARE(tasks[id].fields.summary, QStringLiteral("Buy oat milk, ; \\ and bread"));
        QCOMPARE(tasks[id].fields.note, QStringLiteral("two litres\nfrom the market"));
        QCOMPARE(tasks[id].fields.due, Text(OtherDue()));
        QCOMPARE(tasks[id].fields.tags,
                 (QStringList{QStringLiteral("Home"), QStringLiteral("Shopping")}));

        F.Use(here);
        QVERIFY(TtasksStore::FinishTask(id, Finished()));
        travel();
        F.Use(there);
        QCOMPARE(F.Tasks()[id].fields.finished, Text(Finished()));

        F.Use(here);
        QVERIFY(TtasksStore::ReopenTask(id));
        travel();
        F.Use(there);
        QVERIFY(F.Tasks()[id].fields.finished.isEmpty());

        F.Use(here);
        QVERIFY(TtasksStore::DeleteTask(id));
        travel();
        F.Use(there);
        QVERIFY(F.Tasks().empty());
        QCOMPARE(F.server.MemberCount(F.CollectionName()), 0);
        // Nothing is left to do on either side.
        QCOMPARE(F.Fields(TSyncFixture::kFirst), F.Fields(TSyncFixture::kSecond));
    }

    // Both stores change one task between two syncs.
    void bothEdit_data()
    {
        QTest::addColumn<QString>("firstSummary");
        QTest::addColumn<QString>("firstNote");
        QTest::addColumn<QString>("secondSummary");
        QTest::addColumn<QString>("secondNote");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QString>("conflict");
        // The first store syncs first, so its values are the server's when the
        // second store syncs.
        QTest::newRow("different fields are merged") << "Call Ann"
                                                     << "base note"
                                                     << "Call"
                                                     << "ask about Friday"
                                                     << "Call Ann"
                                                     << "ask about Friday"
                                                     << "";
        QTest::newRow("the same value on both sides") << "Call Ann"
                                                      << "base note"
                                                      << "Call Ann"
                                                      << "base note"
                                                      << "Call Ann"
                                                      << "base note"
                                                      << "";
        QTest::newRow("the same field: the server wins, the local value is kept in a copy")
            << "Call Ann at 9"
            << "base note"
            << "Call Ann at 10"
            << "base note"
            << "Call Ann at 9"
            << "base note"
            << "Conflict: Call Ann at 10";
        QTest::newRow("a conflict and a merge at once") << "Call Ann at 9"
                                                        << "base note"
                                                        << "Call Ann at 10"
                                                        << "bring the file"
                                                        << "Call Ann at 9"
                                                        << "bring the file"
                                                        << "Conflict: Call Ann at 10";
    }
    void bothEdit()
    {
        QFETCH(QString, firstSummary);
        QFETCH(QString, firstNote);
        QFETCH(QString, secondSummary);
        QFETCH(QString, secondNote);
        QFETCH(QString, summary);
        QFETCH(QString, note);
        QFETCH(QString, conflict);

        F.Use(TSyncFixture::kFirst);
        const QString id = F.NewTask(QStringLiteral("Call"), {QStringLiteral("Work")},
                                     QStringLiteral("base note"));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kSecond));

        F.Use(TSyncFixture::kFirst);
        QVERIFY(F.Edit(id, firstSummary, firstNote, 0, {QStringLiteral("Work")}));
        QVERIFY(TtasksStore::FinishTask(id, Finished()));
        F.Use(TSyncFixture::kSecond);
        // Tags and the finish merge too: one side finished, the other added a tag.
        QVERIFY(F.Edit(id, secondSummary, secondNote, 0,
                       {QStringLiteral("Work"), QStringLiteral("Phone")}));

        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        const TSyncResult second = F.Sync(TSyncFixture::kSecond);
        QVERIFY2(second.ok, qPrintable(second.error));
        QCOMPARE(second.conflicts, conflict.isEmpty() ? 0 : 1);
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));

        for (const auto side : {TSyncFixture::kFirst, TSyncFixture::kSecond}) {
            F.Use(side);
            auto tasks = F.Tasks();
            QCOMPARE(tasks.size(), size_t(conflict.isEmpty() ? 1 : 2));
            QCOMPARE(tasks[id].fields.summary, summary);
            QCOMPARE(tasks[id].fields.note, note);
            QCOMPARE(tasks[id].fields.finished, Text(Finished()));
            QCOMPARE(tasks[id].fields.tags,
                     (QStringList{QStringLiteral("Phone"), QStringLiteral("Work")}));
            if (!conflict.isEmpty()) {
                tasks.erase(id);
                const TSyncFields& copy = tasks.begin()->second.fields;
                QCOMPARE(copy.summary, conflict);
                QCOMPARE(copy.note, secondNote);
                QVERIFY(copy.finished.isEmpty());
            }
        }
        QCOMPARE(F.Fields(TSyncFixture::kFirst), F.Fields(TSyncFixture::kSecond));
    }

    // A delete on one side against an edit on the other: the edit is kept.
    void deleteAgainstEdit_data()
    {
        QTest::addColumn<bool>("deleteFirst");
        QTest::newRow("deleted here, then edited there") << true;
        QTest::newRow("edited there, then deleted here") << false;
    }
    void deleteAgainstEdit()
    {
        QFETCH(bool, deleteFirst);
        F.Use(TSyncFixture::kFirst);
        const QString id = F.NewTask(QStringLiteral("Pay rent"));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kSecond));

        F.Use(TSyncFixture::kFirst);
        QVERIFY(TtasksStore::DeleteTask(id));
        F.Use(TSyncFixture::kSecond);
        QVERIFY(F.Edit(id, QStringLiteral("Pay rent and water"), QString(), 0, {}));
        // The side that syncs first reaches the server first.
        const auto early = deleteFirst ? TSyncFixture::kFirst : TSyncFixture::kSecond;
        const auto late = deleteFirst ? TSyncFixture::kSecond : TSyncFixture::kFirst;
        QVERIFY_SYNC(F.Sync(early));
        QVERIFY_SYNC(F.Sync(late));
        QVERIFY_SYNC(F.Sync(early));
        for (const auto side : {TSyncFixture::kFirst, TSyncFixture::kSecond}) {
            F.Use(side);
            const auto tasks = F.Tasks();
            QCOMPARE(tasks.size(), size_t(1));
            QCOMPARE(tasks.begin()->second.fields.summary, QStringLiteral("Pay rent and water"));
        }
        QCOMPARE(F.server.MemberCount(F.CollectionName()), 1);
    }

    // Another program edits the server's copy; a to-do it makes comes down,
    // and its properties that the program does not know stay on the server.
    void independentClient()
    {
        if (CaldavPython().isEmpty())
            QSKIP("python3-caldav is not installed");
        F.Use(TSyncFixture::kFirst);
        const QString id = F.NewTask(QStringLiteral("Water plants"));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));

        QCOMPARE(Client({QStringLiteral("summary"), id, QStringLiteral("Water the plants")}),
                 QString());
        QCOMPARE(Client({QStringLiteral("complete"), id}), QString());
        QCOMPARE(Client({QStringLiteral("create"), QStringLiteral("phone-1234@example.org"),
                         QStringLiteral("From the phone")}),
                 QString());
        const TSyncResult result = F.Sync(TSyncFixture::kFirst);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.downloaded, 2);
        auto tasks = F.Tasks();
        QCOMPARE(tasks.size(), size_t(2));
        QCOMPARE(tasks[id].fields.summary, QStringLiteral("Water the plants"));
        QVERIFY(!tasks[id].fields.finished.isEmpty());
        tasks.erase(id);
        const QString phoneId = tasks.begin()->first;
        QCOMPARE(tasks.begin()->second.fields.summary, QStringLiteral("From the phone"));

        QVERIFY(F.Edit(phoneId, QStringLiteral("From the phone, edited"), QString(), 0, {}));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QCOMPARE(Client({QStringLiteral("show"), QStringLiteral("phone-1234@example.org")}),
                 QStringLiteral("From the phone, edited\nkept\n"));
    }

    // A category comes down as the tag of exactly its title, made where only
    // a tag of another letter case exists, and goes back as it came.
    void categoryKeepsItsCase()
    {
        F.Use(TSyncFixture::kFirst);
        F.NewTask(QStringLiteral("Local"), {QStringLiteral("Work")});
        const QByteArray todo = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Other//EN\r\n"
                                "BEGIN:VTODO\r\nUID:case-1@example.org\r\n"
                                "DTSTAMP:20261201T100000Z\r\nSUMMARY:From elsewhere\r\n"
                                "CATEGORIES:work\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
        QVERIFY(F.server.Request("PUT", F.url + QStringLiteral("case-1.ics"), todo) / 100 == 2);
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QString id;
        for (const auto& [taskid, task] : F.Tasks()) {
            if (task.fields.summary == QStringLiteral("From elsewhere"))
                id = taskid;
        }
        QVERIFY(!id.isEmpty());
        QCOMPARE(F.Tasks()[id].fields.tags, QStringList{QStringLiteral("work")});

        QVERIFY(F.Edit(id, QStringLiteral("From elsewhere edited"), QString(), 0,
                       {QStringLiteral("work")}));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        const QList<QByteArray> texts = F.server.MemberTexts(F.CollectionName());
        const auto member = std::find_if(texts.cbegin(), texts.cend(), [](const QByteArray& aText) {
            return aText.contains("UID:case-1@example.org");
        });
        QVERIFY(member != texts.cend());
        QVERIFY2(member->contains("SUMMARY:From elsewhere edited"), member->constData());
        QVERIFY2(member->contains("\r\nCATEGORIES:work\r\n"), member->constData());
    }

    // The server goes away, the sync is stopped or the program is killed in
    // the middle of a first upload: nothing is lost and the next sync
    // completes it, once each.
    void interrupted_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("server stopped mid-sync") << "server";
        QTest::newRow("sync stopped mid-way") << "stop";
        QTest::newRow("program killed mid-sync") << "kill";
    }
    void interrupted()
    {
        QFETCH(QString, how);
        const bool killServer = how == QLatin1String("server");
        constexpr int kCount = 400;
        F.Use(TSyncFixture::kFirst);
        QStringList summaries;
        for (int i = 0; i < kCount; ++i)
            summaries << QStringLiteral("Task %1").arg(i);
        TBulkEntryReport report;
        QVERIFY(TtasksStore::InsertTasks(summaries, {}, report));
        const auto before = F.Fields(TSyncFixture::kFirst);

        const QString name = F.CollectionName();
        if (how == QLatin1String("kill")) {
            ReleaseTasksDB();
            QProcess child;
            child.setProcessChannelMode(QProcess::ForwardedChannels);
            child.start(QStringLiteral(ULMORA_SYNC_CHILD),
                        {F.File(TSyncFixture::kFirst), F.url, TRadicaleServer::kUser,
                         TRadicaleServer::kPassword});
            QVERIFY(child.waitForStarted());
            while (child.state() == QProcess::Running && F.server.MemberCount(name) < kCount / 4)
                QThread::msleep(5);
            QVERIFY2(child.state() == QProcess::Running, "the sync ended before it was killed");
            child.kill();
            child.waitForFinished();
        } else {
            std::atomic<bool> stop{false};
            std::atomic<bool> done{false};
            TSyncResult result;
            const TSyncConfig config = F.Config();
            std::thread worker([&] {
                result = SyncOnce(*GetTasksDB(), config, &stop);
                done = true;
            });
            while (!done && F.server.MemberCount(name) < kCount / 4)
                QThread::msleep(5);
            if (killServer)
                F.server.Kill();
            else
                stop = true;
            worker.join();
            QVERIFY2(!result.ok, "the sync ended before it was interrupted");
            QVERIFY(!result.error.isEmpty());
        }
        if (killServer) {
            QString error;
            QVERIFY2(F.server.Start(error), qPrintable(error));
        }
        QVERIFY(F.server.MemberCount(name) < kCount);
        QCOMPARE(F.Fields(TSyncFixture::kFirst), before);

        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QCOMPARE(F.server.MemberCount(name), kCount);
        QVERIFY_SYNC(F.Sync(TSyncFixture::kSecond));
        const TSyncResult again = F.Sync(TSyncFixture::kFirst);
        QVERIFY2(again.ok, qPrintable(again.error));
        QCOMPARE(again.uploaded + again.downloaded + again.conflicts, 0);
        QCOMPARE(F.Fields(TSyncFixture::kFirst), before);
        QCOMPARE(F.Fields(TSyncFixture::kSecond), before);
    }

    // The calendar is deleted and made again at the same address: nothing is
    // deleted here, the tasks go up again, the result says so, and the other
    // store ends with the same tasks, none twice.
    void collectionReset()
    {
        constexpr int kCount = 7;
        F.Use(TSyncFixture::kFirst);
        for (int i = 0; i < kCount; ++i)
            QVERIFY(
                !F.NewTask(QStringLiteral("Task %1").arg(i), {QStringLiteral("Home")}).isEmpty());
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kSecond));
        const auto before = F.Fields(TSyncFixture::kFirst);

        QCOMPARE(F.server.Request("DELETE", F.url, QByteArray()), 200);
        QCOMPARE(F.server.MakeCalendar(F.CollectionName()), F.url);
        QCOMPARE(F.server.MemberCount(F.CollectionName()), 0);

        const TSyncResult result = F.Sync(TSyncFixture::kFirst);
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.deletedLocal, 0);
        QVERIFY2(result.notice.contains(QStringLiteral("no task was deleted here")),
                 qPrintable(result.notice));
        QCOMPARE(F.Fields(TSyncFixture::kFirst), before);
        QCOMPARE(F.server.MemberCount(F.CollectionName()), kCount);
        QVERIFY_SYNC(F.Sync(TSyncFixture::kSecond));
        QCOMPARE(F.Fields(TSyncFixture::kSecond), before);
        QCOMPARE(F.server.MemberCount(F.CollectionName()), kCount);
    }

    // Another address for the collection, or another collection and back:
    // the tasks are matched by their UIDs, so nothing is doubled on either
    // side, and a to-do of another program goes to the new collection whole.
    void addressChange_data()
    {
        QTest::addColumn<bool>("alias");
        QTest::newRow("to another calendar and back") << false;
        QTest::newRow("localhost for 127.0.0.1") << true;
    }
    void addressChange()
    {
        QFETCH(bool, alias);
        if (CaldavPython().isEmpty())
            QSKIP("python3-caldav is not installed");
        F.Use(TSyncFixture::kFirst);
        F.NewTask(QStringLiteral("Made here"), {QStringLiteral("Home")});
        QCOMPARE(Client({QStringLiteral("create"), QStringLiteral("phone-1@example.org"),
                         QStringLiteral("From the phone")}),
                 QString());
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kSecond));
        const QString first = F.url;
        const QString firstName = F.CollectionName();
        QCOMPARE(F.server.MemberCount(firstName), 2);

        if (alias) {
            F.url.replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
        } else {
            F.url = F.server.MakeCalendar();
            QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
            const QString secondName = F.CollectionName();
            QCOMPARE(F.server.MemberCount(secondName), 2);
            // The phone's to-do went up whole: its UID and its own property.
            bool found = false;
            for (const QByteArray& text : F.server.MemberTexts(secondName)) {
                if (text.contains("UID:phone-1@example.org")) {
                    found = true;
                    QVERIFY2(text.contains("X-OTHER-CLIENT:kept"), text.constData());
                }
            }
            QVERIFY(found);
            F.url = first;
        }
        for (const auto side :
             {TSyncFixture::kFirst, TSyncFixture::kSecond, TSyncFixture::kFirst}) {
            const TSyncResult result = F.Sync(side);
            QVERIFY2(result.ok, qPrintable(result.error));
            QCOMPARE(result.conflicts, 0);
        }
        QCOMPARE(F.server.MemberCount(firstName), 2);
        // A to-do of another program has an id of each store's own.
        QCOMPARE(Contents(TSyncFixture::kFirst).size(), 2);
        QCOMPARE(Contents(TSyncFixture::kFirst), Contents(TSyncFixture::kSecond));
    }

    // A database of an older version kept another program's member only
    // beside the sync's state: a change of address still sends it whole.
    void olderDatabaseKeepsObjects()
    {
        if (CaldavPython().isEmpty())
            QSKIP("python3-caldav is not installed");
        QCOMPARE(Client({QStringLiteral("create"), QStringLiteral("phone-2@example.org"),
                         QStringLiteral("From the phone")}),
                 QString());
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        // As the older version left it: the object in sync_items alone.
        QVERIFY(GetTasksDB()->Exec(
            QStringLiteral("update sync_items set vtodo=(select vtodo from ical_tasks where "
                           "ical_tasks.taskid=sync_items.taskid)")));
        QVERIFY(GetTasksDB()->Exec(QStringLiteral("delete from ical_tasks")));
        F.url = F.server.MakeCalendar();
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        const QList<QByteArray> texts = F.server.MemberTexts(F.CollectionName());
        QCOMPARE(texts.size(), 1);
        const QByteArray text = texts.first();
        QVERIFY2(text.contains("UID:phone-2@example.org") && text.contains("X-OTHER-CLIENT:kept"),
                 text.constData());
    }

    // A to-do imported from a file goes up under its own UID, with what the
    // import kept of it.
    void importedTaskKeepsItsObject()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("in.ics"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Files//EN\r\nBEGIN:VTODO\r\n"
                   "UID:file-7@example.org\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:From a file\r\n"
                   "PRIORITY:2\r\nX-FILE-PROP:kept too\r\nCATEGORIES:Travel,Home\r\nEND:VTODO\r\n"
                   "END:VCALENDAR\r\n");
        file.close();
        F.Use(TSyncFixture::kFirst);
        const TIcsImportResult imported = ImportIcs(path);
        QVERIFY2(imported.ok && imported.added == 1, qPrintable(imported.Summary()));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        const QList<QByteArray> texts = F.server.MemberTexts(F.CollectionName());
        QCOMPARE(texts.size(), 1);
        const QByteArray text = texts.first();
        for (const QByteArray& line :
             {QByteArray("UID:file-7@example.org"), QByteArray("PRIORITY:2"),
              QByteArray("X-FILE-PROP:kept too"), QByteArray("CATEGORIES:Travel,Home")})
            QVERIFY2(text.contains(line), text.constData());
        // The second store gets it as one task, and the first finds nothing to do.
        QVERIFY_SYNC(F.Sync(TSyncFixture::kSecond));
        QCOMPARE(Contents(TSyncFixture::kSecond), Contents(TSyncFixture::kFirst));
        const TSyncResult again = F.Sync(TSyncFixture::kFirst);
        QVERIFY2(again.ok, qPrintable(again.error));
        QCOMPARE(again.uploaded + again.downloaded, 0);
    }

    // Refusals end the sync with the cause in words and change nothing here.
    void refused_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("error");
        QTest::newRow("wrong password") << QString() << "not the password"
                                        << "the server refused the user name or password";
        QTest::newRow("collection that does not exist")
            << "ulmora/no-such-calendar/" << TRadicaleServer::kPassword
            << "the collection %1ulmora/no-such-calendar/ does not exist";
        QTest::newRow("no calendar")
            << "ulmora/" << TRadicaleServer::kPassword << "%1ulmora/ is not a calendar collection";
        QTest::newRow("no server") << "http://127.0.0.1:1/cal/" << TRadicaleServer::kPassword
                                   << "the server 127.0.0.1:1 refused the connection (is it "
                                      "running?)";
        QTest::newRow("no URL") << "mailto:me@example.org" << TRadicaleServer::kPassword
                                << "the address \"mailto:me@example.org\" is not an http or "
                                   "https URL";
    }
    void refused()
    {
        QFETCH(QString, path);
        QFETCH(QString, password);
        QFETCH(QString, error);
        F.Use(TSyncFixture::kFirst);
        F.NewTask(QStringLiteral("Keep me"));
        const auto before = F.Fields(TSyncFixture::kFirst);
        TSyncConfig config = F.Config();
        if (path.contains(QLatin1Char(':')))
            config.url = path;
        else if (!path.isEmpty())
            config.url = F.server.Base() + path;
        config.client.password = password;
        const TSyncResult result = SyncOnce(*GetTasksDB(), config);
        QVERIFY(!result.ok);
        QCOMPARE(result.error,
                 error.contains(QLatin1String("%1")) ? error.arg(F.server.Base()) : error);
        QCOMPARE(F.Fields(TSyncFixture::kFirst), before);
        QCOMPARE(F.SyncTables(), QStringList());
    }

    // Without a collection nothing is sent and the database gains nothing.
    void notConfigured()
    {
        F.Use(TSyncFixture::kFirst);
        F.NewTask(QStringLiteral("Local only"));
        const TSyncResult result = SyncOnce(*GetTasksDB(), TSyncConfig());
        QVERIFY(!result.ok);
        QCOMPARE(result.error, QStringLiteral("no collection is configured for the sync"));
        QCOMPARE(F.SyncTables(), QStringList());
        QCOMPARE(F.server.MemberCount(F.CollectionName()), 0);
    }

    // Another collection starts afresh: a delete known only for the old one
    // does not reach the new one, and the old one is left alone.
    void otherCollection()
    {
        F.Use(TSyncFixture::kFirst);
        const QString gone = F.NewTask(QStringLiteral("Synced to the old calendar"));
        F.NewTask(QStringLiteral("Stays"));
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        const QString oldName = F.CollectionName();
        QVERIFY(TtasksStore::DeleteTask(gone));
        F.url = F.server.MakeCalendar();
        QVERIFY_SYNC(F.Sync(TSyncFixture::kFirst));
        QCOMPARE(F.server.MemberCount(oldName), 2);
        QCOMPARE(F.server.MemberCount(F.CollectionName()), 1);
        QCOMPARE(F.Tasks().size(), size_t(1));
    }

    // The worker on its own thread reports through its signal.
    void worker()
    {
        F.Use(TSyncFixture::kFirst);
        F.NewTask(QStringLiteral("Through the worker"));
        QThread thread;
        TSyncWorker worker;
        worker.moveToThread(&thread);
        thread.start();
        QSignalSpy finished(&worker, &TSyncWorker::Finished);
        QMetaObject::invokeMethod(
            &worker, [&worker, config = F.Config()] { worker.Sync(*GetTasksDB(), config); },
            Qt::QueuedConnection);
        QVERIFY(finished.wait(60000));
        thread.quit();
        thread.wait();
        const auto result = finished.at(0).at(0).value<TSyncResult>();
        QVERIFY2(result.ok, qPrintable(result.error));
        QCOMPARE(result.uploaded, 1);
        QCOMPARE(F.server.MemberCount(F.CollectionName()), 1);
    }
};

QTEST_GUILESS_MAIN(TestSync)
#include "test_sync.moc"
