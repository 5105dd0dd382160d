#pragma once

// What the main-window test programs share: the set-up of a clean window test
// (temporary APPDATA, message boxes in test mode, the default theme) and the
// helpers that fill the window's database and read the window back.

#include "app/tasks_form_main.h"
#include "app/tasks_list_view.h"
#include "app/tasks_panel_editor.h"
#include "app/tasks_panel_list.h"
#include "app/tasks_tray.h"
#include "resources/tasks_themes.h"
#include "util/kvd_dialogs.h"

#include "../common/find_widget.h"
#include "../common/test_env.h"

#include <QTabBar>
#include <QtTest>
#include <memory>

// The task list and the tag tabs, which most tests reach.
inline TtasksTaskTree* Tree(const QObject& aWindow)
{
    return W<TtasksTaskTree>(aWindow, "treeTaskList");
}
inline QTabBar* Tabs(const QObject& aWindow)
{
    return W<QTabBar>(aWindow, "tabsGroups");
}

// A fresh environment for one window test; keep it until EndWindowTest.
inline std::unique_ptr<TTestEnv> StartWindowTest()
{
    auto env = std::make_unique<TTestEnv>();
    TkvdMessageBox::SetTestMode(true);
    TkvdMessageBox::ClearShown();
    ApplyTheme(TasksDefaults::theme);
    // The offscreen platform has no tray; the window tests run as on a
    // desktop with one unless they say otherwise.
    TtasksTray::SetAvailableForTests(true);
    return env;
}

inline void EndWindowTest(std::unique_ptr<TTestEnv>& aEnv)
{
    TkvdMessageBox::ClearShown();
    aEnv.reset();
}

// Runs SQL on the window's own database object.
inline void Sql(const QString& aSQL)
{
    GetTasksSettings();
    QVERIFY2(GetTasksDB()->Exec(aSQL), qPrintable(aSQL));
}

inline QString Quoted(const QString& aText)
{
    QString text = aText;
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QStringLiteral("''")) +
           QLatin1Char('\'');
}

inline QString ValueOrNull(const QString& aText)
{
    return aText.isNull() ? QStringLiteral("NULL") : Quoted(aText);
}

// A task row; a null text stands for NULL, a null creation time for now.
inline void AddTask(const QString& aId, const QString& aSummary, const QString& aDue = QString(),
                    const QString& aFinished = QString(), const QString& aCreated = QString(),
                    const QString& aNote = QString())
{
    Sql(QStringLiteral("insert into tasks (taskid, summary, note, createddt, duedt, finisheddt) "
                       "values (%1, %2, %3, %4, %5, %6)")
            .arg(ValueOrNull(aId), ValueOrNull(aSummary), ValueOrNull(aNote),
                 aCreated.isNull() ? QStringLiteral("datetime('now')") : ValueOrNull(aCreated),
                 ValueOrNull(aDue), ValueOrNull(aFinished)));
}

inline void AddTag(const QString& aId, const QString& aTitle, qint64 aColor = 255,
                   const QString& aCreated = QStringLiteral("2020-01-01 00:00:00"))
{
    Sql(QStringLiteral("insert into tags (tagid, title, color, image, createddt) values (%1, %2, "
                       "%3, 0, %4)")
            .arg(Quoted(aId), Quoted(aTitle))
            .arg(aColor)
            .arg(Quoted(aCreated)));
}

inline void Link(const QString& aTaskId, const QString& aTagId)
{
    Sql(QStringLiteral("insert into tags_tasks (tagid, taskid) values (%1, %2)")
            .arg(Quoted(aTagId), Quoted(aTaskId)));
}

// The window's record of a task, or null when the list does not hold it.
inline TTaskRecord* RecordById(TfrmTaskList& aWindow, const QString& aId)
{
    TtasksListPanel* list = aWindow.ListPanel();
    for (int row = 0; row < list->TaskRecords()->Count(); ++row) {
        if (list->RecordOfRow(row)->taskid == aId)
            return list->RecordOfRow(row);
    }
    return nullptr;
}

// A user's tick or untick of a row's box.
inline void Tick(TfrmTaskList& aWindow, const QString& aId)
{
    TTaskRecord* record = RecordById(aWindow, aId);
    QVERIFY(record);
    TtasksListModel* model = aWindow.ListPanel()->TaskRecords();
    model->setData(model->index(record->row, kColCheck),
                   record->finished ? Qt::Unchecked : Qt::Checked, Qt::CheckStateRole);
}

// The view's index of a row of the list model; invalid while the tab's
// filter leaves the row out.
inline QModelIndex ViewIndex(TfrmTaskList& aWindow, int aRow, int aColumn = 0)
{
    TtasksListPanel* list = aWindow.ListPanel();
    return list->TaskRows()->mapFromSource(list->TaskRecords()->index(aRow, aColumn));
}

// The tab's filter leaves the model's row out of the view.
inline bool RowHidden(TfrmTaskList& aWindow, int aRow)
{
    return !ViewIndex(aWindow, aRow).isValid();
}

// How many error boxes were shown since the last ClearShown.
inline int ErrorBoxes()
{
    int count = 0;
    for (const TkvdMessageBox::TShown& shown : TkvdMessageBox::Shown()) {
        if (shown.Kind == TMsgKind::Error)
            ++count;
    }
    return count;
}
