#include "settings_ui/tasks_form_settings.h"

#include "resources/tasks_themes.h"
#include "settings/tasks_autostart.h"
#include "settings/tasks_settings.h"
#include "store/tasks_store.h"
#include "sync_ui/tasks_sync_controler.h"
#include "sync_ui/tasks_sync_section.h"
#include "tags/tasks_tags.h"
#include "update/kvd_services.h"
#include "util/kvd_colors.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_guard.h"
#include "util/kvd_utils.h"
#include "util/kvd_widgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTreeView>
#include <QVBoxLayout>
#include <cstddef>
#include <iterator>
#include <utility>

namespace {

// An entry's position is its TDueChoice, the number default_duedatetime stores.
const char* const kDueDateEntries[] = {"Unplanned", "1 Hour", "4 Hours", "Tomorrow", "Exact"};
static_assert(std::size(kDueDateEntries) == static_cast<std::size_t>(TDueChoice::Exact) + 1);

QIcon Swatch(int32_t aColor)
{
    QPixmap pixmap(16, 16);
    pixmap.fill(TagColor(aColor));
    QPainter painter(&pixmap);
    painter.setPen(Qt::gray);
    painter.drawRect(0, 0, 15, 15);
    return QIcon(pixmap);
}

QLabel* Heading(const QString& aText, QWidget* aParent)
{
    auto* label = new QLabel(aText, aParent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

// A section's bold title; below another section it keeps a gap to it.
void AddHeading(QVBoxLayout* aColumn, const QString& aText)
{
    if (aColumn->count() > 0)
        aColumn->addSpacing(6);
    aColumn->addWidget(Heading(aText, aColumn->parentWidget()));
}

QPushButton* Button(const QString& aName, const QString& aText, QStyle::StandardPixmap aIcon,
                    QWidget* aParent)
{
    auto* button = new QPushButton(aParent->style()->standardIcon(aIcon), aText, aParent);
    button->setObjectName(aName);
    button->setIconSize(QSize(24, 24));
    // Enter on a focused button presses that button; once the focus is in a
    // field again, Enter presses "OK".
    button->setAutoDefault(true);
    return button;
}

QSpinBox* NumberField(const QString& aName, int aMinimum, int aMaximum, QWidget* aParent)
{
    auto* field = new QSpinBox(aParent);
    field->setObjectName(aName);
    field->setRange(aMinimum, aMaximum);
    field->setSingleStep(1);
    return field;
}

QLineEdit* PathField(const QString& aName, QWidget* aParent)
{
    auto* field = new QLineEdit(aParent);
    field->setObjectName(aName);
    field->setReadOnly(true);
    field->setFrame(false);
    field->setFocusPolicy(Qt::ClickFocus);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    field->setPalette(palette);
    return field;
}

} // namespace

QStringList TfrmSettings::ThemeNames()
{
    return QStringList{kDesktopThemeName} + TasksThemeNames();
}

TfrmSettings::TfrmSettings(QWidget* aParent) : QDialog(aParent)
{
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));

    // Widgets take their place in the Tab order as they are made, so the
    // parts are built from the top left to the bottom right.
    QWidget* settings = BuildSettingsColumn();
    QWidget* tags = BuildTagsColumn();
    QHBoxLayout* buttons = BuildButtons();
    LayOut(settings, tags, buttons);
    ConnectHandlers();

    resize(747, 513);
    CenterOnScreen(this);

    FormCreate();
}

// ---------------------------------------------------------------- left column

QWidget* TfrmSettings::BuildSettingsColumn()
{
    auto* column = new QWidget(this);
    column->setObjectName(QStringLiteral("pnlSettings"));
    column->setFixedWidth(375);
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    BuildUpdatesSection(layout);
    BuildBehaviourSection(layout);
    BuildDueDateSection(layout);
    BuildThemeSection(layout);
    BuildFilesSection(layout);
    layout->addStretch(1);
    return column;
}

