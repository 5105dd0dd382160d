#include "settings/tasks_form_settings.h"

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

    // ---- left column: five sections
    auto* left = new QWidget(this);
    left->setObjectName(QStringLiteral("pnlSettings"));
    left->setFixedWidth(375);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);

    leftLayout->addWidget(Heading(QStringLiteral("Application Updates"), left));
    btnApplicationUpdates = Button(QStringLiteral("btnApplicationUpdates"),
                                   QStringLiteral("Check Now!"), QStyle::SP_BrowserReload, left);
    auto* updatesRow = new QHBoxLayout;
    updatesRow->addWidget(btnApplicationUpdates);
    updatesRow->addStretch(1);
    leftLayout->addLayout(updatesRow);

    leftLayout->addSpacing(6);
    leftLayout->addWidget(Heading(QStringLiteral("UI Behaviour"), left));
    cbxCloseMinimizes = new QCheckBox(QStringLiteral("Close Minimizes The Application"), left);
    cbxCloseMinimizes->setObjectName(QStringLiteral("cbxCloseMinimizes"));
    leftLayout->addWidget(cbxCloseMinimizes);
    cbxStartAtLogin = new QCheckBox(QStringLiteral("Start Ulmora when I log in"), left);
    cbxStartAtLogin->setObjectName(QStringLiteral("cbxStartAtLogin"));
    cbxStartAtLogin->setVisible(StartAtLoginSupported());
    leftLayout->addWidget(cbxStartAtLogin);

    leftLayout->addSpacing(6);
    leftLayout->addWidget(Heading(QStringLiteral("Due Date Settings"), left));
    auto* dueGrid = new QGridLayout;
    edNightHoursFrom = NumberField(QStringLiteral("edNightHoursFrom"), 0, 23, left);
    edNightHoursTo = NumberField(QStringLiteral("edNightHoursTo"), 0, 23, left);
    edTimeGranularity = NumberField(QStringLiteral("edTimeGranularity"), 1, 1440, left);
    edTimeGranularity->setSuffix(QStringLiteral(" min"));
    cbDefaultDueDateTime = new QComboBox(left);
    cbDefaultDueDateTime->setObjectName(QStringLiteral("cbDefaultDueDateTime"));
    for (const char* entry : kDueDateEntries)
        cbDefaultDueDateTime->addItem(QString::fromLatin1(entry));
    const std::pair<const char*, QWidget*> dueRows[] = {
        {"Night Hours From:", edNightHoursFrom},
        {"Night Hours To:", edNightHoursTo},
        {"Time Granularity:", edTimeGranularity},
        {"Default Due DateTime:", cbDefaultDueDateTime}};
    int row = 0;
    for (const auto& [text, control] : dueRows) {
        auto* label = new QLabel(QString::fromLatin1(text), left);
        label->setBuddy(control);
        dueGrid->addWidget(label, row, 0);
        dueGrid->addWidget(control, row, 1);
        ++row;
    }
    dueGrid->setColumnStretch(1, 1);
    leftLayout->addLayout(dueGrid);

    leftLayout->addSpacing(6);
    leftLayout->addWidget(Heading(QStringLiteral("Theme"), left));
    auto* themeGrid = new QGridLayout;
    cbApplicationTheme = new QComboBox(left);
    cbApplicationTheme->setObjectName(QStringLiteral("cbApplicationTheme"));
    cbApplicationTheme->setEditable(true);
    cbApplicationTheme->setInsertPolicy(QComboBox::NoInsert);
    auto* themeLabel = new QLabel(QStringLiteral("Application Theme:"), left);
    themeLabel->setBuddy(cbApplicationTheme);
    themeGrid->addWidget(themeLabel, 0, 0);
    themeGrid->addWidget(cbApplicationTheme, 0, 1);
    themeGrid->setColumnStretch(1, 1);
    leftLayout->addLayout(themeGrid);

    leftLayout->addSpacing(6);
    leftLayout->addWidget(Heading(QStringLiteral("Files"), left));
    auto* filesGrid = new QGridLayout;
    lblConfigFile = PathField(QStringLiteral("lblConfigFile"), left);
    lblDBFile = PathField(QStringLiteral("lblDBFile"), left);
    filesGrid->addWidget(new QLabel(QStringLiteral("Config File:"), left), 0, 0);
    filesGrid->addWidget(lblConfigFile, 0, 1);
    filesGrid->addWidget(new QLabel(QStringLiteral("DB File:"), left), 1, 0);
    filesGrid->addWidget(lblDBFile, 1, 1);
    filesGrid->setColumnStretch(1, 1);
    leftLayout->addLayout(filesGrid);
    leftLayout->addStretch(1);

    // ---- right part: the tag editor
    auto* right = new QWidget(this);
    right->setObjectName(QStringLiteral("pnlTags"));
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(Heading(QStringLiteral("Tags"), right));
    btnNewTag =
        Button(QStringLiteral("btnNewTag"), QStringLiteral("New"), QStyle::SP_FileIcon, right);
    btnSaveTag = Button(QStringLiteral("btnSaveTag"), QStringLiteral("Save"),
                        QStyle::SP_DialogSaveButton, right);
    btnDeleteTag = Button(QStringLiteral("btnDeleteTag"), QStringLiteral("Delete"),
                          QStyle::SP_TrashIcon, right);
    btnCancelTag = Button(QStringLiteral("btnCancelTag"), QStringLiteral("Cancel"),
                          QStyle::SP_DialogCancelButton, right);
    auto* tagButtons = new QHBoxLayout;
    tagButtons->setSpacing(4);
    for (QPushButton* button : {btnNewTag, btnSaveTag, btnDeleteTag, btnCancelTag})
        tagButtons->addWidget(button);
    tagButtons->addStretch(1);
    rightLayout->addLayout(tagButtons);

    pnlTagsEdit = new QWidget(right);
    pnlTagsEdit->setObjectName(QStringLiteral("pnlTagsEdit"));
    auto* editGrid = new QGridLayout(pnlTagsEdit);
    editGrid->setContentsMargins(0, 4, 0, 4);
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
    editGrid->addWidget(lblEditTag, 0, 0, 1, 2);
    editGrid->addWidget(titleLabel, 1, 0);
    editGrid->addWidget(edTagTitle, 1, 1);
    editGrid->addWidget(colorLabel, 2, 0);
    editGrid->addWidget(edTagColor, 2, 1);
    editGrid->setColumnStretch(1, 1);
    rightLayout->addWidget(pnlTagsEdit);

    vtTagsList = new QTreeView(right);
    vtTagsList->setObjectName(QStringLiteral("vtTagsList"));
    rightLayout->addWidget(vtTagsList, 1);
    // Sync with a CalDAV collection, below the tags, where the build has it.
    if (TtasksSyncControler::Supported()) {
        rightLayout->addSpacing(6);
        rightLayout->addWidget(Heading(QStringLiteral("Sync"), right));
        pnlSync = new TtasksSyncSection(right);
        rightLayout->addWidget(pnlSync);
    }

    // ---- bottom bar
    btnOK = Button(QStringLiteral("btnOK"), QStringLiteral("OK"), QStyle::SP_DialogOkButton, this);
    btnOK->setDefault(true);
    btnCancel = Button(QStringLiteral("btnCancel"), QStringLiteral("Cancel"),
                       QStyle::SP_DialogCancelButton, this);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    bottom->addWidget(btnOK);
    bottom->addWidget(btnCancel);

    auto* columns = new QHBoxLayout;
    columns->addWidget(left);
    columns->addSpacing(8);
    columns->addWidget(right, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addLayout(columns, 1);
    layout->addLayout(bottom);

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

    resize(747, 513);
    CenterOnScreen(this);

    FormCreate();
}

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
