#pragma once

// The list panel of the main window: the title row with "Mark as Read", the
// find field (Ctrl+F) that narrows the rows of the tab, the task list over its
// model and tag filter, the tag tabs, the list's context menu with the
// due-date items, the selection and the unread marks. A change of one task
// updates its row in place; only LoadTasks reads the whole list.

#include "app/tasks_missed.h"
#include "app/tasks_records.h"
#include "util/kvd_datetime.h"

#include <QHash>
#include <QStringList>
#include <QWidget>
#include <vector>

class ItasksNotifier;
class ItasksTagsControler;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QShortcut;
class QTabBar;
class QToolButton;
class TtasksListDelegate;
class TtasksListModel;
class TtasksTag;
class TtasksListFilter;
class TtasksTaskTree;

class TtasksListPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TtasksListPanel(QWidget* aParent = nullptr);
    ~TtasksListPanel() override;

    // The controller whose tags the tabs carry and the tag bands show: the
    // editor's check list. The panel does not own it; nullptr before it exists.
    void SetTagsControler(ItasksTagsControler* aControler);

    // Reloads the tags into the tag controller and rebuilds the tabs; ends by
    // reloading the list for the selected tab.
    void LoadTagTabs();
    // Rebuilds the list from the database; aTag filters it, nullptr shows all.
    void LoadTasks(const TtasksTag* aTag);
    void ClearTasks();
    TTaskRecord* AddTaskRecord(const QString& aTaskId);
    // The record of a row of the list model (tab filter aside).
    TTaskRecord* RecordOfRow(int aRow) const;
    // The record of the topmost selected row, nullptr when none is selected.
    TTaskRecord* SelectedTask() const;
    // The tag of the selected tab; nullptr for "ALL" or no tab.
    TtasksTag* CurrentTag() const;
    void MarkUnread(const QString& aTaskId);
    bool IsUnread(const QString& aTaskId) const;
    // Finishes an open task or re-opens a finished one. The row keeps its
    // place until the list is next updated. When the database refuses, the
    // error is shown and the row keeps its stored mark.
    void ToggleFinished(TTaskRecord* aRecord);
    QString TaskHintText(const TTaskRecord& aRecord) const;

    // Reads the tasks of aIds again with the list statement and puts their
    // rows where a reload would: a changed task moves to its place, one no
    // longer listed goes, a new one comes in. Rows ticked since the last
    // update, and rows finished before today, are read again with them, so
    // that the list is what a reload would give; every other row keeps its
    // record and marks. The selection goes, as with a reload. Raises
    // EDatabaseError when the rows cannot be read; the list then stays as it was.
    void UpdateTasks(const QStringList& aIds);
    // Gives the listed tasks the due date-time aDue (0: none) and updates
    // their rows; a refused task is reported after the others were moved.
    void MoveDueDate(const QStringList& aIds, TDateTime aDue);
    // One reminder pass over the loaded records with aNotifier, looking back
    // over due times missed since the previous pass; the announced tasks
    // become unread.
    void CheckReminders(ItasksNotifier& aNotifier);
    // Records the last reminder pass for the next start; the window calls it
    // as it goes, while the database is open.
    void CloseReminders();
    // The notifier whose notification of a task is taken back when the task
    // is finished, deleted or changed here; nullptr for none.
    void SetNotifier(ItasksNotifier* aNotifier) { FNotifier = aNotifier; }
    // Selects the task's row and makes it current, switching to "ALL" when
    // the tab hides it; false when the task is not listed.
    bool SelectTask(const QString& aTaskId);

    const QStringList& UnreadIds() const { return FUnreadIds; }
    // The ids of the selected rows, in the order they were selected. Which
    // rows are selected is the selection model's; this panel only remembers
    // the order in which they came.
    const QStringList& SelectedIds() const;
    TtasksListModel* TaskRecords() const { return FTaskRecords; }
    // The rows the list view shows: the records through the tab's tag filter.
    TtasksListFilter* TaskRows() const { return FTaskRows; }

    // The controls of this panel that UpdateControls sets.
    void SetCommandsEnabled(bool aNewTask, bool aEditTask, bool aDeleteTask, bool aDateMoves);
    void SetMarkAsReadVisible(bool aVisible);
    // Repaints the rows: their look depends on the unread marks and the records.
    void RepaintRows();
    // Drops the tabs, the records and the id lists: the window is going.
    void Release();

    // Shows the find field above the list and puts the cursor in it, its text
    // selected (Ctrl+F).
    void ShowFind();
    // Empties and hides the find field: every row of the tab shows again
    // (Escape). The list takes the focus when the field had it.
    void CloseFind();

