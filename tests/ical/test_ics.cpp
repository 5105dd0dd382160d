// The import and export of .ics files over a real database file: what an
// import adds, skips and refuses, that it is one transaction, files written
// by another iCalendar program, the export and its round trip, and the
// faults of files and folders that an ordinary user meets.

#include "../common/store_rows.h"
#include "../common/test_env.h"
#include "../common/unprivileged.h"

#include "ical/tasks_ical.h"
#include "ical/tasks_ics.h"
#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "util/kvd_colors.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtTest>
#include <ctime>

namespace {

const QString kTaskA = QStringLiteral("TaskAaaaaaaaaaaa");
const QString kTaskB = QStringLiteral("TaskBbbbbbbbbbbb");
const QString kTagHome = QStringLiteral("TagHomeaaaaaaaaa");

void Sql(const QString& aSQL)
{
    QVERIFY2(GetTasksDB()->Exec(aSQL), qPrintable(aSQL));
}

void WriteFile(const QString& aPath, const QByteArray& aText)
{
    QFile file(aPath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(aText), aText.size());
}

QByteArray ReadFile(const QString& aPath)
{
    QFile file(aPath);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray Calendar(const QByteArray& aBody)
{
    QByteArray text =
        "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//Test//Test//EN\n" + aBody + "END:VCALENDAR\n";
    return text.replace("\n", "\r\n");
}

QByteArray Todo(const QByteArray& aUid, const QByteArray& aSummary,
                const QByteArray& aMore = QByteArray())
{
    return "BEGIN:VTODO\nUID:" + aUid + "\nDTSTAMP:20260301T070000Z\nSUMMARY:" + aSummary + "\n" +
           aMore + "END:VTODO\n";
}

// Three good to-dos, one without a summary and an event.
QByteArray MixedFile()
{
    return Calendar(Todo("first@example.org", "First",
                         "DUE:20260330T120000Z\nCATEGORIES:home,New Tag\n"
                         "CREATED:20260201T093000Z\nPRIORITY:1\nX-OTHER:kept\n") +
                    Todo("AbcdefghijKLMNOP", "Second",
                         "STATUS:COMPLETED\n"
                         "COMPLETED:20260302T174500Z\n") +
                    Todo("third@example.org", "Third, with comma") +
                    "BEGIN:VTODO\nUID:empty@example.org\nDTSTAMP:20260301T070000Z\nEND:VTODO\n"
                    "BEGIN:VEVENT\nUID:e@example.org\nDTSTAMP:20260301T070000Z\n"
                    "DTSTART:20260301T070000Z\nEND:VEVENT\n");
}

int TaskCount()
{
    return One(QStringLiteral("select count(*) from tasks")).toInt();
}

// The python that has the icalendar package, or empty.
QString PythonWithIcalendar()
{
    QStringList candidates;
    const QString onPath = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (!onPath.isEmpty())
        candidates << onPath;
    candidates << QStringLiteral("/usr/bin/python3");
    for (const QString& python : candidates) {
        if (!QFile::exists(python))
            continue;
        QProcess probe;
        probe.start(python, {QStringLiteral("-c"), QStringLiteral("import icalendar")});
        if (probe.waitForFinished(60000) && probe.exitStatus() == QProcess::NormalExit &&
            probe.exitCode() == 0)
            return python;
    }
    return QString();
}

} // namespace

class TestIcs : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    void init()
    {
        FEnv = std::make_unique<TTestEnv>();
        FEnv->UseDatabase();
        GetTasksDB()->CreateSchema();
        SetFixedNow(QDateTime(QDate(2026, 3, 10), QTime(9, 0)));
    }
    void cleanup() { FEnv.reset(); }

    void importCounts();
    void importTagsAndIds();
    void importIsOneTransaction();
    void refusedByTheEngine();
    void unreadableFiles_data();
    void unreadableFiles();
    void tooLarge();
    void otherWriter();
    void exportAndReimport();
    void exportSelected();
    void exportKeepsUnknownAfterEdit();
    void deletedTaskRowsPruned();
    void readOnlyDatabase();
    void unopenableDatabase();
    void unwritableTarget();

private:
    std::unique_ptr<TTestEnv> FEnv;
};

