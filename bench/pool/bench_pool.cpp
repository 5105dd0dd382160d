// The bulk entry of 10,000 lines with two ticked tags (30,000 rows) through
// TfrmTasksPool::CreateTasks, against the same 30,000 inserts in one
// transaction through the SQLite C API with prepared statements.
// Run: build/bench/pool/bench_pool [--benchmark_repetitions=5]

#include "pool/tasks_form_pool.h"

#include "store/tasks_db.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_utils.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdexcept>

namespace {

constexpr int kLines = 10000;
const char* const kTagIds[2] = {"BenchTagAAAAAAAA", "BenchTagBBBBBBBB"};

QString DatabasePath()
{
    // ULMORA_BENCH_DIR puts the file elsewhere, e.g. on /dev/shm to leave the
    // disk's flush times out of the comparison.
    const QString base = qEnvironmentVariableIsSet("ULMORA_BENCH_DIR")
                             ? qEnvironmentVariable("ULMORA_BENCH_DIR")
                             : QDir::tempPath();
    const QString folder = QDir(base).filePath(QStringLiteral("ulmora-bench"));
    QDir().mkpath(folder);
    return QDir(folder).filePath(QStringLiteral("pool.db"));
}

QString PoolText()
{
    QStringList lines;
    for (int i = 0; i < kLines; ++i)
        lines << QStringLiteral("  task number %1 of the bulk entry  ").arg(i);
    return lines.join(QLatin1Char('\n'));
}

void Exec(sqlite3* aDb, const char* aSQL)
{
    char* error = nullptr;
    if (sqlite3_exec(aDb, aSQL, nullptr, nullptr, &error) != SQLITE_OK) {
        const std::string message = error ? error : "unknown";
        sqlite3_free(error);
        throw std::runtime_error(message);
    }
}

// A new database file with the program's schema and the two tags.
void FreshDatabase()
{
    ReleaseTasksDB();
    QFile::remove(DatabasePath());
    SetTasksDBFile(DatabasePath());
    TtasksDB* db = GetTasksDB();
    db->Connect();
    for (const char* id : kTagIds)
        db->Exec(QStringLiteral("insert into tags (tagid, title, color) values ('%1', '%1', 0)")
                     .arg(QString::fromLatin1(id)));
}

void BM_CreateTasks(benchmark::State& aState)
{
    FreshDatabase();
    TfrmTasksPool dialog;
    dialog.findChild<QPlainTextEdit*>(QStringLiteral("memPool"))->setPlainText(PoolText());
    for (const char* id : kTagIds)
        dialog.TagsControler()->GetTag(QString::fromLatin1(id))->SetChecked(true);
    for (auto _ : aState) {
        aState.PauseTiming();
        FreshDatabase();
        aState.ResumeTiming();
        if (!dialog.CreateTasks())
            aState.SkipWithError("CreateTasks failed");
    }
    aState.counters["rows"] = 3 * kLines;
    ReleaseTasksDB();
}

void BM_RawSqliteInserts(benchmark::State& aState)
{
    const QStringList lines = SplitPoolLines(PoolText());
    for (auto _ : aState) {
        aState.PauseTiming();
        FreshDatabase();
        ReleaseTasksDB();
        sqlite3* db = nullptr;
        sqlite3_open(DatabasePath().toUtf8().constData(), &db);
        aState.ResumeTiming();

        sqlite3_stmt* task = nullptr;
        sqlite3_stmt* link = nullptr;
        sqlite3_prepare_v2(db,
                           "insert into tasks (taskid, summary, note, createddt, duedt) values "
                           "(?1, ?2, NULL, datetime('now'), NULL)",
                           -1, &task, nullptr);
        sqlite3_prepare_v2(db, "insert into tags_tasks (taskid, tagid) values (?1, ?2)", -1, &link,
                           nullptr);
        Exec(db, "BEGIN");
        for (const QString& line : lines) {
            const QByteArray summary = TrimPoolLine(line).toUtf8();
            const QByteArray id = GenerateId().toUtf8();
            sqlite3_bind_text(task, 1, id.constData(), static_cast<int>(id.size()),
                              SQLITE_TRANSIENT);
            sqlite3_bind_text(task, 2, summary.constData(), static_cast<int>(summary.size()),
                              SQLITE_TRANSIENT);
            if (sqlite3_step(task) != SQLITE_DONE)
                aState.SkipWithError("task insert failed");
            sqlite3_reset(task);
            for (const char* tagId : kTagIds) {
                sqlite3_bind_text(link, 1, id.constData(), static_cast<int>(id.size()),
                                  SQLITE_TRANSIENT);
                sqlite3_bind_text(link, 2, tagId, -1, SQLITE_STATIC);
                if (sqlite3_step(link) != SQLITE_DONE)
                    aState.SkipWithError("link insert failed");
                sqlite3_reset(link);
            }
        }
        Exec(db, "COMMIT");
        sqlite3_finalize(task);
        sqlite3_finalize(link);

        aState.PauseTiming();
        sqlite3_close(db);
        aState.ResumeTiming();
    }
    aState.counters["rows"] = 3 * kLines;
}

BENCHMARK(BM_CreateTasks)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_RawSqliteInserts)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                    : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    TkvdMessageBox::SetTestMode(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ReleaseTasksDB();
    return 0;
}
