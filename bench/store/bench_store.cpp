// The task list's statement through the store (NewQuery, Query, every column
// read by name) and through its list operation (TtasksStore::ListTasks),
// against the same statement stepped through the SQLite C API.
// Run: build/bench/store/bench_store

#include "../common/bench_db.h"

#include "store/tasks_db.h"
#include "store/tasks_store.h"

#include <QCoreApplication>
#include <QDir>
#include <benchmark/benchmark.h>

namespace {

QString Folder()
{
    return QDir::temp().filePath(QStringLiteral("ulmora-bench"));
}

struct TRow
{
    QString taskid, summary, note, tagsids;
    TDateTime createddt, duedt, finisheddt;
};

void BM_ListThroughStore(benchmark::State& aState)
{
    SetTasksDBFile(BuildBenchDatabase(Folder(), static_cast<int>(aState.range(0))));
    ReleaseTasksDB();
    TtasksDB* db = GetTasksDB();
    db->Connect();
    int64_t rows = 0;
    for (auto _ : aState) {
        auto query = db->NewQuery();
        db->Query(QString::fromLatin1(kBenchListStatement), query.get());
        for (; !query->Eof(); query->Next()) {
            TRow row{query->FieldByName("taskid").AsString(),
                     query->FieldByName("summary").AsString(),
                     query->FieldByName("note").AsString(),
                     query->FieldByName("tagsids").AsString(),
                     query->FieldByName("createddt").AsDateTime(),
                     query->FieldByName("duedt").AsDateTime(),
                     query->FieldByName("finisheddt").AsDateTime()};
            benchmark::DoNotOptimize(row);
            ++rows;
        }
    }
    aState.counters["rows"] = static_cast<double>(rows) / aState.iterations();
    ReleaseTasksDB();
}

void BM_ListThroughRawSQLite(benchmark::State& aState)
{
    const QString path = BuildBenchDatabase(Folder(), static_cast<int>(aState.range(0)));
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    auto text = [](sqlite3_stmt* aStatement, int aColumn) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(aStatement, aColumn));
        return value ? QString::fromUtf8(value, sqlite3_column_bytes(aStatement, aColumn))
                     : QString();
    };
    auto dateTime = [](sqlite3_stmt* aStatement, int aColumn) {
        const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(aStatement, aColumn));
        return value ? SqlTextToDateTime(value, sqlite3_column_bytes(aStatement, aColumn)) : 0.0;
    };
    int64_t rows = 0;
    for (auto _ : aState) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, kBenchListStatement, -1, &statement, nullptr);
        // Column order of "ts.*" then tagsids.
        while (sqlite3_step(statement) == SQLITE_ROW) {
            TRow row{text(statement, 0),    text(statement, 1),     text(statement, 2),
                     text(statement, 6),    dateTime(statement, 3), dateTime(statement, 4),
                     dateTime(statement, 5)};
            benchmark::DoNotOptimize(row);
            ++rows;
        }
        sqlite3_finalize(statement);
    }
    aState.counters["rows"] = static_cast<double>(rows) / aState.iterations();
    sqlite3_close(db);
}

// The operation the main window's list loads with: the list statement with
// the local "today" bound, every row into a TStoredTask.
void BM_ListTasksOperation(benchmark::State& aState)
{
    SetTasksDBFile(BuildBenchDatabase(Folder(), static_cast<int>(aState.range(0))));
    ReleaseTasksDB();
    GetTasksDB()->Connect();
    std::vector<TStoredTask> tasks;
    for (auto _ : aState) {
        if (!TtasksStore::ListTasks(tasks)) {
            aState.SkipWithError("ListTasks failed");
            break;
        }
        benchmark::DoNotOptimize(tasks.data());
    }
    aState.counters["rows"] = static_cast<double>(tasks.size());
    ReleaseTasksDB();
}

} // namespace

BENCHMARK(BM_ListThroughRawSQLite)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListThroughStore)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListTasksOperation)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
