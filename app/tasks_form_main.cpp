#include "app/tasks_form_main.h"

#include "app/tasks_application.h"
#include "app/tasks_duedates.h"
#include "app/tasks_list_view.h"
#include "app/tasks_notifier.h"
#include "app/tasks_reminders.h"
#include "app/tasks_splitter.h"
#include "pool/tasks_form_pool.h"
#include "resources/tasks_resources.h"
#include "resources/tasks_themes.h"
#include "settings/tasks_form_settings.h"
#include "settings/tasks_settings.h"
#include "store/tasks_db.h"
#include "store/tasks_store.h"
#include "tags/tasks_tags.h"
#include "update/kvd_services.h"
#include "util/kvd_desktop.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_errors.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateEdit>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScreen>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSystemTrayIcon>
#include <QTabBar>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <limits>

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
constexpr int kEditorHeight = 300;
// The list keeps at least this much height when the editor is dragged taller.
constexpr int kMinListHeight = 100;
// A stored window coordinate beyond this lies off every screen.
constexpr int kFarOff = 1 << 24;

// Tab captions show "&" as it is typed, not as a keyboard mnemonic.
QString TabCaption(const QString& aTitle)
{
    QString caption = aTitle;
    return caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

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

// Stops the list from repainting until it goes out of scope, also when a
// step in between fails.
class TRepaintBracket
{
public:
    explicit TRepaintBracket(QWidget* aWidget)
        : FWidget(aWidget), FWasEnabled(aWidget->updatesEnabled())
    {
        FWidget->setUpdatesEnabled(false);
    }
    ~TRepaintBracket() { FWidget->setUpdatesEnabled(FWasEnabled); }
    TRepaintBracket(const TRepaintBracket&) = delete;
    TRepaintBracket& operator=(const TRepaintBracket&) = delete;

private:
    QWidget* FWidget;
    bool FWasEnabled;
};

// Adds rows to the model without telling the views row by row.
class TBulkBracket
{
public:
    explicit TBulkBracket(TtasksListModel* aModel) : FModel(aModel) { FModel->BeginBulk(); }
    ~TBulkBracket() { FModel->EndBulk(); }
    TBulkBracket(const TBulkBracket&) = delete;
    TBulkBracket& operator=(const TBulkBracket&) = delete;

private:
    TtasksListModel* FModel;
};

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

QAction* MakeAction(QMenu* aMenu, const char* aName, const QString& aCaption, const char* aIcon)
{
    QAction* action = aMenu->addAction(TasksIcon(QLatin1String(aIcon)), aCaption);
    action->setObjectName(QLatin1String(aName));
    return action;
}

QLabel* MakeLabel(QWidget* aParent, const char* aName, const QString& aCaption, bool aBold = false)
{
    auto* label = new QLabel(aCaption, aParent);
    label->setObjectName(QLatin1String(aName));
    if (aBold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

} // namespace

// The update service is started here once it exists; until then there is
// nothing to start.
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
    BuildMenus();
    BuildTray();
    resize(kClientWidth, kClientHeight);

    notifications = new QTimer(this);
    notifications->setObjectName(QStringLiteral("notifications"));
    notifications->setInterval(kNotificationsInterval);
    ConnectGuarded(notifications, &QTimer::timeout, this, &TfrmTaskList::notificationsTimer);
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

    QWidget* list = BuildListPanel();
    QWidget* editor = BuildEditorPanel();
    splitterEditTask = new TtasksSplitter(editor, this);
    splitterEditTask->setObjectName(QStringLiteral("splitterEditTask"));
    // The list keeps the height it cannot do without, so an editor dragged or
    // restored to its largest never makes the window taller than it is.
    splitterEditTask->MaxTargetHeight = [this] {
        const int list = std::max(kMinListHeight, pnlTaskList->minimumSizeHint().height());
        return height() - pnlButtons->height() - splitterEditTask->height() - list;
    };
    QWidget* buttons = BuildButtonBar();

    layout->addWidget(list, 1);
    layout->addWidget(splitterEditTask);
    layout->addWidget(editor);
    layout->addWidget(buttons);
}

QWidget* TfrmTaskList::BuildListPanel()
{
    pnlTaskList = new QWidget(this);
    pnlTaskList->setObjectName(QStringLiteral("pnlTaskList"));
    auto* layout = new QVBoxLayout(pnlTaskList);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    pnlTaskListTitle = new QWidget(pnlTaskList);
    pnlTaskListTitle->setObjectName(QStringLiteral("pnlTaskListTitle"));
    pnlTaskListTitle->setFixedHeight(24);
    auto* title = new QHBoxLayout(pnlTaskListTitle);
    title->setContentsMargins(6, 0, 2, 0);
    lblTaskListTitle =
        MakeLabel(pnlTaskListTitle, "lblTaskListTitle", QStringLiteral("Task List"), true);
    btnMarkAsRead = new QToolButton(pnlTaskListTitle);
    btnMarkAsRead->setObjectName(QStringLiteral("btnMarkAsRead"));
    btnMarkAsRead->setText(QStringLiteral("Mark as Read"));
    btnMarkAsRead->setIcon(TasksIcon(QStringLiteral("apply_24")));
    btnMarkAsRead->setIconSize(QSize(16, 16));
    btnMarkAsRead->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    btnMarkAsRead->setFixedSize(140, 22);
    btnMarkAsRead->setVisible(false);
    title->addWidget(lblTaskListTitle);
    title->addStretch(1);
    title->addWidget(btnMarkAsRead);
    ConnectGuarded(btnMarkAsRead, &QToolButton::clicked, this, &TfrmTaskList::btnMarkAsReadClick);

    FTaskRecords = new TtasksListModel(this);
    FTaskRecords->DueText = [](const TTaskRecord& aRecord) { return DueDateText(aRecord); };
    treeTaskList = new TtasksTaskTree(pnlTaskList);
    treeTaskList->setObjectName(QStringLiteral("treeTaskList"));
    FTaskRecords->IsUnread = [this](const QString& aId) { return IsUnread(aId); };
    FTaskRows = new TtasksTagFilter(FTaskRecords, this);
    treeTaskList->setModel(FTaskRows);
    FListDelegate = new TtasksListDelegate(FTaskRecords, treeTaskList);
    FListDelegate->GetTag = [this](const QString& aId) -> const TtasksTag* {
        return FTagsControler ? FTagsControler->GetTag(aId) : nullptr;
    };
    treeTaskList->setItemDelegate(FListDelegate);
    treeTaskList->setRootIsDecorated(false);
    treeTaskList->setItemsExpandable(false);
    treeTaskList->setIndentation(0);
    treeTaskList->setUniformRowHeights(true);
    treeTaskList->setHeaderHidden(true);
    treeTaskList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    treeTaskList->setSelectionBehavior(QAbstractItemView::SelectRows);
    treeTaskList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeTaskList->setAllColumnsShowFocus(true);
    treeTaskList->setContextMenuPolicy(Qt::CustomContextMenu);
    treeTaskList->setIconSize(QSize(16, 16));
    QHeaderView* header = treeTaskList->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(20);
    header->resizeSection(kColCheck, 30);
    header->resizeSection(kColSummary, 355);
    // 130 pixels fit the due date-time in Tahoma; where that font is missing,
    // or the locale writes longer dates, the column widens to fit the text,
    // measured in bold as an announced row shows it.
    const QString widest = DueDateText(EncodeDateTime(2000, 12, 28, 23, 58, 58));
    QFont boldFont = treeTaskList->font();
    boldFont.setBold(true);
    header->resizeSection(kColDue,
                          std::max(130, QFontMetrics(boldFont).horizontalAdvance(widest) + 12));
    header->setSectionResizeMode(kColCheck, QHeaderView::Fixed);
    header->setSectionResizeMode(kColSummary, QHeaderView::Stretch);
    header->setSectionResizeMode(kColDue, QHeaderView::Fixed);
    treeTaskList->SetBackground(TasksListBackground());

    ConnectGuarded(FTaskRecords, &TtasksListModel::UserChecked, this,
                   &TfrmTaskList::treeTaskListChecked);
    ConnectGuarded(treeTaskList, &TtasksTaskTree::Clicked, this, &TfrmTaskList::treeTaskListClick);
    treeTaskList->viewport()->installEventFilter(this);
    ConnectGuarded(treeTaskList, &TtasksTaskTree::DoubleClicked, this,
                   &TfrmTaskList::treeTaskListDblClick);
    ConnectGuarded(treeTaskList, &TtasksTaskTree::Resized, this, &TfrmTaskList::treeTaskListResize);
    ConnectGuarded(treeTaskList->selectionModel(), &QItemSelectionModel::currentChanged, this,
                   &TfrmTaskList::treeTaskListFocusChanged);
    ConnectGuarded(treeTaskList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
                   [this](const QItemSelection& aSelected, const QItemSelection& aDeselected) {
                       // The view's rows pass the tab filter: the handlers take model rows.
                       for (const QModelIndex& index : aDeselected.indexes()) {
                           if (index.column() == kColCheck)
                               treeTaskListRemoveFromSelection(FTaskRows->mapToSource(index).row());
                       }
                       for (const QModelIndex& index : aSelected.indexes()) {
                           if (index.column() == kColCheck)
                               treeTaskListAddToSelection(FTaskRows->mapToSource(index).row());
                       }
                   });
    ConnectGuarded(treeTaskList, &QWidget::customContextMenuRequested, this,
                   [this](const QPoint& aPos) {
                       tasklist_popup->popup(treeTaskList->viewport()->mapToGlobal(aPos));
                   });

    tabsGroups = new TtasksTabBar(pnlTaskList);
    tabsGroups->setObjectName(QStringLiteral("tabsGroups"));
    tabsGroups->setShape(QTabBar::RoundedSouth);
    tabsGroups->setExpanding(false);
    tabsGroups->setUsesScrollButtons(true);
    tabsGroups->setElideMode(Qt::ElideRight);
    tabsGroups->setDocumentMode(true);
    tabsGroups->setDrawBase(false);
    ConnectGuarded(tabsGroups, &QTabBar::currentChanged, this, &TfrmTaskList::tabsGroupsClick);

    layout->addWidget(pnlTaskListTitle);
    layout->addWidget(treeTaskList, 1);
    layout->addWidget(tabsGroups);
    return pnlTaskList;
}

QWidget* TfrmTaskList::BuildEditorPanel()
{
    pnlEditTask = new QWidget(this);
    pnlEditTask->setObjectName(QStringLiteral("pnlEditTask"));
    pnlEditTask->setFixedHeight(kEditorHeight);
    auto* layout = new QVBoxLayout(pnlEditTask);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);

    lblEditStatus = MakeLabel(pnlEditTask, "lblEditStatus", QString(), true);
    lblTaskSummary = MakeLabel(pnlEditTask, "lblTaskSummary", QStringLiteral("Summary"));
    edTaskSummary = new QLineEdit(pnlEditTask);
    edTaskSummary->setObjectName(QStringLiteral("edTaskSummary"));
    // A summary is kept whole however long it is; the field's default limit
    // would cut a pasted text silently.
    edTaskSummary->setMaxLength(std::numeric_limits<int>::max());
    lblTaskNotes = MakeLabel(pnlEditTask, "lblTaskNotes", QStringLiteral("Note"));
    edTaskNote = new QPlainTextEdit(pnlEditTask);
    edTaskNote->setObjectName(QStringLiteral("edTaskNote"));
    // The note takes what the panel has left; its own minimum would otherwise
    // push the rows below it over each other in the default panel height.
    edTaskNote->setMinimumHeight(2 * edTaskNote->fontMetrics().height() + 8);
    lblTags = MakeLabel(pnlEditTask, "lblTags", QStringLiteral("Tags"));
    vtTags = new QTreeView(pnlEditTask);
    vtTags->setObjectName(QStringLiteral("vtTags"));
    vtTags->setFixedHeight(90);
    lblTaskDueDatetime =
        MakeLabel(pnlEditTask, "lblTaskDueDatetime", QStringLiteral("Due Date Time"));

    pnlDateTime = new QWidget(pnlEditTask);
    pnlDateTime->setObjectName(QStringLiteral("pnlDateTime"));
    pnlDateTime->setFixedHeight(34);
    auto* dateRow = new QHBoxLayout(pnlDateTime);
    dateRow->setContentsMargins(0, 0, 0, 0);

    pnlExactDateTime = new QWidget(pnlDateTime);
    pnlExactDateTime->setObjectName(QStringLiteral("pnlExactDateTime"));
    auto* exact = new QHBoxLayout(pnlExactDateTime);
    exact->setContentsMargins(0, 0, 0, 0);
    edTaskDueDate = new QDateEdit(pnlExactDateTime);
    edTaskDueDate->setObjectName(QStringLiteral("edTaskDueDate"));
    edTaskDueDate->setCalendarPopup(true);
    edTaskDueDate->setDisplayFormat(ShortDateFormat(QLocale()));
    edTaskDueTime = new QTimeEdit(pnlExactDateTime);
    edTaskDueTime->setObjectName(QStringLiteral("edTaskDueTime"));
    edTaskDueTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    cbxGeneralDatetime = new QCheckBox(QStringLiteral("General Date"), pnlExactDateTime);
    cbxGeneralDatetime->setObjectName(QStringLiteral("cbxGeneralDatetime"));
    exact->addWidget(edTaskDueDate);
    exact->addWidget(edTaskDueTime);
    exact->addWidget(cbxGeneralDatetime);
    exact->addStretch(1);

    pnlGeneralDateTime = new QWidget(pnlDateTime);
    pnlGeneralDateTime->setObjectName(QStringLiteral("pnlGeneralDateTime"));
    auto* general = new QHBoxLayout(pnlGeneralDateTime);
    general->setContentsMargins(0, 0, 0, 0);
    FGeneralGroup = new QButtonGroup(pnlGeneralDateTime);
    FGeneralGroup->setExclusive(true);
    auto radio = [&](const char* aName, const QString& aCaption) {
        auto* button = new QRadioButton(aCaption, pnlGeneralDateTime);
        button->setObjectName(QLatin1String(aName));
        FGeneralGroup->addButton(button);
        general->addWidget(button);
        return button;
    };
    rbGeneralUnplanned = radio("rbGeneralUnplanned", QStringLiteral("Unplanned"));
    rbGeneralHour = radio("rbGeneralHour", QStringLiteral("Hour"));
    rbGeneral4Hours = radio("rbGeneral4Hours", QStringLiteral("4 Hours"));
    rbGeneralTomorrow = radio("rbGeneralTomorrow", QStringLiteral("Tomorrow"));
    rbGeneralExact = radio("rbGeneralExact", QStringLiteral("Exact"));
    general->addStretch(1);
    pnlGeneralDateTime->setVisible(false);
    // Only the user's click switches panels: SetDatePanel unchecks the box from code.
    ConnectGuarded(cbxGeneralDatetime, &QCheckBox::clicked, this,
                   &TfrmTaskList::cbxGeneralDatetimeClick);
    // "Exact" is never checked from code, so any check of it is the user's,
    // by mouse or by the arrow keys that move through the group.
    ConnectGuarded(rbGeneralExact, &QRadioButton::toggled, this, [this](bool aChecked) {
        if (aChecked)
            rbGeneralExactClick();
    });

    dateRow->addWidget(pnlExactDateTime);
    dateRow->addWidget(pnlGeneralDateTime);

    layout->addWidget(lblEditStatus);
    layout->addWidget(lblTaskSummary);
    layout->addWidget(edTaskSummary);
    layout->addWidget(lblTaskNotes);
    layout->addWidget(edTaskNote, 1);
    layout->addWidget(lblTags);
    layout->addWidget(vtTags);
    layout->addWidget(lblTaskDueDatetime);
    layout->addWidget(pnlDateTime);
    return pnlEditTask;
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

    ConnectGuarded(btnNewTask, &QToolButton::clicked, this, &TfrmTaskList::btnNewTaskClick);
    ConnectGuarded(btnEdit, &QToolButton::clicked, this, &TfrmTaskList::btnEditClick);
    ConnectGuarded(btnSaveTask, &QToolButton::clicked, this, &TfrmTaskList::btnSaveTaskClick);
    ConnectGuarded(btnCancelEdit, &QToolButton::clicked, this, &TfrmTaskList::btnCancelEditClick);
    ConnectGuarded(btnDeleteTask, &QToolButton::clicked, this, &TfrmTaskList::btnDeleteTaskClick);
    ConnectGuarded(btnSettings, &QToolButton::clicked, this, &TfrmTaskList::btnSettingsClick);
    ConnectGuarded(btnTasksPool, &QToolButton::clicked, this, &TfrmTaskList::itTrayTasksPoolClick);
    return pnlButtons;
}

