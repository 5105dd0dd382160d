#include "../common/store_rows.h"
#include "../common/test_env.h"
#include "../common/unprivileged.h"

#include "store/tasks_db.h"
#include "store/zdb.h"
#include "util/tasks_log.h"

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QtTest>
#include <clocale>
#include <future>
#include <sqlite3.h>
#include <thread>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#endif

namespace {

QByteArray Read(const QString& aFile)
{
    QFile file(aFile);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether another thread can take the store's lock right now.
bool LockIsFree()
{
    return std::async(std::launch::async, [] {
               // The lock is re-entrant, so only another thread can tell.
               std::thread::id self = std::this_thread::get_id();
               Q_UNUSED(self);
               LockDB();
               UnlockDB();
               return true;
           }).wait_for(std::chrono::seconds(2)) == std::future_status::ready;
}

// A second connection to the database file, as another program would hold it.
class TOtherConnection
{
public:
    explicit TOtherConnection(const QString& aFile)
    {
        sqlite3_open(aFile.toUtf8().constData(), &FHandle);
    }
    ~TOtherConnection()
    {
        sqlite3_exec(FHandle, "rollback", nullptr, nullptr, nullptr);
        sqlite3_close(FHandle);
    }
    TOtherConnection(const TOtherConnection&) = delete;
    TOtherConnection& operator=(const TOtherConnection&) = delete;
    bool Exec(const char* aSQL)
    {
        return sqlite3_exec(FHandle, aSQL, nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    sqlite3* FHandle = nullptr;
};

QString FailureOf(const QString& aReason)
{
    return QStringLiteral("The task could not be saved.\n\nThe reason: ") + aReason +
           QLatin1Char('.');
}

QFileDevice::Permissions Mode(int aOctal)
{
    QFileDevice::Permissions permissions;
    const QFileDevice::Permission bits[9] = {
        QFileDevice::ExeOther, QFileDevice::WriteOther, QFileDevice::ReadOther,
        QFileDevice::ExeGroup, QFileDevice::WriteGroup, QFileDevice::ReadGroup,
        QFileDevice::ExeOwner, QFileDevice::WriteOwner, QFileDevice::ReadOwner};
    for (int bit = 0; bit < 9; ++bit) {
        if (aOctal & (1 << bit))
            permissions |= bits[bit];
    }
    // Qt's "user" bits are the owner's for the owner.
    if (permissions & QFileDevice::ReadOwner)
        permissions |= QFileDevice::ReadUser;
    if (permissions & QFileDevice::WriteOwner)
        permissions |= QFileDevice::WriteUser;
    if (permissions & QFileDevice::ExeOwner)
        permissions |= QFileDevice::ExeUser;
    return permissions;
}

// The mode bits of a file as the octal number ls shows, -1 when it is missing.
int ModeOf(const QString& aFile)
{
#ifdef Q_OS_UNIX
    struct stat info;
    if (::stat(QFile::encodeName(aFile).constData(), &info) != 0)
        return -1;
    return static_cast<int>(info.st_mode & 07777);
#else
    Q_UNUSED(aFile);
    return -1;
#endif
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TTestEnv> FEnv;
    QStringList FLogged;

    void InsertTask(const QString& aId, const QString& aSummary)
    {
        auto query = GetTasksDB()->NewQuery();
        query->Params().Clear();
        query->Params()
            .CreateParam(TZFieldType::ftString, "taskid", TZParamType::ptInput)
            .SetAsString(aId);
        query->Params()
            .CreateParam(TZFieldType::ftString, "summary", TZParamType::ptInput)
            .SetAsString(aSummary);
        QVERIFY(GetTasksDB()->Query("insert into tasks (taskid, summary, createddt) values "
                                    "(:taskid, :summary, datetime(\"now\"))",
                                    query.get()));
    }

private Q_SLOTS:
    // Before anyone gives the store a file, it opens none: the engine would
    // take the empty name for a temporary database and lose every change.
    void initTestCase()
    {
        QCOMPARE(TasksDBFile(), QString());
        try {
            GetTasksDB()->Connect();
            QFAIL("Connect did not raise");
        } catch (const EDatabaseError& error) {
            QCOMPARE(error.Message(), QStringLiteral("The task store was given no database file."));
        }
        QVERIFY(!GetTasksDB()->IsConnected());
        QVERIFY(LockIsFree());
        ReleaseTasksDB();
    }

    void init()
    {
        FEnv = std::make_unique<TTestEnv>();
        FEnv->UseDatabase();
        FLogged.clear();
        auto log = std::make_unique<TtasksLog>();
        log->FileName = FEnv->File("ulmora.log");
        log->OnLog = [this](TtasksLog&, const QString& aLine) { FLogged << aLine; };
        SetTasksLog(std::move(log));
    }
    void cleanup()
    {
        SetTasksLog(nullptr);
        FEnv.reset();
    }

    void firstConnectCreatesFolderFileAndSchema()
    {
        SetTasksDBFile(QStringLiteral("%APPDATA%\\BEXO\\tasks.db"));
        TtasksDB* db = GetTasksDB();
        QVERIFY(!db->IsConnected());
        QVERIFY(!db->SchemaCreated());
        db->Connect();
        QVERIFY(db->IsConnected());
        QVERIFY(db->SchemaCreated());
        QVERIFY(QFile::exists(FEnv->File("BEXO/tasks.db")));
        QCOMPARE(db->Connection().Database, FEnv->Path() + "\\BEXO\\tasks.db");
        QVERIFY(db->Connection().Properties.contains("codepage=utf-8"));

        // The engine keeps each statement's text, less "IF NOT EXISTS".
        auto query = db->NewQuery();
        QVERIFY(
            db->Query("select name, sql from sqlite_master where sql is not null order by rowid",
                      query.get()));
        QStringList stored;
        for (; !query->Eof(); query->Next())
            stored << query->FieldByName("sql").AsString();
        QStringList expected;
        for (const char* statement : kSchemaStatements)
            expected << QString::fromLatin1(statement).remove(" IF NOT EXISTS").chopped(1);
        QCOMPARE(stored, expected);
    }

    // The store opens the file its caller gives, whatever the db_file setting
    // says; a store made again after ReleaseTasksDB opens the same file, and
    // a file given while connected is opened at the next connect.
    void opensTheFileItIsGiven()
    {
        db_file = FEnv->File("setting.db");
        SetTasksDBFile("%APPDATA%/given.db");
        QCOMPARE(TasksDBFile(), QStringLiteral("%APPDATA%/given.db"));
        InsertTask("AAAAAAAAAAAAAAAA", "given");
        QCOMPARE(GetTasksDB()->Connection().Database, FEnv->File("given.db"));
        QVERIFY(!QFile::exists(FEnv->File("setting.db")));

        SetTasksDBFile(FEnv->File("next.db"));
        QCOMPARE(Count("select count(*) from tasks"), 1);
        ReleaseTasksDB();
        QCOMPARE(Count("select count(*) from tasks"), 0);
        QCOMPARE(GetTasksDB()->Connection().Database, FEnv->File("next.db"));
        ReleaseTasksDB();
        QCOMPARE(GetTasksDB()->AccessProblem(), QString());
        QCOMPARE(TasksDBFile(), FEnv->File("next.db"));
    }

    void missingParentFoldersAreCreated()
    {
        SetTasksDBFile(FEnv->File("a/b/c/tasks.db"));
        GetTasksDB()->Connect();
        QVERIFY(QFile::exists(TasksDBFile()));
    }

    void secondStartLeavesTheFileAsItWas()
    {
        GetTasksDB()->Connect();
        InsertTask("AAAAAAAAAAAAAAAA", "kept");
        ReleaseTasksDB();
        const QByteArray before = Read(TasksDBFile());
        GetTasksDB()->Connect();
        ReleaseTasksDB();
        QCOMPARE(Read(TasksDBFile()), before);
    }

    void connectFailuresNameThePath_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("not a database") << "garbage"
                                        << "the file is not a database";
        QTest::newRow("a folder") << "folder"
                                  << "the database file cannot be opened (is a directory)";
        QTest::newRow("folder cannot be created")
            << "blocked"
            << "the database file cannot be opened (not a directory)";
    }

    void connectFailuresNameThePath()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(static_cast<char>(i * 7 + 3));
        if (kind == "garbage") {
            QFile file(TasksDBFile());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        } else if (kind == "folder") {
            QDir().mkpath(TasksDBFile());
        } else {
            QFile file(FEnv->File("blocker"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            SetTasksDBFile(FEnv->File("blocker/sub/tasks.db"));
        }
        TtasksDB* db = GetTasksDB();
        try {
            db->Connect();
            QFAIL("Connect did not raise");
        } catch (const EDatabaseError& error) {
            QVERIFY2(error.Message().contains(TasksDBFile()), qPrintable(error.Message()));
            QCOMPARE(
                error.Message(),
                FailureText(QStringLiteral("Cannot open database file \"%1\".").arg(TasksDBFile()),
                            reason));
        }
        QCOMPARE(db->LastFailureReason(), reason);
        QVERIFY(!db->IsConnected());
        QVERIFY(!db->SchemaCreated());
        QVERIFY(LockIsFree());
        // The same error reaches the callers of NewQuery and Exec.
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, db->NewQuery());
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, db->Exec("select 1"));
        if (kind == "garbage")
            QCOMPARE(Read(TasksDBFile()), garbage);
    }

    void isQueryStatement_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<bool>("query");
        QTest::newRow("select") << "select * from tasks" << true;
        QTest::newRow("blanks and upper case") << " \t\r\n SELECT 1" << true;
        QTest::newRow("outfile anywhere") << "select * into OutFile 'x' from t" << false;
        QTest::newRow("prefix, not word") << "selection" << true;
        QTest::newRow("show") << "SHOW tables" << true;
        QTest::newRow("describe") << "describe tasks" << true;
        QTest::newRow("explain") << "explain select 1" << true;
        QTest::newRow("common table expression") << "with x as (select 1) select * from x" << false;
        QTest::newRow("pragma") << "pragma user_version" << false;
        QTest::newRow("insert") << "insert into tasks default values" << false;
        QTest::newRow("empty") << "" << false;
    }

    void isQueryStatement()
    {
        QFETCH(QString, sql);
        QFETCH(bool, query);
        QCOMPARE(IsQueryStatement(sql), query);
    }

    void otherStatementsYieldNoRows()
    {
        auto query = GetTasksDB()->NewQuery();
        QVERIFY(GetTasksDB()->Query("with x as (select 1 as a) select * from x", query.get()));
        QVERIFY(!query->Active());
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, query->FieldByName("a"));
    }

