// The editor's save: one new task with three ticked tags written by the
// window's "Save" (the task row, the delete of its links and three link
// inserts in one transaction, then its row read back and put in place in the
// list), on a database file with the store's default durability. Measured
// with an empty list and with 1,000 tasks loaded; the saved task is deleted
// through the window between iterations, outside the timing, so every
// iteration saves into the same list.
//
//   build/bench/app/bench_editor --benchmark_repetitions=9
//
// ULMORA_BENCH_DIR puts the database elsewhere (by default a temporary folder
// on the disk that holds the system's temporary files).

#include "app/tasks_form_main.h"
#include "app/tasks_list_view.h"
#include "app/tasks_panel_editor.h"
#include "app/tasks_panel_list.h"
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
    TtasksEditorPanel* editor = window->EditorPanel();
    TtasksListPanel* list = window->ListPanel();
    ItasksTagsControler* tags = editor->TagsControler();
    if (tags->Count() < 3) {
        aState.SkipWithError("the database holds fewer than three tags");
        return;
    }
    auto* summary = window->findChild<QLineEdit*>(QStringLiteral("edTaskSummary"));
    auto* note = window->findChild<QPlainTextEdit*>(QStringLiteral("edTaskNote"));
    const QString text = QStringLiteral("Call the office about the invoice");
    for (auto _ : aState) {
        aState.PauseTiming();
        editor->btnNewTaskClick();
        summary->setText(text);
        note->setPlainText(QStringLiteral("Ask for\nthe second copy"));
        for (int i = 0; i < tags->Count(); ++i)
            tags->GetTagByIndex(i)->SetChecked(i < 3);
        aState.ResumeTiming();

        editor->btnSaveTaskClick();

        aState.PauseTiming();
        if (editor->Editing()) {
            aState.SkipWithError("the save failed");
            break;
        }
        for (int row = 0; row < list->TaskRecords()->Count(); ++row) {
            if (list->RecordOfRow(row)->summary == text) {
                editor->DeleteTask(list->RecordOfRow(row));
                break;
            }
        }
        aState.ResumeTiming();
    }
    aState.counters["rows"] = list->TaskRecords()->Count();
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
