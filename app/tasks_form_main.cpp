#include "app/tasks_form_main.h"

#include "app/tasks_application.h"
#include "app/tasks_ics_actions.h"
#include "app/tasks_notifier.h"
#include "app/tasks_panel_editor.h"
#include "app/tasks_panel_list.h"
#include "app/tasks_reminders.h"
#include "app/tasks_splitter.h"
#include "app/tasks_tray.h"
#include "pool/tasks_form_pool.h"
#include "resources/tasks_resources.h"
#include "resources/tasks_themes.h"
#include "settings/tasks_settings.h"
#include "settings_ui/tasks_form_settings.h"
#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "sync_ui/tasks_sync_controler.h"
#include "tags/tasks_tags.h"
#include "update/kvd_services.h"
#include "util/kvd_desktop.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_errors.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>
#include <algorithm>
#include <functional>

namespace {

const QString kAppTitle = QStringLiteral("Ulmora");

// The reminder pass runs once a minute.
constexpr int kNotificationsInterval = 60000;

const QString kKeyLeft = QStringLiteral("window_left");
const QString kKeyTop = QStringLiteral("window_top");
const QString kKeyWidth = QStringLiteral("window_width");
const QString kKeyHeight = QStringLiteral("window_height");
const QString kKeyEditHeight = QStringLiteral("edittask_height");

constexpr int kClientWidth = 525;
constexpr int kClientHeight = 551;
// The list keeps at least this much height when the editor is dragged taller.
constexpr int kMinListHeight = 100;
// A stored window coordinate beyond this lies off every screen.
constexpr int kFarOff = 1 << 24;

// Says once at start-up that a file cannot take changes: aWhat, then the
// reason. The program goes on; nothing is said when aProblem is empty.
void WarnAtStart(QWidget* aParent, const QString& aWhat, const QString& aProblem)
{
    if (!aProblem.isEmpty())
        TkvdMessageBox::Show(aParent, TMsgKind::Warning, kAppTitle, FailureText(aWhat, aProblem));
}

// The tasks can still be read from a database that takes no change.
void WarnOfAccessProblem(QWidget* aParent)
{
    TtasksDB* db = GetTasksDB();
    WarnAtStart(aParent,
                QStringLiteral("The tasks can be read from the database file \"%1\", but no "
                               "change can be saved to it.")
                    .arg(NativePath(db->Connection().Database)),
                db->AccessProblem());
}

// The program goes on with the settings in memory, and the file keeps its bytes.
void WarnOfSettingsProblem(QWidget* aParent)
{
    TtasksSettings* settings = GetTasksSettings();
    WarnAtStart(aParent,
                QStringLiteral("The settings cannot be saved to the file \"%1\"; changes last "
                               "only until the program ends.")
                    .arg(NativePath(ExpandEnvVars(settings->FileName()))),
                settings->WriteProblem());
}

// Shows a frame rectangle enough of itself on some screen to be grabbed.
bool IsOnSomeScreen(const QRect& aFrame)
{
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect visible = aFrame.intersected(screen->geometry());
        if (visible.width() >= 40 && visible.height() >= 20)
            return true;
    }
    return false;
}

QToolButton* MakeBarButton(QWidget* aParent, const char* aName, const QString& aCaption,
                           const char* aIcon)
{
    auto* button = new QToolButton(aParent);
    button->setObjectName(QLatin1String(aName));
    button->setText(aCaption);
    button->setIcon(TasksIcon(QLatin1String(aIcon)));
    button->setIconSize(QSize(24, 24));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setFixedSize(70, 58);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

// Calls its handler, queued, after a move, resize or expose of the platform
// window it watches. On X11 the window manager's frame first shows in these
// events of the native window, while the widget's own geometry, and so its
// own move and resize events, may stay as they were.
class TFrameWatch : public QObject
{
public:
    TFrameWatch(QObject* aParent, std::function<void()> aHandler)
        : QObject(aParent), FHandler(std::move(aHandler))
    {
    }

    bool eventFilter(QObject* aWatched, QEvent* aEvent) override
    {
        switch (aEvent->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Expose:
            // After the platform window's own handling, which brings the
            // widget's geometry up to date.
            QMetaObject::invokeMethod(
                this, [this] { RunGuarded(FHandler); }, Qt::QueuedConnection);
            break;
        default:
            break;
        }
        return QObject::eventFilter(aWatched, aEvent);
    }

private:
    std::function<void()> FHandler;
};

} // namespace

