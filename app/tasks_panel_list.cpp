#include "app/tasks_panel_list.h"

#include "app/tasks_list_view.h"
#include "app/tasks_reminders.h"
#include "due/tasks_duedates.h"
#include "resources/tasks_resources.h"
#include "store/tasks_store.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_errors.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"

#include <QAction>
#include <QEvent>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSet>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Tab captions show "&" as it is typed, not as a keyboard mnemonic.
QString TabCaption(const QString& aTitle)
{
    QString caption = aTitle;
    return caption.replace(QLatin1Char('&'), QStringLiteral("&&"));
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

QAction* MakeAction(QMenu* aMenu, const char* aName, const QString& aCaption, const char* aIcon)
{
    QAction* action = aMenu->addAction(TasksIcon(QLatin1String(aIcon)), aCaption);
    action->setObjectName(QLatin1String(aName));
    return action;
}

const QString kListUnread = QStringLiteral("The task list could not be read from the database.");

} // namespace

// ---------------------------------------------------------------- building

TtasksListPanel::TtasksListPanel(QWidget* aParent) : QWidget(aParent)
{
    setObjectName(QStringLiteral("pnlTaskList"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QWidget* title = BuildTitle();
    BuildTree();
    QWidget* find = BuildFind();
    BuildTabs();
    BuildMenu();
    layout->addWidget(title);
    layout->addWidget(find);
    layout->addWidget(treeTaskList, 1);
    layout->addWidget(tabsGroups);
}

TtasksListPanel::~TtasksListPanel() = default;

QWidget* TtasksListPanel::BuildTitle()
{
    auto* pnlTaskListTitle = new QWidget(this);
    pnlTaskListTitle->setObjectName(QStringLiteral("pnlTaskListTitle"));
    pnlTaskListTitle->setFixedHeight(24);
    auto* title = new QHBoxLayout(pnlTaskListTitle);
    title->setContentsMargins(6, 0, 2, 0);
    auto* lblTaskListTitle = new QLabel(QStringLiteral("Task List"), pnlTaskListTitle);
    lblTaskListTitle->setObjectName(QStringLiteral("lblTaskListTitle"));
    QFont bold = lblTaskListTitle->font();
    bold.setBold(true);
    lblTaskListTitle->setFont(bold);
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
    ConnectGuarded(btnMarkAsRead, &QToolButton::clicked, this,
                   &TtasksListPanel::btnMarkAsReadClick);
    return pnlTaskListTitle;
}

QWidget* TtasksListPanel::BuildFind()
{
    pnlFind = new QWidget(this);
    pnlFind->setObjectName(QStringLiteral("pnlFind"));
    auto* row = new QHBoxLayout(pnlFind);
    row->setContentsMargins(4, 2, 4, 2);
    edtFind = new QLineEdit(pnlFind);
    edtFind->setObjectName(QStringLiteral("edtFind"));
    edtFind->setPlaceholderText(QStringLiteral("Find in summaries and notes"));
    edtFind->setClearButtonEnabled(true);
    lblFindCount = new QLabel(pnlFind);
    lblFindCount->setObjectName(QStringLiteral("lblFindCount"));
    row->addWidget(edtFind, 1);
    row->addWidget(lblFindCount);
    pnlFind->setVisible(false);
    edtFind->installEventFilter(this);
    treeTaskList->installEventFilter(this);
    ConnectGuarded(edtFind, &QLineEdit::textChanged, this, &TtasksListPanel::edtFindChange);
    // Anywhere in the window, the editor's fields included.
    FFindShortcut = new QShortcut(QKeySequence::Find, this);
    FFindShortcut->setObjectName(QStringLiteral("actFind"));
    FFindShortcut->setContext(Qt::WindowShortcut);
    ConnectGuarded(FFindShortcut, &QShortcut::activated, this, &TtasksListPanel::ShowFind);
    // The count follows the rows as the list changes under a find.
    ConnectGuarded(FTaskRows, &QAbstractItemModel::modelReset, this,
                   &TtasksListPanel::ShowFindCount);
    ConnectGuarded(FTaskRows, &QAbstractItemModel::layoutChanged, this,
                   &TtasksListPanel::ShowFindCount);
    ConnectGuarded(FTaskRows, &QAbstractItemModel::rowsInserted, this,
                   &TtasksListPanel::ShowFindCount);
    ConnectGuarded(FTaskRows, &QAbstractItemModel::rowsRemoved, this,
                   &TtasksListPanel::ShowFindCount);
    return pnlFind;
}

void TtasksListPanel::BuildTree()
{
    FTaskRecords = new TtasksListModel(this);
    FTaskRecords->DueText = [](const TTaskRecord& aRecord) { return DueDateText(aRecord.duedt); };
    FTaskRecords->IsUnread = [this](const QString& aId) { return IsUnread(aId); };
    treeTaskList = new TtasksTaskTree(this);
    treeTaskList->setObjectName(QStringLiteral("treeTaskList"));
    FTaskRows = new TtasksListFilter(FTaskRecords, this);
    treeTaskList->setModel(FTaskRows);
    auto* delegate = new TtasksListDelegate(FTaskRecords, treeTaskList);
    delegate->GetTag = [this](const QString& aId) -> const TtasksTag* {
        return FTagsControler ? FTagsControler->GetTag(aId) : nullptr;
    };
    treeTaskList->setItemDelegate(delegate);
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
                   &TtasksListPanel::treeTaskListChecked);
    ConnectGuarded(treeTaskList, &TtasksTaskTree::Clicked, this,
                   &TtasksListPanel::treeTaskListClick);
    treeTaskList->viewport()->installEventFilter(this);
    ConnectGuarded(treeTaskList, &TtasksTaskTree::DoubleClicked, this,
                   &TtasksListPanel::treeTaskListDblClick);
    ConnectGuarded(treeTaskList, &TtasksTaskTree::Resized, this,
                   &TtasksListPanel::treeTaskListResize);
    ConnectGuarded(treeTaskList->selectionModel(), &QItemSelectionModel::currentChanged, this,
                   &TtasksListPanel::treeTaskListFocusChanged);
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
}

void TtasksListPanel::BuildTabs()
{
    tabsGroups = new TtasksTabBar(this);
    tabsGroups->setObjectName(QStringLiteral("tabsGroups"));
    tabsGroups->setShape(QTabBar::RoundedSouth);
    tabsGroups->setExpanding(false);
    tabsGroups->setUsesScrollButtons(true);
    tabsGroups->setElideMode(Qt::ElideRight);
    tabsGroups->setDocumentMode(true);
    tabsGroups->setDrawBase(false);
    ConnectGuarded(tabsGroups, &QTabBar::currentChanged, this, &TtasksListPanel::tabsGroupsClick);
}

void TtasksListPanel::BuildMenu()
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
    QAction* itDatemoveImmediately = MakeAction(tasklist_popup, "itDatemoveImmediately",
                                                QStringLiteral("Immediately"), "1hour_24");
    QAction* itDatemoveToday =
        MakeAction(tasklist_popup, "itDatemoveToday", QStringLiteral("Today"), "4hour_24");
    QAction* itDatemoveTomorrow =
        MakeAction(tasklist_popup, "itDatemoveTomorrow", QStringLiteral("Tomorrow"), "24hour_24");
    tasklist_popup->addSeparator();
    QAction* itDatemoveUnplanned = MakeAction(tasklist_popup, "itDatemoveUnplanned",
                                              QStringLiteral("Unplanned"), "unplanned_hour_24");
    // The due-date choice each item moves to.
    itDatemoveImmediately->setData(QVariant::fromValue(TDueChoice::Hour));
    itDatemoveToday->setData(QVariant::fromValue(TDueChoice::FourHours));
    itDatemoveTomorrow->setData(QVariant::fromValue(TDueChoice::Tomorrow));
    itDatemoveUnplanned->setData(QVariant::fromValue(TDueChoice::Unplanned));
    FDateMoves = {itDatemoveImmediately, itDatemoveToday, itDatemoveTomorrow, itDatemoveUnplanned};
    tasklist_popup->addSeparator();
    actExportSelectedTasks = MakeAction(tasklist_popup, "actExportSelectedTasks",
                                        QStringLiteral("Export Selected Tasks..."), "save_24");
    ConnectGuarded(actExportSelectedTasks, &QAction::triggered, this,
                   &TtasksListPanel::ExportSelectedAsked);
    // Import is in the tray menu too; here it stays reachable on a desktop
    // without a tray.
    QAction* actListImportTasks = MakeAction(tasklist_popup, "actListImportTasks",
                                             QStringLiteral("Import Tasks..."), "checklist_24");
    ConnectGuarded(actListImportTasks, &QAction::triggered, this, &TtasksListPanel::ImportAsked);
    ConnectGuarded(tasklist_popup, &QMenu::aboutToShow, this,
                   &TtasksListPanel::tasklist_popupPopup);
    ConnectGuarded(itTreeNewTask, &QAction::triggered, this, &TtasksListPanel::NewTaskAsked);
    ConnectGuarded(itTreeEditTask, &QAction::triggered, this, &TtasksListPanel::EditTaskAsked);
    ConnectGuarded(itTreeDeleteTask, &QAction::triggered, this, &TtasksListPanel::DeleteTaskAsked);
    for (QAction* item : FDateMoves)
        ConnectGuarded(item, &QAction::triggered, this, &TtasksListPanel::itDuedateMoveClick);
}