void TfrmTaskList::BuildMenus()
{
    tasklist_popup = new QMenu(this);
    tasklist_popup->setObjectName(QStringLiteral("tasklist_popup"));
    itTreeNewTask =
        MakeAction(tasklist_popup, "itTreeNewTask", QStringLiteral("New Task"), "new_24");
    itTreeEditTask =
        MakeAction(tasklist_popup, "itTreeEditTask", QStringLiteral("Edit Task"), "edit_24");
    itTreeDeleteTask =
        MakeAction(tasklist_popup, "itTreeDeleteTask", QStringLiteral("Delete Task"), "delete_24");
    tasklist_popup->addSeparator();
    itDatemoveImmediately = MakeAction(tasklist_popup, "itDatemoveImmediately",
                                       QStringLiteral("Immediately"), "1hour_24");
    itDatemoveToday =
        MakeAction(tasklist_popup, "itDatemoveToday", QStringLiteral("Today"), "4hour_24");
    itDatemoveTomorrow =
        MakeAction(tasklist_popup, "itDatemoveTomorrow", QStringLiteral("Tomorrow"), "24hour_24");
    tasklist_popup->addSeparator();
    itDatemoveUnplanned = MakeAction(tasklist_popup, "itDatemoveUnplanned",
                                     QStringLiteral("Unplanned"), "unplanned_hour_24");
    // The due-date choice each item moves to.
    itDatemoveImmediately->setData(QVariant::fromValue(TDueChoice::Hour));
    itDatemoveToday->setData(QVariant::fromValue(TDueChoice::FourHours));
    itDatemoveTomorrow->setData(QVariant::fromValue(TDueChoice::Tomorrow));
    itDatemoveUnplanned->setData(QVariant::fromValue(TDueChoice::Unplanned));
    ConnectGuarded(tasklist_popup, &QMenu::aboutToShow, this, &TfrmTaskList::tasklist_popupPopup);
    ConnectGuarded(itTreeNewTask, &QAction::triggered, this, &TfrmTaskList::btnNewTaskClick);
    ConnectGuarded(itTreeEditTask, &QAction::triggered, this, &TfrmTaskList::btnEditClick);
    ConnectGuarded(itTreeDeleteTask, &QAction::triggered, this, &TfrmTaskList::btnDeleteTaskClick);
    for (QAction* item :
         {itDatemoveImmediately, itDatemoveToday, itDatemoveTomorrow, itDatemoveUnplanned})
        ConnectGuarded(item, &QAction::triggered, this, &TfrmTaskList::itDuedateMoveClick);

    tray_popup = new QMenu(this);
    tray_popup->setObjectName(QStringLiteral("tray_popup"));
    itTrayNewTask = MakeAction(tray_popup, "itTrayNewTask", QStringLiteral("New Task"), "new_24");
    itTrayTasksPool =
        MakeAction(tray_popup, "itTrayTasksPool", QStringLiteral("New Tasks..."), "checklist_24");
    itTrayShowList =
        MakeAction(tray_popup, "itTrayShowList", QStringLiteral("Show List"), "list_24");
    itTraySettings =
        MakeAction(tray_popup, "itTraySettings", QStringLiteral("Settings"), "settings_24");
    tray_popup->addSeparator();
    itExit = MakeAction(tray_popup, "itExit", QStringLiteral("Exit"), "exit_24");
    ConnectGuarded(tray_popup, &QMenu::aboutToShow, this, &TfrmTaskList::tray_popupPopup);
    ConnectGuarded(itTrayNewTask, &QAction::triggered, this, &TfrmTaskList::btnNewTaskClick);
    ConnectGuarded(itTrayTasksPool, &QAction::triggered, this, &TfrmTaskList::itTrayTasksPoolClick);
    ConnectGuarded(itTrayShowList, &QAction::triggered, this, &TfrmTaskList::itTrayShowListClick);
    ConnectGuarded(itTraySettings, &QAction::triggered, this, &TfrmTaskList::btnSettingsClick);
    ConnectGuarded(itExit, &QAction::triggered, this, &TfrmTaskList::itExitClick);

    // Ctrl+Shift+Q anywhere in the program; other combinations of Q do not match.
    FNewTaskShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q), this);
    FNewTaskShortcut->setObjectName(QStringLiteral("events"));
    FNewTaskShortcut->setContext(Qt::ApplicationShortcut);
    ConnectGuarded(FNewTaskShortcut, &QShortcut::activated, this, &TfrmTaskList::eventsShortCut);
}

