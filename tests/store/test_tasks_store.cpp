// The task and tag operations of the store on a real database file, without a
// window: what each one stores, and that each one that fails (a trigger that
// refuses, the engine giving up the transaction, a file locked by another
// program) names its reason and leaves nothing half-written.

#include "../common/store_rows.h"
#include "../common/test_env.h"

#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "store/zdb.h"
#include "util/tasks_log.h"

#include <QtTest>
#include <algorithm>
#include <memory>
#include <sqlite3.h>

namespace {

const QString kTaskA = QStringLiteral("TaskAaaaaaaaaaaa");
const QString kTaskB = QStringLiteral("TaskBbbbbbbbbbbb");
const QString kTaskNew = QStringLiteral("TaskNewaaaaaaaaa");
const QString kTagA = QStringLiteral("TagAaaaaaaaaaaaa");
const QString kTagB = QStringLiteral("TagBbbbbbbbbbbbb");
const QString kTagNew = QStringLiteral("TagNewaaaaaaaaaa");
const QString kRefused = QStringLiteral("refused by the test");
const QString kLocked = QStringLiteral("the database is locked");

void Sql(const QString& aSQL)
{
    QVERIFY2(GetTasksDB()->Exec(aSQL), qPrintable(aSQL));
}

// Everything the three tables hold, to tell that an operation changed nothing.
QStringList Snapshot()
{
    return Rows(QStringLiteral("select * from tasks order by taskid"))
           << QStringLiteral("--") << Rows(QStringLiteral("select * from tags order by tagid"))
           << QStringLiteral("--")
           << Rows(QStringLiteral("select * from tags_tasks order by tagid, taskid"));
}

// Another program's connection to the database file while it lives.
class TOtherProgram
{
public:
    TOtherProgram()
    {
        const QString file = NativePath(GetTasksDB()->Connection().Database);
        sqlite3_open(file.toUtf8().constData(), &FHandle);
    }
    ~TOtherProgram()
    {
        sqlite3_exec(FHandle, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(FHandle);
    }
    TOtherProgram(const TOtherProgram&) = delete;
    TOtherProgram& operator=(const TOtherProgram&) = delete;
    bool Exec(const char* aSQL)
    {
        return sqlite3_exec(FHandle, aSQL, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3* FHandle = nullptr;
};

} // namespace

class TestTasksStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;
    QStringList FLogged;
    TBulkEntryReport FReport;

    // Two tags; task A open with a due date-time and tag A, task B finished
    // today with tag B.
    void Seed()
    {
        Sql(QStringLiteral("insert into tags (tagid, title, color, image, createddt) values ('%1', "
                           "'Home', 255, 0, '2020-01-01 00:00:00'), ('%2', 'Work', 65280, 0, "
                           "'2020-01-02 00:00:00')")
                .arg(kTagA, kTagB));
        Sql(QStringLiteral("insert into tasks (taskid, summary, note, createddt, duedt, "
                           "finisheddt) values ('%1', 'alpha', 'note a', '2026-05-01 08:00:00', "
                           "'2026-05-09 09:00:00', NULL), ('%2', 'beta', NULL, '2026-05-02 "
                           "08:00:00', NULL, '2026-05-08 10:00:00')")
                .arg(kTaskA, kTaskB));
        Sql(QStringLiteral("insert into tags_tasks (tagid, taskid) values ('%1', '%2'), ('%3', "
                           "'%4')")
                .arg(kTagA, kTaskA, kTagB, kTaskB));
    }

    // An edit of task A that read it as Seed stores it, changing nothing yet.
    static TTaskEdit SeededEdit()
    {
        TTaskEdit edit;
        edit.taskid = kTaskA;
        edit.loaded.taskid = kTaskA;
        edit.loaded.summary = QStringLiteral("alpha");
        edit.loaded.note = QStringLiteral("note a");
        edit.loaded.duedt = EncodeDateTime(2026, 5, 9, 9);
        edit.loaded.order.duedt = QStringLiteral("2026-05-09 09:00:00");
        return edit;
    }

    // Runs the named operation on the seeded data.
    TStoreResult Run(const QString& aOperation)
    {
        if (aOperation == QLatin1String("list")) {
            std::vector<TStoredTask> tasks;
            return TtasksStore::ListTasks(tasks);
        }
        if (aOperation == QLatin1String("list some") || aOperation == QLatin1String("list many")) {
            QStringList ids = {kTaskA, kTaskB};
            // More ids than a few are read with one run of the whole list.
            for (int i = 0; aOperation == QLatin1String("list many") && i < 70; ++i)
                ids << QStringLiteral("Other%1").arg(i);
            std::vector<TStoredTask> tasks;
            return TtasksStore::ListTasksOf(ids, tasks);
        }
        if (aOperation == QLatin1String("read")) {
            TStoredTask task;
            return TtasksStore::ReadTask(kTaskA, task);
        }
        if (aOperation == QLatin1String("list tags")) {
            std::vector<TStoredTag> tags;
            return TtasksStore::ListTags(tags);
        }
        if (aOperation == QLatin1String("save new") || aOperation == QLatin1String("save edited")) {
            const bool creating = aOperation == QLatin1String("save new");
            TStoredTask task;
            task.taskid = creating ? kTaskNew : kTaskA;
            task.summary = QStringLiteral("typed");
            task.note = QStringLiteral("typed note");
            task.duedt = EncodeDateTime(2026, 6, 1, 12);
            return TtasksStore::SaveTask(task, {kTagA, kTagB}, creating);
        }
        if (aOperation == QLatin1String("save edit")) {
            // Every field, a link added and one removed; the unlink runs last.
            TTaskEdit edit = SeededEdit();
            edit.summary = QStringLiteral("typed");
            edit.note = QStringLiteral("typed note");
            edit.duedt = EncodeDateTime(2026, 6, 1, 12);
            edit.linkTagIds = QStringList{kTagB};
            edit.unlinkTagIds = QStringList{kTagA};
            TTaskEditConflict conflict;
            const TStoreResult result = TtasksStore::SaveTaskEdit(edit, conflict);
            if (result && conflict.Any())
                return TStoreResult{false, QStringLiteral("unexpected conflict")};
            return result;
        }
        if (aOperation == QLatin1String("delete task"))
            return TtasksStore::DeleteTask(kTaskA);
        if (aOperation == QLatin1String("finish"))
            return TtasksStore::FinishTask(kTaskA, EncodeDateTime(2026, 5, 8, 11));
        if (aOperation == QLatin1String("re-open"))
            return TtasksStore::ReopenTask(kTaskB);
        if (aOperation == QLatin1String("move"))
            return TtasksStore::MoveDueDates({kTaskA}, EncodeDateTime(2026, 5, 9, 13));
        if (aOperation == QLatin1String("bulk"))
            return TtasksStore::InsertTasks({QStringLiteral("first"), QStringLiteral("second"),
                                             QString(), QStringLiteral("third")},
                                            {kTagA, kTagB}, FReport);
        if (aOperation == QLatin1String("new tag"))
            return TtasksStore::SaveTag({kTagNew, QStringLiteral("New"), 0x123456, 0, 0}, true);
        if (aOperation == QLatin1String("edit tag"))
            return TtasksStore::SaveTag({kTagA, QStringLiteral("Renamed"), 0x654321, 0, 0}, false);
        if (aOperation == QLatin1String("delete tag"))
            return TtasksStore::DeleteTag(kTagA);
        qFatal("unknown operation");
    }

private Q_SLOTS:
    void init()
    {
        FEnv = std::make_unique<TTestEnv>();
        FEnv->UseDatabase();
        // A locked file fails fast; the time-out is read at the connect.
        GetTasksDB()->Connection().BusyTimeoutMs = 20;
        GetTasksDB()->Connect();
        // "Today" is the 8th of May 2026, local time.
        SetFixedNow(QDateTime(QDate(2026, 5, 8), QTime(12, 0)));
        FLogged.clear();
        auto log = std::make_unique<TtasksLog>();
        log->FileName = FEnv->File("ulmora.log");
        log->OnLog = [this](TtasksLog&, const QString& aLine) { FLogged << aLine; };
        SetTasksLog(std::move(log));
        FReport = TBulkEntryReport();
    }
    void cleanup()
    {
        SetTasksLog(nullptr);
        FEnv.reset();
    }

    // ---------------------------------------------------------------- tasks

    void listTasksGivesOpenAndFinishedToday()
    {
        Seed();
        Sql(QStringLiteral("insert into tasks (taskid, summary, createddt, duedt, finisheddt) "
                           "values ('Yesterday', 'done before', '2026-05-01 08:00:00', NULL, "
                           "'2026-05-07 23:59:59'), ('Unplanned', 'no date', '2026-05-03 "
                           "08:00:00', NULL, NULL), ('Newer', 'same due, newer', '2026-05-04 "
                           "08:00:00', '2026-05-09 09:00:00', NULL)"));
        Sql(QStringLiteral("insert into tags_tasks (tagid, taskid) values ('%1', '%2')")
                .arg(kTagB, kTaskA));
        std::vector<TStoredTask> tasks;
        QVERIFY(TtasksStore::ListTasks(tasks));
        QStringList listed;
        for (const TStoredTask& task : tasks) {
            QStringList ids = task.tagsids.split(QLatin1Char(','), Qt::SkipEmptyParts);
            ids.sort();
            listed << QStringLiteral("%1|%2|%3|%4|%5|%6")
                          .arg(task.taskid, task.summary, task.note,
                               task.duedt == 0 ? QStringLiteral("none")
                                               : DateTimeToSqlText(task.duedt),
                               task.finished ? QStringLiteral("finished") : QStringLiteral("open"),
                               ids.join(QLatin1Char('+')));
        }
        // Open tasks without due date first, then by due date-time with the
        // newer first among equals, then the task finished today; the task
        // finished yesterday is not listed.
        QCOMPARE(listed, QStringList({
                             QStringLiteral("Unplanned|no date||none|open|"),
                             QStringLiteral("Newer|same due, newer||2026-05-09 09:00:00|open|"),
                             QStringLiteral("%1|alpha|note a|2026-05-09 09:00:00|open|%2+%3")
                                 .arg(kTaskA, kTagA, kTagB),
                             QStringLiteral("%1|beta||none|finished|%2").arg(kTaskB, kTagB),
                         }));
    }

    // The rows of a few tasks, read with the list statement restricted to
    // them, are the rows of the whole list for those tasks, in its order.
    void listTasksOfGivesTheRowsOfTheWholeList_data()
    {
        QTest::addColumn<QStringList>("ids");
        QTest::addColumn<QStringList>("listed");
        QTest::newRow("an open task") << QStringList{kTaskA} << QStringList{kTaskA};
        QTest::newRow("finished today") << QStringList{kTaskB} << QStringList{kTaskB};
        QTest::newRow("finished yesterday") << QStringList{"Yesterday"} << QStringList();
        QTest::newRow("not stored") << QStringList{"NoSuchTask"} << QStringList();
        QTest::newRow("none") << QStringList() << QStringList();
        QTest::newRow("several, in the list's order")
            << QStringList{kTaskB, "NoSuchTask", kTaskA, "Unplanned", kTaskA}
            << QStringList{"Unplanned", kTaskA, kTaskB};
        QStringList many = {kTaskB, "Yesterday", "Newer", kTaskA};
        for (int i = 0; i < 70; ++i)
            many << QStringLiteral("Absent%1").arg(i);
        QTest::newRow("more than a few: one run of the whole list")
            << many << QStringList{"Newer", kTaskA, kTaskB};
    }
    void listTasksOfGivesTheRowsOfTheWholeList()
    {
        QFETCH(QStringList, ids);
        QFETCH(QStringList, listed);
        Seed();
        Sql(QStringLiteral("insert into tasks (taskid, summary, createddt, duedt, finisheddt) "
                           "values ('Yesterday', 'done before', '2026-05-01 08:00:00', NULL, "
                           "'2026-05-07 23:59:59'), ('Unplanned', 'no date', '2026-05-03 "
                           "08:00:00', NULL, NULL), ('Newer', 'same due, newer', '2026-05-04 "
                           "08:00:00', '2026-05-09 09:00:00', NULL)"));
        // Links out of the order of their ids, to a tag that is gone, and
        // without a tag id.
        Sql(QStringLiteral("insert into tags_tasks (tagid, taskid) values ('%1', '%2'), "
                           "('ZZGoneTagaaaaaa', '%2'), ('%1', 'Newer'), ('%3', 'Newer'), "
                           "(NULL, 'Unplanned')")
                .arg(kTagB, kTaskA, kTagA));
        const auto text = [](const TStoredTask& aTask) {
            return QStringList{aTask.taskid,
                               aTask.summary,
                               aTask.note,
                               QString::number(aTask.duedt, 'f', 8),
                               aTask.finished ? QStringLiteral("finished") : QStringLiteral("open"),
                               aTask.tagsids,
                               aTask.order.finisheddt,
                               aTask.order.duedt,
                               aTask.order.createddt,
                               aTask.order.taskid}
                .join(QLatin1Char('|'));
        };
        std::vector<TStoredTask> all;
        QVERIFY(TtasksStore::ListTasks(all));
        QStringList expected;
        for (const QString& id : listed) {
            const auto found = std::find_if(all.begin(), all.end(), [&](const TStoredTask& aTask) {
                return aTask.taskid == id;
            });
            QVERIFY(found != all.end());
            expected << text(*found);
        }
        std::vector<TStoredTask> some;
        QVERIFY(TtasksStore::ListTasksOf(ids, some));
        QStringList got;
        for (const TStoredTask& task : some)
            got << text(task);
        QCOMPARE(got, expected);
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
    }

    // ListedBefore orders the rows exactly as the list statement does, also
    // for values the program never writes and for rows equal in every key.
    void listedBeforeFollowsTheEngine()
    {
        // Finished today at two times; due as numbers, as other text, empty
        // and NULL; created with characters on both sides of the surrogates;
        // four tasks equal in every key, inserted out of their id order.
        Sql(QStringLiteral(
            "insert into tasks (taskid, summary, createddt, duedt, finisheddt) values "
            "('F2', 'x', '2026-05-01 00:00:00', NULL, '2026-05-08 10:00:00'), "
            "('F1', 'x', '2026-05-01 00:00:00', '2026-05-01 00:00:00', '2026-05-08 09:00:00'), "
            "('N1', 'x', '2026-05-01 00:00:00', 45000, NULL), "
            "('N2', 'x', '2026-05-01 00:00:00', 44999.5, NULL), "
            "('N3', 'x', '2026-05-01 00:00:00', 1e20, NULL), "
            "('T1', 'x', '2026-05-01 00:00:00', 'tomorrow', NULL), "
            "('T2', 'x', '2026-05-01 00:00:00', '', NULL), "
            "('D1', 'x', '2026-05-01 00:00:00', '2026-05-09 09:00:00', NULL), "
            "('D2', 'x', '2026-05-02 00:00:00', '2026-05-09 09:00:00', NULL), "
            "('D3', 'x', NULL, '2026-05-09 09:00:00', NULL), "
            "('D4', 'x', '', '2026-05-09 09:00:00', NULL), "
            "('b', 'x', '2026-05-01 00:00:00', NULL, NULL), "
            "('A', 'x', '2026-05-01 00:00:00', NULL, NULL), "
            "('a', 'x', '2026-05-01 00:00:00', NULL, NULL), "
            "('B', 'x', '2026-05-01 00:00:00', NULL, NULL)"));
        Sql(QString::fromUtf8("insert into tasks (taskid, summary, createddt, duedt) values "
                              "('P1', 'x', 'x\xee\x80\x80', '2030-01-01 00:00:00'), "
                              "('P2', 'x', 'x\xf0\x9f\x98\x80', '2030-01-01 00:00:00')"));
        std::vector<TStoredTask> tasks;
        QVERIFY(TtasksStore::ListTasks(tasks));
        QStringList ids;
        for (const TStoredTask& task : tasks)
            ids << task.taskid;
        QCOMPARE(ids, QStringList({"A", "B", "a", "b", "N2", "N1", "N3", "T2", "D2", "D1", "D4",
                                   "D3", "P2", "P1", "T1", "F1", "F2"}));
        for (size_t i = 0; i + 1 < tasks.size(); ++i) {
            QVERIFY2(
                ListedBefore(tasks[i].order, tasks[i + 1].order),
                qPrintable(tasks[i].taskid + QStringLiteral(" before ") + tasks[i + 1].taskid));
            QVERIFY(!ListedBefore(tasks[i + 1].order, tasks[i].order));
        }
        QVERIFY(!ListedBefore(tasks[0].order, tasks[0].order));
        // A NULL is not the empty text.
        QVERIFY(tasks[7].order.duedt.isEmpty() && !tasks[7].order.duedt.isNull());
    }

    void surelyListedOnTellsWhatOnlyTheEngineCan_data()
    {
        QTest::addColumn<QString>("finished");
        QTest::addColumn<bool>("sure");
        QTest::newRow("open") << QString() << true;
        QTest::newRow("finished today") << "2026-05-08 23:59:59" << true;
        QTest::newRow("finished at midnight") << "2026-05-08 00:00:00" << true;
        QTest::newRow("finished yesterday") << "2026-05-07 23:59:59" << false;
        QTest::newRow("hour out of range") << "2026-05-08 24:00:00" << false;
        QTest::newRow("minute out of range") << "2026-05-08 10:60:00" << false;
        QTest::newRow("no seconds") << "2026-05-08 10:00" << false;
        QTest::newRow("another separator") << "2026-05-08T10:00:00" << false;
        QTest::newRow("a day number") << "46150.5" << false;
        QTest::newRow("empty text") << "" << false;
    }
    void surelyListedOnTellsWhatOnlyTheEngineCan()
    {
        QFETCH(QString, finished);
        QFETCH(bool, sure);
        QCOMPARE(TaskListToday(), QStringLiteral("2026-05-08"));
        TTaskListKey key;
        key.finisheddt = finished;
        QCOMPARE(SurelyListedOn(key, TaskListToday()), sure);
    }

    void readTaskGivesTheRowAndItsTagIds()
    {
        Seed();
        Sql(QStringLiteral("insert into tags_tasks (tagid, taskid) values ('%1', '%2')")
                .arg(kTagB, kTaskA));
        TStoredTask task;
        QVERIFY(TtasksStore::ReadTask(kTaskA, task));
        QCOMPARE(task.taskid, kTaskA);
        QCOMPARE(task.summary, QStringLiteral("alpha"));
        QCOMPARE(task.note, QStringLiteral("note a"));
        QCOMPARE(DateTimeToSqlText(task.duedt), QStringLiteral("2026-05-09 09:00:00"));
        QVERIFY(!task.finished);
        QCOMPARE(task.tagsids, kTagA + QLatin1Char(',') + kTagB);
        // The stored texts of its times, as the list's key holds them.
        QCOMPARE(task.order.duedt, QStringLiteral("2026-05-09 09:00:00"));
        QCOMPARE(task.order.createddt, QStringLiteral("2026-05-01 08:00:00"));
        QVERIFY(task.order.finisheddt.isNull());
        QCOMPARE(task.order.taskid, kTaskA);
        QVERIFY(!GetTasksDB()->Connection().InTransaction());

        TStoredTask gone;
        const TStoreResult read = TtasksStore::ReadTask(QStringLiteral("no such task"), gone);
        QVERIFY(!read);
        QCOMPARE(read.Message(QStringLiteral("The task could not be read from the database.")),
                 QStringLiteral("The task could not be read from the database.\n\nThe reason: the "
                                "task is no longer stored."));
    }

    // An edit tells the user's change of the due date-time by the text the
    // store would write against the text it read.
    void dueDateTimeDiffersByTheStoredText_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QString>("due");
        QTest::addColumn<bool>("differs");
        const QString none;
        QTest::newRow("none, none") << "<null>" << none << false;
        QTest::newRow("none, a date-time") << "<null>"
                                           << "2026-05-09 09:00:00" << true;
        QTest::newRow("the same date-time") << "2026-05-09 09:00:00"
                                            << "2026-05-09 09:00:00" << false;
        QTest::newRow("another second") << "2026-05-09 09:00:00"
                                        << "2026-05-09 09:00:01" << true;
        QTest::newRow("a date-time, none") << "2026-05-09 09:00:00" << none << true;
        QTest::newRow("the same moment in another form") << "2026-05-09T09:00:00"
                                                         << "2026-05-09 09:00:00" << true;
        QTest::newRow("empty text, none") << "" << none << true;
        QTest::newRow("words, none") << "soon" << none << true;
    }
    void dueDateTimeDiffersByTheStoredText()
    {
        QFETCH(QString, stored);
        QFETCH(QString, due);
        QFETCH(bool, differs);
        Sql(QStringLiteral("insert into tasks (taskid, summary, duedt) values ('%1', 'x', %2)")
                .arg(kTaskA, stored == QLatin1String("<null>")
                                 ? QStringLiteral("NULL")
                                 : QLatin1Char('\'') + stored + QLatin1Char('\'')));
        TStoredTask task;
        QVERIFY(TtasksStore::ReadTask(kTaskA, task));
        const TDateTime value = due.isNull() ? 0 : SqlTextToDateTime(due);
        QCOMPARE(DueDateTimeDiffers(task, value), differs);
        QCOMPARE(StoredDueText(value), due);
    }