// Starts the update and command service on the updater's pipe, answering
// with the program's version.
void StartUpdateService()
{
    StartServices(QStringLiteral("kvd_bexo"), GetAppVersion());
}

// ---------------------------------------------------------------- creation

TfrmTaskList::TfrmTaskList(QWidget* aParent) : QWidget(aParent)
{
    setObjectName(QStringLiteral("frmTaskList"));
    // A sizeable frame with close and minimise buttons, no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(13);
    setFont(font);
    setWindowIcon(TasksAppIcon());

    BuildLayout();
    FTray = new TtasksTray(this);
    btnExit->setVisible(!FTray->Present());
    // Ctrl+Shift+Q anywhere in the program; other combinations of Q do not match.
    FNewTaskShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q), this);
    FNewTaskShortcut->setObjectName(QStringLiteral("events"));
    FNewTaskShortcut->setContext(Qt::ApplicationShortcut);
    resize(kClientWidth, kClientHeight);
    FFrameWatch = new TFrameWatch(this, [this] {
        CorrectPendingSize();
        MinimiseOnceExposed();
    });
    // The frame's size may come after the last move or resize of the window
    // (a busy window manager): the placement is looked at a few times more.
    FPlacementTimer = new QTimer(this);
    FPlacementTimer->setObjectName(QStringLiteral("placementTimer"));
    FPlacementTimer->setInterval(kPlacementIntervalMs);

    notifications = new QTimer(this);
    notifications->setObjectName(QStringLiteral("notifications"));
    notifications->setInterval(kNotificationsInterval);
    FSync = new TtasksSyncControler(this);
    Wire();
    notifications->start();
    FormCreate();
}

TfrmTaskList::~TfrmTaskList()
{
    FormDestroy();
}

void TfrmTaskList::BuildLayout()
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    FList = new TtasksListPanel(this);
    FEditor = new TtasksEditorPanel(FList, this);
    TtasksSplitter* splitter = FEditor->Splitter();
    QWidget* buttons = BuildButtonBar();
    // The list keeps the height it cannot do without, so an editor dragged or
    // restored to its largest never makes the window taller than it is.
    splitter->MaxTargetHeight = [this, splitter] {
        const int list = std::max(kMinListHeight, FList->minimumSizeHint().height());
        return height() - pnlButtons->height() - splitter->height() - list;
    };

    layout->addWidget(FList, 1);
    layout->addWidget(splitter);
    layout->addWidget(FEditor);
    layout->addWidget(buttons);
}

QWidget* TfrmTaskList::BuildButtonBar()
{
    pnlButtons = new QWidget(this);
    pnlButtons->setObjectName(QStringLiteral("pnlButtons"));
    pnlButtons->setFixedHeight(60);
    auto* layout = new QHBoxLayout(pnlButtons);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(1);
    btnNewTask = MakeBarButton(pnlButtons, "btnNewTask", QStringLiteral("New"), "new_24");
    btnEdit = MakeBarButton(pnlButtons, "btnEdit", QStringLiteral("Edit"), "edit_24");
    btnSaveTask = MakeBarButton(pnlButtons, "btnSaveTask", QStringLiteral("Save"), "save_24");
    btnCancelEdit =
        MakeBarButton(pnlButtons, "btnCancelEdit", QStringLiteral("Cancel"), "cancel_24");
    btnDeleteTask =
        MakeBarButton(pnlButtons, "btnDeleteTask", QStringLiteral("Delete"), "delete_24");
    btnSettings =
        MakeBarButton(pnlButtons, "btnSettings", QStringLiteral("Settings"), "settings_24");
    btnTasksPool =
        MakeBarButton(pnlButtons, "btnTasksPool", QStringLiteral("Multi"), "checklist_24");
    // The hint exists, but tooltips are not shown in the main window.
    btnTasksPool->setProperty(
        "hint",
        QStringLiteral("Quickly create large number of tasks. Also good for importing tasks."));
    for (QToolButton* button : {btnNewTask, btnEdit, btnSaveTask, btnCancelEdit, btnDeleteTask,
                                btnSettings, btnTasksPool})
        layout->addWidget(button);
    layout->addStretch(1);
    // Without a tray its menu cannot be opened, and "Exit" is the one item of
    // it that no other button of the bar stands for. Shown by the tray's state.
    btnExit = MakeBarButton(pnlButtons, "btnExit", QStringLiteral("Exit"), "exit_24");
    btnExit->hide();
    layout->addWidget(btnExit);
    return pnlButtons;
}

