#pragma once

// The main window's tray icon with its menu, and the notifier that sounds a
// reminder and shows its balloon on that icon. The tray says what the user
// asked for through its signals; the window acts on them. It also watches
// whether the desktop has a tray at all, since one may come or go while the
// program runs (a panel restarted, a session without one).

#include <QObject>
#include <memory>
#include <optional>

class ItasksNotifier;
class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;
class QWidget;

class TtasksTray : public QObject
{
    Q_OBJECT
public:
    // The icon is shown at once and stays until the tray is destroyed; the
    // menu is a child of aWindow.
    explicit TtasksTray(QWidget* aWindow);
    ~TtasksTray() override;

    QSystemTrayIcon* Icon() const { return tray; }
    // The reminders' sound and balloon on this icon.
    ItasksNotifier* Notifier() const { return FNotifier.get(); }
    // "New Task" of the menu, which UpdateControls sets.
    void SetNewTaskEnabled(bool aEnabled);
    // "Sync Now" of the menu: there only where the build has sync, enabled
    // while sync is configured.
    void SetSyncNowEnabled(bool aEnabled);
    // The last sync's result, on the tooltip's line below the program's name;
    // empty for none.
    void SetSyncResult(const QString& aText);

    // Whether the desktop has a tray to show the icon in, as last seen by
    // CheckAvailable (the first look is taken at creation).
    bool Present() const { return FPresent; }
    // Whether the desktop has a tray now: the toolkit's answer, or the one a
    // test set with SetAvailableForTests.
    static bool Available();
    // Makes Available answer aAvailable whatever the desktop has; nullopt
    // returns to asking the toolkit. Tests run where no tray exists.
    static void SetAvailableForTests(std::optional<bool> aAvailable);

public Q_SLOTS:
    void trayDblClick();
    void tray_popupPopup();
    void itTrayShowListClick();
    void itExitClick();
    void trayBalloonClick();
    // Looks whether a tray exists; when that changed since the last look,
    // shows the icon again on a tray that came and emits AvailabilityChanged.
    // Runs every few seconds, and the window calls it before it decides
    // where a close puts it.
    void CheckAvailable();

Q_SIGNALS:
    // A double click on the icon, "Show List" or a click on the balloon.
    void ShowListAsked();
    // The menu is about to open.
    void MenuAboutToShow();
    void NewTaskAsked();
    void TasksPoolAsked();
    void SettingsAsked();
    void ExitAsked();
    // "Import Tasks..." and "Export Tasks..." (every task, to an iCalendar file).
    void ImportAsked();
    void ExportAsked();
    // "Sync Now".
    void SyncNowAsked();
    // A tray came (true) or went (false).
    void AvailabilityChanged(bool aAvailable);

private:
    QSystemTrayIcon* tray = nullptr;
    QMenu* tray_popup = nullptr;
    QAction* itTrayNewTask = nullptr;
    QAction* actSyncNow = nullptr;
    std::shared_ptr<ItasksNotifier> FNotifier;
    // Polls for a tray: the toolkit has no signal for one coming or going.
    QTimer* trayWatch = nullptr;
    bool FPresent = false;
};