    void saveTaskStoresTheRowAndExactlyItsLinks()
    {
        Seed();
        TStoredTask task;
        task.taskid = kTaskNew;
        task.summary = QStringLiteral("new \"quoted\" 'task'");
        // An empty note is stored as empty text, not NULL.
        task.note = QString();
        QVERIFY(TtasksStore::SaveTask(task, {kTagA, kTagB}, true));
        QCOMPARE(Rows(QStringLiteral("select summary, typeof(note), note, duedt, createddt is not "
                                     "null, finisheddt from tasks where taskid='%1'")
                          .arg(kTaskNew)),
                 QStringList{QStringLiteral("new \"quoted\" 'task'|text||<null>|1|<null>")});
        QCOMPARE(
            Rows(QStringLiteral("select tagid, createddt from tags_tasks where taskid='%1' "
                                "order by tagid")
                     .arg(kTaskNew)),
            QStringList({kTagA + QStringLiteral("|<null>"), kTagB + QStringLiteral("|<null>")}));

        // Editing keeps the creation time and replaces the links.
        const QString created =
            One(QStringLiteral("select createddt from tasks where taskid='%1'").arg(kTaskA));
        task.taskid = kTaskA;
        task.summary = QStringLiteral("alpha edited");
        task.note = QStringLiteral("line one\nline two");
        task.duedt = EncodeDateTime(2026, 6, 1, 12, 30, 15);
        QVERIFY(TtasksStore::SaveTask(task, {kTagB}, false));
        QCOMPARE(Rows(QStringLiteral("select summary, note, duedt, createddt from tasks where "
                                     "taskid='%1'")
                          .arg(kTaskA)),
                 QStringList{QStringLiteral("alpha edited|line one\nline two|2026-06-01 "
                                            "12:30:15|") +
                             created});
        QCOMPARE(Rows(QStringLiteral("select tagid from tags_tasks where taskid='%1'").arg(kTaskA)),
                 QStringList{kTagB});
        // No tags removes every link.
        QVERIFY(TtasksStore::SaveTask(task, {}, false));
        QCOMPARE(
            One(QStringLiteral("select count(*) from tags_tasks where taskid='%1'").arg(kTaskA)),
            QStringLiteral("0"));
        QCOMPARE(One(QStringLiteral("select count(*) from tasks")), QStringLiteral("3"));
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
    }