void TfrmSettings::BuildUpdatesSection(QVBoxLayout* aColumn)
{
    QWidget* parent = aColumn->parentWidget();
    AddHeading(aColumn, QStringLiteral("Application Updates"));
    btnApplicationUpdates = Button(QStringLiteral("btnApplicationUpdates"),
                                   QStringLiteral("Check Now!"), QStyle::SP_BrowserReload, parent);
    auto* row = new QHBoxLayout;
    row->addWidget(btnApplicationUpdates);
    row->addStretch(1);
    aColumn->addLayout(row);
}

void TfrmSettings::BuildBehaviourSection(QVBoxLayout* aColumn)
{
    QWidget* parent = aColumn->parentWidget();
    AddHeading(aColumn, QStringLiteral("UI Behaviour"));
    cbxCloseMinimizes = new QCheckBox(QStringLiteral("Close Minimizes The Application"), parent);
    cbxCloseMinimizes->setObjectName(QStringLiteral("cbxCloseMinimizes"));
    aColumn->addWidget(cbxCloseMinimizes);
    cbxStartAtLogin = new QCheckBox(QStringLiteral("Start Ulmora when I log in"), parent);
    cbxStartAtLogin->setObjectName(QStringLiteral("cbxStartAtLogin"));
    cbxStartAtLogin->setVisible(StartAtLoginSupported());
    aColumn->addWidget(cbxStartAtLogin);
}

void TfrmSettings::BuildDueDateSection(QVBoxLayout* aColumn)
{
    QWidget* parent = aColumn->parentWidget();
    AddHeading(aColumn, QStringLiteral("Due Date Settings"));
    auto* grid = new QGridLayout;
    edNightHoursFrom = NumberField(QStringLiteral("edNightHoursFrom"), 0, 23, parent);
    edNightHoursTo = NumberField(QStringLiteral("edNightHoursTo"), 0, 23, parent);
    edTimeGranularity = NumberField(QStringLiteral("edTimeGranularity"), 1, 1440, parent);
    edTimeGranularity->setSuffix(QStringLiteral(" min"));
    cbDefaultDueDateTime = new QComboBox(parent);
    cbDefaultDueDateTime->setObjectName(QStringLiteral("cbDefaultDueDateTime"));
    for (const char* entry : kDueDateEntries)
        cbDefaultDueDateTime->addItem(QString::fromLatin1(entry));
    const std::pair<const char*, QWidget*> rows[] = {
        {"Night Hours From:", edNightHoursFrom},
        {"Night Hours To:", edNightHoursTo},
        {"Time Granularity:", edTimeGranularity},
        {"Default Due DateTime:", cbDefaultDueDateTime}};
    int row = 0;
    for (const auto& [text, control] : rows) {
        auto* label = new QLabel(QString::fromLatin1(text), parent);
        label->setBuddy(control);
        grid->addWidget(label, row, 0);
        grid->addWidget(control, row, 1);
        ++row;
    }
    grid->setColumnStretch(1, 1);
    aColumn->addLayout(grid);
}

void TfrmSettings::BuildThemeSection(QVBoxLayout* aColumn)
{
    QWidget* parent = aColumn->parentWidget();
    AddHeading(aColumn, QStringLiteral("Theme"));
    auto* grid = new QGridLayout;
    cbApplicationTheme = new QComboBox(parent);
    cbApplicationTheme->setObjectName(QStringLiteral("cbApplicationTheme"));
    cbApplicationTheme->setEditable(true);
    cbApplicationTheme->setInsertPolicy(QComboBox::NoInsert);
    auto* label = new QLabel(QStringLiteral("Application Theme:"), parent);
    label->setBuddy(cbApplicationTheme);
    grid->addWidget(label, 0, 0);
    grid->addWidget(cbApplicationTheme, 0, 1);
    grid->setColumnStretch(1, 1);
    aColumn->addLayout(grid);
}

void TfrmSettings::BuildFilesSection(QVBoxLayout* aColumn)
{
    QWidget* parent = aColumn->parentWidget();
    AddHeading(aColumn, QStringLiteral("Files"));
    auto* grid = new QGridLayout;
    lblConfigFile = PathField(QStringLiteral("lblConfigFile"), parent);
    lblDBFile = PathField(QStringLiteral("lblDBFile"), parent);
    grid->addWidget(new QLabel(QStringLiteral("Config File:"), parent), 0, 0);
    grid->addWidget(lblConfigFile, 0, 1);
    grid->addWidget(new QLabel(QStringLiteral("DB File:"), parent), 1, 0);
    grid->addWidget(lblDBFile, 1, 1);
    grid->setColumnStretch(1, 1);
    aColumn->addLayout(grid);
}