void TtasksListPanel::SetTagsControler(ItasksTagsControler* aControler)
{
    FTagsControler = aControler;
}

// ---------------------------------------------------------------- loading

void TtasksListPanel::LoadTagTabs()
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
    const std::vector<TtasksTag*> tags = FillTags(FTagsControler, loaded, stored);
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
    Q_EMIT ControlsChanged();
}

void TtasksListPanel::LoadTasks(const TtasksTag* aTag)
{
    std::vector<TStoredTask> tasks;
    const TStoreResult loaded = TtasksStore::ListTasks(tasks);
    {
        const TRepaintBracket repaint(treeTaskList);
        ClearTasks();
        // Filtering the empty list costs nothing; the rows pass it as they come.
        FTaskRows->SetTagId(aTag ? aTag->tagid : QString());
        if (!loaded)
            throw EDatabaseError(loaded.Message(kListUnread));
        const TBulkBracket bulk(FTaskRecords);
        for (TStoredTask& task : tasks) {
            TTaskRecord* record = FTaskRecords->AddRecord(task.taskid, std::move(task.order));
            SetRecordFields(*record, task);
        }
    }
    Q_EMIT ControlsChanged();
    Q_EMIT TasksChanged({});
}

void TtasksListPanel::ClearTasks()
{
    // Deselecting first takes the ids out of the selection while the records exist.
    treeTaskList->selectionModel()->clearSelection();
    FTaskRecords->Clear();
    FSelectedAt.clear();
}