    // An edit writes only what the user changed, and nothing when the task
    // was deleted or a field the user changed was changed elsewhere meanwhile
    // to another value.
    void saveTaskEditKeepsChangesMadeElsewhere_data()
    {
        QTest::addColumn<QStringList>("elsewhere");
        // The user's values; a null QVariant for a field the user left alone.
        // A due date-time as the store's text, empty for none.
        QTest::addColumn<QVariant>("summary");
        QTest::addColumn<QVariant>("note");
        QTest::addColumn<QVariant>("due");
        QTest::addColumn<QStringList>("link");
        QTest::addColumn<QStringList>("unlink");
        QTest::addColumn<QString>("conflicts");
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("links");
        const QString a = kTaskA;
        const auto set = [&](const QString& aAssignments) {
            return QStringLiteral("update tasks set %1 where taskid='%2'").arg(aAssignments, a);
        };
        const QVariant none;
        const QString due = QStringLiteral("2026-05-09 09:00:00");

        QTest::newRow("only the summary changed") << QStringList() << QVariant("typed") << none
                                                  << none << QStringList() << QStringList() << ""
                                                  << "typed|note a|" + due << QStringList{kTagA};
        QTest::newRow("a note changed elsewhere is kept")
            << QStringList{set("note='from the server'")} << QVariant("typed") << none << none
            << QStringList() << QStringList() << ""
            << "typed|from the server|" + due << QStringList{kTagA};
        QTest::newRow("a due date-time changed elsewhere is kept")
            << QStringList{set("duedt='2026-07-01 10:00:00'")} << none << QVariant("typed note")
            << none << QStringList() << QStringList() << ""
            << "alpha|typed note|2026-07-01 10:00:00" << QStringList{kTagA};
        QTest::newRow("both changed the note: conflict, nothing written")
            << QStringList{set("note='from the server'")} << QVariant("typed")
            << QVariant("typed note") << QVariant("2026-06-01 12:00:00") << QStringList{kTagB}
            << QStringList{kTagA} << "note"
            << "alpha|from the server|" + due << QStringList{kTagA};
        QTest::newRow("both changed summary and due date-time")
            << QStringList{set("summary='server', duedt=NULL")} << QVariant("typed") << none
            << QVariant("2026-06-01 12:00:00") << QStringList() << QStringList() << "summary,due"
            << "server|note a|<null>" << QStringList{kTagA};
        QTest::newRow("the user cleared a due date-time changed elsewhere")
            << QStringList{set("duedt='2026-07-01 10:00:00'")} << none << none << QVariant("")
            << QStringList() << QStringList() << "due"
            << "alpha|note a|2026-07-01 10:00:00" << QStringList{kTagA};
        QTest::newRow("changed elsewhere to the user's value: no conflict")
            << QStringList{set("note='same', duedt=NULL")} << none << QVariant("same")
            << QVariant("") << QStringList() << QStringList() << ""
            << "alpha|same|<null>" << QStringList{kTagA};
        QTest::newRow("a due date-time stored in another form is no conflict when untouched")
            << QStringList{set("duedt='2026-05-09T09:00:00'")} << QVariant("typed") << none << none
            << QStringList() << QStringList() << ""
            << "typed|note a|2026-05-09T09:00:00" << QStringList{kTagA};
        QTest::newRow("tags ticked and unticked while another was linked elsewhere")
            << QStringList{QStringLiteral("insert into tags_tasks (tagid, taskid) values ('%1', "
                                          "'%2')")
                               .arg(kTagNew, a)}
            << none << none << none << QStringList{kTagB} << QStringList{kTagA} << ""
            << "alpha|note a|" + due << QStringList{kTagB, kTagNew};
        QTest::newRow("a tag ticked that was linked elsewhere too")
            << QStringList{QStringLiteral("insert into tags_tasks (tagid, taskid) values ('%1', "
                                          "'%2')")
                               .arg(kTagB, a)}
            << none << none << none << QStringList{kTagB} << QStringList() << ""
            << "alpha|note a|" + due << QStringList{kTagA, kTagB};
        QTest::newRow("a tag unticked that was unlinked elsewhere too")
            << QStringList{QStringLiteral("delete from tags_tasks where taskid='%1'").arg(a)}
            << none << none << none << QStringList() << QStringList{kTagA} << ""
            << "alpha|note a|" + due << QStringList();
        QTest::newRow("a tag unticked whose link differs in case")
            << QStringList{QStringLiteral("update tags_tasks set tagid=lower(tagid) where "
                                          "taskid='%1'")
                               .arg(a)}
            << none << none << none << QStringList() << QStringList{kTagA} << ""
            << "alpha|note a|" + due << QStringList();
        QTest::newRow("task deleted meanwhile")
            << QStringList{QStringLiteral("delete from tags_tasks where taskid='%1'").arg(a),
                           QStringLiteral("delete from tasks where taskid='%1'").arg(a)}
            << QVariant("typed") << none << none << QStringList{kTagB} << QStringList() << "gone"
            << "" << QStringList();
    }
    void saveTaskEditKeepsChangesMadeElsewhere()
    {
        QFETCH(QStringList, elsewhere);
        QFETCH(QVariant, summary);
        QFETCH(QVariant, note);
        QFETCH(QVariant, due);
        QFETCH(QStringList, link);
        QFETCH(QStringList, unlink);
        QFETCH(QString, conflicts);
        QFETCH(QString, stored);
        QFETCH(QStringList, links);
        Seed();
        TStoredTask loaded;
        QVERIFY(TtasksStore::ReadTask(kTaskA, loaded));
        TTaskEdit edit;
        edit.taskid = kTaskA;
        edit.loaded = loaded;
        if (!summary.isNull())
            edit.summary = summary.toString();
        if (!note.isNull())
            edit.note = note.toString();
        if (!due.isNull())
            edit.duedt = SqlTextToDateTime(due.toString());
        edit.linkTagIds = link;
        edit.unlinkTagIds = unlink;
        for (const QString& statement : elsewhere)
            Sql(statement);
        const QStringList before = Snapshot();
        const auto other = [] {
            return Rows(QStringLiteral("select * from tasks where taskid='%1'").arg(kTaskB)) +
                   Rows(QStringLiteral("select * from tags_tasks where taskid='%1'").arg(kTaskB));
        };
        const QStringList otherBefore = other();
        const auto row = [] {
            return One(QStringLiteral("select summary, note, duedt from tasks where taskid='%1'")
                           .arg(kTaskA));
        };
        const auto linked = [] {
            return Rows(QStringLiteral("select tagid from tags_tasks where taskid='%1' order by "
                                       "tagid")
                            .arg(kTaskA));
        };

        TTaskEditConflict conflict;
        QVERIFY(TtasksStore::SaveTaskEdit(edit, conflict));
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
        QStringList found;
        if (conflict.gone)
            found << QStringLiteral("gone");
        for (const TTaskField field : conflict.fields)
            found << (field == TTaskField::Summary ? QStringLiteral("summary")
                      : field == TTaskField::Note  ? QStringLiteral("note")
                                                   : QStringLiteral("due"));
        QCOMPARE(found.join(QLatin1Char(',')), conflicts);
        QCOMPARE(row(), stored);
        QCOMPARE(linked(), links);
        // Task B is never touched.
        QCOMPARE(other(), otherBefore);
        if (!conflict.Any())
            return;
        // Nothing was written, and what is stored now is reported.
        QCOMPARE(Snapshot(), before);
        if (conflict.gone)
            return;
        QCOMPARE(QStringList({conflict.stored.summary, conflict.stored.note,
                              conflict.stored.order.duedt.isNull() ? QStringLiteral("<null>")
                                                                   : conflict.stored.order.duedt})
                     .join(QLatin1Char('|')),
                 stored);

        // The user replaces the change made elsewhere: the same edit, read
        // again from what is stored now, writes the user's values.
        edit.loaded = conflict.stored;
        QVERIFY(TtasksStore::SaveTaskEdit(edit, conflict));
        QVERIFY(!conflict.Any());
        const QStringList columns = row().split(QLatin1Char('|'));
        if (edit.summary)
            QCOMPARE(columns[0], *edit.summary);
        if (edit.note)
            QCOMPARE(columns[1], *edit.note);
        if (edit.duedt)
            QCOMPARE(columns[2],
                     *edit.duedt != 0 ? DateTimeToSqlText(*edit.duedt) : QStringLiteral("<null>"));
        QStringList replaced = QStringList{kTagA} + link;
        for (const QString& id : unlink)
            replaced.removeAll(id);
        replaced.sort();
        QCOMPARE(linked(), replaced);
    }

