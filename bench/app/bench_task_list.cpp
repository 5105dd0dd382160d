// The main window's list: LoadTasks (statement, records, model, row
// visibility; no painting) against the bare list statement run through the
// SQLite C API in the same program, at 10,000 and 100,000 tasks; the painting
// of one screenful of rows (30 rows with three tags each); and, on the real
// window shown, each click that changes what the list shows until the view
// has laid its rows out again: a tag tab (ALL to the first tag's tab and
// back), Ctrl+F and Escape, a keystroke in the find field (these two at
// 1,000 and 100,000 tasks), "Save" of a new task with three tags, "Delete"
// of a task, and a tick of a row's box (finish and re-open in turn).
//
//   build/bench/app/bench_task_list

#include "app/tasks_form_main.h"
#include "app/tasks_list_view.h"
#include "app/tasks_panel_editor.h"
#include "app/tasks_panel_list.h"
#include "settings/tasks_settings.h"
#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "tags/tasks_tags.h"

#include "../common/bench_db.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <benchmark/benchmark.h>
#include <map>
#include <memory>

namespace {

QTemporaryDir* gFolder = nullptr;
std::map<int, QString> gDatabases;
// The windows go before the application object does.
std::map<int, std::unique_ptr<TfrmTaskList>> gWindows;
int gCurrentDatabase = 0;

QString Database(int aTasks)
{
    auto found = gDatabases.find(aTasks);
    if (found == gDatabases.end())
        found = gDatabases.emplace(aTasks, BuildBenchDatabase(gFolder->path(), aTasks)).first;
    return found->second;
}

QByteArray Today()
{
    return NowDateTime().date().toString(QStringLiteral("yyyy-MM-dd")).toUtf8();
}

// One window over the database of aTasks tasks, made once per size.
TfrmTaskList* WindowFor(int aTasks)
{
    if (gCurrentDatabase != aTasks) {
        ReleaseTasksDB();
        db_file = Database(aTasks);
        SetTasksDBFile(db_file);
        gCurrentDatabase = aTasks;
    }
    auto& window = gWindows[aTasks];
    if (!window)
        window = std::make_unique<TfrmTaskList>();
    else
        window->LoadTagTabs();
    return window.get();
}

void BM_RawListStatement(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    const QByteArray path = Database(tasks).toUtf8();
    const QByteArray sql = TaskListStatement().toUtf8();
    const QByteArray today = Today();
    sqlite3* db = nullptr;
    sqlite3_open(path.constData(), &db);
    int rows = 0;
    for (auto _ : aState) {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql.constData(), -1, &statement, nullptr);
        sqlite3_bind_text(statement, sqlite3_bind_parameter_index(statement, ":today"),
                          today.constData(), -1, SQLITE_STATIC);
        const int columns = sqlite3_column_count(statement);
        rows = 0;
        while (sqlite3_step(statement) == SQLITE_ROW) {
            // Read every column, as a loader must.
            for (int c = 0; c < columns; ++c)
                benchmark::DoNotOptimize(sqlite3_column_text(statement, c));
            ++rows;
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    aState.counters["rows"] = rows;
}

void BM_LoadTasks(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    const bool filtered = aState.range(1) != 0;
    TtasksListPanel* list = WindowFor(tasks)->ListPanel();
    // The first tag's tab hides the rows of every other tag.
    const TtasksTag* tag =
        filtered ? WindowFor(tasks)->EditorPanel()->TagsControler()->GetTagByIndex(0) : nullptr;
    for (auto _ : aState)
        list->LoadTasks(tag);
    aState.counters["rows"] = list->TaskRecords()->Count();
}

// One tab switch per iteration, alternating between "ALL" and the first tag's
// tab, through the tab bar as a click changes it, the window shown.
void BM_TabSwitch(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    TfrmTaskList* window = WindowFor(tasks);
    QTabBar* tabs = window->findChild<QTabBar*>(QStringLiteral("tabsGroups"));
    if (!tabs || tabs->count() < 2) {
        aState.SkipWithError("no tag tab");
        return;
    }
    window->show();
    tabs->setCurrentIndex(0);
    QCoreApplication::processEvents();
    int next = 1;
    for (auto _ : aState) {
        tabs->setCurrentIndex(next);
        // The view lays its rows out on the next pass of the event loop.
        QCoreApplication::processEvents();
        next = 1 - next;
    }
    tabs->setCurrentIndex(0);
    aState.counters["rows"] = window->ListPanel()->TaskRecords()->Count();
}

// One keystroke in the find field per iteration, the window shown, until the
// view has laid its rows out again: typing "number 4217" letter by letter and
// taking it back, from every row found (the first letters) to a few.
void BM_FindKeystroke(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    TfrmTaskList* window = WindowFor(tasks);
    auto* find = window->findChild<QLineEdit*>(QStringLiteral("edtFind"));
    if (!find) {
        aState.SkipWithError("no find field");
        return;
    }
    window->show();
    window->ListPanel()->ShowFind();
    QCoreApplication::processEvents();
    const QString word = QStringLiteral("number 4217");
    QStringList keystrokes;
    for (qsizetype length = 1; length <= word.size(); ++length)
        keystrokes << word.left(length);
    for (qsizetype length = word.size() - 1; length >= 0; --length)
        keystrokes << word.left(length);
    qsizetype next = 0;
    for (auto _ : aState) {
        find->setText(keystrokes[next]);
        QCoreApplication::processEvents();
        next = (next + 1) % keystrokes.size();
    }
    window->ListPanel()->CloseFind();
    QCoreApplication::processEvents();
    aState.counters["rows"] = window->ListPanel()->TaskRecords()->Count();
}

// Ctrl+F and Escape: the find field opens, which folds the summaries and
// notes once for the keystrokes to come, and closes, which lets them go.
void BM_FindOpen(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    TfrmTaskList* window = WindowFor(tasks);
    window->show();
    QCoreApplication::processEvents();
    for (auto _ : aState) {
        window->ListPanel()->ShowFind();
        QCoreApplication::processEvents();
        window->ListPanel()->CloseFind();
        QCoreApplication::processEvents();
    }
    aState.counters["rows"] = window->ListPanel()->TaskRecords()->Count();
}

const QString kSavedSummary = QStringLiteral("Call the office about the invoice");

// "New", a summary and three tags ticked in the editor.
void FillNewTask(TfrmTaskList* aWindow)
{
    TtasksEditorPanel* editor = aWindow->EditorPanel();
    editor->btnNewTaskClick();
    aWindow->findChild<QLineEdit*>(QStringLiteral("edTaskSummary"))->setText(kSavedSummary);
    ItasksTagsControler* tags = editor->TagsControler();
    for (int i = 0; i < tags->Count(); ++i)
        tags->GetTagByIndex(i)->SetChecked(i < 3);
}

// The row of the task saved last, selected as a click selects it.
TTaskRecord* SelectSaved(TfrmTaskList* aWindow)
{
    TtasksListPanel* list = aWindow->ListPanel();
    for (int row = 0; row < list->TaskRecords()->Count(); ++row) {
        TTaskRecord* record = list->RecordOfRow(row);
        if (record->summary != kSavedSummary)
            continue;
        auto* tree = aWindow->findChild<QTreeView*>(QStringLiteral("treeTaskList"));
        tree->selectionModel()->select(
            list->TaskRows()->mapFromSource(list->TaskRecords()->index(row, 0)),
            QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return record;
    }
    return nullptr;
}

// "Save" of a new task with three tags: the store's transaction and the row
// put in place; the task is deleted again outside the timing.
void BM_SaveTask(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    TfrmTaskList* window = WindowFor(tasks);
    window->show();
    QCoreApplication::processEvents();
    TtasksEditorPanel* editor = window->EditorPanel();
    for (auto _ : aState) {
        aState.PauseTiming();
        FillNewTask(window);
        aState.ResumeTiming();

        editor->btnSaveTaskClick();
        QCoreApplication::processEvents();

        aState.PauseTiming();
        if (editor->Editing()) {
            aState.SkipWithError("the save failed");
            break;
        }
        editor->DeleteTask(SelectSaved(window));
        QCoreApplication::processEvents();
        aState.ResumeTiming();
    }
    aState.counters["rows"] = window->ListPanel()->TaskRecords()->Count();
}

// "Delete" of the selected task; a task to delete is saved outside the timing.
void BM_DeleteTask(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    TfrmTaskList* window = WindowFor(tasks);
    window->show();
    QCoreApplication::processEvents();
    TtasksEditorPanel* editor = window->EditorPanel();
    for (auto _ : aState) {
        aState.PauseTiming();
        FillNewTask(window);
        editor->btnSaveTaskClick();
        if (!SelectSaved(window)) {
            aState.SkipWithError("the save failed");
            break;
        }
        QCoreApplication::processEvents();
        aState.ResumeTiming();

        editor->btnDeleteTaskClick();
        QCoreApplication::processEvents();
    }
    aState.counters["rows"] = window->ListPanel()->TaskRecords()->Count();
}

// A click on a row's box: the task is finished, and re-opened by the next one.
void BM_Tick(benchmark::State& aState)
{
    const int tasks = static_cast<int>(aState.range(0));
    TfrmTaskList* window = WindowFor(tasks);
    window->show();
    QCoreApplication::processEvents();
    TtasksListModel* model = window->ListPanel()->TaskRecords();
    // A row in the middle of the list.
    const QModelIndex box = model->index(model->Count() / 2, kColCheck);
    for (auto _ : aState) {
        const bool ticked = box.data(Qt::CheckStateRole).toInt() == Qt::Checked;
        model->setData(box, ticked ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
        QCoreApplication::processEvents();
    }
    if (box.data(Qt::CheckStateRole).toInt() == Qt::Checked)
        model->setData(box, Qt::Unchecked, Qt::CheckStateRole);
    aState.counters["rows"] = model->Count();
}

void BM_PaintScreenful(benchmark::State& aState)
{
    QTemporaryDir folder;
    ReleaseTasksDB();
    gCurrentDatabase = 0;
    db_file = folder.filePath(QStringLiteral("paint.db"));
    SetTasksDBFile(db_file);
    TtasksDB* db = GetTasksDB();
    for (int t = 0; t < 3; ++t)
        db->Exec(QStringLiteral("insert into tags values ('TAG%1aaaaaaaaaaaa', 'Tag %1', %2, 0, "
                                "datetime('now'))")
                     .arg(t)
                     .arg(0x3060C0 << t));
    db->StartTransaction();
    for (int i = 0; i < 30; ++i) {
        const QString id = QStringLiteral("TASK%1").arg(i, 12, 10, QLatin1Char('a'));
        db->Exec(QStringLiteral("insert into tasks (taskid, summary, duedt, createddt, finisheddt) "
                                "values ('%1', 'Task number %2 with a summary of some length', "
                                "%3, datetime('now'), %4)")
                     .arg(id)
                     .arg(i)
                     .arg(i % 5 == 0 ? QStringLiteral("NULL")
                                     : QStringLiteral("datetime('now', '%1 hours')").arg(i - 10))
                     .arg(i % 7 == 0 ? QStringLiteral("datetime('now', 'localtime')")
                                     : QStringLiteral("NULL")));
        for (int t = 0; t < 3; ++t)
            db->Exec(QStringLiteral("insert into tags_tasks (tagid, taskid) values "
                                    "('TAG%1aaaaaaaaaaaa', '%2')")
                         .arg(t)
                         .arg(id));
    }
    db->Commit();
    {
        TfrmTaskList window;
        TtasksListPanel* list = window.ListPanel();
        list->MarkUnread(QStringLiteral("TASK3aaaaaaaaaaaa"));
        window.resize(525, 30 * 26 + 200);
        window.show();
        auto* tree = window.findChild<QTreeView*>(QStringLiteral("treeTaskList"));
        QWidget* viewport = tree->viewport();
        QImage image(viewport->size(), QImage::Format_ARGB32_Premultiplied);
        int painted = 0;
        for (auto _ : aState) {
            QPainter painter(&image);
            viewport->render(&painter);
        }
        for (int row = 0; row < list->TaskRecords()->Count(); ++row) {
            if (tree->visualRect(
                        list->TaskRows()->mapFromSource(list->TaskRecords()->index(row, 0)))
                    .intersects(viewport->rect()))
                ++painted;
        }
        aState.counters["rows_on_screen"] = painted;
    }
    ReleaseTasksDB();
}

} // namespace

BENCHMARK(BM_RawListStatement)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadTasks)
    ->Args({10000, 0})
    ->Args({10000, 1})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->ArgNames({"tasks", "filtered"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TabSwitch)->Arg(10000)->Arg(100000)->ArgName("tasks")->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FindOpen)
    ->Arg(1000)
    ->Arg(100000)
    ->ArgName("tasks")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_FindKeystroke)
    ->Arg(1000)
    ->Arg(100000)
    ->ArgName("tasks")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_SaveTask)
    ->Arg(10000)
    ->Arg(100000)
    ->ArgName("tasks")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DeleteTask)
    ->Arg(10000)
    ->Arg(100000)
    ->ArgName("tasks")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_Tick)
    ->Arg(10000)
    ->Arg(100000)
    ->ArgName("tasks")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_PaintScreenful)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    gFolder = &folder;
    qputenv("APPDATA", folder.path().toUtf8());
    ResetEnvTableForTesting();
    GetTasksSettings();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    gWindows.clear();
    ReleaseTasksDB();
    ReleaseTasksSettings();
    return 0;
}