void TfrmTaskList::BuildTray()
{
    tray = new QSystemTrayIcon(TasksAppIcon(), this);
    tray->setObjectName(QStringLiteral("tray"));
    tray->setToolTip(kAppTitle);
    tray->setContextMenu(tray_popup);
    ConnectGuarded(
        tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason aReason) {
            // A single click is all that StatusNotifierItem trays send (as
            // Trigger); the double click of the classic tray shows it too.
            if (aReason == QSystemTrayIcon::DoubleClick || aReason == QSystemTrayIcon::Trigger)
                trayDblClick();
        });
    ConnectGuarded(tray, &QSystemTrayIcon::messageClicked, this, &TfrmTaskList::trayBalloonClick);
    tray->show();
    FNotifier = CreateTasksNotifier(tray);
}

void TfrmTaskList::FormCreate()
{
    try {
        // 1. The update and command service.
        StartUpdateService();
        // 2.
        setWindowTitle(kAppTitle);
        // 3. The settings come first, so the database named by them is the one opened.
        GetTasksSettings();
        SetTasksDBFile(db_file);
        WarnOfSettingsProblem(this);
        ApplyTheme(theme);
        // 4. The record map and the id lists start empty.
        FTaskRecords->Clear();
        FUnreadIds.clear();
        FSelectedIds.clear();
        // 5.
        FTagsControler = std::make_shared<TtasksTagsChecklist>(vtTags);
        // 6.
        ClearEditor();
        ShowEditor(false);
        // 7. The first database access; selecting the first tab loads the list.
        // A database that can be read but not written is said once here,
        // rather than at the first change that fails.
        GetTasksDB()->Connect();
        WarnOfAccessProblem(this);
        LoadTagTabs();
        // 8.
        UpdateControls();
    } catch (const std::exception& error) {
        // The window still opens; the remaining steps are skipped. Its
        // buttons still follow its state: no editor open, nothing selected.
        // The store still opens the file the settings name, their default
        // when they were not reached.
        SetTasksDBFile(db_file);
        if (!FTagsControler)
            FTagsControler = std::make_shared<TtasksTagsChecklist>(vtTags);
        ShowEditor(false);
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
    QWidget::showEvent(aEvent);
}

void TfrmTaskList::ResizeOuter(QSize aOuter)
{
    const QSize frame = frameGeometry().size() - size();
    FPendingOuter = aOuter;
    FPendingFrame = frame;
    resize(aOuter - frame);
}

void TfrmTaskList::moveEvent(QMoveEvent* aEvent)
{
    QWidget::moveEvent(aEvent);
    // The frame is known only once the window manager has put it around the
    // window; the stored size is that of the outer frame, so correct it then.
    if (!FPendingOuter.isValid())
        return;
    const QSize frame = frameGeometry().size() - size();
    if (frame != FPendingFrame) {
        const QSize outer = FPendingOuter;
        FPendingOuter = QSize();
        resize(outer - frame);
    }
}

void TfrmTaskList::FormShow()
{
    TtasksSettings* settings = GetTasksSettings();
    // 1. Bottom right of the screen, above the panel.
    const QScreen* primary = QGuiApplication::primaryScreen();
    const QRect area = primary ? primary->geometry() : QRect(0, 0, 1024, 768);
    const auto cornerFor = [&](QSize aOuter) {
        return QPoint(area.x() + area.width() - aOuter.width(),
                      area.y() + area.height() - aOuter.height() - TaskbarHeight());
    };
    QSize outer = frameGeometry().size();
    const QPoint corner = cornerFor(outer);
    move(corner);

    // 2. Where the last run left the window. The file may hold any integer.
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
    const QSize frame = frameGeometry().size() - size();
    const QSize minimum = minimumSizeHint().expandedTo(minimumSize()) + frame;
    outer = QSize(width, height);
    if (screen)
        outer = outer.boundedTo(screen->availableGeometry().size());
    outer = outer.expandedTo(minimum);
    // A position on a screen that is no longer there falls back to the corner.
    if (!IsOnSomeScreen(QRect(position, outer)))
        position = cornerFor(outer);
    move(position);
    ResizeOuter(outer);
    // The editor's height is bounded by the window's, so it is sound once the
    // window is.
    splitterEditTask->SetTargetHeight(settings->ReadInteger(kKeyEditHeight, pnlEditTask->height()));
}

bool TfrmTaskList::FormCloseQuery()
{
    if (!close_minimizes)
        return true;
    SetEditing(false);
    hide();
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
    TtasksSettings* settings = GetTasksSettings();
    const QRect frame = frameGeometry();
    settings->WriteInteger(kKeyLeft, frame.left());
    settings->WriteInteger(kKeyTop, frame.top());
    settings->WriteInteger(kKeyWidth, frame.width());
    settings->WriteInteger(kKeyHeight, frame.height());
    settings->WriteInteger(kKeyEditHeight, pnlEditTask->height());
    notifications->stop();

    // The tabs hold tags of the controller: drop them first.
    FTabTags.clear();
    FTagsControler.reset();
    FTaskRecords->Clear();
    FUnreadIds.clear();
    FSelectedIds.clear();
}

void TfrmTaskList::ShowList()
{
    show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    raise();
    activateWindow();
}

void TfrmTaskList::ApplyTheme(const QString& aName)
{
    ::ApplyTheme(aName);
}

// ---------------------------------------------------------------- shell handlers

void TfrmTaskList::trayDblClick()
{
    ShowList();
}

void TfrmTaskList::tray_popupPopup()
{
    UpdateControls();
}

void TfrmTaskList::itTrayShowListClick()
{
    ShowList();
}

void TfrmTaskList::itExitClick()
{
    EndProgram();
}

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
    if (ShowTasksPoolDialog(this))
        LoadTasks(CurrentTag());
}

