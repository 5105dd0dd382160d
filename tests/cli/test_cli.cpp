// The command line: what each form of it asks for and what it refuses, the
// due date-time of --due by the editor's rules, a quick entry stored in a
// real database file, the messages of the one-instance channel, and the
// channel's name.

#include "cli/tasks_cli.h"
#include "cli/tasks_instance.h"
#include "ical/tasks_ics.h"

#include "../common/test_env.h"
#include "store/tasks_store.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(TCommandAction)

namespace {

void Run(const QString& aSQL)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    QVERIFY2(db->Query(aSQL, query.get()), qPrintable(aSQL));
}

// The values of column "v" of aSQL, one per row, NULL as "<null>".
QStringList Values(const QString& aSQL)
{
    TtasksDB* db = GetTasksDB();
    std::unique_ptr<TZQuery> query = db->NewQuery();
    QStringList values;
    if (!db->Query(aSQL, query.get()))
        return {QStringLiteral("<failed>")};
    for (; !query->Eof(); query->Next())
        values << (query->FieldByName("v").IsNull() ? QStringLiteral("<null>")
                                                    : query->FieldByName("v").AsString());
    return values;
}

QDateTime At(int aHour, int aMinute, int aSecond = 0)
{
    return QDateTime(QDate(2024, 5, 8), QTime(aHour, aMinute, aSecond));
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        FEnv = std::make_unique<TTestEnv>();
        FEnv->UseDatabase();
        GetTasksSettings();
    }
    void cleanup() { FEnv.reset(); }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<TCommandAction>("action");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QStringList>("tags");
        QTest::addColumn<QString>("due");
        using A = TCommandAction;
        const QStringList none;
        QTest::newRow("nothing") << none << A::Start << ""
                                 << "" << none << "";
        QTest::newRow("show") << QStringList{"--show"} << A::Show << ""
                              << "" << none << "";
        QTest::newRow("hidden") << QStringList{"--hidden"} << A::Hidden << ""
                                << "" << none << "";
        QTest::newRow("version") << QStringList{"--version"} << A::Version << ""
                                 << "" << none << "";
        QTest::newRow("help") << QStringList{"--help"} << A::Help << ""
                              << "" << none << "";
        QTest::newRow("-h") << QStringList{"-h"} << A::Help << ""
                            << "" << none << "";
        QTest::newRow("help wins over the rest")
            << QStringList{"--show", "--hidden", "--help"} << A::Help << ""
            << "" << none << "";
        QTest::newRow("add") << QStringList{"--add", "Call Anna"} << A::Add << "Call Anna"
                             << "" << none << "";
        QTest::newRow("add with everything")
            << QStringList{"--add", " Buy milk ", "--note", "2 l\nfull fat", "--tag",
                           "Home",  "--tag",      "Shop",   "--due",         "tomorrow"}
            << A::Add << " Buy milk "
            << "2 l\nfull fat" << QStringList{"Home", "Shop"} << "tomorrow";
        QTest::newRow("options in any order")
            << QStringList{"--due", "2030-01-02 10:30", "--tag", "Home", "--add", "x"} << A::Add
            << "x"
            << "" << QStringList{"Home"} << "2030-01-02 10:30";
        QTest::newRow("the = form")
            << QStringList{"--add=Call Anna", "--tag=Home"} << A::Add << "Call Anna"
            << "" << QStringList{"Home"} << "";
        QTest::newRow("a summary that starts with a dash")
            << QStringList{"--add", "-5 degrees tonight"} << A::Add << "-5 degrees tonight"
            << "" << none << "";
        QTest::newRow("a word of --due in capitals")
            << QStringList{"--add", "x", "--due", "4Hours"} << A::Add << "x"
            << "" << none << "4Hours";
        // A session manager restarts a program with -session; the toolkit
        // takes its options from the same arguments.
        QTest::newRow("toolkit options")
            << QStringList{"-platform", "offscreen", "-reverse"} << A::Start << ""
            << "" << none << "";
        QTest::newRow("toolkit option with --hidden")
            << QStringList{"-session", "10abc", "--hidden"} << A::Hidden << ""
            << "" << none << "";
    }
    void parse()
    {
        QFETCH(QStringList, arguments);
        const TCommandLine command = ParseCommandLine(arguments);
        QCOMPARE(command.error, QString());
        QTEST(command.action, "action");
        QTEST(command.task.summary, "summary");
        QTEST(command.task.note, "note");
        QTEST(command.task.tags, "tags");
        QTEST(command.task.due, "due");
    }

    void refused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown option")
            << QStringList{"--frobnicate"} << "Unknown option 'frobnicate'";
        QTest::newRow("unknown option after --add")
            << QStringList{"--add", "x", "--urgent"} << "Unknown option 'urgent'";
        QTest::newRow("--add without a summary")
            << QStringList{"--add"} << "Missing value after '--add'";
        QTest::newRow("--tag without a title")
            << QStringList{"--add", "x", "--tag"} << "Missing value after '--tag'";
        QTest::newRow("a word of its own")
            << QStringList{"stray"} << "unexpected argument \"stray\"";
        QTest::newRow("a summary without quotes")
            << QStringList{"--add", "Call", "Anna"} << "unexpected argument \"Anna\"";
        QTest::newRow("two summaries")
            << QStringList{"--add", "a", "--add", "b"} << "--add is given more than once";
        QTest::newRow("two notes") << QStringList{"--add", "a", "--note", "b", "--note", "c"}
                                   << "--note is given more than once";
        QTest::newRow("two due dates")
            << QStringList{"--add", "a", "--due", "hour", "--due", "tomorrow"}
            << "--due is given more than once";
        QTest::newRow("--note alone") << QStringList{"--note", "x"} << "--note belongs to --add";
        QTest::newRow("--tag with --show")
            << QStringList{"--show", "--tag", "x"} << "--tag belongs to --add";
        QTest::newRow("--due alone") << QStringList{"--due", "hour"} << "--due belongs to --add";
        QTest::newRow("--show and --hidden")
            << QStringList{"--show", "--hidden"} << "cannot be combined";
        QTest::newRow("--add and --show")
            << QStringList{"--add", "x", "--show"} << "cannot be combined";
        QTest::newRow("--import and --export")
            << QStringList{"--import", "a.ics", "--export", "b.ics"} << "cannot be combined";
        QTest::newRow("--import and --add")
            << QStringList{"--import", "a.ics", "--add", "x"} << "cannot be combined";
        QTest::newRow("--import without a file")
            << QStringList{"--import"} << "Missing value after '--import'";
        QTest::newRow("--export with an empty file")
            << QStringList{"--export", ""} << "the file of --export is empty";
        QTest::newRow("two imports") << QStringList{"--import", "a.ics", "--import", "b.ics"}
                                     << "--import is given more than once";
        QTest::newRow("--tag with --import")
            << QStringList{"--import", "a.ics", "--tag", "x"} << "--tag belongs to --add";
        QTest::newRow("blank summary")
            << QStringList{"--add", "  \t"} << "summary of --add is blank";
        QTest::newRow("empty summary") << QStringList{"--add", ""} << "summary of --add is blank";
        QTest::newRow("blank tag") << QStringList{"--add", "x", "--tag", " "} << "blank title";
        QTest::newRow("empty --due") << QStringList{"--add", "x", "--due", ""} << "--due is empty";
        QTest::newRow("a word --due does not know")
            << QStringList{"--add", "x", "--due", "soon"} << "--due \"soon\" is no due date";
        QTest::newRow("a date without a time")
            << QStringList{"--add", "x", "--due", "2030-01-02"} << "is no due date";
        QTest::newRow("a date in another form")
            << QStringList{"--add", "x", "--due", "02.01.2030 10:30"} << "is no due date";
        QTest::newRow("one-digit month")
            << QStringList{"--add", "x", "--due", "2030-1-02 10:30"} << "is no due date";
        QTest::newRow("T between date and time")
            << QStringList{"--add", "x", "--due", "2030-01-02T10:30"} << "is no due date";
        QTest::newRow("seconds") << QStringList{"--add", "x", "--due", "2030-01-02 10:30:00"}
                                 << "is no due date";
        QTest::newRow("no such day")
            << QStringList{"--add", "x", "--due", "2023-02-29 10:30"} << "there is no such date";
        QTest::newRow("no such month")
            << QStringList{"--add", "x", "--due", "2030-13-01 10:30"} << "there is no such date";
        QTest::newRow("no such hour") << QStringList{"--add", "x", "--due", "2030-01-02 24:00"}
                                      << "there is no such time of day";
        QTest::newRow("no such minute") << QStringList{"--add", "x", "--due", "2030-01-02 10:60"}
                                        << "there is no such time of day";
    }
    void refused()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        const TCommandLine command = ParseCommandLine(arguments);
        QVERIFY2(command.error.contains(message), qPrintable(command.error));
    }

    void versionAndHelp()
    {
        QCOMPARE(VersionText(), QStringLiteral("Ulmora " ULMORA_VERSION_TEXT));
        const QString help = HelpText();
        for (const char* option :
             {"--add SUMMARY", "--note TEXT", "--tag TITLE", "--due WHEN", "--show", "--hidden",
              "--import FILE", "--export FILE", "--version", "--help", "4hours", "YYYY-MM-DD HH:MM",
              "Exit status"})
            QVERIFY2(help.contains(QLatin1String(option)), option);
    }

    // The due date-time of --due follows the editor's rules: the general
    // choices rounded to the granularity and moved out of the night, the exact
    // one as given, and without --due the choice the editor's "New" presets.
    void dueDate_data()
    {
        QTest::addColumn<QString>("due");
        QTest::addColumn<int>("defaultChoice");
        QTest::addColumn<int>("granularity");
        QTest::addColumn<QDateTime>("now");
        QTest::addColumn<QDateTime>("expected"); // invalid: none
        const QDateTime none;
        QTest::newRow("hour, rounded down") << "hour" << 0 << 10 << At(14, 3, 27) << At(15, 0);
        QTest::newRow("hour, rounded up") << "hour" << 0 << 10 << At(14, 6) << At(15, 10);
        QTest::newRow("hour, into the night")
            << "hour" << 0 << 10 << At(21, 30) << At(7, 30).addDays(1);
        QTest::newRow("4hours, out of the night")
            << "4hours" << 0 << 10 << At(23, 0) << At(12, 0).addDays(1);
        QTest::newRow("tomorrow") << "tomorrow" << 0 << 10 << At(10, 0) << At(10, 0).addDays(1);
        QTest::newRow("hour, granularity 60") << "hour" << 0 << 60 << At(14, 30) << At(16, 0);
        QTest::newRow("unplanned") << "unplanned" << 1 << 10 << At(14, 0) << none;
        QTest::newRow("exact, as given, in the night")
            << "2024-05-08 23:17" << 0 << 10 << At(10, 0) << At(23, 17);
        QTest::newRow("exact, in the past") << "2020-01-02 07:05" << 0 << 10 << At(10, 0)
                                            << QDateTime(QDate(2020, 1, 2), QTime(7, 5));
        QTest::newRow("default Unplanned") << "" << 0 << 10 << At(14, 3) << none;
        QTest::newRow("default Hour") << "" << 1 << 10 << At(14, 3, 27) << At(15, 0);
        QTest::newRow("default 4 Hours") << "" << 2 << 10 << At(23, 0) << At(12, 0).addDays(1);
        QTest::newRow("default Tomorrow") << "" << 3 << 10 << At(9, 0) << At(9, 0).addDays(1);
        QTest::newRow("default Exact is now, to the second")
            << "" << 4 << 10 << At(14, 3, 27) << At(14, 3, 27);
    }
    void dueDate()
    {
        QFETCH(QString, due);
        QFETCH(int, defaultChoice);
        QFETCH(int, granularity);
        QFETCH(QDateTime, now);
        QFETCH(QDateTime, expected);
        default_duedatetime = defaultChoice;
        time_granularity = granularity;
        SetFixedNow(now);
        TQuickDueSpec spec;
        QString error;
        QVERIFY2(ParseQuickDue(due, spec, error), qPrintable(error));
        const TDateTime result = QuickDueDate(spec);
        if (!expected.isValid())
            QCOMPARE(result, 0.0);
        else
            QCOMPARE(DateTimeToSqlText(result), DateTimeToSqlText(DateTimeFromQDateTime(expected)));
    }

    void storeTask()
    {
        Run("insert into tags (tagid, title, color) values ('TagHomeAAAAAAAAA', 'Home', 1)");
        Run("insert into tags (tagid, title, color) values ('TagShopAAAAAAAAA', 'Shop', 2)");
        Run("insert into tags (tagid, title, color) values ('TagWorkAAAAAAAAA', 'Work', 3)");
        SetFixedNow(At(14, 3, 27));
        TQuickTask task;
        task.summary = QStringLiteral(" Buy milk ");
        task.note = QStringLiteral("2 l\nfull fat");
        task.tags = QStringList{"Shop", "Home", "Shop"};
        task.due = QStringLiteral("hour");
        const TQuickResult result = StoreQuickTask(task);
        QCOMPARE(result.status, kExitOk);
        QCOMPARE(result.message, QString());
        QCOMPARE(result.taskid.size(), 16);
        const QString where = QStringLiteral(" from tasks where taskid='%1'").arg(result.taskid);
        // As the editor stores it: the summary as typed, not trimmed.
        QCOMPARE(Values("select summary as v" + where), QStringList{" Buy milk "});
        QCOMPARE(Values("select note as v" + where), QStringList{"2 l\nfull fat"});
        QCOMPARE(Values("select duedt as v" + where), QStringList{"2024-05-08 15:00:00"});
        QCOMPARE(Values("select finisheddt as v" + where), QStringList{"<null>"});
        QVERIFY(Values("select createddt as v" + where).value(0).startsWith("20"));
        QCOMPARE(
            Values(QString("select tagid as v from tags_tasks where taskid='%1' order by tagid")
                       .arg(result.taskid)),
            (QStringList{"TagHomeAAAAAAAAA", "TagShopAAAAAAAAA"}));
        // An unplanned task without a note and tags.
        const TQuickResult plain = StoreQuickTask({QStringLiteral("Plain"), {}, {}, "unplanned"});
        QCOMPARE(plain.status, kExitOk);
        QCOMPARE(
            Values(QString("select duedt as v from tasks where taskid='%1'").arg(plain.taskid)),
            QStringList{"<null>"});
        QCOMPARE(Values(QString("select count(*) as v from tags_tasks where taskid='%1'")
                            .arg(plain.taskid)),
                 QStringList{"0"});
    }

    // A title names the tags of exactly that title; only when there is none,
    // those that differ in letter case. Every tag it names is linked.
    void tagTitles_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("linked");
        QTest::newRow("exact title") << "Work" << QStringList{"TagWork1AAAAAAAA"};
        QTest::newRow("exact, other case exists") << "work" << QStringList{"TagWork2AAAAAAAA"};
        QTest::newRow("case differs only")
            << "WORK" << QStringList{"TagWork1AAAAAAAA", "TagWork2AAAAAAAA"};
        QTest::newRow("two tags of one title")
            << "Home" << QStringList{"TagHome1AAAAAAAA", "TagHome2AAAAAAAA"};
        QTest::newRow("non-ASCII") << "Büro" << QStringList{"TagBueroAAAAAAAA"};
        QTest::newRow("non-ASCII, case differs") << "BÜRO" << QStringList{"TagBueroAAAAAAAA"};
    }
    void tagTitles()
    {
        QFETCH(QString, title);
        QFETCH(QStringList, linked);
        Run("insert into tags (tagid, title, color) values ('TagWork1AAAAAAAA', 'Work', 1)");
        Run("insert into tags (tagid, title, color) values ('TagWork2AAAAAAAA', 'work', 1)");
        Run("insert into tags (tagid, title, color) values ('TagHome1AAAAAAAA', 'Home', 1)");
        Run("insert into tags (tagid, title, color) values ('TagHome2AAAAAAAA', 'Home', 2)");
        Run("insert into tags (tagid, title, color) values ('TagBueroAAAAAAAA', 'Büro', 2)");
        const TQuickResult result = StoreQuickTask({QStringLiteral("x"), {}, {title}, {}});
        QCOMPARE(result.status, kExitOk);
        QCOMPARE(
            Values(QString("select tagid as v from tags_tasks where taskid='%1' order by tagid")
                       .arg(result.taskid)),
            linked);
    }

    // Input that cannot be stored is refused as a whole: no task row, no link.
    void refusedTaskStoresNothing_data()
    {
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QStringList>("tags");
        QTest::addColumn<QString>("due");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown tag") << "x" << QStringList{"Home", "Garden"} << "" << kExitUsage
                                     << "no tag is titled \"Garden\", so nothing was stored; "
                                        "the tags are \"Home\", \"Work\".";
        QTest::newRow("two unknown tags") << "x" << QStringList{"Garden", "Home", "Car"} << ""
                                          << kExitUsage << "no tag is titled \"Garden\", \"Car\"";
        QTest::newRow("blank summary")
            << " " << QStringList{"Home"} << "" << kExitUsage << "the summary of --add is blank.";
        QTest::newRow("bad date") << "x" << QStringList{} << "2023-02-29 10:00" << kExitUsage
                                  << "there is no such date";
    }
    void refusedTaskStoresNothing()
    {
        QFETCH(QString, summary);
        QFETCH(QStringList, tags);
        QFETCH(QString, due);
        QFETCH(int, status);
        QFETCH(QString, message);
        Run("insert into tags (tagid, title, color) values ('TagHomeAAAAAAAAA', 'Home', 1)");
        Run("insert into tags (tagid, title, color) values ('TagWorkAAAAAAAAA', 'Work', 1)");
        const TQuickResult result = StoreQuickTask({summary, {}, tags, due});
        QCOMPARE(result.status, status);
        QVERIFY2(result.message.contains(message), qPrintable(result.message));
        QCOMPARE(Values("select count(*) as v from tasks"), QStringList{"0"});
        QCOMPARE(Values("select count(*) as v from tags_tasks"), QStringList{"0"});
    }

    void unknownTagWithoutTags()
    {
        const TQuickResult result = StoreQuickTask({QStringLiteral("x"), {}, {"Home"}, {}});
        QCOMPARE(result.status, kExitUsage);
        QVERIFY2(result.message.contains("there are no tags yet"), qPrintable(result.message));
    }

    // A database that refuses the task: status 1 with the engine's reason, and
    // neither the row nor its links.
    void refusedByTheDatabase()
    {
        Run("insert into tags (tagid, title, color) values ('TagHomeAAAAAAAAA', 'Home', 1)");
        Run("create trigger no_links before insert on tags_tasks begin select "
            "raise(abort, 'links are switched off'); end");
        const TQuickResult result = StoreQuickTask({QStringLiteral("x"), {}, {"Home"}, {}});
        QCOMPARE(result.status, kExitFailure);
        QVERIFY2(result.message.contains("the task could not be stored") &&
                     result.message.contains("links are switched off"),
                 qPrintable(result.message));
        QCOMPARE(Values("select count(*) as v from tasks"), QStringList{"0"});
    }

    void requestMessages_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("summary");
        QTest::addColumn<QString>("note");
        QTest::addColumn<QStringList>("tags");
        QTest::addColumn<QString>("due");
        QTest::newRow("show") << kInstanceShow << ""
                              << "" << QStringList{} << "";
        QTest::newRow("add, everything")
            << kInstanceAdd << "Grüße an Zoë 😀"
            << "line 1\nline 2" << QStringList{"Home", "Büro", "Tag1"} << "2030-01-02 10:30";
        QTest::newRow("add, no note, no tags") << kInstanceAdd << "x"
                                               << "" << QStringList{} << "";
    }
    void requestMessages()
    {
        TInstanceRequest request;
        QFETCH(QString, command);
        request.command = command;
        QFETCH(QString, summary);
        request.task.summary = summary;
        QFETCH(QString, note);
        request.task.note = note;
        QFETCH(QStringList, tags);
        request.task.tags = tags;
        QFETCH(QString, due);
        request.task.due = due;
        TMessageData message;
        WriteInstanceRequest(request, message);
        // Through the bytes of a frame, as the channel carries it.
        TMessageData received;
        received.GetData().Assign(message.GetData().Stream().Bytes());
        const TInstanceRequest read = ReadInstanceRequest(received);
        QCOMPARE(read.command, command);
        QCOMPARE(read.task.summary, summary);
        QCOMPARE(read.task.note, note);
        QCOMPARE(read.task.tags, tags);
        QCOMPARE(read.task.due, due);
    }

    // A count of tags beyond the tags that came reads only those that came.
    void requestWithTooHighTagCount()
    {
        TMessageData message;
        message.WriteText("Command", kInstanceAdd);
        message.WriteText("Summary", "x");
        message.WriteText("TagCount", "2000000000");
        message.WriteText("Tag1", "Home");
        QCOMPARE(ReadInstanceRequest(message).task.tags, QStringList{"Home"});
    }

    // --import and --export name their file as an absolute path, for a
    // running program with another working folder; the import goes to it.
    void importAndExportOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<TCommandAction>("action");
        QTest::addColumn<QString>("file");
        const QString here = QDir::currentPath();
        QTest::newRow("import") << QStringList{"--import", "tasks.ics"} << TCommandAction::Import
                                << here + "/tasks.ics";
        QTest::newRow("export, absolute")
            << QStringList{"--export=/tmp/out.ics"} << TCommandAction::Export << "/tmp/out.ics";
    }
    void importAndExportOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, file);
        const TCommandLine command = ParseCommandLine(arguments);
        QCOMPARE(command.error, QString());
        QTEST(command.action, "action");
        QCOMPARE(command.file, file);
        if (command.action == TCommandAction::Import) {
            const TInstanceRequest request = InstanceRequestOf(command);
            QCOMPARE(request.command, kInstanceImport);
            TMessageData message;
            WriteInstanceRequest(request, message);
            TMessageData received;
            received.GetData().Assign(message.GetData().Stream().Bytes());
            QCOMPARE(ReadInstanceRequest(received).file, file);
        }
    }

    // What --import and --export print and end with.
    void importAndExportFiles()
    {
        if (!IcsSupported())
            QSKIP("this build has no iCalendar files");
        const QString ics = FEnv->File("in.ics");
        {
            QFile file(ics);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//T//T//EN\r\nBEGIN:VTODO\r\n"
                       "UID:a@example.org\r\nDTSTAMP:20260301T070000Z\r\nSUMMARY:Imported\r\n"
                       "END:VTODO\r\nBEGIN:VTODO\r\nUID:b@example.org\r\n"
                       "DTSTAMP:20260301T070000Z\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
        }
        TQuickResult result = ImportTasksFile(ics);
        QCOMPARE(result.status, kExitOk);
        QVERIFY2(result.message.contains("1 added, 0 skipped (already present), 1 refused"),
                 qPrintable(result.message));
        QVERIFY(result.message.contains("Refused \"b@example.org\": it has no summary"));
        result = ImportTasksFile(FEnv->File("missing.ics"));
        QCOMPARE(result.status, kExitFailure);
        QVERIFY(result.message.contains("missing.ics"));

        const QString out = FEnv->File("out.ics");
        result = ExportTasksFile(out);
        QCOMPARE(result.status, kExitOk);
        QCOMPARE(result.message, QStringLiteral("Exported 1 task to %1.").arg(out));
        QVERIFY(QFile::exists(out));
        result = ExportTasksFile(FEnv->File("no/such/folder/out.ics"));
        QCOMPARE(result.status, kExitFailure);
    }

    void requestOfTheCommandLine()
    {
        QCOMPARE(InstanceRequestOf(ParseCommandLine({})).command, kInstanceShow);
        QCOMPARE(InstanceRequestOf(ParseCommandLine({"--show"})).command, kInstanceShow);
        QCOMPARE(InstanceRequestOf(ParseCommandLine({"--hidden"})).command, kInstancePing);
        const TInstanceRequest add =
            InstanceRequestOf(ParseCommandLine({"--add", "x", "--tag", "Home", "--due", "hour"}));
        QCOMPARE(add.command, kInstanceAdd);
        QCOMPARE(add.task.summary, QStringLiteral("x"));
        QCOMPARE(add.task.tags, QStringList{"Home"});
        QCOMPARE(add.task.due, QStringLiteral("hour"));
    }

    // One channel per settings file, whichever way its path is written and
    // whether the file exists yet.
    void channelName()
    {
        QTemporaryDir dir;
        const QString real = dir.filePath("real");
        QVERIFY(QDir().mkpath(real));
        QVERIFY(QFile::link(real, dir.filePath("link")));
        const QString config = real + "/BEXO/config.ini";
        const QString name = InstanceChannelName(config);
        QVERIFY2(QRegularExpression("^ulmora-[0-9a-f]{16}$").match(name).hasMatch(),
                 qPrintable(name));
        QCOMPARE(InstanceChannelName(dir.filePath("link") + "/BEXO/config.ini"), name);
        QCOMPARE(InstanceChannelName(real + "/BEXO/../BEXO/config.ini"), name);
        QVERIFY(QDir().mkpath(real + "/BEXO"));
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(InstanceChannelName(config), name);
        QCOMPARE(InstanceChannelName(dir.filePath("link") + "/BEXO/config.ini"), name);
        QVERIFY(InstanceChannelName(real + "/BEXO/other.ini") != name);
        QVERIFY(InstanceChannelName(dir.filePath("elsewhere/BEXO/config.ini")) != name);
    }

private:
    std::unique_ptr<TTestEnv> FEnv;
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
