// Windows has no session bus that a library could launch.

#include "app/tasks_session_bus.h"

void NeverLaunchSessionBus() {}
