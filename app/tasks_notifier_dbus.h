#pragma once

// Reminders as the desktop's notifications (org.freedesktop.Notifications on
// the session bus): the title and body of the balloon, the program's icon,
// and the actions "Done", "Snooze" and the default one (a click), which reach
// the window through the notifier's handlers. Where no service answers, when
// the notifier starts or after a call failed, a reminder is the tray's
// balloon, shown exactly as without this notifier.

#include "app/tasks_notifier.h"

#include <QDBusConnection>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <memory>

class QDBusServiceWatcher;

class TtasksDBusNotifier : public QObject, public ItasksNotifier
{
    Q_OBJECT
public:
    // The service's bus name, object path and interface.
    static const QString kService;
    static const QString kPath;
    static const QString kInterface;
    // How long a call may wait for the service's answer. Calls block the GUI
    // thread, which a service answers in milliseconds; one that hangs costs
    // this once, then the balloon is used until the service comes back.
    static constexpr int kCallMSecs = 3000;

    // Asks aBus whether a notification service answers. aFallback plays the
    // sound and shows the balloons.
    TtasksDBusNotifier(std::shared_ptr<ItasksNotifier> aFallback, const QDBusConnection& aBus);
    ~TtasksDBusNotifier() override;
    TtasksDBusNotifier(const TtasksDBusNotifier&) = delete;
    TtasksDBusNotifier& operator=(const TtasksDBusNotifier&) = delete;

    // A notification service answered the last time it was asked.
    bool ServiceAnswers() const { return FAnswers; }
    // The notification shown for aTaskId (empty: the counting one); 0 for none.
    uint NotificationOf(const QString& aTaskId) const { return FIdOfTask.value(aTaskId, 0); }

    void PlayInformationSound() override;
    void ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs) override;
    void ShowNotification(const TtasksNotification& aNotification) override;
    void Withdraw(const QString& aTaskId) override;

private Q_SLOTS:
    void ActionInvoked(uint aId, const QString& aActionKey);
    void NotificationClosed(uint aId, uint aReason);
    void ServiceRegistered();
    void ServiceUnregistered();

private:
    // Asks the service for its capabilities; false when none answers.
    bool Probe();
    // Sends the notification; 0 when the call failed.
    uint Send(const TtasksNotification& aNotification);
    void Forget(uint aId);
    void ForgetAll();
    // Reports the action of one of this notifier's notifications.
    void HandleAction(uint aId, const QString& aActionKey);

    std::shared_ptr<ItasksNotifier> FFallback;
    QDBusConnection FBus;
    QDBusServiceWatcher* FWatcher = nullptr;
    bool FAnswers = false;
    QStringList FCapabilities;
    // The notifications shown, by task id (empty: the counting one), and back.
    QHash<QString, uint> FIdOfTask;
    QHash<uint, QString> FTaskOfId;
};