void TfrmTaskList::eventsShortCut()
{
    // Runs the "New" action even while the "New" button is disabled.
    btnNewTaskClick();
}

void TfrmTaskList::UpdateControls()
{
    const bool selected = SelectedTask() != nullptr;
    btnSaveTask->setEnabled(FEditing);
    btnEdit->setEnabled(!FEditing && selected);
    itTreeEditTask->setEnabled(!FEditing && selected);
    btnDeleteTask->setEnabled(!FEditing && selected);
    itTreeDeleteTask->setEnabled(!FEditing && selected);
    btnCancelEdit->setEnabled(FEditing);
    btnNewTask->setEnabled(!FEditing);
    itTreeNewTask->setEnabled(!FEditing);
    itTrayNewTask->setEnabled(!FEditing);
    btnMarkAsRead->setVisible(!FUnreadIds.isEmpty());
    for (QAction* item :
         {itDatemoveImmediately, itDatemoveToday, itDatemoveTomorrow, itDatemoveUnplanned})
        item->setEnabled(selected);
    if (FEditing)
        lblEditStatus->setText(FCreating ? QStringLiteral("Creating Task")
                                         : QStringLiteral("Editing Task"));
    treeTaskList->viewport()->update();
}

// ---------------------------------------------------------------- task list

void TfrmTaskList::LoadTagTabs()
{
    if (!FTagsControler)
        return;
    std::vector<TStoredTag> stored;
    const TStoreResult loaded = TtasksStore::ListTags(stored);

    // The tabs hold tags of the controller: they go before the tags do.
    const int remembered = tabsGroups->currentIndex();
    {
        const QSignalBlocker blocker(tabsGroups);
        FTabTags.clear();
        while (tabsGroups->count() > 0)
            tabsGroups->removeTab(0);
        tabsGroups->addTab(QStringLiteral("ALL"));
        FTabTags.push_back(nullptr);
    }
    // Clears the controller and refills it; raises when the tags could not be read.
    const std::vector<TtasksTag*> tags = FillTags(FTagsControler.get(), loaded, stored);
    {
        const QSignalBlocker blocker(tabsGroups);
        for (TtasksTag* tag : tags) {
            tabsGroups->addTab(TabCaption(tag->title));
            FTabTags.push_back(tag);
        }
        tabsGroups->setCurrentIndex(remembered >= 0 && remembered < tabsGroups->count() ? remembered
                                                                                        : 0);
    }
    // The rebuilt strip is a new selection in every case, and the tags may have
    // changed: the list is read again for it.
    LoadTasks(CurrentTag());
    UpdateControls();
}