void TfrmTaskList::Wire()
{
    // The button bar.
    ConnectGuarded(btnNewTask, &QToolButton::clicked, FEditor, &TtasksEditorPanel::btnNewTaskClick);
    ConnectGuarded(btnEdit, &QToolButton::clicked, FEditor, &TtasksEditorPanel::btnEditClick);
    ConnectGuarded(btnSaveTask, &QToolButton::clicked, FEditor,
                   &TtasksEditorPanel::btnSaveTaskClick);
    ConnectGuarded(btnCancelEdit, &QToolButton::clicked, FEditor,
                   &TtasksEditorPanel::btnCancelEditClick);
    ConnectGuarded(btnDeleteTask, &QToolButton::clicked, FEditor,
                   &TtasksEditorPanel::btnDeleteTaskClick);
    ConnectGuarded(btnSettings, &QToolButton::clicked, this, &TfrmTaskList::btnSettingsClick);
    ConnectGuarded(btnTasksPool, &QToolButton::clicked, this, &TfrmTaskList::itTrayTasksPoolClick);
    ConnectGuarded(btnExit, &QToolButton::clicked, this, &TfrmTaskList::EndProgram);

    // The list: a click closes the editor, a double click edits, its menu
    // runs the editor's commands.
    ConnectGuarded(FList, &TtasksListPanel::ControlsChanged, this, &TfrmTaskList::UpdateControls);
    ConnectGuarded(FList, &TtasksListPanel::Clicked, this, [this] {
        FEditor->SetEditing(false);
        UpdateControls();
    });
    ConnectGuarded(FList, &TtasksListPanel::DoubleClicked, FEditor,
                   &TtasksEditorPanel::btnEditClick);
    ConnectGuarded(FList, &TtasksListPanel::NewTaskAsked, FEditor,
                   &TtasksEditorPanel::btnNewTaskClick);
    ConnectGuarded(FList, &TtasksListPanel::EditTaskAsked, FEditor,
                   &TtasksEditorPanel::btnEditClick);
    ConnectGuarded(FList, &TtasksListPanel::DeleteTaskAsked, FEditor,
                   &TtasksEditorPanel::btnDeleteTaskClick);

    // The editor.
    ConnectGuarded(FEditor, &TtasksEditorPanel::ControlsChanged, this,
                   &TfrmTaskList::UpdateControls);
    ConnectGuarded(FEditor, &TtasksEditorPanel::ShowListAsked, this, &TfrmTaskList::ShowList);

    // The tray.
    ConnectGuarded(FTray, &TtasksTray::ShowListAsked, this, &TfrmTaskList::ShowList);
    ConnectGuarded(FTray, &TtasksTray::MenuAboutToShow, this, &TfrmTaskList::UpdateControls);
    ConnectGuarded(FTray, &TtasksTray::NewTaskAsked, FEditor, &TtasksEditorPanel::btnNewTaskClick);
    ConnectGuarded(FTray, &TtasksTray::TasksPoolAsked, this, &TfrmTaskList::itTrayTasksPoolClick);
    ConnectGuarded(FTray, &TtasksTray::SettingsAsked, this, &TfrmTaskList::btnSettingsClick);
    ConnectGuarded(FTray, &TtasksTray::ExitAsked, this, &TfrmTaskList::EndProgram);
    ConnectGuarded(FTray, &TtasksTray::AvailabilityChanged, this,
                   &TfrmTaskList::TrayAvailabilityChanged);

    // iCalendar files: the tray's import and export, the list's export of
    // the selection; an import that added tasks reloads tags and list.
    auto* ics = new TtasksIcsActions(this);
    ics->setObjectName(QStringLiteral("icsActions"));
    ConnectGuarded(FTray, &TtasksTray::ImportAsked, ics, [this, ics] { ics->ImportAsked(this); });
    ConnectGuarded(FTray, &TtasksTray::ExportAsked, ics,
                   [this, ics] { ics->ExportAsked(this, QStringList()); });
    ConnectGuarded(FList, &TtasksListPanel::ExportSelectedAsked, ics,
                   [this, ics] { ics->ExportAsked(this, FList->SelectedIds()); });
    ConnectGuarded(FList, &TtasksListPanel::ImportAsked, ics,
                   [this, ics] { ics->ImportAsked(this); });
    ConnectGuarded(ics, &TtasksIcsActions::TasksImported, this, &TfrmTaskList::LoadTagTabs);

    // The sync: a stored change asks for one a few seconds later, the tray
    // asks for one now, and what a sync changed is shown.
    ConnectGuarded(FList, &TtasksListPanel::TasksChanged, FSync, [this] {
        if (!FApplyingSync)
            FSync->LocalChanged();
    });
    ConnectGuarded(FTray, &TtasksTray::SyncNowAsked, FSync, &TtasksSyncControler::SyncNow);
    ConnectGuarded(FSync, &TtasksSyncControler::TasksSynced, this, &TfrmTaskList::SyncChangedTasks);
    ConnectGuarded(FSync, &TtasksSyncControler::ResultChanged, this,
                   &TfrmTaskList::SyncResultChanged);

    ConnectGuarded(FPlacementTimer, &QTimer::timeout, this, [this] {
        CorrectPendingSize();
        const QWindow* handle = windowHandle();
        const bool framed = !FrameSize().isNull() && handle && handle->isExposed();
        if (framed)
            ++FPlacementChecks;
        if (!FPendingOuter.isValid() || FPlacementChecks >= kPlacementChecks ||
            ++FPlacementTicks >= kPlacementTicks) {
            FPlacementTimer->stop();
            // A minimised window is placed when it is restored (changeEvent).
            if (!isMinimized())
                FPendingOuter = QSize();
        }
    });
    ConnectGuarded(FNewTaskShortcut, &QShortcut::activated, this, &TfrmTaskList::eventsShortCut);
    ConnectGuarded(notifications, &QTimer::timeout, this, &TfrmTaskList::notificationsTimer);

    // The actions of a reminder's notification; the notifier runs them guarded.
    if (ItasksNotifier* notifier = FTray->Notifier()) {
        FList->SetNotifier(notifier);
        TtasksNotifierHandlers handlers;
        handlers.TaskDone = [this, notifier](const QString& aTaskId) {
            ActOnReminder(aTaskId, FinishRemindedTask(aTaskId, *notifier),
                          QStringLiteral("The task could not be finished."));
        };
        handlers.TaskSnoozed = [this, notifier](const QString& aTaskId) {
            ActOnReminder(aTaskId, SnoozeRemindedTask(aTaskId, *notifier),
                          QStringLiteral("The due date could not be changed."));
        };
        handlers.TaskOpened = [this](const QString& aTaskId) {
            ShowList();
            FList->SelectTask(aTaskId);
        };
        handlers.MissedOpened = [this] { ShowList(); };
        notifier->SetHandlers(std::move(handlers));
    }
}

