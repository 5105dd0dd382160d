#pragma once

// How a reminder reaches the user: the desktop's information sound and a
// notification, which is a balloon message on the tray icon or, where the
// desktop has a notification service, a notification with the actions "Done"
// and "Snooze". The window announces through this seam so that tests can
// record what was announced instead of showing it.

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QSystemTrayIcon;

// One reminder as the desktop shows it.
struct TtasksNotification
{
    // The task it reminds of; empty for the notification that counts the
    // tasks that fell due while the user was away.
    QString TaskId;
    QString Title;
    QString Body;
    // How long a balloon stays, in milliseconds.
    int MSecs = 0;
    // The program's icon; a balloon shows none.
    QIcon Icon;
};

// What the user did with a notification, for the window to act on. Each may
// be empty; the notifier calls them on the GUI thread, through the guard that
// shows what escapes them.
struct TtasksNotifierHandlers
{
    // "Done": the task is to be finished.
    std::function<void(const QString& aTaskId)> TaskDone;
    // "Snooze": the task is to be reminded of again later.
    std::function<void(const QString& aTaskId)> TaskSnoozed;
    // A click on a task's notification: the window is to show that task.
    std::function<void(const QString& aTaskId)> TaskOpened;
    // A click on the notification that counts missed tasks: the window is to show.
    std::function<void()> MissedOpened;
};

// The actions a notification offers.
enum class TtasksNotifierAction
{
    Done,
    Snooze,
    Open
};

class ItasksNotifier
{
public:
    virtual ~ItasksNotifier() = default;
    // The desktop's information sound.
    virtual void PlayInformationSound() = 0;
    // A balloon on the tray icon with a title and a text, without an icon,
    // shown for aMSecs milliseconds.
    virtual void ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs) = 0;
    // A reminder: by default the balloon with its title and body; a desktop
    // notification where the notifier has one.
    virtual void ShowNotification(const TtasksNotification& aNotification);
    // Takes back the notification of the task when one is still shown: the
    // task was finished, deleted or given another due date-time. A balloon
    // cannot be taken back, so by default nothing happens.
    virtual void Withdraw(const QString& aTaskId);

    // Who hears of the user's actions on notifications; replaces the former.
    void SetHandlers(TtasksNotifierHandlers aHandlers) { FHandlers = std::move(aHandlers); }

protected:
    // Hands an action on the notification of aTaskId (empty: the counting
    // one) to its handler, through the guard for connected handlers.
    void ReportAction(TtasksNotifierAction aAction, const QString& aTaskId);

private:
    TtasksNotifierHandlers FHandlers;
};

// The desktop's notifier: libcanberra's "dialog-information" sound (the
// toolkit's beep when libcanberra is missing or no sound server answers) and
// the tray icon's message.
class TtasksTrayNotifier : public ItasksNotifier
{
public:
    // aTrayIcon stays owned by its window; without one no balloon is shown.
    explicit TtasksTrayNotifier(QSystemTrayIcon* aTrayIcon);
    ~TtasksTrayNotifier() override;
    TtasksTrayNotifier(const TtasksTrayNotifier&) = delete;
    TtasksTrayNotifier& operator=(const TtasksTrayNotifier&) = delete;

    void PlayInformationSound() override;
    void ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs) override;

private:
    struct TSound;
    QPointer<QSystemTrayIcon> FTrayIcon;
    std::unique_ptr<TSound> FSound;
};

// Keeps every announcement in order instead of showing it. A notification is
// kept whole and, as the tray notifier shows it, as a balloon.
class TtasksRecordingNotifier : public ItasksNotifier
{
public:
    enum class TKind
    {
        Sound,
        Balloon
    };
    struct TEvent
    {
        TKind Kind;
        QString Title;
        QString Text;
        int MSecs = 0;
    };

    void PlayInformationSound() override { FEvents.append({TKind::Sound, {}, {}, 0}); }
    void ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs) override
    {
        FEvents.append({TKind::Balloon, aTitle, aText, aMSecs});
    }
    void ShowNotification(const TtasksNotification& aNotification) override;
    void Withdraw(const QString& aTaskId) override { FWithdrawn.append(aTaskId); }

    // Acts as the user would on the notification of aTaskId (empty: the
    // counting one): the handler set for the action is called.
    void Act(TtasksNotifierAction aAction, const QString& aTaskId)
    {
        ReportAction(aAction, aTaskId);
    }

    const QList<TEvent>& Events() const { return FEvents; }
    // The balloons alone, in the order they were shown.
    QList<TEvent> Balloons() const;
    int SoundCount() const;
    // The notifications, in the order they were shown.
    const QList<TtasksNotification>& Notifications() const { return FNotifications; }
    // The ids of the tasks whose notifications were taken back, in order.
    const QStringList& Withdrawn() const { return FWithdrawn; }
    void Clear()
    {
        FEvents.clear();
        FNotifications.clear();
        FWithdrawn.clear();
    }

private:
    QList<TEvent> FEvents;
    QList<TtasksNotification> FNotifications;
    QStringList FWithdrawn;
};

// The notifier a window announces through: the one a test installed with
// SetTestNotifier, otherwise a new tray notifier on aTrayIcon.
std::shared_ptr<ItasksNotifier> CreateTasksNotifier(QSystemTrayIcon* aTrayIcon);
// The notifier with the desktop's notifications: the one a test installed
// with SetTestNotifier; otherwise, on a desktop with a session bus, one that
// sends notifications with actions to the desktop's notification service and
// shows the balloon on aTrayIcon whenever no service answers; elsewhere (no
// session bus, Windows) the tray notifier.
std::shared_ptr<ItasksNotifier> CreateDesktopNotifier(QSystemTrayIcon* aTrayIcon);
// The platform's part of CreateDesktopNotifier, one file per platform: the
// notifier of the desktop's notification service, which shows its balloons
// through aTray, or aTray itself where there is none.
std::shared_ptr<ItasksNotifier> CreatePlatformNotifier(std::shared_ptr<ItasksNotifier> aTray);
// Installs a notifier for the windows created from now on; an empty pointer
// goes back to the tray notifier.
void SetTestNotifier(std::shared_ptr<ItasksNotifier> aNotifier);