TTaskRecord* TtasksListPanel::AddTaskRecord(const QString& aTaskId)
{
    return FTaskRecords->AddRecord(aTaskId);
}

TTaskRecord* TtasksListPanel::RecordOfRow(int aRow) const
{
    return FTaskRecords->Record(aRow);
}

TTaskRecord* TtasksListPanel::SelectedTask() const
{
    const QModelIndexList rows = treeTaskList->selectionModel()->selectedRows(kColCheck);
    int first = -1;
    for (const QModelIndex& index : rows) {
        if (first < 0 || index.row() < first)
            first = index.row();
    }
    return RecordOfRow(FTaskRows->SourceRow(first));
}

TtasksTag* TtasksListPanel::CurrentTag() const
{
    const int index = tabsGroups->currentIndex();
    if (index <= 0 || index >= static_cast<int>(FTabTags.size()))
        return nullptr;
    return FTabTags[static_cast<size_t>(index)];
}

// ---------------------------------------------------------------- marks

void TtasksListPanel::MarkUnread(const QString& aTaskId)
{
    if (AddUnread(aTaskId))
        FTaskRecords->UnreadChanged();
}

bool TtasksListPanel::AddUnread(const QString& aTaskId)
{
    if (IsUnread(aTaskId))
        return false;
    FUnreadIds.append(aTaskId);
    return true;
}

