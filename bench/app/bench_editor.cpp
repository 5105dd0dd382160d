// The editor's save: one new task with three ticked tags written by the
// window's "Save" (the task row, the delete of its links and three link
// inserts in one transaction, then the reload of the list), on a database
// file with the store's default durability. Measured with an empty list and
// with 1,000 tasks loaded; the saved task is removed between iterations,
// outside the timing, so every iteration saves into the same list.
//
//   build/bench/app/bench_editor --benchmark_repetitions=9
//
// ULMORA_BENCH_DIR puts the database elsewhere (by default a temporary folder
// on the disk that holds the system's temporary files).

#include "app/tasks_form_main.h"
#include "settings/tasks_settings.h"
#include "store/tasks_db.h"
#include "tags/tasks_tags.h"

#include "../common/bench_db.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <memory>

namespace {

QString gFolder;

// A fresh copy of a database of aTasks tasks (and its 20 tags) to save into.
QString WorkingDatabase(int aTasks)
{
    const QString source = BuildBenchDatabase(gFolder, aTasks);
    const QString path = QDir(gFolder).filePath(QStringLiteral("editor-%1.db").arg(aTasks));
    QFile::remove(path);
    QFile::copy(source, path);
    return path;
}

void BM_SaveTaskWithThreeTags(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    ReleaseTasksDB();
    db_file = WorkingDatabase(tasks);
    SetTasksDBFile(db_file);
    auto window = std::make_unique<TfrmTaskList>();
    ItasksTagsControler* tags = window->TagsControler();
    if (tags->Count() < 3) {
        aState.SkipWithError("the database holds fewer than three tags");
        return;
    }
    TtasksDB* db = GetTasksDB();
    for (auto _ : aState) {
        aState.PauseTiming();
        window->btnNewTaskClick();
        window->edTaskSummary->setText(QStringLiteral("Call the office about the invoice"));
        window->edTaskNote->setPlainText(QStringLiteral("Ask for\nthe second copy"));
        for (int i = 0; i < tags->Count(); ++i)
            tags->GetTagByIndex(i)->SetChecked(i < 3);
        aState.ResumeTiming();

        window->btnSaveTaskClick();

        aState.PauseTiming();
        if (window->Editing()) {
            aState.SkipWithError("the save failed");
            break;
        }
        db->Exec(QStringLiteral("delete from tags_tasks where taskid in (select taskid from "
                                "tasks where summary='Call the office about the invoice')"));
        db->Exec(
            QStringLiteral("delete from tasks where summary='Call the office about the invoice'"));
        aState.ResumeTiming();
    }
    window.reset();
    ReleaseTasksDB();
}

} // namespace

BENCHMARK(BM_SaveTaskWithThreeTags)
    ->Arg(0)
    ->Arg(1000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir appdata;
    qputenv("APPDATA", appdata.path().toUtf8());
    ResetEnvTableForTesting();
    GetTasksSettings();
    std::unique_ptr<QTemporaryDir> folder;
    if (qEnvironmentVariableIsSet("ULMORA_BENCH_DIR")) {
        gFolder = qEnvironmentVariable("ULMORA_BENCH_DIR");
    } else {
        folder = std::make_unique<QTemporaryDir>();
        gFolder = folder->path();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    ReleaseTasksDB();
    ReleaseTasksSettings();
    return 0;
}