    void deleteTaskTakesItsLinksAlong()
    {
        Seed();
        QVERIFY(TtasksStore::DeleteTask(kTaskA));
        QCOMPARE(Rows(QStringLiteral("select taskid from tasks")), QStringList{kTaskB});
        QCOMPARE(Rows(QStringLiteral("select taskid, tagid from tags_tasks")),
                 QStringList{kTaskB + QLatin1Char('|') + kTagB});
        // An id that is not stored is no failure.
        QVERIFY(TtasksStore::DeleteTask(kTaskA));
    }

    void finishAndReopen()
    {
        Seed();
        QVERIFY(TtasksStore::FinishTask(kTaskA, EncodeDateTime(2026, 5, 8, 11, 15, 30, 900)));
        // Whole seconds, local time, as the database's text.
        QCOMPARE(One(QStringLiteral("select finisheddt from tasks where taskid='%1'").arg(kTaskA)),
                 QStringLiteral("2026-05-08 11:15:30"));
        QVERIFY(TtasksStore::ReopenTask(kTaskB));
        QCOMPARE(One(QStringLiteral("select finisheddt from tasks where taskid='%1'").arg(kTaskB)),
                 QStringLiteral("<null>"));
    }

    // ---------------------------------------------------------------- bulk entry

    void bulkEntryStoresEveryLineWithItsTags()
    {
        Seed();
        QVERIFY(TtasksStore::InsertTasks(
            {QStringLiteral("first"), QString(), QStringLiteral("second \"two\"")}, {kTagA, kTagB},
            FReport));
        QCOMPARE(FReport.failedLines, QStringList());
        QCOMPARE(FReport.failedLinks, 0);
        QCOMPARE(FReport.reason, QString());
        const QStringList rows =
            Rows(QStringLiteral("select summary, note, duedt, finisheddt, createddt is not null, "
                                "length(taskid) from tasks where taskid not in ('%1', '%2') order "
                                "by rowid")
                     .arg(kTaskA, kTaskB));
        QCOMPARE(rows, QStringList({QStringLiteral("first|<null>|<null>|<null>|1|16"),
                                    QStringLiteral("second \"two\"|<null>|<null>|<null>|1|16")}));
        QCOMPARE(One(QStringLiteral("select count(*) from tags_tasks where taskid not in ('%1', "
                                    "'%2')")
                         .arg(kTaskA, kTaskB)),
                 QStringLiteral("4"));
        QVERIFY(FLogged.isEmpty());
    }

