#include "app/tasks_tray.h"

#include "app/tasks_notifier.h"
#include "resources/tasks_resources.h"
#include "sync_ui/tasks_sync_controler.h"
#include "util/kvd_guard.h"

#include <QAction>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QWidget>

namespace {

// How often the tray watch looks: a tray that comes or goes is followed
// within this time. One look asks the X server for a selection owner.
constexpr int kTrayWatchInterval = 3000;

const QString kToolTip = QStringLiteral("Ulmora");

std::optional<bool> gAvailableForTests;

QAction* MakeAction(QMenu* aMenu, const char* aName, const QString& aCaption, const char* aIcon)
{
    QAction* action = aMenu->addAction(TasksIcon(QLatin1String(aIcon)), aCaption);
    action->setObjectName(QLatin1String(aName));
    return action;
}

} // namespace

TtasksTray::TtasksTray(QWidget* aWindow) : QObject(aWindow)
{
    tray_popup = new QMenu(aWindow);
    tray_popup->setObjectName(QStringLiteral("tray_popup"));
    itTrayNewTask = MakeAction(tray_popup, "itTrayNewTask", QStringLiteral("New Task"), "new_24");
    QAction* itTrayTasksPool =
        MakeAction(tray_popup, "itTrayTasksPool", QStringLiteral("New Tasks..."), "checklist_24");
    QAction* itTrayShowList =
        MakeAction(tray_popup, "itTrayShowList", QStringLiteral("Show List"), "list_24");
    QAction* itTraySettings =
        MakeAction(tray_popup, "itTraySettings", QStringLiteral("Settings"), "settings_24");
    tray_popup->addSeparator();
    QAction* actImportTasks =
        MakeAction(tray_popup, "actImportTasks", QStringLiteral("Import Tasks..."), "checklist_24");
    QAction* actExportTasks =
        MakeAction(tray_popup, "actExportTasks", QStringLiteral("Export Tasks..."), "save_24");
    actSyncNow = MakeAction(tray_popup, "actSyncNow", QStringLiteral("Sync Now"), "update_24");
    actSyncNow->setVisible(TtasksSyncControler::Supported());
    actSyncNow->setEnabled(false);
    tray_popup->addSeparator();
    QAction* itExit = MakeAction(tray_popup, "itExit", QStringLiteral("Exit"), "exit_24");
    ConnectGuarded(actImportTasks, &QAction::triggered, this, &TtasksTray::ImportAsked);
    ConnectGuarded(actExportTasks, &QAction::triggered, this, &TtasksTray::ExportAsked);
    ConnectGuarded(actSyncNow, &QAction::triggered, this, &TtasksTray::SyncNowAsked);
    ConnectGuarded(tray_popup, &QMenu::aboutToShow, this, &TtasksTray::tray_popupPopup);
    ConnectGuarded(itTrayNewTask, &QAction::triggered, this, &TtasksTray::NewTaskAsked);
    ConnectGuarded(itTrayTasksPool, &QAction::triggered, this, &TtasksTray::TasksPoolAsked);
    ConnectGuarded(itTrayShowList, &QAction::triggered, this, &TtasksTray::itTrayShowListClick);
    ConnectGuarded(itTraySettings, &QAction::triggered, this, &TtasksTray::SettingsAsked);
    ConnectGuarded(itExit, &QAction::triggered, this, &TtasksTray::itExitClick);

    tray = new QSystemTrayIcon(TasksAppIcon(), this);
    tray->setObjectName(QStringLiteral("tray"));
    tray->setToolTip(kToolTip);
    tray->setContextMenu(tray_popup);
    ConnectGuarded(
        tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason aReason) {
            // A single click is all that StatusNotifierItem trays send (as
            // Trigger); the double click of the classic tray shows it too.
            if (aReason == QSystemTrayIcon::DoubleClick || aReason == QSystemTrayIcon::Trigger)
                trayDblClick();
        });
    ConnectGuarded(tray, &QSystemTrayIcon::messageClicked, this, &TtasksTray::trayBalloonClick);
    tray->show();
    FPresent = Available();
    trayWatch = new QTimer(this);
    trayWatch->setObjectName(QStringLiteral("trayWatch"));
    trayWatch->setInterval(kTrayWatchInterval);
    ConnectGuarded(trayWatch, &QTimer::timeout, this, &TtasksTray::CheckAvailable);
    trayWatch->start();
    // Desktop notifications with actions where a notification service
    // answers, the icon's balloon otherwise.
    FNotifier = CreateDesktopNotifier(tray);
}

TtasksTray::~TtasksTray() = default;

bool TtasksTray::Available()
{
    if (gAvailableForTests)
        return *gAvailableForTests;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TtasksTray::SetAvailableForTests(std::optional<bool> aAvailable)
{
    gAvailableForTests = aAvailable;
}

void TtasksTray::CheckAvailable()
{
    const bool available = Available();
    if (available == FPresent)
        return;
    FPresent = available;
    if (available) {
        // The icon is put into the tray that exists when it is shown; hiding
        // it first makes show put it into the new one.
        tray->hide();
        tray->show();
    }
    Q_EMIT AvailabilityChanged(available);
}

void TtasksTray::SetNewTaskEnabled(bool aEnabled)
{
    itTrayNewTask->setEnabled(aEnabled);
}

void TtasksTray::SetSyncNowEnabled(bool aEnabled)
{
    actSyncNow->setEnabled(aEnabled);
}

void TtasksTray::SetSyncResult(const QString& aText)
{
    tray->setToolTip(aText.isEmpty() ? kToolTip : kToolTip + QLatin1Char('\n') + aText);
}

void TtasksTray::trayDblClick()
{
    Q_EMIT ShowListAsked();
}

void TtasksTray::tray_popupPopup()
{
    Q_EMIT MenuAboutToShow();
}

void TtasksTray::itTrayShowListClick()
{
    Q_EMIT ShowListAsked();
}

void TtasksTray::itExitClick()
{
    Q_EMIT ExitAsked();
}

void TtasksTray::trayBalloonClick()
{
    Q_EMIT ShowListAsked();
}
