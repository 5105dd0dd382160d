#pragma once

// The settings dialog's "Sync" section: the collection's address, the user
// name, the password, the switch, "Sync now" and the last result. The
// address, user and switch go to the settings file, the password to the
// controller (keyring and memory), never to the file.

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TtasksSyncControler;

class TtasksSyncSection : public QWidget
{
    Q_OBJECT
public:
    explicit TtasksSyncSection(QWidget* aParent = nullptr);

    void SettingsToControls();
    // The fields into the settings file and the password to the controller,
    // which then follows the new settings.
    void ControlsToSettings();

private:
    void btnSyncNowClick();
    void UpdateButtons();
    void ShowResult(const QString& aText);

    QLineEdit* edSyncUrl;
    QLineEdit* edSyncUser;
    QLineEdit* edSyncPassword;
    QCheckBox* cbxSyncEnabled;
    QPushButton* btnSyncNow;
    QLabel* lblSyncResult;
    // What the password field showed when filled: a password is taken only
    // when the user changed it.
    QString FShownPassword;
};