public Q_SLOTS:
    void treeTaskListChecked(int aRow);
    void treeTaskListClick();
    void treeTaskListDblClick();
    void treeTaskListFocusChanged();
    void treeTaskListAddToSelection(int aRow);
    void treeTaskListRemoveFromSelection(int aRow);
    void treeTaskListResize();
    void tabsGroupsClick();
    void btnMarkAsReadClick();
    void tasklist_popupPopup();
    void itDuedateMoveClick();
    // The find text changed: the rows of the tab are narrowed to it.
    void edtFindChange();

Q_SIGNALS:
    // What UpdateControls shows may have changed.
    void ControlsChanged();
    // A click in the list (not the release that ends a double click): the
    // editor closes without saving.
    void Clicked();
    // A double click in the list: the action of "Edit".
    void DoubleClicked();
    // The list menu's "New Task", "Edit Task" and "Delete Task".
    void NewTaskAsked();
    void EditTaskAsked();
    void DeleteTaskAsked();
    // "Export Selected Tasks...": the selected tasks to an iCalendar file.
    void ExportSelectedAsked();
    // "Import Tasks...": tasks from an iCalendar file.
    void ImportAsked();
    // The panel stored a change (a tick) or read rows again after a change
    // stored elsewhere: aIds are the tasks concerned, empty for a whole reload.
    void TasksChanged(const QStringList& aIds);

protected:
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override;

private:
    QWidget* BuildTitle();
    QWidget* BuildFind();
    // Puts the focus in the list, selecting its current row (or its first)
    // when none is selected.
    void FocusList();
    // How many rows of the tab hold the find text, beside the field.
    void ShowFindCount();
    void BuildTree();
    void BuildTabs();
    void BuildMenu();
    // Adds the id to the unread ones; false when it is there already.
    bool AddUnread(const QString& aTaskId);

    QStringList FUnreadIds;
    ItasksNotifier* FNotifier = nullptr;
    TtasksMissedReminders FReminders;
    // When each selected row was selected, by task id, counted up; the
    // selection model decides which rows are selected.
    QHash<QString, quint64> FSelectedAt;
    quint64 FSelections = 0;
    // SelectedIds as last derived.
    mutable QStringList FSelectedIds;
    TtasksListModel* FTaskRecords = nullptr;
    TtasksListFilter* FTaskRows = nullptr;
    ItasksTagsControler* FTagsControler = nullptr;
    // The tag each tab carries, by tab index; nullptr for "ALL".
    std::vector<TtasksTag*> FTabTags;
    // The list's last press was the second of a double click: its release is
    // no click that closes the editor the double click has just opened.
    bool FDoubleClickPress = false;

    QToolButton* btnMarkAsRead = nullptr;
    QWidget* pnlFind = nullptr;
    QLineEdit* edtFind = nullptr;
    QLabel* lblFindCount = nullptr;
    QShortcut* FFindShortcut = nullptr;
    TtasksTaskTree* treeTaskList = nullptr;
    QTabBar* tabsGroups = nullptr;
    QMenu* tasklist_popup = nullptr;
    QAction* itTreeNewTask = nullptr;
    QAction* itTreeEditTask = nullptr;
    QAction* itTreeDeleteTask = nullptr;
    QAction* actExportSelectedTasks = nullptr;
    std::vector<QAction*> FDateMoves;
};
