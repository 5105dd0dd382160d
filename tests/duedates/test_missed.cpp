// The reminder pass that misses nothing, through the clock seam on a real
// database file: due times passed during sleep or while the program was
// closed are announced once afterwards, one by one or counted; a due time is
// never announced twice, also across restarts; the record of what was
// announced and when the last pass ran.

#include "due_test_env.h"
#include "reminder_test_store.h"

#include "app/tasks_missed.h"
#include "app/tasks_notifier.h"
#include "app/tasks_reminders.h"

#include <QtTest>
#include <memory>

namespace {

// One run of the program: its reminder pass and its loaded records.
struct TRun
{
    std::unique_ptr<TtasksMissedReminders> Reminders = std::make_unique<TtasksMissedReminders>();
    TLoadedRecords Records = LoadRecords();
};

// A moment of a scenario: "HH:mm" or "HH:mm:ss" on 8 May 2012, with "+N/" in
// front for N days later.
QDateTime Moment(const QString& aText)
{
    int days = 0;
    QString time = aText;
    if (time.startsWith(QLatin1Char('+'))) {
        const qsizetype slash = time.indexOf(QLatin1Char('/'));
        days = time.mid(1, slash - 1).toInt();
        time = time.mid(slash + 1);
    }
    QTime clock = QTime::fromString(time, QStringLiteral("HH:mm:ss"));
    if (!clock.isValid())
        clock = QTime::fromString(time, QStringLiteral("HH:mm"));
    Q_ASSERT(clock.isValid());
    return QDateTime(QDate(2012, 5, 8).addDays(days), clock);
}

// Plays a scenario of steps separated by blanks: a moment is a pass at that
// time; "|" closes the program and starts it again, "x" ends it without
// closing (a crash) and starts it again, "R" reloads the list. Each task
// announced is listed as "moment id" (the moment as written in the steps);
// a task counted by the notification of missed tasks as "moment id*".
QStringList Play(const QString& aSteps)
{
    auto run = std::make_unique<TRun>();
    auto notifier = std::make_shared<TtasksRecordingNotifier>();
    QStringList announced;
    for (const QString& step : aSteps.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("|") || step == QLatin1String("x")) {
            if (step == QLatin1String("|"))
                run->Reminders->Close();
            run.reset();
            // A new process opens the database anew.
            ReleaseTasksDB();
            run = std::make_unique<TRun>();
            continue;
        }
        if (step == QLatin1String("R")) {
            run->Records = LoadRecords();
            continue;
        }
        SetFixedNow(Moment(step));
        notifier->Clear();
        QStringList ids;
        run->Reminders->CheckReminders(run->Records, *notifier,
                                       [&ids](const QString& aId) { ids << aId; });
        const bool counted =
            !notifier->Notifications().isEmpty() && notifier->Notifications()[0].TaskId.isEmpty();
        for (const QString& id : ids)
            announced << step + QLatin1Char(' ') + id + (counted ? QStringLiteral("*") : QString());
    }
    return announced;
}

} // namespace

class TestMissed : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TDueTestEnv> FEnv;