    // A refused line or link is skipped and reported; the rest is committed.
    // The log names the line by its number in the text, blank lines counted.
    void bulkEntryReportsRefusedLinesAndLinks()
    {
        Seed();
        Sql(QStringLiteral("create trigger refuse_task before insert on tasks when new.summary "
                           "like 'bad%' begin select raise(abort, 'no bad tasks'); end"));
        Sql(QStringLiteral("create trigger refuse_link before insert on tags_tasks when "
                           "new.tagid = '%1' and new.taskid in (select taskid from tasks where "
                           "summary = 'half') begin select raise(abort, 'no such link'); end")
                .arg(kTagB));
        QVERIFY(
            TtasksStore::InsertTasks({QStringLiteral("good"), QString(), QStringLiteral("bad 1"),
                                      QStringLiteral("half"), QStringLiteral("bad 2")},
                                     {kTagA, kTagB}, FReport));
        QCOMPARE(FReport.failedLines, QStringList({"bad 1", "bad 2"}));
        QCOMPARE(FReport.failedLinks, 1);
        // The reason is that of the last refusal.
        QCOMPARE(FReport.reason, QStringLiteral("no bad tasks"));
        QCOMPARE(Rows(QStringLiteral("select summary from tasks where taskid not in ('%1', '%2') "
                                     "order by rowid")
                          .arg(kTaskA, kTaskB)),
                 QStringList({"good", "half"}));
        QCOMPARE(Rows(QStringLiteral("select t.summary, l.tagid from tags_tasks l join tasks t on "
                                     "t.taskid = l.taskid where t.summary in ('good', 'half') "
                                     "order by t.summary, l.tagid")),
                 QStringList({"good|" + kTagA, "good|" + kTagB, "half|" + kTagA}));
        auto logged = [this](const QString& aText) {
            return std::any_of(FLogged.cbegin(), FLogged.cend(),
                               [&](const QString& aLine) { return aLine.contains(aText); });
        };
        QVERIFY(logged(QStringLiteral("New Tasks: line 3 was not stored")));
        QVERIFY(logged(QStringLiteral("New Tasks: a tag of line 4 was not stored")));
        QVERIFY(logged(QStringLiteral("New Tasks: line 5 was not stored")));
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
    }

