#pragma once

// The main window's tray icon with its menu, and the notifier that sounds a
// reminder and shows its balloon on that icon. The tray says what the user
// asked for through its signals; the window acts on them.

#include <QObject>
#include <memory>

class ItasksNotifier;
class QAction;
class QMenu;
class QSystemTrayIcon;
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

public Q_SLOTS:
    void trayDblClick();
    void tray_popupPopup();
    void itTrayShowListClick();
    void itExitClick();
    void trayBalloonClick();

Q_SIGNALS:
    // A double click on the icon, "Show List" or a click on the balloon.
    void ShowListAsked();
    // The menu is about to open.
    void MenuAboutToShow();
    void NewTaskAsked();
    void TasksPoolAsked();
    void SettingsAsked();
    void ExitAsked();

private:
    QSystemTrayIcon* tray = nullptr;
    QMenu* tray_popup = nullptr;
    QAction* itTrayNewTask = nullptr;
    std::shared_ptr<ItasksNotifier> FNotifier;
};