bool TtasksListPanel::IsUnread(const QString& aTaskId) const
{
    return FUnreadIds.contains(aTaskId, Qt::CaseInsensitive);
}

void TtasksListPanel::ToggleFinished(TTaskRecord* aRecord)
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
    if (FNotifier)
        FNotifier->Withdraw(aRecord->taskid);
    // The row stays where it is; the next update of the list places it.
    FTaskRecords->MarkUnplaced(*aRecord);
    treeTaskList->viewport()->update();
    Q_EMIT TasksChanged({aRecord->taskid});
}

QString TtasksListPanel::TaskHintText(const TTaskRecord& aRecord) const
{
    const QString undefined = QStringLiteral("undefined");
    return QStringLiteral("%1\r\n---\r\nNOTE:\r\n%2\r\n\r\nDUE DATETIME:\r\n%3")
        .arg(IsBlankText(aRecord.summary) ? undefined : aRecord.summary,
             IsBlankText(aRecord.note) ? undefined : aRecord.note, DueDateText(aRecord.duedt));
}

void TtasksListPanel::CheckReminders(ItasksNotifier& aNotifier)
{
    // The rows learn of their new marks once, after the whole pass.
    bool marked = false;
    FReminders.CheckReminders(FTaskRecords->Records(), aNotifier,
                              [this, &marked](const QString& aTaskId) {
                                  if (AddUnread(aTaskId))
                                      marked = true;
                              });
    if (marked)
        FTaskRecords->UnreadChanged();
}

void TtasksListPanel::CloseReminders()
{
    FReminders.Close();
}

bool TtasksListPanel::SelectTask(const QString& aTaskId)
{
    const auto& records = FTaskRecords->Records();
    const auto found = std::find_if(records.cbegin(), records.cend(), [&](const auto& aRecord) {
        return aRecord->taskid.compare(aTaskId, Qt::CaseInsensitive) == 0;
    });
    if (found == records.cend())
        return false;
    const QModelIndex source = FTaskRecords->index(int(found - records.cbegin()), 0);
    if (!FTaskRows->mapFromSource(source).isValid() && tabsGroups->count() > 0) {
        // The tab hides the task: "ALL" shows it.
        tabsGroups->setCurrentIndex(0);
        tabsGroupsClick();
    }
    const QModelIndex row = FTaskRows->mapFromSource(source);
    if (!row.isValid())
        return false;
    treeTaskList->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect |
                                                             QItemSelectionModel::Rows);
    treeTaskList->scrollTo(row);
    Q_EMIT ControlsChanged();
    return true;
}

// ---------------------------------------------------------------- in place

void TtasksListPanel::UpdateTasks(const QStringList& aIds)
{
    QStringList ids = aIds;
    ids += FTaskRecords->UnplacedIds();
    // A task finished before today leaves the list at a reload (the program
    // may have run past midnight); only the engine can tell for a finish time
    // in a form other than the store's.
    // The finished tasks are the last rows: the keys stay in the statement's
    // order, as a ticked row keeps the key that placed it.
    const QString today = TaskListToday();
    for (int row = FTaskRecords->Count() - 1;
         row >= 0 && !FTaskRecords->Key(row).finisheddt.isNull(); --row) {
        if (!SurelyListedOn(FTaskRecords->Key(row), today))
            ids << FTaskRecords->Record(row)->taskid;
    }
    ids.removeDuplicates();
    // A notification about a task changed here no longer holds.
    if (FNotifier) {
        for (const QString& id : aIds)
            FNotifier->Withdraw(id);
    }
    std::vector<TStoredTask> tasks;
    const TStoreResult read = TtasksStore::ListTasksOf(ids, tasks);
    if (!read)
        throw EDatabaseError(read.Message(kListUnread));
    // The selection and the focused row go, as with a reload.
    treeTaskList->selectionModel()->clear();
    FTaskRecords->UpdateRows(ids, tasks, QSet<QString>(aIds.cbegin(), aIds.cend()));
    Q_EMIT ControlsChanged();
    Q_EMIT TasksChanged(aIds);
}