    // ---------------------------------------------------------------- tags

    void listTagsInTitleOrder()
    {
        Sql(QStringLiteral("insert into tags (tagid, title, color, image, createddt) values "
                           "('T1', 'b', 1, 2, '2020-01-01 00:00:00'), ('T2', 'a', NULL, NULL, "
                           "NULL), ('T3', 'B', 3, 0, '2020-01-01 00:00:00'), ('T4', 'b', 4, 0, "
                           "'2019-01-01 00:00:00')"));
        std::vector<TStoredTag> tags;
        QVERIFY(TtasksStore::ListTags(tags));
        QStringList listed;
        for (const TStoredTag& tag : tags)
            listed << QStringLiteral("%1|%2|%3|%4|%5")
                          .arg(tag.tagid, tag.title)
                          .arg(tag.color)
                          .arg(tag.image)
                          .arg(tag.createddt == 0 ? QStringLiteral("none")
                                                  : DateTimeToSqlText(tag.createddt));
        // Binary order of titles ("B" before "a"), then the older first.
        QCOMPARE(listed,
                 QStringList({"T3|B|3|0|2020-01-01 00:00:00", "T2|a|0|0|none",
                              "T4|b|4|0|2019-01-01 00:00:00", "T1|b|1|2|2020-01-01 00:00:00"}));
    }