void TfrmTaskList::LoadTasks(const TtasksTag* aTag)
{
    std::vector<TStoredTask> tasks;
    const TStoreResult loaded = TtasksStore::ListTasks(tasks);
    {
        const TRepaintBracket repaint(treeTaskList);
        ClearTasks();
        // Filtering the empty list costs nothing; the rows pass it as they come.
        FTaskRows->SetTagId(aTag ? aTag->tagid : QString());
        if (!loaded)
            throw EDatabaseError(loaded.Message(
                QStringLiteral("The task list could not be read from the database.")));
        const TBulkBracket bulk(FTaskRecords);
        for (TStoredTask& task : tasks) {
            TTaskRecord* record = AddTaskRecord(task.taskid);
            record->summary = std::move(task.summary);
            record->note = std::move(task.note);
            record->tagsids = std::move(task.tagsids);
            record->duedt = task.duedt;
            record->SetFinished(task.finished);
        }
    }
    UpdateControls();
}

void TfrmTaskList::ClearTasks()
{
    // Deselecting first takes the ids out of FSelectedIds while the records exist.
    treeTaskList->selectionModel()->clearSelection();
    FTaskRecords->Clear();
}

TTaskRecord* TfrmTaskList::AddTaskRecord(const QString& aTaskId)
{
    return FTaskRecords->AddRecord(aTaskId);
}