void TestIcs::importCounts()
{
    const QString path = FEnv->File(QStringLiteral("mixed.ics"));
    WriteFile(path, MixedFile());
    TIcsImportResult result = ImportIcs(path);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.added, 3);
    QCOMPARE(result.skipped, 0);
    QCOMPARE(result.refused.size(), 1);
    QCOMPARE(result.refused[0].label, QStringLiteral("empty@example.org"));
    QCOMPARE(result.refused[0].reason, QStringLiteral("it has no summary"));
    QCOMPARE(result.ignored, 1);
    QVERIFY(result.Summary().startsWith(QStringLiteral(
        "3 added, 0 skipped (already present), 1 refused. 1 other entry (events, journal "
        "entries) passed over.")));
    QVERIFY(result.Summary().contains(QStringLiteral("\"empty@example.org\": it has no summary")));
    QCOMPARE(TaskCount(), 3);

    // Again: every to-do is present by its UID.
    result = ImportIcs(path);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.added, 0);
    QCOMPARE(result.skipped, 3);
    QCOMPARE(result.refused.size(), 1);
    QCOMPARE(TaskCount(), 3);
}

void TestIcs::importTagsAndIds()
{
    QVERIFY(TtasksStore::SaveTag({kTagHome, QStringLiteral("Home"), 0x123456, 0, 0}, true));
    const QString path = FEnv->File(QStringLiteral("mixed.ics"));
    WriteFile(path, MixedFile());
    QVERIFY(ImportIcs(path).ok);

    // A UID in the form of the program's ids is the task's id; another UID
    // gets a new id and its row.
    QCOMPARE(One(QStringLiteral("select summary from tasks where taskid='AbcdefghijKLMNOP'")),
             QStringLiteral("Second"));
    const QString firstId = One(QStringLiteral("select taskid from ical_tasks where "
                                               "uid='first@example.org'"));
    QCOMPARE(firstId.size(), 16);
    QCOMPARE(One(QStringLiteral("select summary||'|'||duedt||'|'||createddt||'|'||"
                                "coalesce(finisheddt,'open') from tasks where taskid='%1'")
                     .arg(firstId)),
             QStringLiteral("First|2026-03-30 14:00:00|2026-02-01 09:30:00|open"));
    QCOMPARE(One(QStringLiteral("select finisheddt from tasks where taskid='AbcdefghijKLMNOP'")),
             QStringLiteral("2026-03-02 18:45:00"));
    // "home" is the tag "Home" (letter case aside); "New Tag" is made with the
    // next colour.
    QCOMPARE(Rows(QStringLiteral("select tg.title from tags_tasks tt join tags tg on "
                                 "tg.tagid=tt.tagid where tt.taskid='%1' order by tg.title")
                      .arg(firstId)),
             (QStringList{QStringLiteral("Home"), QStringLiteral("New Tag")}));
    QCOMPARE(One(QStringLiteral("select count(*) from tags")), QStringLiteral("2"));
    QCOMPARE(One(QStringLiteral("select color from tags where title='New Tag'")).toInt(),
             ImportTagColor(1));
    // The kept object holds what Ulmora does not map.
    const QString kept =
        One(QStringLiteral("select vtodo from ical_tasks where taskid='%1'").arg(firstId));
    QVERIFY(kept.contains(QStringLiteral("PRIORITY:1")));
    QVERIFY(kept.contains(QStringLiteral("X-OTHER:kept")));
}

void TestIcs::importIsOneTransaction()
{
    // The engine gives up the whole transaction at the third to-do.
    Sql(QStringLiteral("create trigger stop_import before insert on tasks when "
                       "new.summary='Third, with comma' begin select raise(rollback, "
                       "'refused by the test'); end"));
    const QString path = FEnv->File(QStringLiteral("mixed.ics"));
    WriteFile(path, MixedFile());
    const TIcsImportResult result = ImportIcs(path);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(QStringLiteral("nothing was stored")), qPrintable(result.error));
    QVERIFY2(result.error.contains(QStringLiteral("refused by the test")),
             qPrintable(result.error));
    QCOMPARE(result.added, 0);
    QCOMPARE(TaskCount(), 0);
    QCOMPARE(One(QStringLiteral("select count(*) from tags")), QStringLiteral("0"));
    QCOMPARE(One(QStringLiteral("select count(*) from tags_tasks")), QStringLiteral("0"));
}

