#pragma once

// The main window: its life from creation to destruction, its geometry, the
// button bar, the application-wide shortcut, the reminder timer, and
// UpdateControls, the one rule for which commands are enabled. The list, the
// editor and the tray are panels of their own (tasks_panel_list.h,
// tasks_panel_editor.h, tasks_tray.h); the window wires them together.

#include <QSize>
#include <QWidget>

class QShortcut;
class QTimer;
class QToolButton;
class TtasksEditorPanel;
class TtasksListPanel;
class TtasksSyncControler;
class TtasksTray;
struct TStoreResult;

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
    // Writes the window's geometry, ends the reminders and lets go of the
    // tags; once, whether called early (the end of the session) or by the
    // destructor. The window is not used after it.
    void FormDestroy();

    // Sets the enabled and visible state of the buttons and menu items and the
    // editor's status line from the current state, then repaints the list.
    void UpdateControls();
    // Switches the look of every window; an unknown name is reported in an
    // error box and the look stays.
    void ApplyTheme(const QString& aName);
    // Shows the window and brings it to the front (FormShow runs when it was hidden).
    void ShowList();
    // Minimises the window to the task bar, showing it first when it was
    // hidden (FormShow runs then); where there is no tray to keep it in.
    void ShowMinimised();
    // Reloads the tags into the editor's check list and the tabs; ends by
    // reloading the list for the selected tab.
    void LoadTagTabs();
    // One reminder pass over the loaded tasks, then UpdateControls.
    void CheckReminders();

    TtasksListPanel* ListPanel() const { return FList; }
    TtasksEditorPanel* EditorPanel() const { return FEditor; }
    TtasksTray* Tray() const { return FTray; }
    TtasksSyncControler* SyncControler() const { return FSync; }

public Q_SLOTS:
    void btnSettingsClick();
    void itTrayTasksPoolClick();
    void eventsShortCut();
    void notificationsTimer();
    // A tray came or went: "Exit" shows on the button bar while there is
    // none, and a hidden window comes back minimised.
    void TrayAvailabilityChanged(bool aAvailable);

protected:
    void showEvent(QShowEvent* aEvent) override;
    void closeEvent(QCloseEvent* aEvent) override;
    void moveEvent(QMoveEvent* aEvent) override;
    void changeEvent(QEvent* aEvent) override;

private:
    void FormCreate();
    void FormShow();
    // True when the window may close (the program then ends). Otherwise the
    // window goes to the tray, or to the task bar where there is no tray.
    bool FormCloseQuery();
    // Ends the event loop; the window is destroyed after it.
    void EndProgram();

    void BuildLayout();
    QWidget* BuildButtonBar();
    void Wire();
    // After "Done" or "Snooze" on a reminder: reports a refusal and updates
    // the task's row.
    void ActOnReminder(const QString& aTaskId, const TStoreResult& aStored, const QString& aWhat);
    // A sync changed these tasks: their rows show the stored state, and tags
    // that came or went are loaded again (once the editor is closed, so its
    // ticks stay). None of this counts as a local change.
    void SyncChangedTasks(const QStringList& aIds);
    // Whether the stored tags differ from those the window shows.
    bool TagsDifferFromStore() const;
    void SyncResultChanged(const QString& aText);
    // The size the window manager's frame adds to the client area.
    QSize FrameSize() const;
    void ResizeOuter(QSize aOuter);
    // Places the window again (FormShow) once the window manager's frame is
    // known, when FormShow placed it before.
    void CorrectPendingSize();
    // Minimises the window that ShowMinimised showed once it is exposed.
    void MinimiseOnceExposed();

    TtasksListPanel* FList = nullptr;
    TtasksEditorPanel* FEditor = nullptr;
    TtasksTray* FTray = nullptr;
    TtasksSyncControler* FSync = nullptr;
    // The window is showing what a sync changed: no local change to report.
    bool FApplyingSync = false;
    // A sync changed the tags while the editor was open.
    bool FSyncTagsStale = false;
    bool FDestroyed = false;
    // The outer size asked for by FormShow, kept until a placement with the
    // frame the window manager put around the window is confirmed.
    QSize FPendingOuter;
    QPoint FPendingPosition;
    // The frame that the last placement counted with, and whether it was
    // made before the window was on the screen.
    QSize FPendingFrame;
    bool FPlacedUnexposed = false;
    // Runs CorrectPendingSize after the platform window's geometry events.
    QObject* FFrameWatch = nullptr;
    // ShowMinimised waits for the window's first expose to minimise it.
    bool FMinimiseWhenExposed = false;
    // Runs it every kPlacementIntervalMs after a show: kPlacementChecks
    // times once the window is framed on the screen (a frame reported then
    // may still change), at most kPlacementTicks times in all; then the
    // placement is done.
    QTimer* FPlacementTimer = nullptr;
    int FPlacementChecks = 0;
    int FPlacementTicks = 0;
    static constexpr int kPlacementIntervalMs = 100;
    static constexpr int kPlacementChecks = 30;
    static constexpr int kPlacementTicks = 600;

    QWidget* pnlButtons = nullptr;
    QToolButton* btnNewTask = nullptr;
    QToolButton* btnEdit = nullptr;
    QToolButton* btnSaveTask = nullptr;
    QToolButton* btnCancelEdit = nullptr;
    QToolButton* btnDeleteTask = nullptr;
    QToolButton* btnSettings = nullptr;
    QToolButton* btnTasksPool = nullptr;
    // The tray menu's "Exit", on the bar only while the desktop has no tray.
    QToolButton* btnExit = nullptr;
    QShortcut* FNewTaskShortcut = nullptr;
    // The reminder pass, once a minute from creation to destruction.
    QTimer* notifications = nullptr;
};

// The update service's start; a single instance, so a second call does nothing.
void StartUpdateService();