TTaskRecord* TfrmTaskList::RecordOfNode(int aRow) const
{
    return FTaskRecords->Record(aRow);
}

TTaskRecord* TfrmTaskList::SelectedTask() const
{
    const QModelIndexList rows = treeTaskList->selectionModel()->selectedRows(kColCheck);
    int first = -1;
    for (const QModelIndex& index : rows) {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    return RecordOfNode(FTaskRows->SourceRow(first));
}

TtasksTag* TfrmTaskList::CurrentTag() const
{
    const int index = tabsGroups->currentIndex();
    if (index <= 0 || index >= static_cast<int>(FTabTags.size()))
        return nullptr;
    return FTabTags[static_cast<size_t>(index)];
}

void TfrmTaskList::MarkUnread(const QString& aTaskId)
{
    if (AddUnread(aTaskId))
        FTaskRecords->UnreadChanged();
}

bool TfrmTaskList::AddUnread(const QString& aTaskId)
{
    if (IsUnread(aTaskId))
        return false;
    FUnreadIds.append(aTaskId);
    return true;
}

bool TfrmTaskList::IsUnread(const QString& aTaskId) const
{
    return FUnreadIds.contains(aTaskId, Qt::CaseInsensitive);
}

void TfrmTaskList::ToggleFinished(TTaskRecord* aRecord)
{
    if (!aRecord)
        return;
    const TStoreResult stored = aRecord->finished ? TtasksStore::ReopenTask(aRecord->taskid)
                                                  : TtasksStore::FinishTask(aRecord->taskid, Now());
    if (!stored) {
        // The row keeps the mark the database holds.
        const QString what = aRecord->finished ? QStringLiteral("The task could not be re-opened.")
                                               : QStringLiteral("The task could not be finished.");
        TkvdMessageBox::Error(this, stored.Message(what));
        return;
    }
    aRecord->SetFinished(!aRecord->finished);
    treeTaskList->viewport()->update();
}

QString TfrmTaskList::TaskHintText(const TTaskRecord& aRecord) const
{
    const QString undefined = QStringLiteral("undefined");
    return QStringLiteral("%1\r\n---\r\nNOTE:\r\n%2\r\n\r\nDUE DATETIME:\r\n%3")
        .arg(IsBlankText(aRecord.summary) ? undefined : aRecord.summary,
             IsBlankText(aRecord.note) ? undefined : aRecord.note, DueDateText(aRecord));
}

// ---------------------------------------------------------------- list handlers

void TfrmTaskList::treeTaskListChecked(int aRow)
{
    ToggleFinished(RecordOfNode(aRow));
}

bool TfrmTaskList::eventFilter(QObject* aWatched, QEvent* aEvent)
{
    // Only presses are looked at: none comes while the window is destroyed.
    const QEvent::Type type = aEvent->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
        aWatched == treeTaskList->viewport())
        FDoubleClickPress = type == QEvent::MouseButtonDblClick;
    return QWidget::eventFilter(aWatched, aEvent);
}