void TfrmTaskList::ActOnReminder(const QString& aTaskId, const TStoreResult& aStored,
                                 const QString& aWhat)
{
    if (!aStored)
        TkvdMessageBox::Error(this, aStored.Message(aWhat));
    // The row shows what the database holds, changed or not.
    FList->UpdateTasks({aTaskId});
    UpdateControls();
}

void TfrmTaskList::FormCreate()
{
    try {
        // The update and command service. The tasks do not depend on it: its
        // failure (logged by the service) is shown, and the start goes on.
        try {
            StartUpdateService();
        } catch (const std::exception& error) {
            TkvdMessageBox::Error(this, ErrorMessage(error));
        }
        setWindowTitle(kAppTitle);
        // The settings come first, so the database named by them is the one opened.
        GetTasksSettings();
        SetTasksDBFile(db_file);
        WarnOfSettingsProblem(this);
        ApplyTheme(theme);
        // The record map and the id lists start empty with the list panel;
        // the tag list of the editor serves the list's tabs too.
        FEditor->CreateTagsControler();
        FList->SetTagsControler(FEditor->TagsControler());
        FEditor->ClearEditor();
        FEditor->ShowEditor(false);
        // The first database access; selecting the first tab loads the list.
        // A database that can be read but not written is said once here,
        // rather than at the first change that fails.
        GetTasksDB()->Connect();
        WarnOfAccessProblem(this);
        LoadTagTabs();
        UpdateControls();
        // The sync's schedule, once the tasks are there to be synced.
        FSync->Start();
        UpdateControls();
    } catch (const std::exception& error) {
        // The window still opens; the remaining steps are skipped. Its
        // buttons still follow its state: no editor open, nothing selected.
        // The store still opens the file the settings name, their default
        // when they were not reached.
        SetTasksDBFile(db_file);
        FEditor->CreateTagsControler();
        FList->SetTagsControler(FEditor->TagsControler());
        FEditor->ShowEditor(false);
        UpdateControls();
        TkvdMessageBox::Error(this, ErrorMessage(error));
    }
}