// ---------------------------------------------------------------- right column

QWidget* TfrmSettings::BuildTagsColumn()
{
    auto* column = new QWidget(this);
    column->setObjectName(QStringLiteral("pnlTags"));
    auto* layout = new QVBoxLayout(column);
    layout->setContentsMargins(0, 0, 0, 0);
    AddHeading(layout, QStringLiteral("Tags"));
    BuildTagButtons(layout);
    BuildTagEditor(layout);
    BuildTagList(layout);
    BuildSyncSection(layout);
    return column;
}

void TfrmSettings::BuildTagButtons(QVBoxLayout* aColumn)
{
    QWidget* parent = aColumn->parentWidget();
    btnNewTag =
        Button(QStringLiteral("btnNewTag"), QStringLiteral("New"), QStyle::SP_FileIcon, parent);
    btnSaveTag = Button(QStringLiteral("btnSaveTag"), QStringLiteral("Save"),
                        QStyle::SP_DialogSaveButton, parent);
    btnDeleteTag = Button(QStringLiteral("btnDeleteTag"), QStringLiteral("Delete"),
                          QStyle::SP_TrashIcon, parent);
    btnCancelTag = Button(QStringLiteral("btnCancelTag"), QStringLiteral("Cancel"),
                          QStyle::SP_DialogCancelButton, parent);
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    for (QPushButton* button : {btnNewTag, btnSaveTag, btnDeleteTag, btnCancelTag})
        row->addWidget(button);
    row->addStretch(1);
    aColumn->addLayout(row);
}

// The title and colour of the tag being created or edited, hidden while no
// tag is.
void TfrmSettings::BuildTagEditor(QVBoxLayout* aColumn)
{
    pnlTagsEdit = new QWidget(aColumn->parentWidget());
    pnlTagsEdit->setObjectName(QStringLiteral("pnlTagsEdit"));
    auto* grid = new QGridLayout(pnlTagsEdit);
    grid->setContentsMargins(0, 4, 0, 4);
    lblEditTag = Heading(QString(), pnlTagsEdit);
    lblEditTag->setObjectName(QStringLiteral("lblEditTag"));
    edTagTitle = new QLineEdit(pnlTagsEdit);
    edTagTitle->setObjectName(QStringLiteral("edTagTitle"));
    edTagColor = new QComboBox(pnlTagsEdit);
    edTagColor->setObjectName(QStringLiteral("edTagColor"));
    edTagColor->setMaxVisibleItems(20);
    for (const TNamedColor& color : kTagColors)
        edTagColor->addItem(Swatch(color.Value), QString::fromLatin1(color.Name), color.Value);
    for (const TtasksSystemColor& color : SystemColors()) {
        const int32_t value = static_cast<int32_t>(0xFF000000u + color.Index);
        edTagColor->addItem(Swatch(value), QString::fromLatin1(color.Name), value);
    }
    auto* titleLabel = new QLabel(QStringLiteral("Title:"), pnlTagsEdit);
    titleLabel->setBuddy(edTagTitle);
    auto* colorLabel = new QLabel(QStringLiteral("Color:"), pnlTagsEdit);
    colorLabel->setBuddy(edTagColor);
    grid->addWidget(lblEditTag, 0, 0, 1, 2);
    grid->addWidget(titleLabel, 1, 0);
    grid->addWidget(edTagTitle, 1, 1);
    grid->addWidget(colorLabel, 2, 0);
    grid->addWidget(edTagColor, 2, 1);
    grid->setColumnStretch(1, 1);
    aColumn->addWidget(pnlTagsEdit);
}

void TfrmSettings::BuildTagList(QVBoxLayout* aColumn)
{
    vtTagsList = new QTreeView(aColumn->parentWidget());
    vtTagsList->setObjectName(QStringLiteral("vtTagsList"));
    aColumn->addWidget(vtTagsList, 1);
}