void TtasksListPanel::MoveDueDate(const QStringList& aIds, TDateTime aDue)
{
    // Each task's update commits on its own; a refused one does not stop the others.
    const TStoreResult moved = TtasksStore::MoveDueDates(aIds, aDue);
    UpdateTasks(aIds);
    if (!moved)
        TkvdMessageBox::Error(this, moved.Message(QStringLiteral(
                                        "The due date could not be changed for every selected "
                                        "task.")));
}

// ---------------------------------------------------------------- selection

const QStringList& TtasksListPanel::SelectedIds() const
{
    struct TSelected
    {
        quint64 At;
        int Row;
        const QString* Id;
    };
    std::vector<TSelected> selected;
    for (const QModelIndex& index : treeTaskList->selectionModel()->selectedRows(kColCheck)) {
        const int row = FTaskRows->mapToSource(index).row();
        if (const TTaskRecord* record = RecordOfRow(row)) {
            // A row whose selection went unseen comes last, in list order.
            const quint64 at = FSelectedAt.value(record->taskid, ~quint64(0));
            selected.push_back({at, row, &record->taskid});
        }
    }
    std::sort(selected.begin(), selected.end(),
              [](const TSelected& aLeft, const TSelected& aRight) {
                  return aLeft.At != aRight.At ? aLeft.At < aRight.At : aLeft.Row < aRight.Row;
              });
    FSelectedIds.clear();
    for (const TSelected& row : selected)
        FSelectedIds << *row.Id;
    return FSelectedIds;
}

void TtasksListPanel::treeTaskListAddToSelection(int aRow)
{
    if (const TTaskRecord* record = RecordOfRow(aRow))
        FSelectedAt.insert(record->taskid, ++FSelections);
}

void TtasksListPanel::treeTaskListRemoveFromSelection(int aRow)
{
    if (const TTaskRecord* record = RecordOfRow(aRow))
        FSelectedAt.remove(record->taskid);
}

// ---------------------------------------------------------------- handlers

void TtasksListPanel::treeTaskListChecked(int aRow)
{
    ToggleFinished(RecordOfRow(aRow));
}

bool TtasksListPanel::eventFilter(QObject* aWatched, QEvent* aEvent)
{
    // Only presses are looked at: none comes while the window is destroyed.
    const QEvent::Type type = aEvent->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
        aWatched == treeTaskList->viewport())
        FDoubleClickPress = type == QEvent::MouseButtonDblClick;
    if (type == QEvent::KeyPress && (aWatched == edtFind || aWatched == treeTaskList)) {
        const int key = static_cast<QKeyEvent*>(aEvent)->key();
        // Escape ends a find from its field or from the list it narrows.
        if (key == Qt::Key_Escape && pnlFind->isVisible()) {
            CloseFind();
            return true;
        }
        // From the field, the arrow down or Enter goes on to the rows found.
        if (aWatched == edtFind &&
            (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter)) {
            FocusList();
            return true;
        }
    }
    return QWidget::eventFilter(aWatched, aEvent);
}

void TtasksListPanel::treeTaskListClick()
{
    // The release that ends a double click would close the editor it opened.
    if (FDoubleClickPress) {
        FDoubleClickPress = false;
        return;
    }
    Q_EMIT Clicked();
}

void TtasksListPanel::treeTaskListDblClick()
{
    Q_EMIT DoubleClicked();
}

void TtasksListPanel::treeTaskListFocusChanged()
{
    Q_EMIT ControlsChanged();
}

void TtasksListPanel::treeTaskListResize()
{
    // The tree keeps its picture in the bottom right corner by itself.
}