// ---------------------------------------------------------------- showing, closing

void TfrmTaskList::showEvent(QShowEvent* aEvent)
{
    // A spontaneous show is the window manager restoring a minimised window,
    // not the window going from hidden to shown.
    if (!aEvent->spontaneous())
        FormShow();
    // The platform window may have been made anew since the last showing;
    // installing the watch again replaces the earlier installation.
    if (QWindow* handle = windowHandle())
        handle->installEventFilter(FFrameWatch);
    FPlacementChecks = 0;
    FPlacementTicks = 0;
    FPlacementTimer->start();
    QWidget::showEvent(aEvent);
}

QSize TfrmTaskList::FrameSize() const
{
    // The platform window's margins, as the window manager reported them
    // (none before it framed the window). The widget's frame geometry may
    // still hold an old size while the new one is on its way, which would
    // give a frame of any size, even a negative one.
    const QWindow* handle = windowHandle();
    const QMargins margins = handle ? handle->frameMargins() : QMargins();
    return QSize(std::max(0, margins.left() + margins.right()),
                 std::max(0, margins.top() + margins.bottom()));
}

void TfrmTaskList::ResizeOuter(QSize aOuter)
{
    const QSize frame = FrameSize();
    FPendingOuter = aOuter;
    // On X11, before the window is on the screen, the toolkit may put its
    // client area, not its frame, where it was asked to, even when the window
    // manager has told the frame's size already: there the window is placed
    // again once it is shown with its frame.
    const QWindow* handle = windowHandle();
    FPlacedUnexposed =
        QGuiApplication::platformName() == QLatin1String("xcb") && !(handle && handle->isExposed());
    FPendingFrame = frame;
    resize(aOuter - frame);
}

void TfrmTaskList::moveEvent(QMoveEvent* aEvent)
{
    QWidget::moveEvent(aEvent);
    CorrectPendingSize();
}

void TfrmTaskList::changeEvent(QEvent* aEvent)
{
    QWidget::changeEvent(aEvent);
    if (aEvent->type() == QEvent::WindowStateChange) {
        CorrectPendingSize();
        // Restored with its placement still pending: watched again for a while.
        if (FPlacementTimer && FPendingOuter.isValid() && !isMinimized() &&
            !FPlacementTimer->isActive()) {
            FPlacementChecks = 0;
            FPlacementTicks = 0;
            FPlacementTimer->start();
        }
    }
}

void TfrmTaskList::CorrectPendingSize()
{
    // On X11 the frame is known only once the window manager has put it
    // around the mapped window, after FormShow placed it. The stored geometry
    // and the first run's corner are those of the outer frame, so the window
    // is placed again once the frame is known. A minimised window waits until
    // it is restored: on X11 a change of geometry would restore it.
    if (FDestroyed || !FPendingOuter.isValid() || isMinimized())
        return;
    const QSize frame = FrameSize();
    // Without a frame (yet, or ever: no window manager) there is nothing to
    // put right.
    if (frame.isNull())
        return;
    const QWindow* handle = windowHandle();
    const bool exposed = handle && handle->isExposed();
    // A busy window manager may also pass over a move or resize asked for
    // while an earlier one was on its way: the frame must be where it was
    // asked to be, with the client area of the size asked.
    const bool placed =
        size() == FPendingOuter - frame && frameGeometry().topLeft() == FPendingPosition;
    if (frame != FPendingFrame || (FPlacedUnexposed && exposed) || (exposed && !placed)) {
        // Placed again with this frame, once per frame the window manager
        // reports (a busy one may report a passing one first), once more
        // when the window is on the screen, and while it is not where and as
        // large as asked, until the placement timer ends; it stays pending
        // until a look finds it made with the frame the window has. The
        // moves of the new placement come back here while nothing is pending.
        FPendingOuter = QSize();
        FormShow();
    }
    // Otherwise placed with the frame it has; it stays watched until the
    // placement timer ends, as the frame may still change. A change after
    // that (openbox takes the border off a maximised window) is the window
    // manager's.
}