// Sync with a CalDAV collection, below the tags, where the build has it.
void TfrmSettings::BuildSyncSection(QVBoxLayout* aColumn)
{
    if (!TtasksSyncControler::Supported())
        return;
    AddHeading(aColumn, QStringLiteral("Sync"));
    pnlSync = new TtasksSyncSection(aColumn->parentWidget());
    aColumn->addWidget(pnlSync);
}

// ---------------------------------------------------------------- bottom bar

QHBoxLayout* TfrmSettings::BuildButtons()
{
    btnOK = Button(QStringLiteral("btnOK"), QStringLiteral("OK"), QStyle::SP_DialogOkButton, this);
    btnOK->setDefault(true);
    btnCancel = Button(QStringLiteral("btnCancel"), QStringLiteral("Cancel"),
                       QStyle::SP_DialogCancelButton, this);
    auto* bar = new QHBoxLayout;
    bar->addStretch(1);
    bar->addWidget(btnOK);
    bar->addWidget(btnCancel);
    return bar;
}

// The two columns side by side, the tags taking the width the settings leave,
// and the bottom bar below them.
void TfrmSettings::LayOut(QWidget* aSettings, QWidget* aTags, QHBoxLayout* aButtons)
{
    auto* columns = new QHBoxLayout;
    columns->addWidget(aSettings);
    columns->addSpacing(8);
    columns->addWidget(aTags, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(columns, 1);
    layout->addLayout(aButtons);
}

void TfrmSettings::ConnectHandlers()
{
    ConnectGuarded(btnOK, &QPushButton::clicked, this, &TfrmSettings::btnOKClick);
    ConnectGuarded(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    ConnectGuarded(btnApplicationUpdates, &QPushButton::clicked, this,
                   &TfrmSettings::btnApplicationUpdatesClick);
    ConnectGuarded(btnNewTag, &QPushButton::clicked, this, &TfrmSettings::btnNewTagClick);
    ConnectGuarded(btnSaveTag, &QPushButton::clicked, this, &TfrmSettings::btnSaveTagClick);
    ConnectGuarded(btnDeleteTag, &QPushButton::clicked, this, &TfrmSettings::btnDeleteTagClick);
    ConnectGuarded(btnCancelTag, &QPushButton::clicked, this, &TfrmSettings::btnCancelTagClick);
    ConnectGuarded(vtTagsList, &QTreeView::clicked, this, &TfrmSettings::vtTagsListClick);
    ConnectGuarded(vtTagsList, &QTreeView::doubleClicked, this, &TfrmSettings::vtTagsListDblClick);
    // The view reports clicks on rows only; a click on its empty part is a click
    // in the list as well.
    vtTagsList->viewport()->installEventFilter(this);
}

// ---------------------------------------------------------------- life

TfrmSettings::~TfrmSettings()
{
    FormDestroy();
}

void TfrmSettings::FormCreate()
{
    FTagsControler = std::make_shared<TtasksTagsView>(vtTagsList);
    pnlTagsEdit->hide();
}

void TfrmSettings::FormDestroy()
{
    vtTagsList->viewport()->removeEventFilter(this);
    // The controller goes before the widgets it drives.
    FTagsControler.reset();
}

void TfrmSettings::showEvent(QShowEvent* aEvent)
{
    QDialog::showEvent(aEvent);
    if (!FShown) {
        FShown = true;
        FormShow();
    }
}

bool TfrmSettings::eventFilter(QObject* aWatched, QEvent* aEvent)
{
    if (aWatched == vtTagsList->viewport()) {
        if (aEvent->type() == QEvent::MouseButtonDblClick) {
            FTagListDblClick = true;
        } else if (aEvent->type() == QEvent::MouseButtonRelease) {
            // The release of a double click is no click of its own: the editor
            // it opened has pushed the rows away from under the mouse.
            const bool endsDblClick = std::exchange(FTagListDblClick, false);
            auto* mouse = static_cast<QMouseEvent*>(aEvent);
            const QPoint position = mouse->position().toPoint();
            if (!endsDblClick && mouse->button() == Qt::LeftButton &&
                vtTagsList->viewport()->rect().contains(position) &&
                !vtTagsList->indexAt(position).isValid())
                vtTagsListClick();
        }
    }
    return QDialog::eventFilter(aWatched, aEvent);
}

void TfrmSettings::FormShow()
{
    btnOK->setFocus();
    // Filling the list must not change the text, which is the current setting.
    const QString current = cbApplicationTheme->currentText();
    cbApplicationTheme->clear();
    cbApplicationTheme->addItems(ThemeNames());
    cbApplicationTheme->setEditText(current);
    CancelTagEdit();
    ReloadTags();
    UpdateTagButtons();
}

void TfrmSettings::SettingsToControls()
{
    // A value out of range, which only a hand-edited file holds, shows as the
    // default that the program uses in its place.
    edNightHoursFrom->setValue(NightHoursFrom());
    edNightHoursTo->setValue(NightHoursTo());
    edTimeGranularity->setValue(TimeGranularity());
    cbApplicationTheme->setEditText(theme);
    cbDefaultDueDateTime->setCurrentIndex(
        default_duedatetime >= 0 && default_duedatetime < cbDefaultDueDateTime->count()
            ? default_duedatetime
            : -1);
    cbxCloseMinimizes->setChecked(close_minimizes);
    cbxStartAtLogin->setChecked(StartsAtLogin());
    TtasksSettings* settings = GetTasksSettings();
    // Shown as the system writes paths; the stored setting keeps its form.
    lblConfigFile->setText(
        NativePath(ExpandEnvVars(settings ? settings->FileName() : DefaultConfigFile())));
    lblDBFile->setText(NativePath(ExpandEnvVars(db_file)));
    for (QLineEdit* field : {lblConfigFile, lblDBFile}) {
        field->setCursorPosition(0);
        field->setToolTip(field->text());
    }
    if (pnlSync)
        pnlSync->SettingsToControls();
}

void TfrmSettings::ControlsToSettings()
{
    // Typed text that is not yet a value is taken as the field shows it.
    for (QSpinBox* field : {edNightHoursFrom, edNightHoursTo, edTimeGranularity})
        field->interpretText();
    night_hours_from = edNightHoursFrom->value();
    night_hours_to = edNightHoursTo->value();
    time_granularity = edTimeGranularity->value();
    theme = cbApplicationTheme->currentText();
    default_duedatetime = cbDefaultDueDateTime->currentIndex();
    close_minimizes = cbxCloseMinimizes->isChecked();
    if (TtasksSettings* settings = GetTasksSettings())
        settings->Save();
    if (pnlSync)
        pnlSync->ControlsToSettings();
}

bool TfrmSettings::ControlsToStartAtLogin()
{
    const bool wanted = cbxStartAtLogin->isChecked();
    if (!StartAtLoginSupported() || wanted == StartsAtLogin())
        return true;
    QString reason;
    if (SetStartAtLogin(wanted, StartAtLoginProgram(), reason))
        return true;
    const QString what = wanted ? QStringLiteral("Ulmora could not set itself to start when you "
                                                 "log in. No setting was saved.")
                                : QStringLiteral("Ulmora could not stop starting when you log "
                                                 "in. No setting was saved.");
    TkvdMessageBox::Error(this, FailureText(what, reason));
    return false;
}

void TfrmSettings::btnOKClick()
{
    if (ControlsToStartAtLogin())
        accept();
}

// ---------------------------------------------------------------- tag editor

void TfrmSettings::ShowTagEditor(bool aVisible)
{
    pnlTagsEdit->setVisible(aVisible);
    if (aVisible)
        edTagTitle->setFocus();
}

void TfrmSettings::UpdateTagButtons()
{
    btnNewTag->setEnabled(!FTagEditing);
    btnDeleteTag->setEnabled(!FTagEditing);
    btnSaveTag->setEnabled(FTagEditing);
    btnCancelTag->setEnabled(FTagEditing);
}

void TfrmSettings::CancelTagEdit()
{
    FTagEditing = false;
    FTagCreating = false;
    FTagId.clear();
    ShowTagEditor(false);
    UpdateTagButtons();
}

void TfrmSettings::NewTag()
{
    FTagCreating = true;
    FTagEditing = true;
    FTagId = GenerateId();
    ShowTagEditor(true);
    lblEditTag->setText(QStringLiteral("Creating Tag"));
    SelectTagColor(0);
    edTagTitle->clear();
    edTagTitle->setFocus();
    UpdateTagButtons();
}

void TfrmSettings::EditTag(const QString& aId)
{
    TtasksTag* tag = FTagsControler->GetTag(aId);
    if (!tag)
        return;
    FTagEditing = true;
    FTagCreating = false;
    FTagId = aId;
    ShowTagEditor(true);
    lblEditTag->setText(QStringLiteral("Editing Tag"));
    SelectTagColor(tag->color);
    edTagTitle->setText(tag->title);
    edTagTitle->setFocus();
    UpdateTagButtons();
}

bool TfrmSettings::SaveTag()
{
    if (!FTagEditing)
        return false;
    TStoredTag tag;
    tag.tagid = FTagId;
    tag.title = edTagTitle->text();
    tag.color = SelectedTagColor();
    const TStoreResult saved = TtasksStore::SaveTag(tag, FTagCreating);
    if (!saved) {
        // The editor stays open with what the user typed.
        TkvdMessageBox::Error(this, saved.Message(QStringLiteral("The tag could not be saved.")));
        return false;
    }
    ReloadTags();
    CancelTagEdit();
    return true;
}

bool TfrmSettings::DeleteTagById(const QString& aId)
{
    // The tag and its links go together or not at all.
    const TStoreResult deleted = TtasksStore::DeleteTag(aId);
    if (!deleted) {
        TkvdMessageBox::Error(this,
                              deleted.Message(QStringLiteral("The tag could not be deleted.")));
        return false;
    }
    ReloadTags();
    CancelTagEdit();
    return true;
}

void TfrmSettings::ReloadTags()
{
    try {
        LoadTags(FTagsControler.get());
    } catch (const std::exception& error) {
        TkvdMessageBox::Error(this, ErrorMessage(error));
    }
    UpdateTagButtons();
}

int32_t TfrmSettings::SelectedTagColor() const
{
    const QVariant value = edTagColor->currentData();
    return value.isValid() ? static_cast<int32_t>(value.toInt()) : 0;
}

void TfrmSettings::SelectTagColor(int32_t aColor)
{
    int index = edTagColor->findData(aColor);
    if (index < 0) {
        edTagColor->addItem(
            Swatch(aColor),
            QStringLiteral("$%1").arg(static_cast<uint32_t>(aColor), 8, 16, QLatin1Char('0')),
            aColor);
        index = edTagColor->count() - 1;
    }
    edTagColor->setCurrentIndex(index);
}

// ---------------------------------------------------------------- handlers

void TfrmSettings::btnApplicationUpdatesClick()
{
    try {
        CheckForUpdatesClick();
    } catch (const std::exception& error) {
        // A failed check is told to the user; the dialog stays open.
        TkvdMessageBox::Error(this, ErrorMessage(error));
    }
}

void TfrmSettings::CheckForUpdatesClick()
{
    if (TkvdServices* services = GetServices())
        services->CheckForUpdates(this);
}

void TfrmSettings::btnNewTagClick()
{
    NewTag();
}

void TfrmSettings::btnSaveTagClick()
{
    SaveTag();
}

void TfrmSettings::btnDeleteTagClick()
{
    if (TtasksTag* tag = FTagsControler->GetSelected())
        DeleteTagById(tag->tagid);
}

void TfrmSettings::btnCancelTagClick()
{
    CancelTagEdit();
}

void TfrmSettings::vtTagsListClick()
{
    CancelTagEdit();
}

void TfrmSettings::vtTagsListDblClick()
{
    if (TtasksTag* tag = FTagsControler->GetSelected())
        EditTag(tag->tagid);
}

bool ShowSettingsDialog(QWidget* aParent)
{
    GetTasksSettings();
    TfrmSettings dialog(aParent);
    dialog.SettingsToControls();
    const bool accepted = dialog.exec() == QDialog::Accepted;
    if (accepted)
        dialog.ControlsToSettings();
    return accepted;
}