void TestIcs::refusedByTheEngine()
{
    // One to-do is refused, with its new tag; the others are added.
    Sql(QStringLiteral("create trigger refuse_one before insert on tags_tasks when "
                       "(select title from tags where tagid=new.tagid)='New Tag' begin select "
                       "raise(abort, 'refused by the test'); end"));
    const QString path = FEnv->File(QStringLiteral("mixed.ics"));
    WriteFile(path, MixedFile());
    const TIcsImportResult result = ImportIcs(path);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.added, 2);
    QCOMPARE(result.refused.size(), 2);
    QCOMPARE(result.refused[0].label, QStringLiteral("First"));
    QCOMPARE(result.refused[0].reason, QStringLiteral("refused by the test"));
    QCOMPARE(TaskCount(), 2);
    QCOMPARE(One(QStringLiteral("select count(*) from tasks where summary='First'")),
             QStringLiteral("0"));
    QCOMPARE(One(QStringLiteral("select count(*) from tags")), QStringLiteral("0"));
    QCOMPARE(One(QStringLiteral("select count(*) from ical_tasks where uid='first@example.org'")),
             QStringLiteral("0"));
}

void TestIcs::unreadableFiles_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray() << false << "no such file";
    QTest::newRow("empty") << QByteArray() << true << "it is not an iCalendar file";
    QTest::newRow("text") << QByteArray("Buy milk\n") << true << "it is not an iCalendar file";
    QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0", 10) << true
                            << "it is not an iCalendar file";
    QTest::newRow("cut short") << QByteArray("BEGIN:VCALENDAR\r\nBEGIN:VTODO\r\nUID:x\r\nSUMM")
                               << true << "it is not a complete iCalendar file";
}

void TestIcs::unreadableFiles()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, reason);
    const QString path = FEnv->File(QStringLiteral("bad.ics"));
    if (exists)
        WriteFile(path, content);
    const TIcsImportResult result = ImportIcs(path);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(reason), qPrintable(result.error));
    QVERIFY(result.error.contains(path));
    QCOMPARE(TaskCount(), 0);
    QCOMPARE(One(QStringLiteral("select count(*) from sqlite_master where name='ical_tasks'")),
             QStringLiteral("0"));
}

void TestIcs::tooLarge()
{
    const QString path = FEnv->File(QStringLiteral("huge.ics"));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("BEGIN:VCALENDAR\r\n") > 0);
        // Sparse: no disk space is used.
        QVERIFY(file.resize(kMaxIcsFileSize + 1));
    }
    const TIcsImportResult result = ImportIcs(path);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(QStringLiteral("larger than 64 MiB")), qPrintable(result.error));
    QCOMPARE(TaskCount(), 0);
}

void TestIcs::otherWriter()
{
    const QString python = PythonWithIcalendar();
    if (python.isEmpty())
        QSKIP("python3 with the icalendar package (python3-icalendar) is needed to write the "
              "file of another program");
    const QString path = FEnv->File(QStringLiteral("python.ics"));
    QProcess writer;
    writer.setProcessChannelMode(QProcess::MergedChannels);
    writer.start(python, {QStringLiteral(ULMORA_ICS_WRITER), path});
    QVERIFY(writer.waitForFinished(60000));
    QVERIFY2(writer.exitCode() == 0, writer.readAll().constData());

    const TIcsImportResult result = ImportIcs(path);
    QVERIFY2(result.ok, qPrintable(result.error));
    QCOMPARE(result.added, 2);
    QCOMPARE(result.ignored, 1);
    QVERIFY(result.refused.isEmpty());
    const QString first =
        One(QStringLiteral("select taskid from ical_tasks where uid='py-first@example.org'"));
    TStoredTask task;
    QVERIFY(TtasksStore::ReadTask(first, task));
    QCOMPARE(task.summary, QStringLiteral("Buy milk, eggs; bread \U0001F95B"));
    QCOMPARE(task.note,
             QStringLiteral("Line one\nLine two, with comma; and semicolon\\ backslash"));
    QCOMPARE(DateTimeToSqlText(task.duedt), QStringLiteral("2026-03-30 14:00:00"));
    QCOMPARE(Rows(QStringLiteral("select tg.title from tags_tasks tt join tags tg on "
                                 "tg.tagid=tt.tagid where tt.taskid='%1' order by tg.title")
                      .arg(first)),
             (QStringList{QStringLiteral("Home, Garden"), QStringLiteral("Shopping")}));
    const QString second =
        One(QStringLiteral("select taskid from ical_tasks where uid='py-second@example.org'"));
    QCOMPARE(One(QStringLiteral("select summary||'|'||duedt||'|'||finisheddt from tasks where "
                                "taskid='%1'")
                     .arg(second)),
             QStringLiteral("Grüße an Zoë senden|2026-03-29 00:00:00|2026-03-02 18:45:00"));

    // Written back, the other program's alarm, priority and own property are
    // there.
    const QString out = FEnv->File(QStringLiteral("out.ics"));
    QVERIFY(ExportIcs(out, {first}).ok);
    const QByteArray written = ReadFile(out);
    QVERIFY(written.contains("PRIORITY:1"));
    QVERIFY(written.contains("X-OTHER-CLIENT-COLOUR:teal"));
    QVERIFY(written.contains("BEGIN:VALARM"));
    QVERIFY(written.contains("UID:py-first@example.org"));
}