void TfrmTaskList::FormShow()
{
    TtasksSettings* settings = GetTasksSettings();
    // First bottom right of the screen, above the panel.
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect area = primary ? primary->geometry() : QRect(0, 0, 1024, 768);
    const auto cornerFor = [&](QSize aOuter) {
        return QPoint(area.x() + area.width() - aOuter.width(),
                      area.y() + area.height() - aOuter.height() - TaskbarHeight());
    };
    // The window as it is now, with its frame where it has one yet.
    QSize outer = size() + FrameSize();
    const QPoint corner = cornerFor(outer);
    move(corner);

    // Then where the last run left the window. The file may hold any integer.
    // A coordinate beyond every screen is cut short: it is off-screen either
    // way, and the rectangles below must not overflow.
    const int left = std::clamp(settings->ReadInteger(kKeyLeft, corner.x()), -kFarOff, kFarOff);
    const int top = std::clamp(settings->ReadInteger(kKeyTop, corner.y()), -kFarOff, kFarOff);
    const int width = settings->ReadInteger(kKeyWidth, outer.width());
    const int height = settings->ReadInteger(kKeyHeight, outer.height());
    // The size stays within the free area of the screen the window goes to
    // and no smaller than the window can be: a huge value would build a window
    // of gigabytes, a negative or zero one a window the corner rule below
    // would push off the screen. The minimum wins on a screen too small for it.
    QPoint position(left, top);
    const QScreen* screen = QGuiApplication::screenAt(position);
    if (!screen)
        screen = primary;
    const QSize minimum = minimumSizeHint().expandedTo(minimumSize()) + FrameSize();
    outer = QSize(width, height);
    if (screen)
        outer = outer.boundedTo(screen->availableGeometry().size());
    outer = outer.expandedTo(minimum);
    // A position on a screen that is no longer there falls back to the corner.
    if (!IsOnSomeScreen(QRect(position, outer)))
        position = cornerFor(outer);
    FPendingPosition = position;
    move(position);
    ResizeOuter(outer);
    // The editor's height is bounded by the window's, so it is sound once the
    // window is.
    FEditor->Splitter()->SetTargetHeight(settings->ReadInteger(kKeyEditHeight, FEditor->height()));
}

bool TfrmTaskList::FormCloseQuery()
{
    if (!close_minimizes)
        return true;
    FEditor->SetEditing(false);
    // A hidden window comes back only through the tray icon; without a tray
    // it would be lost until the next start, so it goes to the task bar.
    FTray->CheckAvailable();
    if (FTray->Present())
        hide();
    else
        ShowMinimised();
    return false;
}

void TfrmTaskList::closeEvent(QCloseEvent* aEvent)
{
    if (FormCloseQuery()) {
        aEvent->accept();
        EndProgram();
    } else {
        aEvent->ignore();
    }
}

void TfrmTaskList::EndProgram()
{
    TtasksApplication::EndProgram();
}

void TfrmTaskList::FormDestroy()
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    TtasksSettings* settings = GetTasksSettings();
    const QRect frame = frameGeometry();
    settings->WriteInteger(kKeyLeft, frame.left());
    settings->WriteInteger(kKeyTop, frame.top());
    settings->WriteInteger(kKeyWidth, frame.width());
    settings->WriteInteger(kKeyHeight, frame.height());
    settings->WriteInteger(kKeyEditHeight, FEditor->height());
    notifications->stop();
    // The sync's thread writes to the database: it ends before the store
    // is released.
    FSync->Stop();
    // The next start looks back over the due times from this moment on.
    FList->CloseReminders();

    // The tabs hold tags of the controller: the list lets go of them first.
    FList->Release();
    FEditor->ReleaseTagsControler();
}

