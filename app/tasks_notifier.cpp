#include "app/tasks_notifier.h"

#include "app/tasks_sound.h"
#include "util/kvd_guard.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

namespace {

std::shared_ptr<ItasksNotifier> gTestNotifier;

} // namespace

// ---------------------------------------------------------------- the seam

void ItasksNotifier::ShowNotification(const TtasksNotification& aNotification)
{
    ShowBalloon(aNotification.Title, aNotification.Body, aNotification.MSecs);
}

void ItasksNotifier::Withdraw(const QString&) {}

void ItasksNotifier::ReportAction(TtasksNotifierAction aAction, const QString& aTaskId)
{
    // The handlers are the window's: a failure they raise is shown, and never
    // crosses the frames of the toolkit or the bus that delivered the action.
    RunGuarded([&] {
        switch (aAction) {
        case TtasksNotifierAction::Done:
            if (FHandlers.TaskDone && !aTaskId.isEmpty())
                FHandlers.TaskDone(aTaskId);
            break;
        case TtasksNotifierAction::Snooze:
            if (FHandlers.TaskSnoozed && !aTaskId.isEmpty())
                FHandlers.TaskSnoozed(aTaskId);
            break;
        case TtasksNotifierAction::Open:
            if (aTaskId.isEmpty()) {
                if (FHandlers.MissedOpened)
                    FHandlers.MissedOpened();
            } else if (FHandlers.TaskOpened) {
                FHandlers.TaskOpened(aTaskId);
            }
            break;
        }
    });
}

// ---------------------------------------------------------------- tray

// The desktop's sound, kept for the next reminders.
struct TtasksTrayNotifier::TSound : TtasksInformationSound
{
};

TtasksTrayNotifier::TtasksTrayNotifier(QSystemTrayIcon* aTrayIcon)
    : FTrayIcon(aTrayIcon), FSound(std::make_unique<TSound>())
{
}

TtasksTrayNotifier::~TtasksTrayNotifier() = default;

void TtasksTrayNotifier::PlayInformationSound()
{
    if (!FSound->Play())
        QApplication::beep();
}

void TtasksTrayNotifier::ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs)
{
    if (FTrayIcon)
        FTrayIcon->showMessage(aTitle, aText, QIcon(), aMSecs);
}

// ---------------------------------------------------------------- recording

void TtasksRecordingNotifier::ShowNotification(const TtasksNotification& aNotification)
{
    FNotifications.append(aNotification);
    // The balloon, as the tray notifier shows it.
    ItasksNotifier::ShowNotification(aNotification);
}

QList<TtasksRecordingNotifier::TEvent> TtasksRecordingNotifier::Balloons() const
{
    QList<TEvent> balloons;
    for (const TEvent& event : FEvents)
        if (event.Kind == TKind::Balloon)
            balloons.append(event);
    return balloons;
}

int TtasksRecordingNotifier::SoundCount() const
{
    int count = 0;
    for (const TEvent& event : FEvents)
        if (event.Kind == TKind::Sound)
            ++count;
    return count;
}

// ---------------------------------------------------------------- factories

std::shared_ptr<ItasksNotifier> CreateTasksNotifier(QSystemTrayIcon* aTrayIcon)
{
    if (gTestNotifier)
        return gTestNotifier;
    return std::make_shared<TtasksTrayNotifier>(aTrayIcon);
}

std::shared_ptr<ItasksNotifier> CreateDesktopNotifier(QSystemTrayIcon* aTrayIcon)
{
    if (gTestNotifier)
        return gTestNotifier;
    return CreatePlatformNotifier(std::make_shared<TtasksTrayNotifier>(aTrayIcon));
}

void SetTestNotifier(std::shared_ptr<ItasksNotifier> aNotifier)
{
    gTestNotifier = std::move(aNotifier);
}
