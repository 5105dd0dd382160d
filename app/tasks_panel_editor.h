#pragma once

// The editor panel of the main window: the status line, summary, note, the
// tag check list and the date row, with the commands New, Edit, Save, Cancel
// and Delete. It writes through the store and has the list panel update the
// rows of what it changed.

#include "app/tasks_duedates.h"
#include "app/tasks_records.h"

#include <QString>
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

    TtasksListPanel* FList;
    bool FEditing = false;
    QString FEditTaskId;
    bool FCreating = false;
    std::shared_ptr<ItasksTagsControler> FTagsControler;

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