private Q_SLOTS:
    void init() { FEnv = std::make_unique<TDueTestEnv>(); }
    void cleanup() { FEnv.reset(); }

    // One task A due at 10:00 and the passes of a scenario (see Play). Each
    // scenario starts on a database that never recorded a pass.
    void oneTask_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("announced");
        const QStringList none;
        QTest::newRow("a minute apart: the minute's pass")
            << "09:58:30 09:59:30 10:00:30 10:01:30" << QStringList{"09:59:30 A"};
        QTest::newRow("asleep across the due time")
            << "09:50 09:51 10:30 10:31" << QStringList{"10:30 A"};
        QTest::newRow("asleep until the next day") << "09:50 +1/08:00" << QStringList{"+1/08:00 A"};
        QTest::newRow("woke within the minute") << "09:50 10:00:40" << QStringList{"10:00:40 A"};
        QTest::newRow("woke 61 seconds after the due time")
            << "09:50 10:01:01 10:02:01" << QStringList{"10:01:01 A"};
        QTest::newRow("asleep until just before the due time")
            << "09:50 09:58:30 09:59:30 10:00:30" << QStringList{"09:59:30 A"};
        QTest::newRow("restarted after the due time")
            << "09:50 | 10:30 10:31" << QStringList{"10:30 A"};
        QTest::newRow("crashed, restarted after the due time")
            << "09:00 09:50 x 10:30" << QStringList{"10:30 A"};
        QTest::newRow("two restarts after the due time")
            << "09:50 | 10:30 | 10:40 | +1/09:00" << QStringList{"10:30 A"};
        QTest::newRow("restarted within the minute of the announcement")
            << "09:59:30 | 10:00:20 10:00:50" << QStringList{"09:59:30 A"};
        QTest::newRow("restarted within the minute of a late announcement")
            << "10:00:30 | 10:00:50 10:01:50" << QStringList{"10:00:30 A"};
        QTest::newRow("crashed within the minute of the announcement")
            << "09:59:30 x 10:00:20" << QStringList{"09:59:30 A"};
        QTest::newRow("announced after sleep, then restarted")
            << "09:50 10:30 x 10:31 | 11:00" << QStringList{"10:30 A"};
        QTest::newRow("first run after the due time: nothing from before") << "10:30 10:31" << none;
        QTest::newRow("first run after the due time, then restarts")
            << "10:30 | 10:40 x 11:00" << none;
        QTest::newRow("restarted before the due time")
            << "09:50 | 09:55 09:59:30" << QStringList{"09:59:30 A"};
        // A reload within the minute lets the minute's pass announce again,
        // as it always did; the look back never does.
        QTest::newRow("reloaded within the minute")
            << "09:59:30 R 10:00:30 R 10:30" << QStringList{"09:59:30 A", "10:00:30 A"};
        QTest::newRow("reloaded after the announcement, then asleep")
            << "09:59:30 R 10:30" << QStringList{"09:59:30 A"};
        QTest::newRow("reloaded after an announcement after sleep")
            << "09:50 10:30 R 10:31 R 11:30" << QStringList{"10:30 A"};
        QTest::newRow("the clock set back across the due time")
            << "10:30 09:50 09:59:30 10:00:30" << QStringList{"09:59:30 A"};
    }
    void oneTask()
    {
        QFETCH(QString, steps);
        QFETCH(QStringList, announced);
        QVERIFY(StoreTask(QStringLiteral("A"), At(0, 10, 0)));
        QCOMPARE(Play(steps), announced);
    }

    // Tasks the look back leaves alone, after a sleep from 09:50 to 12:00.
    void notMissed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("finished") << "finished";
        QTest::newRow("unplanned") << "unplanned";
        QTest::newRow("due before the last pass") << "before";
        QTest::newRow("due after the wake") << "after";
    }
    void notMissed()
    {
        QFETCH(QString, kind);
        const QDateTime due = kind == QLatin1String("unplanned") ? QDateTime()
                              : kind == QLatin1String("before")  ? At(0, 9, 40)
                              : kind == QLatin1String("after")   ? At(0, 12, 5)
                                                                 : At(0, 11, 0);
        QVERIFY(StoreTask(QStringLiteral("A"), due));
        if (kind == QLatin1String("finished"))
            QVERIFY(
                TtasksStore::FinishTask(QStringLiteral("A"), DateTimeFromQDateTime(At(0, 9, 0))));
        QVERIFY(Play(QStringLiteral("09:50 12:00 12:01")).isEmpty());
    }

    // Up to three missed tasks are announced one by one, oldest first, before
    // the minute's own; more are counted by one notification.
    void manyMissed_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("sounds");
        QTest::addColumn<QString>("body");
        QTest::newRow("one") << 1 << 1 << QString();
        QTest::newRow("three, one by one") << 3 << 3 << QString();
        QTest::newRow("four, counted") << 4 << 1 << "Task 1\r\nTask 2\r\nTask 3\r\nTask 4";
        QTest::newRow("seven, five of them listed")
            << 7 << 1 << "Task 1\r\nTask 2\r\nTask 3\r\nTask 4\r\nTask 5\r\nand 2 more";
    }
    void manyMissed()
    {
        QFETCH(int, count);
        QFETCH(int, sounds);
        QFETCH(QString, body);
        // Stored in reverse order of their due times, which the look back orders.
        for (int i = count; i >= 1; --i)
            QVERIFY(StoreTask(QString::number(i), At(0, 10, i)));
        QVERIFY(StoreTask(QStringLiteral("now"), At(0, 12, 0)));
        TRun run;
        TtasksRecordingNotifier notifier;
        SetFixedNow(At(0, 9, 50));
        QCOMPARE(run.Reminders->CheckReminders(run.Records, notifier, nullptr), 0);
        SetFixedNow(At(0, 12, 0, 20));
        QStringList unread;
        QCOMPARE(run.Reminders->CheckReminders(run.Records, notifier,
                                               [&unread](const QString& aId) { unread << aId; }),
                 count + 1);

        QStringList expected;
        for (int i = 1; i <= count; ++i)
            expected << QString::number(i);
        QCOMPARE(unread, expected + QStringList{QStringLiteral("now")});
        for (const auto& record : run.Records)
            QVERIFY(record->notified);
        // The minute's task keeps its own sound and notification.
        QCOMPARE(notifier.SoundCount(), sounds + 1);
        const QList<TtasksNotification>& shown = notifier.Notifications();
        QCOMPARE(shown.size(), sounds + 1);
        QCOMPARE(shown.last().TaskId, QStringLiteral("now"));
        if (body.isNull()) {
            for (int i = 0; i < count; ++i) {
                QCOMPARE(shown[i].TaskId, QString::number(i + 1));
                QCOMPARE(shown[i].Title, QStringLiteral("Task ") + QString::number(i + 1));
            }
        } else {
            QCOMPARE(shown[0].TaskId, QString());
            QCOMPARE(shown[0].Title,
                     QStringLiteral("%1 tasks fell due while you were away").arg(count));
            QCOMPARE(shown[0].Body, body);
            QCOMPARE(shown[0].MSecs, 60000);
            // As a balloon, the same title and text.
            QCOMPARE(notifier.Balloons()[0].Title, shown[0].Title);
            QCOMPARE(notifier.Balloons()[0].Text, body);
        }
        // Each of them is recorded: the next start announces none again.
        QCOMPARE(Scalar(QStringLiteral("select count(*) from announced")),
                 QString::number(count + 1));
        notifier.Clear();
        run.Reminders->Close();
        ReleaseTasksDB();
        TRun next;
        SetFixedNow(At(0, 12, 30));
        QCOMPARE(next.Reminders->CheckReminders(next.Records, notifier, nullptr), 0);
        QVERIFY(notifier.Events().isEmpty());
    }

    // The counting notification's text for the summaries a list holds.
    void missedNotificationText()
    {
        TTaskRecord blank(QStringLiteral("a"));
        blank.summary = QStringLiteral("  ");
        TTaskRecord astral(QStringLiteral("b"));
        astral.summary =
            QString::fromUtf8("\xF0\x9F\x98\x80 \xD7\xA2\xD7\x91\xD7\xA8\xD7\x99\xD7\xAA");
        const TtasksNotification notification =
            MissedNotification({&blank, &astral, &blank, &blank});
        QCOMPARE(notification.Title, QStringLiteral("4 tasks fell due while you were away"));
        QCOMPARE(notification.Body, QStringLiteral("undefined\r\n") + astral.summary +
                                        QStringLiteral("\r\nundefined\r\nundefined"));
        QVERIFY(notification.TaskId.isEmpty());
    }

    // A quiet minute writes nothing; a pass that announced, the first pass of
    // a run, a look back and Close write the moment of the pass.
    void lastPassRecorded()
    {
        QVERIFY(StoreTask(QStringLiteral("A"), At(0, 10, 0)));
        const auto lastPass = [] {
            TDateTime when = -1;
            TtasksStore::ReadLastReminderPass(when);
            return when == 0 ? QStringLiteral("none") : DateTimeToSqlText(when);
        };
        QCOMPARE(lastPass(), QStringLiteral("none"));
        TRun run;
        TtasksRecordingNotifier notifier;
        const auto pass = [&](const QDateTime& aNow) {
            SetFixedNow(aNow);
            run.Reminders->CheckReminders(run.Records, notifier, nullptr);
            return lastPass();
        };
        QCOMPARE(pass(At(0, 9, 0)), QStringLiteral("2012-05-08 09:00:00"));
        QCOMPARE(pass(At(0, 9, 1)), QStringLiteral("2012-05-08 09:00:00"));
        QCOMPARE(pass(At(0, 9, 59, 30)), QStringLiteral("2012-05-08 09:59:30"));
        QCOMPARE(pass(At(0, 10, 0, 30)), QStringLiteral("2012-05-08 09:59:30"));
        QCOMPARE(pass(At(0, 11, 0)), QStringLiteral("2012-05-08 11:00:00"));
        QCOMPARE(pass(At(0, 11, 1)), QStringLiteral("2012-05-08 11:00:00"));
        run.Reminders->Close();
        QCOMPARE(lastPass(), QStringLiteral("2012-05-08 11:01:00"));
        // Closing again, or a run without a pass, changes nothing.
        run.Reminders->Close();
        TtasksMissedReminders().Close();
        QCOMPARE(lastPass(), QStringLiteral("2012-05-08 11:01:00"));
    }

    // The record of announcements: made by the first reminder operation, a
    // due time kept once, and tidied of what can no longer matter.
    void announcedRecord()
    {
        // A plain connect makes the schema alone.
        GetTasksDB()->Connect();
        QCOMPARE(Scalar(QStringLiteral("select count(*) from sqlite_master where name in "
                                       "('announced', 'reminder_pass')")),
                 QStringLiteral("0"));

        for (const char* id : {"open", "finished", "moved", "deleted"})
            QVERIFY(StoreTask(QLatin1String(id), At(0, 10, 0)));
        const TDateTime ten = DateTimeFromQDateTime(At(0, 10, 0));
        const TDateTime nine = DateTimeFromQDateTime(At(0, 9, 0));
        const std::vector<TAnnouncement> announced = {
            {QStringLiteral("open"), ten},     {QStringLiteral("open"), ten},
            {QStringLiteral("finished"), ten}, {QStringLiteral("moved"), nine},
            {QStringLiteral("moved"), ten},    {QStringLiteral("deleted"), ten}};
        QVERIFY(TtasksStore::RecordReminderPass(announced, ten));
        QCOMPARE(Scalar(QStringLiteral("select count(*) from announced")), QStringLiteral("5"));

        std::vector<TAnnouncement> listed;
        QVERIFY(TtasksStore::ListAnnounced(ten, ten, listed));
        QCOMPARE(listed.size(), size_t(4));
        QVERIFY(TtasksStore::ListAnnounced(nine, nine, listed));
        QCOMPARE(listed.size(), size_t(1));
        QCOMPARE(listed[0].taskid, QStringLiteral("moved"));
        QCOMPARE(DateTimeToSqlText(listed[0].duedt), QStringLiteral("2012-05-08 09:00:00"));
        QVERIFY(TtasksStore::ListAnnounced(nine + 1.0 / 86400, ten - 1.0 / 86400, listed));
        QVERIFY(listed.empty());

        QVERIFY(TtasksStore::FinishTask(QStringLiteral("finished"), ten));
        QVERIFY(TtasksStore::DeleteTask(QStringLiteral("deleted")));
        QVERIFY(TtasksStore::PruneAnnounced());
        QVERIFY(TtasksStore::ListAnnounced(0.5, ten + 1, listed));
        QStringList kept;
        for (const TAnnouncement& row : listed)
            kept << row.taskid + QLatin1Char(' ') + DateTimeToSqlText(row.duedt);
        kept.sort();
        QCOMPARE(kept, (QStringList{"moved 2012-05-08 10:00:00", "open 2012-05-08 10:00:00"}));
    }

    // When the record cannot be kept (here a table of that name in another
    // shape), the minute's reminders still come, and nothing is raised.
    void recordRefused()
    {
        QVERIFY(GetTasksDB()->Exec(QStringLiteral("CREATE TABLE announced( other INT );")));
        QVERIFY(StoreTask(QStringLiteral("A"), At(0, 10, 0)));
        QVERIFY(StoreTask(QStringLiteral("B"), At(0, 10, 30)));
        QCOMPARE(Play(QStringLiteral("09:59:30 10:00:30 11:00 11:01")),
                 (QStringList{"09:59:30 A", "11:00 B"}));
    }

    // Without a database to open, the reminders of the loaded records still come.
    void databaseUnreachable()
    {
        QVERIFY(StoreTask(QStringLiteral("A"), At(0, 10, 0)));
        TRun run;
        ReleaseTasksDB();
        // A folder that cannot be made: a file stands where it would be.
        QFile blocker(FEnv->Path() + QStringLiteral("/blocker"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        SetTasksDBFile(blocker.fileName() + QStringLiteral("/tasks.db"));
        TtasksRecordingNotifier notifier;
        SetFixedNow(At(0, 9, 59, 30));
        QCOMPARE(run.Reminders->CheckReminders(run.Records, notifier, nullptr), 1);
        run.Reminders->Close();
        QCOMPARE(notifier.Notifications().size(), 1);
    }

    // A snoozed task is announced again ten minutes later, once.
    void snoozedAnnouncedAgain()
    {
        QVERIFY(StoreTask(QStringLiteral("A"), At(0, 10, 0)));
        TRun run;
        TtasksRecordingNotifier notifier;
        const auto pass = [&](const QDateTime& aNow) {
            SetFixedNow(aNow);
            return run.Reminders->CheckReminders(run.Records, notifier, nullptr);
        };
        QCOMPARE(pass(At(0, 9, 59, 30)), 1);
        SetFixedNow(At(0, 10, 0, 10, 400));
        QVERIFY(SnoozeRemindedTask(QStringLiteral("A"), notifier));
        QCOMPARE(notifier.Withdrawn(), QStringList{QStringLiteral("A")});
        QCOMPARE(DateTimeToSqlText(StoredTask(QStringLiteral("A")).duedt),
                 QStringLiteral("2012-05-08 10:10:10"));
        // The window reads the task's row again.
        run.Records = LoadRecords();
        QCOMPARE(pass(At(0, 10, 0, 30)), 0);
        QCOMPARE(pass(At(0, 10, 9, 0)), 0);
        QCOMPARE(pass(At(0, 10, 10, 0)), 1);
        QCOMPARE(pass(At(0, 10, 11, 0)), 0);
        // Snoozed again while the computer sleeps through the new time: the
        // look back announces it once.
        SetFixedNow(At(0, 10, 11, 0));
        QVERIFY(SnoozeRemindedTask(QStringLiteral("A"), notifier));
        run.Records = LoadRecords();
        QCOMPARE(pass(At(0, 10, 40)), 1);
        QCOMPARE(pass(At(0, 10, 41)), 0);
        QCOMPARE(notifier.Notifications().size(), 3);
    }
};

QTEST_MAIN(TestMissed)
#include "test_missed.moc"
