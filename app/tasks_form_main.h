#pragma once

// The main window: the task list with its tag tabs, the task editor, the
// button bar, the tray icon with its menu, the list's context menu and the
// application-wide shortcut.

#include "app/tasks_duedates.h"
#include "app/tasks_records.h"

#include <QPoint>
#include <QSize>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <vector>

class ItasksNotifier;
class ItasksTagsControler;
class QAction;
class QButtonGroup;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QMenu;
class QPlainTextEdit;
class QRadioButton;
class QShortcut;
class QSystemTrayIcon;
class QTabBar;
class QTimeEdit;
class QTimer;
class QToolButton;
class QTreeView;
class TtasksListDelegate;
class TtasksListModel;
class TtasksSplitter;
class TtasksTag;
class TtasksTagFilter;
class TtasksTaskTree;

class TfrmTaskList : public QWidget
{
    Q_OBJECT
public:
    // Builds the window and runs FormCreate. The settings object and the task
    // store are reached through their accessors, so a test sets APPDATA (or
    // db_file) before creating the window.
    explicit TfrmTaskList(QWidget* aParent = nullptr);
    // Runs FormDestroy, which writes the window's geometry.
    ~TfrmTaskList() override;

    // ---- shell
    // Sets the enabled and visible state of the buttons and menu items and the
    // editor's status line from the current state, then repaints the list.
    void UpdateControls();
    // Switches the look of every window; an unknown name is reported in an
    // error box and the look stays.
    void ApplyTheme(const QString& aName);
    // Shows the window and brings it to the front (FormShow runs when it was hidden).
    void ShowList();

    // ---- task list
    // Reloads the tags into the tag controller and rebuilds the tabs; ends by
    // reloading the list for the selected tab.
    void LoadTagTabs();
    // Rebuilds the list from the database; aTag filters it, nullptr shows all.
    void LoadTasks(const TtasksTag* aTag);
    void ClearTasks();
    TTaskRecord* AddTaskRecord(const QString& aTaskId);
    // The record of a row of the list model (tab filter aside).
    TTaskRecord* RecordOfNode(int aRow) const;
    // The record of the topmost selected row, nullptr when none is selected.
    TTaskRecord* SelectedTask() const;
    // The tag of the selected tab; nullptr for "ALL" or no tab.
    TtasksTag* CurrentTag() const;
    void MarkUnread(const QString& aTaskId);
    bool IsUnread(const QString& aTaskId) const;
    // Finishes an open task or re-opens a finished one. When the database
    // refuses, the error is shown and the row keeps its stored mark.
    void ToggleFinished(TTaskRecord* aRecord);
    QString TaskHintText(const TTaskRecord& aRecord) const;

    // ---- editor
    void SetEditing(bool aEditing);
    void ShowEditor(bool aVisible);
    void ClearEditor();
    // Shows the general panel of the date row with the default choice, or the
    // exact pickers; aReset puts the pickers at now (exact panel only).
    void SetDatePanel(bool aGeneral, bool aReset);
    // Opens a stored task: summary, note and due date-time fresh from the
    // database, the tag ticks from the record. Nothing for none.
    void EditTask(const TTaskRecord* aRecord);
    // Ticks exactly the tags of the record's tagsids.
    void LoadTaskTags(const TTaskRecord& aRecord);
    // Writes the open task and its tag links in one transaction and reloads
    // the list. When the database refuses, nothing of it is stored, the error
    // is shown and false is returned: the editor keeps its contents.
    bool SaveTask();
    // Deletes the task and its tag links and reloads the list. Nothing for none.
    void DeleteTask(const TTaskRecord* aRecord);
    // What the date row shows, and the due date-time it stands for (0: none).
    TEditorDateRow EditorDateRow() const;
    TDateTime EditorDueDate() const;

    // ---- reminders
    // One reminder pass over the loaded records, then UpdateControls.
    void CheckReminders();
    ItasksNotifier* Notifier() const { return FNotifier.get(); }

    // ---- state, read by the editor, the reminders and the tests
    bool Editing() const { return FEditing; }
    bool Creating() const { return FCreating; }
    const QString& EditTaskId() const { return FEditTaskId; }
    const QStringList& UnreadIds() const { return FUnreadIds; }
    const QStringList& SelectedIds() const { return FSelectedIds; }
    ItasksTagsControler* TagsControler() const { return FTagsControler.get(); }
    TtasksListModel* TaskRecords() const { return FTaskRecords; }
    // The rows the list view shows: the records through the tab's tag filter.
    TtasksTagFilter* TaskRows() const { return FTaskRows; }
    QSystemTrayIcon* TrayIcon() const { return tray; }

public Q_SLOTS:
    // ---- shell handlers
    void trayDblClick();
    void tray_popupPopup();
    void itTrayShowListClick();
    void itExitClick();
    void btnSettingsClick();
    void itTrayTasksPoolClick();
    void eventsShortCut();

    // ---- list handlers
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

