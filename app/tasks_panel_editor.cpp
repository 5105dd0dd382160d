#include "app/tasks_panel_editor.h"

#include "app/tasks_panel_list.h"
#include "app/tasks_splitter.h"
#include "settings/tasks_settings.h"
#include "tags/tasks_tags.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QTreeView>
#include <QVBoxLayout>
#include <limits>
#include <utility>

namespace {

constexpr int kEditorHeight = 300;

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

// ---------------------------------------------------------------- building

TtasksEditorPanel::TtasksEditorPanel(TtasksListPanel* aList, QWidget* aParent)
    : QWidget(aParent), FList(aList)
{
    setObjectName(QStringLiteral("pnlEditTask"));
    setFixedHeight(kEditorHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(2);

    lblEditStatus = MakeLabel(this, "lblEditStatus", QString(), true);
    QLabel* lblTaskSummary = MakeLabel(this, "lblTaskSummary", QStringLiteral("Summary"));
    edTaskSummary = new QLineEdit(this);
    edTaskSummary->setObjectName(QStringLiteral("edTaskSummary"));
    // A summary is kept whole however long it is; the field's default limit
    // would cut a pasted text silently.
    edTaskSummary->setMaxLength(std::numeric_limits<int>::max());
    QLabel* lblTaskNotes = MakeLabel(this, "lblTaskNotes", QStringLiteral("Note"));
    edTaskNote = new QPlainTextEdit(this);
    edTaskNote->setObjectName(QStringLiteral("edTaskNote"));
    // The note takes what the panel has left; its own minimum would otherwise
    // push the rows below it over each other in the default panel height.
    edTaskNote->setMinimumHeight(2 * edTaskNote->fontMetrics().height() + 8);
    QLabel* lblTags = MakeLabel(this, "lblTags", QStringLiteral("Tags"));
    vtTags = new QTreeView(this);
    vtTags->setObjectName(QStringLiteral("vtTags"));
    vtTags->setFixedHeight(90);
    QLabel* lblTaskDueDatetime =
        MakeLabel(this, "lblTaskDueDatetime", QStringLiteral("Due Date Time"));
    QWidget* pnlDateTime = BuildDateRow();

    layout->addWidget(lblEditStatus);
    layout->addWidget(lblTaskSummary);
    layout->addWidget(edTaskSummary);
    layout->addWidget(lblTaskNotes);
    layout->addWidget(edTaskNote, 1);
    layout->addWidget(lblTags);
    layout->addWidget(vtTags);
    layout->addWidget(lblTaskDueDatetime);
    layout->addWidget(pnlDateTime);

    splitterEditTask = new TtasksSplitter(this, aParent);
    splitterEditTask->setObjectName(QStringLiteral("splitterEditTask"));
}

TtasksEditorPanel::~TtasksEditorPanel() = default;

QWidget* TtasksEditorPanel::BuildDateRow()
{
    auto* pnlDateTime = new QWidget(this);
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
    auto* group = new QButtonGroup(pnlGeneralDateTime);
    group->setExclusive(true);
    auto radio = [&](const char* aName, const QString& aCaption) {
        auto* button = new QRadioButton(aCaption, pnlGeneralDateTime);
        button->setObjectName(QLatin1String(aName));
        group->addButton(button);
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
                   &TtasksEditorPanel::cbxGeneralDatetimeClick);
    // "Exact" is never checked from code, so any check of it is the user's,
    // by mouse or by the arrow keys that move through the group.
    ConnectGuarded(rbGeneralExact, &QRadioButton::toggled, this, [this](bool aChecked) {
        if (aChecked)
            rbGeneralExactClick();
    });

    dateRow->addWidget(pnlExactDateTime);
    dateRow->addWidget(pnlGeneralDateTime);
    return pnlDateTime;
}

void TtasksEditorPanel::CreateTagsControler()
{
    if (!FTagsControler)
        FTagsControler = std::make_shared<TtasksTagsChecklist>(vtTags);
}

void TtasksEditorPanel::ReleaseTagsControler()
{
    FTagsControler.reset();
}

// ---------------------------------------------------------------- states

void TtasksEditorPanel::SetEditing(bool aEditing)
{
    if (aEditing == FEditing)
        return;
    if (!aEditing)
        FCreating = false;
    FEditing = aEditing;
    FEditTaskId.clear();
    ClearEditor();
    ShowEditor(aEditing);
    Q_EMIT ControlsChanged();
}

void TtasksEditorPanel::ShowEditor(bool aVisible)
{
    setVisible(aVisible);
    splitterEditTask->setVisible(aVisible);
    if (aVisible)
        edTaskSummary->setFocus();
}

void TtasksEditorPanel::ClearEditor()
{
    edTaskSummary->clear();
    edTaskNote->clear();
    const QDateTime rounded = QDateTimeFromDateTime(RoundDateTime(1, TimeGranularity(), Now()));
    edTaskDueDate->setDate(rounded.date());
    edTaskDueTime->setTime(rounded.time());
}

void TtasksEditorPanel::SetDatePanel(bool aGeneral, bool aReset)
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

void TtasksEditorPanel::ShowStatus()
{
    if (FEditing)
        lblEditStatus->setText(FCreating ? QStringLiteral("Creating Task")
                                         : QStringLiteral("Editing Task"));
}

// ---------------------------------------------------------------- commands

void TtasksEditorPanel::EditTask(const TTaskRecord* aRecord)
{
    if (!aRecord)
        return;
    // The record may go with an update of the list; keep what is needed of it.
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
    KeepLoaded(stored);
    Q_EMIT ControlsChanged();
}

void TtasksEditorPanel::KeepLoaded(const TStoredTask& aStored)
{
    FLoaded = aStored;
    FLoadedSummary = edTaskSummary->text();
    FLoadedNote = edTaskNote->toPlainText();
    FLoadedTagIds = TickedTagIds();
}

QStringList TtasksEditorPanel::TickedTagIds() const
{
    QStringList ids;
    for (int index = 0; index < FTagsControler->Count(); ++index) {
        const TtasksTag* tag = FTagsControler->GetTagByIndex(index);
        if (tag->checked())
            ids << tag->tagid;
    }
    return ids;
}

void TtasksEditorPanel::LoadTaskTags(const TTaskRecord& aRecord)
{
    const QStringList ids = aRecord.tagsids.split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int index = 0; index < FTagsControler->Count(); ++index) {
        TtasksTag* tag = FTagsControler->GetTagByIndex(index);
        tag->SetChecked(ids.contains(tag->tagid, Qt::CaseInsensitive));
    }
}

bool TtasksEditorPanel::SaveTask()
{
    if (!FEditing)
        return true;
    QStringList changed;
    if (!(FCreating ? StoreNewTask(GenerateId(), changed) : StoreChanges(changed)))
        return false;
    try {
        FList->UpdateTasks(changed);
    } catch (...) {
        // The task is stored although the list cannot show it: the editor,
        // which stays open, now holds a stored task, so a further save
        // updates it instead of inserting it a second time.
        FCreating = false;
        throw;
    }
    Q_EMIT ControlsChanged();
    return true;
}

bool TtasksEditorPanel::StoreNewTask(const QString& aId, QStringList& aChanged)
{
    TStoredTask task;
    task.taskid = aId;
    task.summary = edTaskSummary->text();
    task.note = edTaskNote->toPlainText();
    task.duedt = EditorDueDate();
    const QStringList tagIds = TickedTagIds();
    // The task row and its links go in one transaction: all of it is stored
    // or nothing.
    const TStoreResult stored = TtasksStore::SaveTask(task, tagIds, true);
    if (!stored) {
        ShowSaveFailure(stored);
        return false;
    }
    FEditTaskId = aId;
    // Should the editor stay open (the list cannot show the task), a further
    // save changes the task as it was stored here.
    task.order.duedt = StoredDueText(task.duedt);
    KeepLoaded(task);
    aChanged << aId;
    return true;
}

bool TtasksEditorPanel::StoreChanges(QStringList& aChanged)
{
    TTaskEdit edit;
    edit.taskid = FEditTaskId;
    edit.loaded = FLoaded;
    const QString summary = edTaskSummary->text();
    if (summary != FLoadedSummary)
        edit.summary = summary;
    const QString note = edTaskNote->toPlainText();
    if (note != FLoadedNote)
        edit.note = note;
    // What the date row would store now against what was stored: an untouched
    // exact date stores the same text again. An unplanned task shows the
    // general choices, whose default stores a due date-time: a change, as the
    // user saves what the row shows.
    const TDateTime due = EditorDueDate();
    if (DueDateTimeDiffers(FLoaded, due))
        edit.duedt = due;
    const QStringList ticked = TickedTagIds();
    for (const QString& id : ticked) {
        if (!FLoadedTagIds.contains(id))
            edit.linkTagIds << id;
    }
    for (const QString& id : std::as_const(FLoadedTagIds)) {
        if (!ticked.contains(id))
            edit.unlinkTagIds << id;
    }

    TTaskEditConflict conflict;
    for (;;) {
        const TStoreResult stored = TtasksStore::SaveTaskEdit(edit, conflict);
        if (!stored) {
            ShowSaveFailure(stored);
            return false;
        }
        if (conflict.gone)
            return StoreDeletedTask(aChanged);
        if (conflict.fields.isEmpty())
            break;
        if (!AskToReplace(conflict))
            return false;
        // The user's values replace what is stored now. Should a field change
        // once more while the question was open, the store finds that too and
        // the user is asked again: nothing is replaced unseen.
        for (const TTaskField field : std::as_const(conflict.fields)) {
            switch (field) {
            case TTaskField::Summary:
                edit.loaded.summary = conflict.stored.summary;
                break;
            case TTaskField::Note:
                edit.loaded.note = conflict.stored.note;
                break;
            case TTaskField::DueDateTime:
                edit.loaded.duedt = conflict.stored.duedt;
                edit.loaded.order.duedt = conflict.stored.order.duedt;
                break;
            }
        }
    }
    // Should the editor stay open, a further save tells the user's next
    // changes from these.
    TStoredTask written = FLoaded;
    written.summary = edit.summary.value_or(FLoaded.summary);
    written.note = edit.note.value_or(FLoaded.note);
    if (edit.duedt) {
        written.duedt = due;
        written.order.duedt = StoredDueText(due);
    }
    KeepLoaded(written);
    aChanged << FEditTaskId;
    return true;
}

bool TtasksEditorPanel::StoreDeletedTask(QStringList& aChanged)
{
    const QString text =
        tr("While you edited this task it was deleted elsewhere.\n\nSave your entries as a new "
           "task? No keeps them in the editor and saves nothing.");
    if (TkvdMessageBox::Show(this, TMsgKind::Confirmation, QApplication::applicationDisplayName(),
                             text, QMessageBox::Yes | QMessageBox::No,
                             QMessageBox::No) != QMessageBox::Yes)
        return false;
    // The entries become a task of their own with a new id, as a new task
    // gets; the deleted task's id stays with its deletion, which the sync may
    // still have to carry to the server.
    const QString deleted = FEditTaskId;
    if (!StoreNewTask(GenerateId(), aChanged))
        return false;
    aChanged << deleted;
    return true;
}

bool TtasksEditorPanel::AskToReplace(const TTaskEditConflict& aConflict)
{
    // What each field is now, so that the user sees what a Yes replaces.
    const auto quoted = [](const QString& aText) {
        constexpr int kShown = 80;
        const QString line = aText.simplified();
        return QStringLiteral("\u201C%1\u201D")
            .arg(line.size() > kShown ? line.left(kShown - 1) + QChar(0x2026) : line);
    };
    QStringList lines;
    for (const TTaskField field : aConflict.fields) {
        switch (field) {
        case TTaskField::Summary:
            lines << tr("the summary is now %1").arg(quoted(aConflict.stored.summary));
            break;
        case TTaskField::Note:
            lines << (aConflict.stored.note.isEmpty()
                          ? tr("the note was removed")
                          : tr("the note is now %1").arg(quoted(aConflict.stored.note)));
            break;
        case TTaskField::DueDateTime:
            lines << (aConflict.stored.duedt == 0
                          ? tr("the task is now unplanned")
                          : tr("the due date is now %1")
                                .arg(QLocale().toString(
                                    QDateTimeFromDateTime(aConflict.stored.duedt),
                                    QLocale::ShortFormat)));
            break;
        }
    }
    const QString text = tr("While you edited this task it was changed elsewhere: %1.\n\n"
                            "Replace that with yours? No keeps your entries in the editor "
                            "and saves nothing.")
                             .arg(QLocale().createSeparatedList(lines));
    // No is the default: a change made elsewhere is never replaced by a
    // keystroke that was meant for something else.
    return TkvdMessageBox::Show(
               this, TMsgKind::Confirmation, QApplication::applicationDisplayName(), text,
               QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void TtasksEditorPanel::ShowSaveFailure(const TStoreResult& aResult)
{
    // The editor stays open with everything typed and ticked; the list keeps
    // its state.
    TkvdMessageBox::Error(this, aResult.Message(QStringLiteral(
                                    "The task could not be saved. Nothing of it was stored; "
                                    "the editor keeps your entries.")));
}

void TtasksEditorPanel::DeleteTask(const TTaskRecord* aRecord)
{
    if (!aRecord)
        return;
    // The record goes with its row.
    const QString id = aRecord->taskid;
    // The task and its tag links go together, so no link is left behind.
    const TStoreResult deleted = TtasksStore::DeleteTask(id);
    if (!deleted)
        TkvdMessageBox::Error(this,
                              deleted.Message(QStringLiteral("The task could not be deleted.")));
    FList->UpdateTasks({id});
    Q_EMIT ControlsChanged();
}

TEditorDateRow TtasksEditorPanel::EditorDateRow() const
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

TDateTime TtasksEditorPanel::EditorDueDate() const
{
    return EditorDueDateOf(EditorDateRow());
}

// ---------------------------------------------------------------- handlers

void TtasksEditorPanel::btnNewTaskClick()
{
    Q_EMIT ShowListAsked();
    // Only the shortcut reaches here while the editor is open (the button and
    // the menu items are disabled then). The open edit is kept: starting a new
    // task over it would either lose what was typed or save a new task under
    // the edited task's id.
    if (FEditing) {
        edTaskSummary->setFocus();
        Q_EMIT ControlsChanged();
        return;
    }
    FCreating = true;
    SetEditing(true);
    SetDatePanel(DefaultDueDateTime() != TDueChoice::Exact, true);
    Q_EMIT ControlsChanged();
}

void TtasksEditorPanel::btnEditClick()
{
    EditTask(FList->SelectedTask());
}

void TtasksEditorPanel::btnSaveTaskClick()
{
    if (SaveTask())
        SetEditing(false);
    Q_EMIT ControlsChanged();
}

void TtasksEditorPanel::btnCancelEditClick()
{
    SetEditing(false);
}

void TtasksEditorPanel::btnDeleteTaskClick()
{
    DeleteTask(FList->SelectedTask());
}

void TtasksEditorPanel::cbxGeneralDatetimeClick()
{
    SetDatePanel(true, true);
}

void TtasksEditorPanel::rbGeneralExactClick()
{
    SetDatePanel(false, false);
}