    void blankQueryDoesNothing_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("empty") << "";
        QTest::newRow("blanks") << "  \t\n ";
    }

    void blankQueryDoesNothing()
    {
        QFETCH(QString, sql);
        auto query = GetTasksDB()->NewQuery();
        QVERIFY(!GetTasksDB()->Query(sql, query.get()));
        QVERIFY(!GetTasksDB()->Query("select 1", nullptr));
        QVERIFY(LockIsFree());
        QVERIFY(FLogged.isEmpty());
    }

    void failuresAreLoggedReportedAndLeaveNoTransaction_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::newRow("duplicate key")
            << "insert into tasks (taskid, summary) values (\"AAAAAAAAAAAAAAAA\", \"second\")";
        QTest::newRow("syntax") << "insert into nothing at all";
        QTest::newRow("unknown table select") << "select * from nosuchtable";
    }

    void failuresAreLoggedReportedAndLeaveNoTransaction()
    {
        QFETCH(QString, sql);
        InsertTask("AAAAAAAAAAAAAAAA", "first");
        auto query = GetTasksDB()->NewQuery();
        QVERIFY(!GetTasksDB()->Query(sql, query.get()));
        QVERIFY(!GetTasksDB()->Connection().InTransaction());
        QVERIFY(!query->Active());
        QVERIFY(LockIsFree());
        QCOMPARE(FLogged.size(), 1);
        QVERIFY2(FLogged[0].contains("(X) EDatabaseError: "), qPrintable(FLogged[0]));
        QCOMPARE(Count("select count(*) from tasks"), 1);
        QCOMPARE(Count("select count(*) from tasks where summary=\"first\""), 1);
    }

    void execRetriesThreeTimes()
    {
        GetTasksDB()->Connect();
        QVERIFY(!GetTasksDB()->Exec("delete from nosuchtable"));
        QCOMPARE(FLogged.size(), 3);
        QVERIFY(GetTasksDB()->Exec("delete from tasks"));
        QCOMPARE(FLogged.size(), 3);
        QVERIFY(LockIsFree());
    }

    void withoutALogFailuresGoNowhere()
    {
        SetTasksLog(nullptr);
        GetTasksDB()->Connect();
        QVERIFY(!GetTasksDB()->Exec("delete from nosuchtable"));
        QVERIFY(!QFile::exists(FEnv->File("ulmora.log")));
    }

    void parametersAreRebuiltFromTheText()
    {
        TZQuery query;
        query.Params()
            .CreateParam(TZFieldType::ftString, "taskid", TZParamType::ptInput)
            .SetAsString("X");
        query.Params()
            .CreateParam(TZFieldType::ftString, "unused", TZParamType::ptInput)
            .SetAsString("Y");
        query.SetSQL(
            "update tasks set summary=:Summary where taskid=:taskid and x=':quoted' and y::int=1");
        QCOMPARE(query.Params().Count(), 2);
        QCOMPARE(query.Params()[0].Name, QStringLiteral("Summary"));
        QVERIFY(query.Params()[0].IsNull());
        QCOMPARE(query.ParamByName("TASKID").AsString(), QStringLiteral("X"));
        QVERIFY(query.Params().FindParam("unused") == nullptr);
        QVERIFY(query.Params().FindParam("quoted") == nullptr);
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, query.ParamByName("unused"));
    }

    void parameterNames_data()
    {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("two") << "insert into t values (:a, :b)" << QStringList{"a", "b"};
        QTest::newRow("repeated once") << ":a + :A + :a" << QStringList{"a"};
        QTest::newRow("in quotes") << "select ':x', \":y\" , :z" << QStringList{"z"};
        QTest::newRow("comment") << "select 1 -- :c\n, :d" << QStringList{"d"};
        QTest::newRow("double colon") << "select a::b" << QStringList{};
        QTest::newRow("lone colon") << "select : 1" << QStringList{};
    }

    void parameterNames()
    {
        QFETCH(QString, sql);
        QFETCH(QStringList, names);
        QCOMPARE(ParameterNames(sql), names);
    }

    void valuesSetBeforeTheTextAreBound()
    {
        InsertTask("BBBBBBBBBBBBBBBB", "bound");
        auto query = GetTasksDB()->NewQuery();
        query->Params().Clear();
        query->Params()
            .CreateParam(TZFieldType::ftString, "taskid", TZParamType::ptInput)
            .SetAsString("BBBBBBBBBBBBBBBB");
        query->Params()
            .CreateParam(TZFieldType::ftString, "ignored", TZParamType::ptInput)
            .SetAsString("x");
        QVERIFY(GetTasksDB()->Query("select * from tasks where taskid=:taskid", query.get()));
        QVERIFY(!query->Eof());
        QCOMPARE(query->FieldByName("summary").AsString(), QStringLiteral("bound"));
        query->Next();
        QVERIFY(query->Eof());
    }

    void nullsAndDateTimes()
    {
        InsertTask("CCCCCCCCCCCCCCCC", "dates");
        auto query = GetTasksDB()->NewQuery();
        query->Params().Clear();
        query->Params()
            .CreateParam(TZFieldType::ftDateTime, "duedt", TZParamType::ptInput)
            .SetAsDateTime(EncodeDateTime(2012, 5, 8, 15, 10, 7, 999));
        QVERIFY(GetTasksDB()->Query(
            "update tasks set duedt=:duedt where taskid=\"CCCCCCCCCCCCCCCC\"", query.get()));
        QCOMPARE(query->RowsAffected(), 1);
        QVERIFY(GetTasksDB()->Query("select * from tasks", query.get()));
        QCOMPARE(query->FieldByName("duedt").AsString(), QStringLiteral("2012-05-08 15:10:07"));
        QCOMPARE(query->FieldByName("DUEDT").AsDateTime(), EncodeDateTime(2012, 5, 8, 15, 10, 7));
        QCOMPARE(query->FieldByName("note").AsString(), QString());
        QCOMPARE(query->FieldByName("note").AsInteger(), 0);
        QCOMPARE(query->FieldByName("finisheddt").AsDateTime(), 0.0);
        QVERIFY(query->FieldByName("finisheddt").IsNull());
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, query->FieldByName("nosuchcolumn"));
        // createddt came from the engine's UTC clock in the same text form.
        QVERIFY(query->FieldByName("createddt").AsDateTime() > EncodeDateTime(2020, 1, 1));
    }

    void firstStartsTheRowsAgain()
    {
        InsertTask("DDDDDDDDDDDDDDDD", "a");
        InsertTask("EEEEEEEEEEEEEEEE", "b");
        auto query = GetTasksDB()->NewQuery();
        QVERIFY(GetTasksDB()->Query("select summary from tasks order by summary", query.get()));
        query->Next();
        QCOMPARE(query->FieldByName("summary").AsString(), QStringLiteral("b"));
        query->First();
        QCOMPARE(query->FieldByName("summary").AsString(), QStringLiteral("a"));
    }

    void textRoundTripsAsUtf8()
    {
        const QString text = QStringLiteral("Ünïcødé ✓ 𝄞 שלום\r\nline two\x01");
        InsertTask("FFFFFFFFFFFFFFFF", text);
        auto query = GetTasksDB()->NewQuery();
        QVERIFY(
            GetTasksDB()->Query("select summary, length(summary) as n from tasks", query.get()));
        QCOMPARE(query->FieldByName("summary").AsString(), text);
    }

    void transactionsOfTheCaller()
    {
        TtasksDB* db = GetTasksDB();
        QVERIFY(db->StartTransaction());
        InsertTask("GGGGGGGGGGGGGGGG", "in the caller's transaction");
        QVERIFY(db->Connection().InTransaction());
        QVERIFY(db->Rollback());
        QCOMPARE(Count("select count(*) from tasks"), 0);

        QVERIFY(db->StartTransaction());
        InsertTask("GGGGGGGGGGGGGGGG", "one");
        // A failing statement inside the caller's transaction fails alone.
        auto query = db->NewQuery();
        QVERIFY(
            !db->Query("insert into tasks (taskid) values (\"GGGGGGGGGGGGGGGG\")", query.get()));
        QVERIFY(db->Connection().InTransaction());
        InsertTask("HHHHHHHHHHHHHHHH", "two");
        QVERIFY(db->Commit());
        QVERIFY(!db->Connection().InTransaction());
        QCOMPARE(Count("select count(*) from tasks"), 2);
    }

    void startingATransactionCommitsAnOpenOne()
    {
        TtasksDB* db = GetTasksDB();
        QVERIFY(db->StartTransaction());
        InsertTask("IIIIIIIIIIIIIIII", "committed by the next start");
        QVERIFY(db->StartTransaction());
        QVERIFY(db->Rollback());
        QCOMPARE(Count("select count(*) from tasks"), 1);
    }

    void aBriefLockByAnotherProcessIsWaitedFor()
    {
        GetTasksDB()->Connect();
        sqlite3* other = nullptr;
        QCOMPARE(sqlite3_open(TasksDBFile().toUtf8().constData(), &other), SQLITE_OK);
        QCOMPARE(sqlite3_exec(other, "BEGIN IMMEDIATE; insert into tags (tagid) values ('x');",
                              nullptr, nullptr, nullptr),
                 SQLITE_OK);
        std::thread release([other] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
        });
        InsertTask("JJJJJJJJJJJJJJJJ", "waited");
        release.join();
        sqlite3_close(other);
        QCOMPARE(Count("select count(*) from tasks"), 1);
        QCOMPARE(Count("select count(*) from tags"), 1);
    }

    // ---------------------------------------------------------------- failure reasons

    void failuresGiveTheirReasonInWords_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("trigger RAISE") << "trigger"
                                       << "tasks are closed for the audit";
        QTest::newRow("duplicate key") << "duplicate"
                                       << "an entry with the same key is already stored";
        QTest::newRow("missing value") << "not null"
                                       << "a required value is missing";
        QTest::newRow("other rule")
            << "check"
            << "a rule of the database refused the change (CHECK constraint failed: x > 0)";
        QTest::newRow("locked by another connection") << "locked"
                                                      << "the database is locked";
        QTest::newRow("disk full") << "full"
                                   << "the disk is full";
        QTest::newRow("read-only") << "query only"
                                   << "the database file is read-only";
        QTest::newRow("unknown table") << "no table"
                                       << "no such table: nosuchtable";
    }

    void failuresGiveTheirReasonInWords()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        TtasksDB* db = GetTasksDB();
        // The busy time-out is read at connect; a locked file fails fast here.
        db->Connection().BusyTimeoutMs = 20;
        db->Connect();
        InsertTask("AAAAAAAAAAAAAAAA", "first");
        QString sql = "insert into tasks (taskid, summary) values (\"BBBBBBBBBBBBBBBB\", \"b\")";
        TOtherConnection other(TasksDBFile());
        if (kind == "trigger") {
            QVERIFY(db->Exec("create trigger refuse before insert on tasks begin select "
                             "raise(abort, 'tasks are closed for the audit'); end"));
        } else if (kind == "duplicate") {
            sql = "insert into tasks (taskid) values (\"AAAAAAAAAAAAAAAA\")";
        } else if (kind == "not null") {
            QVERIFY(db->Exec("create table strict_values (x not null)"));
            sql = "insert into strict_values values (null)";
        } else if (kind == "check") {
            QVERIFY(db->Exec("create table checked_values (x check (x > 0))"));
            sql = "insert into checked_values values (0)";
        } else if (kind == "locked") {
            QVERIFY(other.Exec("begin exclusive"));
        } else if (kind == "full") {
            // No page may be added to the file: what SQLite does on a full disk.
            QVERIFY(db->Exec(QStringLiteral("pragma max_page_count = %1")
                                 .arg(Count("select page_count from pragma_page_count()"))));
            sql = "insert into tasks (taskid, summary) values (\"BBBBBBBBBBBBBBBB\", "
                  "hex(randomblob(100000)))";
        } else if (kind == "query only") {
            QVERIFY(db->Exec("pragma query_only = 1"));
        } else {
            sql = "insert into nosuchtable values (1)";
        }

        // A statement through Query, outside and inside a transaction of the
        // caller, and through Exec.
        auto query = db->NewQuery();
        QVERIFY(!db->Query(sql, query.get()));
        QCOMPARE(db->LastFailureReason(), reason);
        QCOMPARE(db->FailureMessage("The task could not be saved."), FailureOf(reason));

        QVERIFY(db->StartTransaction());
        QCOMPARE(db->LastFailureReason(), QString());
        QVERIFY(!db->Query(sql, query.get()));
        QCOMPARE(db->FailureMessage("The task could not be saved."), FailureOf(reason));
        QVERIFY(db->Rollback());

        QVERIFY(db->Query("select 1", query.get()));
        QCOMPARE(db->LastFailureReason(), QString());
        QVERIFY(!db->Exec(sql));
        QCOMPARE(db->FailureMessage("The task could not be saved."), FailureOf(reason));
        QVERIFY(other.Exec("rollback") || kind != "locked");
        QCOMPARE(Count("select count(*) from tasks"), 1);
    }

    void failureTextForm_data()
    {
        QTest::addColumn<QString>("reason");
        QTest::addColumn<QString>("text");
        QTest::newRow("no reason") << ""
                                   << "It failed.";
        QTest::newRow("words") << "the disk is full"
                               << "It failed.\n\nThe reason: the disk is full.";
        QTest::newRow("ends in a full stop") << "Closed."
                                             << "It failed.\n\nThe reason: Closed.";
        QTest::newRow("ends in a question mark") << "why?"
                                                 << "It failed.\n\nThe reason: why?";
    }

    void failureTextForm()
    {
        QFETCH(QString, reason);
        QFETCH(QString, text);
        QCOMPARE(FailureText("It failed.", reason), text);
    }

    // The reason belongs to one operation: a later one never shows it.
    void aReasonLastsForItsOperation()
    {
        TtasksDB* db = GetTasksDB();
        db->Connection().BusyTimeoutMs = 20;
        auto query = db->NewQuery();
        const QString bad = "delete from nosuchtable";
        const QString good = "delete from tasks";
        const QString noTable = "no such table: nosuchtable";

        // A statement on its own.
        QVERIFY(!db->Query(bad, query.get()));
        QCOMPARE(db->LastFailureReason(), noTable);
        QVERIFY(db->Query(good, query.get()));
        QCOMPARE(db->LastFailureReason(), QString());

        // A transaction keeps its failure to its end, and the next one starts clean.
        QVERIFY(db->StartTransaction());
        QVERIFY(!db->Query(bad, query.get()));
        QVERIFY(db->Query(good, query.get()));
        QVERIFY(db->Commit());
        QCOMPARE(db->LastFailureReason(), noTable);
        QVERIFY(db->StartTransaction());
        QCOMPARE(db->LastFailureReason(), QString());
        QVERIFY(db->Rollback());

        // An operation of statements that commit each on its own.
        QVERIFY(!db->Exec(bad));
        {
            const TDBOperation operation;
            QCOMPARE(db->LastFailureReason(), QString());
            QVERIFY(!db->Query(bad, query.get()));
            QVERIFY(db->Query(good, query.get()));
            QVERIFY(db->Exec(good));
            QCOMPARE(db->LastFailureReason(), noTable);
        }
        QVERIFY(db->Query(good, query.get()));
        QCOMPARE(db->LastFailureReason(), QString());

        // A commit that another program's read lock holds up.
        TOtherConnection reader(TasksDBFile());
        QVERIFY(reader.Exec("begin; select count(*) from tasks;"));
        QVERIFY(db->StartTransaction());
        InsertTask("LLLLLLLLLLLLLLLL", "never committed");
        QVERIFY(!db->Commit());
        QCOMPARE(db->LastFailureReason(), QStringLiteral("the database is locked"));
        QVERIFY(!db->Connection().InTransaction());
    }

    // ---------------------------------------------------------------- file modes

    void aNewDatabaseIsTheUsersAlone_data()
    {
        QTest::addColumn<int>("existing");
        QTest::addColumn<int>("mode");
        QTest::newRow("created by the program") << -1 << 0600;
        QTest::newRow("existing, readable by all") << 0644 << 0644;
        QTest::newRow("existing, group writable") << 0660 << 0660;
    }

    void aNewDatabaseIsTheUsersAlone()
    {
#ifndef Q_OS_UNIX
        QSKIP("file modes are those of Unix");
#else
        QFETCH(int, existing);
        QFETCH(int, mode);
        // The usual umask, which leaves 0644 for a file created for everyone.
        const mode_t umaskBefore = ::umask(022);
        const auto restoreUmask = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
        if (existing >= 0) {
            QFile file(TasksDBFile());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.close();
            QVERIFY(QFile::setPermissions(TasksDBFile(), Mode(existing)));
            QCOMPARE(ModeOf(TasksDBFile()), existing);
        }
        TtasksDB* db = GetTasksDB();
        db->Connect();
        QCOMPARE(ModeOf(TasksDBFile()), mode);
        // The journal of a transaction follows the file's mode.
        QVERIFY(db->StartTransaction());
        InsertTask("MMMMMMMMMMMMMMMM", "journalled");
        QCOMPARE(ModeOf(TasksDBFile() + "-journal"), mode);
        QVERIFY(db->Commit());
        ReleaseTasksDB();
        QCOMPARE(ModeOf(TasksDBFile()), mode);
#endif
    }

    // ---------------------------------------------------------------- access

    void readOnlyFileOrFolderForAnOrdinaryUser_data()
    {
        QTest::addColumn<int>("fileMode");
        QTest::addColumn<int>("folderMode");
        QTest::addColumn<QString>("problem");
        QTest::addColumn<QString>("writeReason");
        QTest::newRow("both writable") << 0600 << 0700 << ""
                                       << "";
        QTest::newRow("read-only file") << 0400 << 0700 << "the database file is read-only"
                                        << "the database file is read-only";
        QTest::newRow("read-only folder") << 0600 << 0500 << "the database folder is read-only"
                                          << "the database folder is read-only";
    }

    void readOnlyFileOrFolderForAnOrdinaryUser()
    {
        RUN_AS_ORDINARY_USER();
        QFETCH(int, fileMode);
        QFETCH(int, folderMode);
        QFETCH(QString, problem);
        QFETCH(QString, writeReason);
        const QString folder = FEnv->File("BEXO");
        SetTasksDBFile(folder + "/tasks.db");
        GetTasksDB()->Connect();
        InsertTask("NNNNNNNNNNNNNNNN", "stored before");
        ReleaseTasksDB();
        QVERIFY(QFile::setPermissions(TasksDBFile(), Mode(fileMode)));
        QVERIFY(QFile::setPermissions(folder, Mode(folderMode)));

        TtasksDB* db = GetTasksDB();
        // Before the connect and after it.
        QCOMPARE(db->AccessProblem(), problem);
        db->Connect();
        QCOMPARE(db->AccessProblem(), problem);
        // Reading works in every case.
        QCOMPARE(Count("select count(*) from tasks"), 1);
        auto query = db->NewQuery();
        const bool written =
            db->Query("insert into tasks (taskid) values (\"OOOOOOOOOOOOOOOO\")", query.get());
        QCOMPARE(written, writeReason.isEmpty());
        QCOMPARE(db->LastFailureReason(), writeReason);
        ReleaseTasksDB();
        QVERIFY(QFile::setPermissions(folder, Mode(0700)));
        QVERIFY(QFile::setPermissions(TasksDBFile(), Mode(0600)));
    }

    void accessProblemOfAMissingFolder()
    {
        SetTasksDBFile(FEnv->File("not/yet/tasks.db"));
        QCOMPARE(GetTasksDB()->AccessProblem(),
                 QStringLiteral("the database folder does not exist"));
        GetTasksDB()->Connect();
        QCOMPARE(GetTasksDB()->AccessProblem(), QString());
    }

    void doubleQuotedLiteralsAreStrings()
    {
        InsertTask("KKKKKKKKKKKKKKKK", "quoted");
        QCOMPARE(Count("select count(*) from tasks where taskid=\"KKKKKKKKKKKKKKKK\""), 1);
    }

    void numbersUseAPointAfterConnect()
    {
        std::setlocale(LC_NUMERIC, "");
        GetTasksDB()->Connect();
        QCOMPARE(QByteArray(std::setlocale(LC_NUMERIC, nullptr)), QByteArray("C"));
    }

    void theTraceKeepsTheLatestHundred()
    {
        TtasksDB* db = GetTasksDB();
        db->Connect();
        QVERIFY(db->Monitor().Active);
        QVERIFY(db->Monitor().FileName.endsWith("db_log.log"));
        auto query = db->NewQuery();
        for (int i = 0; i < 150; ++i)
            db->Query(QStringLiteral("select %1").arg(i), query.get());
        QCOMPARE(static_cast<int>(db->Monitor().Events().size()), 100);
        const auto& events = db->Monitor().Events();
        QVERIFY(std::find(events.begin(), events.end(), QStringLiteral("select 149")) !=
                events.end());
        QVERIFY(std::find(events.begin(), events.end(), QStringLiteral("select 1")) ==
                events.end());
        QVERIFY(!QFile::exists(db->Monitor().FileName));
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
