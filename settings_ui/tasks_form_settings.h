#pragma once

// The settings dialog: the user settings, the paths of the settings file and
// the task database, the update check, and the tag editor. The main window
// calls ShowSettingsDialog; after true it applies the theme named by `theme`,
// and in every case it reloads its tags and tag tabs, since tag changes are
// written at once and stay written even after "Cancel".

#include <QDialog>
#include <QStringList>
#include <cstdint>
#include <memory>

class ItasksTagsControler;
class QCheckBox;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTreeView;
class QVBoxLayout;
class QWidget;
class TtasksSyncSection;

class TfrmSettings : public QDialog
{
    Q_OBJECT

public:
    // Runs FormCreate: the tag view on vtTagsList.
    explicit TfrmSettings(QWidget* aParent = nullptr);
    // Runs FormDestroy.
    ~TfrmSettings() override;

    // The settings variables into the controls.
    void SettingsToControls();
    // The controls into the settings variables, which are then saved to the
    // settings file. The number fields only hold values in their ranges.
    void ControlsToSettings();
    // Writes or removes the start at login entry when the check box no
    // longer says what the entry does. A failure is shown and gives false;
    // the entry is then as it was.
    bool ControlsToStartAtLogin();

    // The tag editor.
    void NewTag();
    void EditTag(const QString& aId);
    // Writes the tag in the editor. When the statement fails the user is told
    // and the editor stays open with its input; true when it was written.
    bool SaveTag();
    // Deletes the tag and its links in one transaction; a failure is shown
    // and nothing is deleted. True when deleted.
    bool DeleteTagById(const QString& aId);
    void ReloadTags();
    void CancelTagEdit();
    void UpdateTagButtons();

    bool TagEditing() const { return FTagEditing; }
    bool TagCreating() const { return FTagCreating; }
    const QString& TagId() const { return FTagId; }
    ItasksTagsControler* TagsControler() const { return FTagsControler.get(); }

    // The colour value of the entry selected in edTagColor, 0 when none is.
    int32_t SelectedTagColor() const;
    // Selects the entry of aColor, adding one for a value the list lacks so that
    // saving keeps the tag's colour.
    void SelectTagColor(int32_t aColor);

    // The entries of the theme list: "Windows", the desktop's own look, and then
    // the themes the application carries, in the order the list shows them.
    static QStringList ThemeNames();

protected:
    void showEvent(QShowEvent* aEvent) override;
    // A click on the tag list below its rows drops the edit like a click on a row.
    bool eventFilter(QObject* aWatched, QEvent* aEvent) override;

private:
    // The parts of the dialog in the order the constructor builds them, which
    // is the order of the Tab key: the settings column, the tags column, the
    // bottom bar.
    QWidget* BuildSettingsColumn();
    void BuildUpdatesSection(QVBoxLayout* aColumn);
    void BuildBehaviourSection(QVBoxLayout* aColumn);
    void BuildDueDateSection(QVBoxLayout* aColumn);
    void BuildThemeSection(QVBoxLayout* aColumn);
    void BuildFilesSection(QVBoxLayout* aColumn);
    QWidget* BuildTagsColumn();
    void BuildTagButtons(QVBoxLayout* aColumn);
    void BuildTagEditor(QVBoxLayout* aColumn);
    void BuildTagList(QVBoxLayout* aColumn);
    void BuildSyncSection(QVBoxLayout* aColumn);
    QHBoxLayout* BuildButtons();
    void LayOut(QWidget* aSettings, QWidget* aTags, QHBoxLayout* aButtons);
    void ConnectHandlers();

    void FormCreate();
    void FormShow();
    void FormDestroy();
    void ShowTagEditor(bool aVisible);

    // The start at login entry first: when it cannot be changed the dialog
    // stays open and nothing is taken.
    void btnOKClick();
    void btnApplicationUpdatesClick();
    // Runs the update service's interactive check.
    void CheckForUpdatesClick();
    void btnNewTagClick();
    void btnSaveTagClick();
    void btnDeleteTagClick();
    void btnCancelTagClick();
    void vtTagsListClick();
    void vtTagsListDblClick();

    std::shared_ptr<ItasksTagsControler> FTagsControler;

    // The controls; each has its field's name as its object name, which is how
    // the tests find them.
    // "Application Updates"
    QPushButton* btnApplicationUpdates = nullptr;
    // "UI Behaviour"
    QCheckBox* cbxCloseMinimizes = nullptr;
    // Shows whether the start at login entry is there; hidden where the
    // platform has none.
    QCheckBox* cbxStartAtLogin = nullptr;
    // "Due Date Settings"
    QSpinBox* edNightHoursFrom = nullptr;
    QSpinBox* edNightHoursTo = nullptr;
    QSpinBox* edTimeGranularity = nullptr;
    QComboBox* cbDefaultDueDateTime = nullptr;
    // "Theme"
    QComboBox* cbApplicationTheme = nullptr;
    // "Files": read-only text fields
    QLineEdit* lblConfigFile = nullptr;
    QLineEdit* lblDBFile = nullptr;
    // "Tags"
    QPushButton* btnNewTag = nullptr;
    QPushButton* btnSaveTag = nullptr;
    QPushButton* btnDeleteTag = nullptr;
    QPushButton* btnCancelTag = nullptr;
    QWidget* pnlTagsEdit = nullptr;
    QLabel* lblEditTag = nullptr;
    QLineEdit* edTagTitle = nullptr;
    QComboBox* edTagColor = nullptr;
    QTreeView* vtTagsList = nullptr;
    // bottom bar
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    // The "Sync" section; nullptr where the build has no sync.
    TtasksSyncSection* pnlSync = nullptr;
    bool FTagEditing = false;
    bool FTagCreating = false;
    QString FTagId;
    bool FShown = false;
    // The next release in the tag list ends a double click.
    bool FTagListDblClick = false;
};

// Shows the dialog modally, filled from the settings; after "OK" the controls
// go into the settings, which are saved to the file. True when "OK" closed it.
bool ShowSettingsDialog(QWidget* aParent = nullptr);