void TfrmTaskList::treeTaskListClick()
{
    // The release that ends a double click would close the editor it opened.
    if (FDoubleClickPress) {
        FDoubleClickPress = false;
        return;
    }
    SetEditing(false);
    UpdateControls();
}

void TfrmTaskList::treeTaskListDblClick()
{
    btnEditClick();
}

void TfrmTaskList::treeTaskListFocusChanged()
{
    UpdateControls();
}

void TfrmTaskList::treeTaskListAddToSelection(int aRow)
{
    if (const TTaskRecord* record = RecordOfNode(aRow))
        FSelectedIds.append(record->taskid);
}

void TfrmTaskList::treeTaskListRemoveFromSelection(int aRow)
{
    const TTaskRecord* record = RecordOfNode(aRow);
    if (!record)
        return;
    const qsizetype at = FSelectedIds.indexOf(record->taskid);
    if (at >= 0) {
        FSelectedIds.removeAt(at);
        return;
    }
    for (qsizetype i = 0; i < FSelectedIds.size(); ++i) {
        if (FSelectedIds[i].compare(record->taskid, Qt::CaseInsensitive) == 0) {
            FSelectedIds.removeAt(i);
            return;
        }
    }
}

void TfrmTaskList::treeTaskListResize()
{
    // The tree keeps its picture in the bottom right corner by itself.
}

void TfrmTaskList::tabsGroupsClick()
{
    // Only the filter changes: the records, their marks and the database stay.
    // The selection and the focused row go, as the tab starts a new view.
    treeTaskList->selectionModel()->clear();
    const TtasksTag* tag = CurrentTag();
    FTaskRows->SetTagId(tag ? tag->tagid : QString());
    UpdateControls();
}

void TfrmTaskList::btnMarkAsReadClick()
{
    FUnreadIds.clear();
    FTaskRecords->UnreadChanged();
    UpdateControls();
}

void TfrmTaskList::tasklist_popupPopup()
{
    UpdateControls();
}

// ---------------------------------------------------------------- editor

void TfrmTaskList::SetEditing(bool aEditing)
{
    if (aEditing == FEditing)
        return;
    if (!aEditing)
        FCreating = false;
    FEditing = aEditing;
    FEditTaskId.clear();
    ClearEditor();
    ShowEditor(aEditing);
    UpdateControls();
}

void TfrmTaskList::ShowEditor(bool aVisible)
{
    pnlEditTask->setVisible(aVisible);
    splitterEditTask->setVisible(aVisible);
    if (aVisible)
        edTaskSummary->setFocus();
}

void TfrmTaskList::ClearEditor()
{
    edTaskSummary->clear();
    edTaskNote->clear();
    const QDateTime rounded = QDateTimeFromDateTime(RoundDateTime(1, TimeGranularity(), Now()));
    edTaskDueDate->setDate(rounded.date());
    edTaskDueTime->setTime(rounded.time());
}

void TfrmTaskList::SetDatePanel(bool aGeneral, bool aReset)
{
    if (aGeneral) {
        pnlExactDateTime->setVisible(false);
        pnlGeneralDateTime->setVisible(true);
        switch (DefaultDueDateTime()) {
        case TDueChoice::Hour:
            rbGeneralHour->setChecked(true);
            break;
        case TDueChoice::FourHours:
            rbGeneral4Hours->setChecked(true);
            break;
        case TDueChoice::Tomorrow:
            rbGeneralTomorrow->setChecked(true);
            break;
        case TDueChoice::Unplanned:
        case TDueChoice::Exact:
            rbGeneralUnplanned->setChecked(true);
            break;
        }
        return;
    }
    {
        const QSignalBlocker blocker(cbxGeneralDatetime);
        cbxGeneralDatetime->setChecked(false);
    }
    pnlGeneralDateTime->setVisible(false);
    pnlExactDateTime->setVisible(true);
    if (aReset) {
        // Now as it is, with seconds, not rounded.
        const QDateTime now = NowDateTime();
        edTaskDueTime->setTime(now.time());
        edTaskDueDate->setDate(now.date());
    }
}

void TfrmTaskList::EditTask(const TTaskRecord* aRecord)
{
    if (!aRecord)
        return;
    // The record may go with a reload; keep what is needed of it.
    const TTaskRecord record = *aRecord;

    TStoredTask stored;
    const TStoreResult read = TtasksStore::ReadTask(record.taskid, stored);
    if (!read) {
        TkvdMessageBox::Error(
            this, read.Message(QStringLiteral("The task could not be read from the database.")));
        return;
    }

    FCreating = false;
    SetEditing(true);
    edTaskSummary->setText(stored.summary);
    edTaskNote->setPlainText(stored.note);
    // A NULL or malformed due date-time reads as 0: the task is unplanned.
    const TDateTime due = stored.duedt;
    // An unplanned task leaves the pickers at the rounded now that opening the
    // editor put there, so "Exact" starts from today rather than from the day
    // count's zero, 30.12.1899.
    if (due != 0) {
        const QDateTime picked = QDateTimeFromDateTime(due);
        edTaskDueDate->setDate(picked.date());
        edTaskDueTime->setTime(picked.time());
    }
    LoadTaskTags(record);
    SetDatePanel(due == 0, false);
    FEditTaskId = record.taskid;
    UpdateControls();
}

