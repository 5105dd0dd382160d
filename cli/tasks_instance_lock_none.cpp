// The instance lock of a platform that has none yet: every start that finds
// no instance answering becomes one.

#include "cli/tasks_instance.h"

std::unique_ptr<TInstanceLock> TInstanceLock::TryAcquire(const QString& aChannel, TState& aState,
                                                         QString& aError)
{
    Q_UNUSED(aChannel);
    aError.clear();
    aState = TState::Unsupported;
    return nullptr;
}