void TfrmTaskList::ShowList()
{
    // Asked for by the user or a later start: a minimising still waiting
    // for the window's first expose is given up.
    FMinimiseWhenExposed = false;
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void TfrmTaskList::ShowMinimised()
{
    // On X11 a change of geometry clears the minimised state, so a hidden
    // window placed by FormShow while being shown minimised would come up
    // normal: it is shown and placed first, and minimised then.
    if (!isVisible())
        show();
    // The toolkit asks the window manager to minimise only a window the X
    // server has mapped; a request made before (a busy machine, a window
    // manager slow to frame the new window) is lost and the window stays
    // normal. Then it waits for the window's first expose.
    const QWindow* handle = windowHandle();
    if (QGuiApplication::platformName() == QLatin1String("xcb") && handle && !handle->isExposed()) {
        FMinimiseWhenExposed = true;
        return;
    }
    FMinimiseWhenExposed = false;
    showMinimized();
}

void TfrmTaskList::MinimiseOnceExposed()
{
    const QWindow* handle = windowHandle();
    if (!FMinimiseWhenExposed || FDestroyed || !handle || !handle->isExposed())
        return;
    FMinimiseWhenExposed = false;
    showMinimized();
}

void TfrmTaskList::ApplyTheme(const QString& aName)
{
    ::ApplyTheme(aName);
}

// ---------------------------------------------------------------- shell handlers

void TfrmTaskList::btnSettingsClick()
{
    GetTasksSettings();
    if (ShowSettingsDialog(this))
        ApplyTheme(theme);
    // Tags may have changed even when the dialog was cancelled.
    LoadTagTabs();
}

void TfrmTaskList::itTrayTasksPoolClick()
{
    // Many new tasks: the whole list is read again.
    if (ShowTasksPoolDialog(this))
        FList->LoadTasks(FList->CurrentTag());
}

void TfrmTaskList::eventsShortCut()
{
    // Runs the "New" action even while the "New" button is disabled.
    FEditor->btnNewTaskClick();
}

void TfrmTaskList::LoadTagTabs()
{
    FList->LoadTagTabs();
}

void TfrmTaskList::CheckReminders()
{
    if (ItasksNotifier* notifier = FTray->Notifier())
        FList->CheckReminders(*notifier);
    UpdateControls();
}

void TfrmTaskList::notificationsTimer()
{
    CheckReminders();
}

void TfrmTaskList::TrayAvailabilityChanged(bool aAvailable)
{
    if (FDestroyed)
        return;
    btnExit->setVisible(!aAvailable);
    // A window hidden to the tray that went could not be reached again.
    if (!aAvailable && !isVisible())
        ShowMinimised();
}

void TfrmTaskList::SyncChangedTasks(const QStringList& aIds)
{
    if (FDestroyed)
        return;
    const QScopedValueRollback<bool> applying(FApplyingSync, true);
    const bool tagsChanged = TagsDifferFromStore();
    if (tagsChanged && !FEditor->Editing()) {
        LoadTagTabs();
    } else {
        // Reloading the tags would clear the open editor's ticks: they come
        // once it closes (UpdateControls).
        FSyncTagsStale = FSyncTagsStale || tagsChanged;
        FList->UpdateTasks(aIds);
    }
    UpdateControls();
}

bool TfrmTaskList::TagsDifferFromStore() const
{
    const ItasksTagsControler* tags = FEditor->TagsControler();
    std::vector<TStoredTag> stored;
    if (!tags || !TtasksStore::ListTags(stored))
        return false;
    if (static_cast<int>(stored.size()) != tags->Count())
        return true;
    return std::any_of(stored.cbegin(), stored.cend(), [tags](const TStoredTag& aStored) {
        const TtasksTag* shown = tags->GetTag(aStored.tagid);
        return !shown || shown->title != aStored.title || shown->color != aStored.color;
    });
}

void TfrmTaskList::SyncResultChanged(const QString& aText)
{
    if (!FDestroyed)
        FTray->SetSyncResult(aText);
}

void TfrmTaskList::UpdateControls()
{
    const bool editing = FEditor->Editing();
    if (FSyncTagsStale && !editing && !FDestroyed) {
        FSyncTagsStale = false;
        const QScopedValueRollback<bool> applying(FApplyingSync, true);
        // Ends with ControlsChanged, which comes back here.
        LoadTagTabs();
        return;
    }
    const bool selected = FList->SelectedTask() != nullptr;
    btnSaveTask->setEnabled(editing);
    btnEdit->setEnabled(!editing && selected);
    btnDeleteTask->setEnabled(!editing && selected);
    btnCancelEdit->setEnabled(editing);
    btnNewTask->setEnabled(!editing);
    // itTreeNewTask, itTreeEditTask, itTreeDeleteTask, then the four due-date
    // items, which work also while editing.
    FList->SetCommandsEnabled(!editing, !editing && selected, !editing && selected, selected);
    FTray->SetNewTaskEnabled(!editing);
    FTray->SetSyncNowEnabled(FSync->Configured());
    FList->SetMarkAsReadVisible(!FList->UnreadIds().isEmpty());
    FEditor->ShowStatus();
    FList->RepaintRows();
}