    void saveAndDeleteTags()
    {
        Seed();
        QVERIFY(TtasksStore::SaveTag({kTagNew, QStringLiteral("It's \"new\""), 0x00FF8040, 0, 0},
                                     true));
        QCOMPARE(Rows(QStringLiteral("select title, color, typeof(color), image, createddt is not "
                                     "null from tags where tagid='%1'")
                          .arg(kTagNew)),
                 QStringList{QStringLiteral("It's \"new\"|16744512|integer|<null>|1")});
        // A system colour is a negative 32-bit value.
        QVERIFY(TtasksStore::SaveTag(
            {kTagA, QStringLiteral("Renamed"), static_cast<int32_t>(0xFF000005), 7, 0}, false));
        QCOMPARE(Rows(QStringLiteral("select title, color, image, createddt from tags where "
                                     "tagid='%1'")
                          .arg(kTagA)),
                 QStringList{QStringLiteral("Renamed|-16777211|0|2020-01-01 00:00:00")});

        QVERIFY(TtasksStore::DeleteTag(kTagA));
        QCOMPARE(Rows(QStringLiteral("select tagid from tags order by tagid")),
                 QStringList({kTagB, kTagNew}));
        QCOMPARE(Rows(QStringLiteral("select tagid, taskid from tags_tasks")),
                 QStringList{kTagB + QLatin1Char('|') + kTaskB});
        // The tasks stay.
        QCOMPARE(One(QStringLiteral("select count(*) from tasks")), QStringLiteral("2"));
    }