void TtasksListPanel::tabsGroupsClick()
{
    // Only the filter changes: the records, their marks and the database stay.
    // The selection and the focused row go, as the tab starts a new view.
    treeTaskList->selectionModel()->clear();
    const TtasksTag* tag = CurrentTag();
    FTaskRows->SetTagId(tag ? tag->tagid : QString());
    Q_EMIT ControlsChanged();
}

void TtasksListPanel::ShowFind()
{
    pnlFind->setVisible(true);
    FTaskRows->PrepareFind();
    edtFind->setFocus(Qt::ShortcutFocusReason);
    edtFind->selectAll();
}

void TtasksListPanel::CloseFind()
{
    const bool hadFocus = edtFind->hasFocus();
    // Clearing the text shows every row through edtFindChange.
    edtFind->clear();
    pnlFind->setVisible(false);
    FTaskRows->DropFind();
    if (hadFocus)
        treeTaskList->setFocus(Qt::OtherFocusReason);
}

void TtasksListPanel::edtFindChange()
{
    // The selected rows that stay in view stay selected; those that leave it
    // are deselected with their rows, so no command acts on a hidden task.
    FTaskRows->SetFindText(edtFind->text());
    ShowFindCount();
    Q_EMIT ControlsChanged();
}

void TtasksListPanel::ShowFindCount()
{
    if (FTaskRows->FindText().isEmpty()) {
        lblFindCount->clear();
        return;
    }
    const int found = FTaskRows->rowCount();
    lblFindCount->setText(found == 0   ? QStringLiteral("No task found")
                          : found == 1 ? QStringLiteral("1 task")
                                       : QStringLiteral("%1 tasks").arg(found));
}

void TtasksListPanel::FocusList()
{
    // With nothing selected, the current row (or the first) is selected, so
    // that Edit, Delete and the date moves act on a row found. The view's
    // focus-in makes the first row current without selecting it.
    QItemSelectionModel* selection = treeTaskList->selectionModel();
    if (!selection->hasSelection() && FTaskRows->rowCount() > 0) {
        const QModelIndex current = selection->currentIndex();
        selection->setCurrentIndex(current.isValid() ? current : FTaskRows->index(0, 0),
                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    treeTaskList->setFocus(Qt::OtherFocusReason);
}

void TtasksListPanel::btnMarkAsReadClick()
{
    FUnreadIds.clear();
    FTaskRecords->UnreadChanged();
    Q_EMIT ControlsChanged();
}

void TtasksListPanel::tasklist_popupPopup()
{
    Q_EMIT ControlsChanged();
}

void TtasksListPanel::itDuedateMoveClick()
{
    const auto* item = qobject_cast<QAction*>(sender());
    if (!item)
        return;
    const QStringList ids = SelectedIds();
    MoveDueDate(ids, DueDateOfChoice(item->data().value<TDueChoice>()));
}

// ---------------------------------------------------------------- controls

void TtasksListPanel::SetCommandsEnabled(bool aNewTask, bool aEditTask, bool aDeleteTask,
                                         bool aDateMoves)
{
    itTreeNewTask->setEnabled(aNewTask);
    itTreeEditTask->setEnabled(aEditTask);
    itTreeDeleteTask->setEnabled(aDeleteTask);
    // What may be deleted may be exported: the selected tasks.
    actExportSelectedTasks->setEnabled(aDeleteTask);
    for (QAction* item : FDateMoves)
        item->setEnabled(aDateMoves);
}

void TtasksListPanel::SetMarkAsReadVisible(bool aVisible)
{
    btnMarkAsRead->setVisible(aVisible);
}

void TtasksListPanel::RepaintRows()
{
    treeTaskList->viewport()->update();
}

void TtasksListPanel::Release()
{
    // The tabs hold tags of the controller: they go before it does.
    FTabTags.clear();
    FTagsControler = nullptr;
    FTaskRecords->Clear();
    FUnreadIds.clear();
    FSelectedAt.clear();
    FSelectedIds.clear();
}
