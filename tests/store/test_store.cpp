#include "../common/test_env.h"

#include "store/tasks_db.h"
#include "store/zdb.h"
#include "util/tasks_log.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <clocale>
#include <future>
#include <sqlite3.h>
#include <thread>

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

int Count(const QString& aSQL)
{
    auto query = GetTasksDB()->NewQuery();
    if (!GetTasksDB()->Query(aSQL, query.get()))
        return -1;
    return static_cast<int>(query->FieldByName(query->FieldNames().value(0)).AsInteger());
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
        db_file = QStringLiteral("%APPDATA%\\BEXO\\tasks.db");
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

    void missingParentFoldersAreCreated()
    {
        db_file = FEnv->File("a/b/c/tasks.db");
        GetTasksDB()->Connect();
        QVERIFY(QFile::exists(db_file));
    }

    void secondStartLeavesTheFileAsItWas()
    {
        GetTasksDB()->Connect();
        InsertTask("AAAAAAAAAAAAAAAA", "kept");
        ReleaseTasksDB();
        const QByteArray before = Read(db_file);
        GetTasksDB()->Connect();
        ReleaseTasksDB();
        QCOMPARE(Read(db_file), before);
    }

    void connectFailuresNameThePath_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("not a database") << "garbage";
        QTest::newRow("a folder") << "folder";
        QTest::newRow("folder cannot be created") << "blocked";
    }

    void connectFailuresNameThePath()
    {
        QFETCH(QString, kind);
        QByteArray garbage;
        for (int i = 0; i < 4096; ++i)
            garbage.append(static_cast<char>(i * 7 + 3));
        if (kind == "garbage") {
            QFile file(db_file);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(garbage);
        } else if (kind == "folder") {
            QDir().mkpath(db_file);
        } else {
            QFile file(FEnv->File("blocker"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            db_file = FEnv->File("blocker/sub/tasks.db");
        }
        TtasksDB* db = GetTasksDB();
        try {
            db->Connect();
            QFAIL("Connect did not raise");
        } catch (const EDatabaseError& error) {
            QVERIFY2(error.Message().contains(db_file), qPrintable(error.Message()));
        }
        QVERIFY(!db->IsConnected());
        QVERIFY(!db->SchemaCreated());
        QVERIFY(LockIsFree());
        // The same error reaches the callers of NewQuery and Exec.
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, db->NewQuery());
        QVERIFY_THROWS_EXCEPTION(EDatabaseError, db->Exec("select 1"));
        if (kind == "garbage")
            QCOMPARE(Read(db_file), garbage);
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
        QCOMPARE(sqlite3_open(db_file.toUtf8().constData(), &other), SQLITE_OK);
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

QTEST_MAIN(TestStore)
#include "test_store.moc"
