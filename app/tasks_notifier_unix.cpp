#include "app/tasks_notifier.h"
#include "app/tasks_notifier_dbus.h"

#include <QDBusConnection>

// The desktop's notification service on the session bus. Without a session
// bus the balloon is all there is.
std::shared_ptr<ItasksNotifier> CreatePlatformNotifier(std::shared_ptr<ItasksNotifier> aTray)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return aTray;
    return std::make_shared<TtasksDBusNotifier>(std::move(aTray), bus);
}