    // ---- editor and due-date handlers, filled in with the editor
    void btnNewTaskClick();
    void btnEditClick();
    void btnSaveTaskClick();
    void btnCancelEditClick();
    void btnDeleteTaskClick();
    void cbxGeneralDatetimeClick();
    void rbGeneralExactClick();
    void itDuedateMoveClick();

    // ---- reminder handlers
    void notificationsTimer();
    void trayBalloonClick();

protected:
    void showEvent(QShowEvent* aEvent) override;
    void closeEvent(QCloseEvent* aEvent) override;
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override;
    void moveEvent(QMoveEvent* aEvent) override;

private:
    void FormCreate();
    void FormShow();
    // True when the window may close (the program then ends).
    bool FormCloseQuery();
    void FormDestroy();
    // Ends the event loop; the window is destroyed after it.
    void EndProgram();

    void BuildLayout();
    QWidget* BuildListPanel();
    QWidget* BuildEditorPanel();
    QWidget* BuildButtonBar();
    void BuildMenus();
    void BuildTray();
    void ResizeOuter(QSize aOuter);
    // Adds the id to the unread ones; false when it is there already.
    bool AddUnread(const QString& aTaskId);

    // ---- window state
    QStringList FUnreadIds;
    bool FEditing = false;
    QString FEditTaskId;
    bool FCreating = false;
    TtasksListModel* FTaskRecords = nullptr;
    TtasksTagFilter* FTaskRows = nullptr;
    QStringList FSelectedIds;
    std::shared_ptr<ItasksTagsControler> FTagsControler;
    // The list's last press was the second of a double click: its release is
    // no click that closes the editor the double click has just opened.
    bool FDoubleClickPress = false;
    // Sound and balloon of the reminders.
    std::shared_ptr<ItasksNotifier> FNotifier;
    // The tag each tab carries, by tab index; nullptr for "ALL".
    std::vector<TtasksTag*> FTabTags;
    // The outer size asked for by FormShow, kept until the window manager has
    // put its frame around the window.
    QSize FPendingOuter;
    QSize FPendingFrame;

public:
    // ---- controls, by their object names
    QWidget* pnlTaskList = nullptr;
    QWidget* pnlTaskListTitle = nullptr;
    QLabel* lblTaskListTitle = nullptr;
    QToolButton* btnMarkAsRead = nullptr;
    TtasksTaskTree* treeTaskList = nullptr;
    TtasksListDelegate* FListDelegate = nullptr;
    QTabBar* tabsGroups = nullptr;
    TtasksSplitter* splitterEditTask = nullptr;

    QWidget* pnlEditTask = nullptr;
    QLabel* lblEditStatus = nullptr;
    QLabel* lblTaskSummary = nullptr;
    QLineEdit* edTaskSummary = nullptr;
    QLabel* lblTaskNotes = nullptr;
    QPlainTextEdit* edTaskNote = nullptr;
    QLabel* lblTags = nullptr;
    QTreeView* vtTags = nullptr;
    QLabel* lblTaskDueDatetime = nullptr;
    QWidget* pnlDateTime = nullptr;
    QWidget* pnlExactDateTime = nullptr;
    QDateEdit* edTaskDueDate = nullptr;
    QTimeEdit* edTaskDueTime = nullptr;
    QCheckBox* cbxGeneralDatetime = nullptr;
    QWidget* pnlGeneralDateTime = nullptr;
    QButtonGroup* FGeneralGroup = nullptr;
    QRadioButton* rbGeneralUnplanned = nullptr;
    QRadioButton* rbGeneralHour = nullptr;
    QRadioButton* rbGeneral4Hours = nullptr;
    QRadioButton* rbGeneralTomorrow = nullptr;
    QRadioButton* rbGeneralExact = nullptr;

    QWidget* pnlButtons = nullptr;
    QToolButton* btnNewTask = nullptr;
    QToolButton* btnEdit = nullptr;
    QToolButton* btnSaveTask = nullptr;
    QToolButton* btnCancelEdit = nullptr;
    QToolButton* btnDeleteTask = nullptr;
    QToolButton* btnSettings = nullptr;
    QToolButton* btnTasksPool = nullptr;

    QSystemTrayIcon* tray = nullptr;
    QMenu* tray_popup = nullptr;
    QAction* itTrayNewTask = nullptr;
    QAction* itTrayTasksPool = nullptr;
    QAction* itTrayShowList = nullptr;
    QAction* itTraySettings = nullptr;
    QAction* itExit = nullptr;

    QMenu* tasklist_popup = nullptr;
    QAction* itTreeNewTask = nullptr;
    QAction* itTreeEditTask = nullptr;
    QAction* itTreeDeleteTask = nullptr;
    QAction* itDatemoveImmediately = nullptr;
    QAction* itDatemoveToday = nullptr;
    QAction* itDatemoveTomorrow = nullptr;
    QAction* itDatemoveUnplanned = nullptr;

    QShortcut* FNewTaskShortcut = nullptr;
    // The reminder pass, once a minute from creation to destruction.
    QTimer* notifications = nullptr;
};

// The update and command service's start; a single instance, so a second call
// does nothing.
void StartUpdateService();