void TestIcs::exportAndReimport()
{
    QVERIFY(TtasksStore::SaveTag({kTagHome, QStringLiteral("Home, sweet; home"), 0x123456, 0, 0},
                                 true));
    TStoredTask task;
    task.taskid = kTaskA;
    task.summary = QStringLiteral("Pay rent, 🏠");
    task.note = QStringLiteral("Transfer\nby Friday");
    task.duedt = EncodeDateTime(2026, 3, 29, 10, 30);
    QVERIFY(TtasksStore::SaveTask(task, {kTagHome}, true));
    task = TStoredTask();
    task.taskid = kTaskB;
    task.summary = QStringLiteral("Done already");
    QVERIFY(TtasksStore::SaveTask(task, {}, true));
    QVERIFY(TtasksStore::FinishTask(kTaskB, EncodeDateTime(2026, 3, 9, 18, 0)));
    const QStringList before = Rows(QStringLiteral(
        "select taskid, summary, note, duedt, finisheddt, createddt from tasks order by taskid"));

    const QString path = FEnv->File(QStringLiteral("all.ics"));
    const TIcsExportResult exported = ExportIcs(path, {});
    QVERIFY2(exported.ok, qPrintable(exported.error));
    QCOMPARE(exported.written, 2);
    const QByteArray text = ReadFile(path);
    QVERIFY(text.contains("PRODID:-//Ulmora//Ulmora 1.0//EN"));
    QVERIFY(text.contains("DUE:20260329T083000Z"));
    // An export writes nothing to the database.
    QCOMPARE(One(QStringLiteral("select count(*) from sqlite_master where name='ical_tasks'")),
             QStringLiteral("0"));

    // Into an empty database: the same tasks, with their ids as UIDs.
    FEnv->UseDatabase(QStringLiteral("other.db"));
    ReleaseTasksDB();
    GetTasksDB()->CreateSchema();
    const TIcsImportResult imported = ImportIcs(path);
    QVERIFY2(imported.ok, qPrintable(imported.error));
    QCOMPARE(imported.added, 2);
    QCOMPARE(Rows(QStringLiteral("select taskid, summary, note, duedt, finisheddt, createddt "
                                 "from tasks order by taskid")),
             before);
    QCOMPARE(One(QStringLiteral("select title from tags")), QStringLiteral("Home, sweet; home"));
    // And back into the first: both present.
    FEnv->UseDatabase();
    ReleaseTasksDB();
    const TIcsImportResult again = ImportIcs(path);
    QVERIFY(again.ok);
    QCOMPARE(again.skipped, 2);
}

void TestIcs::exportSelected()
{
    for (const QString& id : {kTaskA, kTaskB}) {
        TStoredTask task;
        task.taskid = id;
        task.summary = id;
        QVERIFY(TtasksStore::SaveTask(task, {}, true));
    }
    const QString path = FEnv->File(QStringLiteral("one.ics"));
    const TIcsExportResult exported = ExportIcs(path, {kTaskB});
    QVERIFY(exported.ok);
    QCOMPARE(exported.written, 1);
    const QByteArray text = ReadFile(path);
    QVERIFY(text.contains("UID:" + kTaskB.toLatin1()));
    QVERIFY(!text.contains(kTaskA.toLatin1()));
}