void TfrmTaskList::LoadTaskTags(const TTaskRecord& aRecord)
{
    const QStringList ids = aRecord.tagsids.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int index = 0; index < FTagsControler->Count(); ++index) {
        TtasksTag* tag = FTagsControler->GetTagByIndex(index);
        tag->SetChecked(ids.contains(tag->tagid, Qt::CaseInsensitive));
    }
}

bool TfrmTaskList::SaveTask()
{
    if (!FEditing)
        return true;
    TStoredTask task;
    task.taskid = FEditTaskId.isEmpty() ? GenerateId() : FEditTaskId;
    task.summary = edTaskSummary->text();
    task.note = edTaskNote->toPlainText();
    task.duedt = EditorDueDate();
    QStringList tagIds;
    for (int index = 0; index < FTagsControler->Count(); ++index) {
        const TtasksTag* tag = FTagsControler->GetTagByIndex(index);
        if (tag->checked())
            tagIds << tag->tagid;
    }

    // The task row and its links go in one transaction: all of it is stored
    // or nothing.
    const TStoreResult stored = TtasksStore::SaveTask(task, tagIds, FCreating);
    if (!stored) {
        // The editor stays open with everything typed and ticked; the list
        // keeps its state.
        TkvdMessageBox::Error(this, stored.Message(QStringLiteral(
                                        "The task could not be saved. Nothing of it was stored; "
                                        "the editor keeps your entries.")));
        return false;
    }
    FEditTaskId = task.taskid;
    try {
        LoadTasks(CurrentTag());
    } catch (...) {
        // The task is stored although the list cannot show it: the editor,
        // which stays open, now holds a stored task, so a further save
        // updates it instead of inserting it a second time.
        FCreating = false;
        throw;
    }
    UpdateControls();
    return true;
}

void TfrmTaskList::DeleteTask(const TTaskRecord* aRecord)
{
    if (!aRecord)
        return;
    // The task and its tag links go together, so no link is left behind.
    const TStoreResult deleted = TtasksStore::DeleteTask(aRecord->taskid);
    if (!deleted)
        TkvdMessageBox::Error(this,
                              deleted.Message(QStringLiteral("The task could not be deleted.")));
    LoadTasks(CurrentTag());
    UpdateControls();
}

TEditorDateRow TfrmTaskList::EditorDateRow() const
{
    TEditorDateRow row;
    row.general = !pnlGeneralDateTime->isHidden();
    row.unplanned = rbGeneralUnplanned->isChecked();
    row.hour = rbGeneralHour->isChecked();
    row.fourHours = rbGeneral4Hours->isChecked();
    row.tomorrow = rbGeneralTomorrow->isChecked();
    row.date = edTaskDueDate->date();
    row.time = edTaskDueTime->time();
    return row;
}

TDateTime TfrmTaskList::EditorDueDate() const
{
    return EditorDueDateOf(EditorDateRow());
}

void TfrmTaskList::btnNewTaskClick()
{
    ShowList();
    // Only the shortcut reaches here while the editor is open (the button and
    // the menu items are disabled then). The open edit is kept: starting a new
    // task over it would either lose what was typed or save a new task under
    // the edited task's id.
    if (FEditing) {
        edTaskSummary->setFocus();
        UpdateControls();
        return;
    }
    FCreating = true;
    SetEditing(true);
    SetDatePanel(DefaultDueDateTime() != TDueChoice::Exact, true);
    UpdateControls();
}

void TfrmTaskList::btnEditClick()
{
    EditTask(SelectedTask());
}

void TfrmTaskList::btnSaveTaskClick()
{
    if (SaveTask())
        SetEditing(false);
    UpdateControls();
}

void TfrmTaskList::btnCancelEditClick()
{
    SetEditing(false);
}

void TfrmTaskList::btnDeleteTaskClick()
{
    DeleteTask(SelectedTask());
}

void TfrmTaskList::cbxGeneralDatetimeClick()
{
    SetDatePanel(true, true);
}

void TfrmTaskList::rbGeneralExactClick()
{
    SetDatePanel(false, false);
}

// ---------------------------------------------------------------- reminders

void TfrmTaskList::CheckReminders()
{
    if (FNotifier) {
        // The rows learn of their new marks once, after the whole pass.
        bool marked = false;
        ::CheckReminders(FTaskRecords->Records(), *FNotifier,
                         [this, &marked](const QString& aTaskId) {
                             if (AddUnread(aTaskId))
                                 marked = true;
                         });
        if (marked)
            FTaskRecords->UnreadChanged();
    }
    UpdateControls();
}

void TfrmTaskList::notificationsTimer()
{
    CheckReminders();
}

void TfrmTaskList::trayBalloonClick()
{
    ShowList();
}

void TfrmTaskList::itDuedateMoveClick()
{
    const auto* item = qobject_cast<QAction*>(sender());
    if (!item)
        return;
    // Each task's update commits on its own; a refused one does not stop the others.
    const TStoreResult moved =
        TtasksStore::MoveDueDates(FSelectedIds, DueDateOfChoice(item->data().value<TDueChoice>()));
    LoadTasks(CurrentTag());
    UpdateControls();
    if (!moved)
        TkvdMessageBox::Error(this, moved.Message(QStringLiteral(
                                        "The due date could not be changed for every selected "
                                        "task.")));
}
