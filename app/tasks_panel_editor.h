#pragma once

// The editor panel of the main window: the status line, summary, note, the
// tag check list and the date row, with the commands New, Edit, Save, Cancel
// and Delete. It writes through the store and has the list panel update the
// rows of what it changed.

#include "app/tasks_records.h"
#include "due/tasks_duedates.h"
#include "store/tasks_store.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>

class ItasksTagsControler;
class QButtonGroup;
class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QRadioButton;
class QTimeEdit;
class QTreeView;
class TtasksListPanel;
class TtasksSplitter;

class TtasksEditorPanel : public QWidget
{
    Q_OBJECT
public:
    // aList gives the selected task to Edit and Delete and shows what they
    // change. aParent also holds the splitter above the panel.
    TtasksEditorPanel(TtasksListPanel* aList, QWidget* aParent);
    ~TtasksEditorPanel() override;

    // The tag check list on the editor's tag list, made when the window is
    // created and released when it is destroyed.
    void CreateTagsControler();
    void ReleaseTagsControler();
    ItasksTagsControler* TagsControler() const { return FTagsControler.get(); }
    // The bar that the user drags to change the panel's height.
    TtasksSplitter* Splitter() const { return splitterEditTask; }

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
    // Writes the open task and its tag links in one transaction and updates
    // its row. When the database refuses, nothing of it is stored, the error
    // is shown and false is returned: the editor keeps its contents.
    // A stored task gets only what the user changed since it was opened: a
    // field changed elsewhere meanwhile that the user left alone is kept, and
    // one the user changed too is replaced only when the user says so. A task
    // deleted meanwhile is stored again as a new task when the user says so.
    // Each answer that stores nothing returns false with the editor as it was.
    bool SaveTask();
    // Deletes the task and its tag links and takes its row out. Nothing for none.
    void DeleteTask(const TTaskRecord* aRecord);
    // What the date row shows, and the due date-time it stands for (0: none).
    TEditorDateRow EditorDateRow() const;
    TDateTime EditorDueDate() const;

    bool Editing() const { return FEditing; }
    bool Creating() const { return FCreating; }
    const QString& EditTaskId() const { return FEditTaskId; }
    // The status line, as UpdateControls sets it: only while editing.
    void ShowStatus();

public Q_SLOTS:
    void btnNewTaskClick();
    void btnEditClick();
    void btnSaveTaskClick();
    void btnCancelEditClick();
    void btnDeleteTaskClick();
    void cbxGeneralDatetimeClick();
    void rbGeneralExactClick();

Q_SIGNALS:
    // What UpdateControls shows may have changed.
    void ControlsChanged();
    // "New" shows the main window first.
    void ShowListAsked();

private:
    QWidget* BuildDateRow();
    // The ids of the tags ticked in the check list.
    QStringList TickedTagIds() const;
    // Keeps aStored as the open task read from the database, and what the
    // fields show for it, as what a save tells the user's changes by.
    void KeepLoaded(const TStoredTask& aStored);
    // Stores everything the editor shows as the new task aId; adds the ids
    // whose rows changed to aChanged.
    bool StoreNewTask(const QString& aId, QStringList& aChanged);
    // Writes the user's changes of the open stored task, asking about those
    // that meet a change made elsewhere.
    bool StoreChanges(QStringList& aChanged);
    // The open task was deleted elsewhere: stores the entries as a new task
    // when the user says so.
    bool StoreDeletedTask(QStringList& aChanged);
    bool AskToReplace(const TTaskEditConflict& aConflict);
    void ShowSaveFailure(const TStoreResult& aResult);

    TtasksListPanel* FList;
    bool FEditing = false;
    QString FEditTaskId;
    bool FCreating = false;
    std::shared_ptr<ItasksTagsControler> FTagsControler;
    // The open stored task as it was read, and the summary, note and ticks
    // that the fields showed for it: a save compares the fields with these to
    // write only what the user changed, and hands the row to the store to
    // tell what was changed elsewhere meanwhile. The fields may show a text
    // otherwise than it is stored (line breaks), so each side is kept.
    TStoredTask FLoaded;
    QString FLoadedSummary;
    QString FLoadedNote;
    QStringList FLoadedTagIds;

    TtasksSplitter* splitterEditTask = nullptr;
    QLabel* lblEditStatus = nullptr;
    QLineEdit* edTaskSummary = nullptr;
    QPlainTextEdit* edTaskNote = nullptr;
    QTreeView* vtTags = nullptr;
    QWidget* pnlExactDateTime = nullptr;
    QDateEdit* edTaskDueDate = nullptr;
    QTimeEdit* edTaskDueTime = nullptr;
    QCheckBox* cbxGeneralDatetime = nullptr;
    QWidget* pnlGeneralDateTime = nullptr;
    QRadioButton* rbGeneralUnplanned = nullptr;
    QRadioButton* rbGeneralHour = nullptr;
    QRadioButton* rbGeneral4Hours = nullptr;
    QRadioButton* rbGeneralTomorrow = nullptr;
    QRadioButton* rbGeneralExact = nullptr;
};