void TestIcs::exportKeepsUnknownAfterEdit()
{
    const QString path = FEnv->File(QStringLiteral("in.ics"));
    WriteFile(path, Calendar(Todo("AbcdefghijKLMNOP", "Original",
                                  "RRULE:FREQ=WEEKLY;BYDAY=MO\nRELATED-TO:parent@example.org\n"
                                  "BEGIN:VALARM\nACTION:DISPLAY\nDESCRIPTION:Ping\n"
                                  "TRIGGER:-PT5M\nEND:VALARM\n")));
    QVERIFY(ImportIcs(path).ok);
    TStoredTask task;
    QVERIFY(TtasksStore::ReadTask(QStringLiteral("AbcdefghijKLMNOP"), task));
    task.summary = QStringLiteral("Edited here");
    QVERIFY(TtasksStore::SaveTask(task, {}, false));
    const QString out = FEnv->File(QStringLiteral("out.ics"));
    QVERIFY(ExportIcs(out, {}).ok);
    const QByteArray text = ReadFile(out);
    QVERIFY(text.contains("SUMMARY:Edited here"));
    QVERIFY(!text.contains("Original"));
    QVERIFY(text.contains("RRULE:FREQ=WEEKLY;BYDAY=MO"));
    QVERIFY(text.contains("RELATED-TO:parent@example.org"));
    QVERIFY(text.contains("DESCRIPTION:Ping"));
}

void TestIcs::deletedTaskRowsPruned()
{
    const QString path = FEnv->File(QStringLiteral("mixed.ics"));
    WriteFile(path, MixedFile());
    QVERIFY(ImportIcs(path).ok);
    QVERIFY(TtasksStore::DeleteTask(QStringLiteral("AbcdefghijKLMNOP")));
    // The next import removes the row of the deleted task, and the to-do of
    // that UID is then new again.
    const TIcsImportResult result = ImportIcs(path);
    QVERIFY(result.ok);
    QCOMPARE(result.added, 1);
    QCOMPARE(result.skipped, 2);
    QCOMPARE(One(QStringLiteral("select count(*) from ical_tasks")), QStringLiteral("3"));
    QCOMPARE(One(QStringLiteral("select count(*) from ical_tasks where taskid not in (select "
                                "taskid from tasks)")),
             QStringLiteral("0"));
}

void TestIcs::readOnlyDatabase()
{
    RUN_AS_ORDINARY_USER();
    const QString path = FEnv->File(QStringLiteral("mixed.ics"));
    WriteFile(path, MixedFile());
    ReleaseTasksDB();
    QVERIFY(QFile::setPermissions(db_file, QFileDevice::ReadOwner));
    const TIcsImportResult result = ImportIcs(path);
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(QStringLiteral("nothing was stored")), qPrintable(result.error));
    QCOMPARE(TaskCount(), 0);
}

void TestIcs::unopenableDatabase()
{
    // A file stands where the database's folder should be.
    const QString path = FEnv->File(QStringLiteral("mixed.ics"));
    WriteFile(path, MixedFile());
    WriteFile(FEnv->File(QStringLiteral("not-a-folder")), "x");
    ReleaseTasksDB();
    SetTasksDBFile(FEnv->File(QStringLiteral("not-a-folder/tasks.db")));
    const TIcsImportResult imported = ImportIcs(path);
    QVERIFY(!imported.ok);
    QVERIFY2(imported.error.contains(QStringLiteral("not-a-folder")), qPrintable(imported.error));
    const QString out = FEnv->File(QStringLiteral("out.ics"));
    const TIcsExportResult exported = ExportIcs(out, {});
    QVERIFY(!exported.ok);
    QVERIFY(!QFile::exists(out));
}

void TestIcs::unwritableTarget()
{
    RUN_AS_ORDINARY_USER();
    TStoredTask task;
    task.taskid = kTaskA;
    task.summary = QStringLiteral("Something");
    QVERIFY(TtasksStore::SaveTask(task, {}, true));
    const QString folder = FEnv->File(QStringLiteral("locked"));
    QVERIFY(QDir().mkdir(folder));
    const QString existing = folder + QStringLiteral("/tasks.ics");
    WriteFile(existing, "old content");
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const TIcsExportResult result = ExportIcs(existing, {});
    QVERIFY(!result.ok);
    QVERIFY2(result.error.contains(existing), qPrintable(result.error));
    // The old file is as it was.
    QCOMPARE(ReadFile(existing), QByteArray("old content"));
    const TIcsExportResult missing =
        ExportIcs(FEnv->File(QStringLiteral("no/such/folder/tasks.ics")), {});
    QVERIFY(!missing.ok);
    QVERIFY(QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                              QFileDevice::ExeOwner));
}

QTEST_GUILESS_MAIN(TestIcs)
#include "test_ics.moc"
