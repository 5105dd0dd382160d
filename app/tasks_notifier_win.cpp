#include "app/tasks_notifier.h"

// Windows shows a reminder as the tray icon's balloon.
std::shared_ptr<ItasksNotifier> CreatePlatformNotifier(std::shared_ptr<ItasksNotifier> aTray)
{
    return aTray;
}
