#include "sync_ui/tasks_sync_section.h"

#include "settings/tasks_sync_settings.h"
#include "sync_ui/tasks_sync_controler.h"
#include "util/kvd_guard.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

TtasksSyncSection::TtasksSyncSection(QWidget* aParent) : QWidget(aParent)
{
    setObjectName(QStringLiteral("pnlSync"));
    edSyncUrl = new QLineEdit(this);
    edSyncUrl->setObjectName(QStringLiteral("edSyncUrl"));
    edSyncUrl->setPlaceholderText(QStringLiteral("https://host/remote.php/dav/calendars/..."));
    edSyncUser = new QLineEdit(this);
    edSyncUser->setObjectName(QStringLiteral("edSyncUser"));
    edSyncPassword = new QLineEdit(this);
    edSyncPassword->setObjectName(QStringLiteral("edSyncPassword"));
    edSyncPassword->setEchoMode(QLineEdit::Password);
    edSyncPassword->setPlaceholderText(QStringLiteral("kept in the keyring"));
    cbxSyncEnabled = new QCheckBox(QStringLiteral("Sync the tasks with this collection"), this);
    cbxSyncEnabled->setObjectName(QStringLiteral("cbxSyncEnabled"));
    btnSyncNow = new QPushButton(QStringLiteral("Sync Now"), this);
    btnSyncNow->setObjectName(QStringLiteral("btnSyncNow"));
    lblSyncResult = new QLabel(this);
    lblSyncResult->setObjectName(QStringLiteral("lblSyncResult"));
    lblSyncResult->setWordWrap(true);
    lblSyncResult->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setVerticalSpacing(4);
    const auto addRow = [&](int aRow, const QString& aCaption, QLineEdit* aField) {
        auto* label = new QLabel(aCaption, this);
        label->setBuddy(aField);
        grid->addWidget(label, aRow, 0);
        grid->addWidget(aField, aRow, 1);
    };
    addRow(0, QStringLiteral("Collection URL:"), edSyncUrl);
    addRow(1, QStringLiteral("User name:"), edSyncUser);
    addRow(2, QStringLiteral("Password:"), edSyncPassword);
    auto* row = new QHBoxLayout;
    row->addWidget(cbxSyncEnabled, 1);
    row->addWidget(btnSyncNow);
    grid->addLayout(row, 3, 0, 1, 2);
    grid->addWidget(lblSyncResult, 4, 0, 1, 2);
    grid->setColumnStretch(1, 1);

    ConnectGuarded(btnSyncNow, &QPushButton::clicked, this, &TtasksSyncSection::btnSyncNowClick);
    ConnectGuarded(edSyncUrl, &QLineEdit::textChanged, this, &TtasksSyncSection::UpdateButtons);
    ConnectGuarded(cbxSyncEnabled, &QCheckBox::toggled, this, &TtasksSyncSection::UpdateButtons);
    if (TtasksSyncControler* controler = TtasksSyncControler::Current()) {
        ConnectGuarded(controler, &TtasksSyncControler::ResultChanged, this,
                       &TtasksSyncSection::ShowResult);
        ShowResult(controler->ResultText());
    } else {
        ShowResult(QString());
    }
    UpdateButtons();
}

void TtasksSyncSection::SettingsToControls()
{
    const TSyncSettings settings = ReadSyncSettings();
    edSyncUrl->setText(settings.url);
    edSyncUrl->setCursorPosition(0);
    edSyncUser->setText(settings.user);
    cbxSyncEnabled->setChecked(settings.enabled);
    const TtasksSyncControler* controler = TtasksSyncControler::Current();
    FShownPassword = controler ? controler->KnownPassword() : QString();
    edSyncPassword->setText(FShownPassword);
    UpdateButtons();
}

void TtasksSyncSection::ControlsToSettings()
{
    TSyncSettings settings;
    settings.url = edSyncUrl->text().trimmed();
    settings.user = edSyncUser->text().trimmed();
    settings.enabled = cbxSyncEnabled->isChecked();
    WriteSyncSettings(settings);
    TtasksSyncControler* controler = TtasksSyncControler::Current();
    if (!controler)
        return;
    // The new collection first, so the password is filed under its name.
    controler->Reconfigure();
    if (edSyncPassword->text() != FShownPassword) {
        FShownPassword = edSyncPassword->text();
        controler->SetPassword(FShownPassword);
    }
}

void TtasksSyncSection::btnSyncNowClick()
{
    // The sync runs with what the section shows, which is kept as after "OK".
    ControlsToSettings();
    if (TtasksSyncControler* controler = TtasksSyncControler::Current())
        controler->SyncNow();
}

void TtasksSyncSection::UpdateButtons()
{
    btnSyncNow->setEnabled(TtasksSyncControler::Current() && cbxSyncEnabled->isChecked() &&
                           !edSyncUrl->text().trimmed().isEmpty());
}

void TtasksSyncSection::ShowResult(const QString& aText)
{
    lblSyncResult->setText(aText.isEmpty() ? QStringLiteral("Not synced yet in this run") : aText);
}