    // ---------------------------------------------------------------- failures

    void failureNamesItsReasonAndWritesNothing_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("failure");
        QTest::addColumn<QString>("trigger");
        QTest::addColumn<QString>("reason");
        // Each operation's trigger refuses its last statement, so that what
        // ran before it in the same operation has to be undone.
        const struct
        {
            const char* Operation;
            const char* Trigger;
        } writes[] = {
            {"save new", "BEFORE INSERT ON tags_tasks"},
            {"save edited", "BEFORE INSERT ON tags_tasks"},
            {"save edit", "BEFORE DELETE ON tags_tasks"},
            {"delete task", "BEFORE DELETE ON tasks"},
            {"finish", "BEFORE UPDATE ON tasks"},
            {"re-open", "BEFORE UPDATE ON tasks"},
            {"move", "BEFORE UPDATE ON tasks"},
            // The second line is refused after the first was inserted.
            {"bulk", "BEFORE INSERT ON tasks WHEN new.summary = 'second'"},
            {"new tag", "BEFORE INSERT ON tags"},
            {"edit tag", "BEFORE UPDATE ON tags"},
            {"delete tag", "BEFORE DELETE ON tags_tasks"},
        };
        for (const auto& write : writes) {
            const QString operation = QString::fromLatin1(write.Operation);
            const QString trigger = QString::fromLatin1(write.Trigger);
            // The bulk entry skips a line the engine refuses on its own; only
            // a transaction that the engine gives up fails it.
            if (operation != QLatin1String("bulk"))
                QTest::addRow("%s, refused", write.Operation)
                    << operation << "refused" << trigger << kRefused;
            QTest::addRow("%s, transaction given up", write.Operation)
                << operation << "rolled back" << trigger << kRefused;
            // Every statement ran; the commit finds the file read by another program.
            QTest::addRow("%s, commit locked out", write.Operation)
                << operation << "read lock" << QString() << kLocked;
            // With a write lock the bulk entry reports each line instead.
            if (operation != QLatin1String("bulk"))
                QTest::addRow("%s, file locked", write.Operation)
                    << operation << "write lock" << QString() << kLocked;
        }
        for (const char* read : {"list", "list some", "list many", "read", "list tags"})
            QTest::addRow("%s, file locked", read) << read << "write lock" << QString() << kLocked;
    }

    void failureNamesItsReasonAndWritesNothing()
    {
        QFETCH(QString, operation);
        QFETCH(QString, failure);
        QFETCH(QString, trigger);
        QFETCH(QString, reason);
        Seed();
        if (!trigger.isEmpty())
            Sql(QStringLiteral("CREATE TRIGGER refuse %1 BEGIN SELECT RAISE(%2, 'refused by the "
                               "test'); END;")
                    .arg(trigger, failure == QLatin1String("refused")
                                      ? QStringLiteral("ABORT")
                                      : QStringLiteral("ROLLBACK")));
        const QStringList before = Snapshot();
        TStoreResult result;
        {
            TOtherProgram other;
            if (failure == QLatin1String("read lock"))
                QVERIFY(other.Exec("begin; select count(*) from tasks;"));
            else if (failure == QLatin1String("write lock"))
                QVERIFY(other.Exec("begin exclusive"));
            result = Run(operation);
        }
        QVERIFY(!result.ok);
        QCOMPARE(result.reason, reason);
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
        QCOMPARE(Snapshot(), before);

        // Once the cause is gone the same operation succeeds.
        Sql(QStringLiteral("DROP TRIGGER IF EXISTS refuse"));
        QVERIFY(Run(operation));
        if (!operation.startsWith(QLatin1String("list")) && operation != QLatin1String("read"))
            QVERIFY(Snapshot() != before);
    }

    // ---------------------------------------------------------------- transaction guard

    void guardCommitsOrRollsBack()
    {
        {
            TDBTransaction transaction;
            QVERIFY(transaction.Started());
            Sql(QStringLiteral("insert into tasks (taskid) values ('kept')"));
            QVERIFY(transaction.Commit());
            // A second commit has nothing left to store.
            QVERIFY(!transaction.Commit());
        }
        {
            TDBTransaction transaction;
            Sql(QStringLiteral("insert into tasks (taskid) values ('dropped')"));
        }
        {
            TDBTransaction transaction;
            Sql(QStringLiteral("insert into tasks (taskid) values ('rolled back')"));
            transaction.Rollback();
            QVERIFY(!transaction.Commit());
        }
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
        QCOMPARE(Rows(QStringLiteral("select taskid from tasks")), QStringList{"kept"});
    }

    // The engine gives up the transaction by itself: what ran before is gone,
    // and a commit must not report the statements after it as stored with it.
    void guardCommitFailsWhenTheEngineGaveUpTheTransaction()
    {
        Sql(QStringLiteral("CREATE TRIGGER give_up BEFORE INSERT ON tasks WHEN new.taskid = "
                           "'second' BEGIN SELECT RAISE(ROLLBACK, 'given up'); END;"));
        TDBTransaction transaction;
        QVERIFY(transaction.Started());
        Sql(QStringLiteral("insert into tasks (taskid) values ('first')"));
        QVERIFY(!transaction.Lost());
        QVERIFY(
            !GetTasksDB()->Exec(QStringLiteral("insert into tasks (taskid) values ('second')")));
        QVERIFY(transaction.Lost());
        QVERIFY(!transaction.Commit());
        QCOMPARE(GetTasksDB()->LastFailureReason(), QStringLiteral("given up"));
        QCOMPARE(Rows(QStringLiteral("select taskid from tasks")), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestTasksStore)
#include "test_tasks_store.moc"
