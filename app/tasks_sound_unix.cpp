// The information sound on Linux: libcanberra's "dialog-information" event.
// The context is opened on the first sound and kept for the next ones; one
// that cannot be opened is not tried again, and the caller's beep stands in.
// A build without libcanberra has no sound of the desktop to play.

#include "app/tasks_sound.h"

#ifdef ULMORA_HAVE_CANBERRA
#include <canberra.h>
#endif

struct TtasksInformationSound::TState
{
#ifdef ULMORA_HAVE_CANBERRA
    ca_context* Context = nullptr;
    bool Failed = false;

    ~TState()
    {
        if (Context)
            ca_context_destroy(Context);
    }

    bool Open()
    {
        if (Context)
            return true;
        if (Failed)
            return false;
        if (ca_context_create(&Context) != CA_SUCCESS) {
            Context = nullptr;
            Failed = true;
            return false;
        }
        ca_context_change_props(Context, CA_PROP_APPLICATION_NAME, "Ulmora", nullptr);
        if (ca_context_open(Context) != CA_SUCCESS) {
            ca_context_destroy(Context);
            Context = nullptr;
            Failed = true;
            return false;
        }
        return true;
    }

    bool Play()
    {
        if (!Open())
            return false;
        return ca_context_play(Context, 0, CA_PROP_EVENT_ID, "dialog-information",
                               CA_PROP_EVENT_DESCRIPTION, "Task reminder", nullptr) == CA_SUCCESS;
    }
#else
    bool Play()
    {
        return false;
    }
#endif
};

TtasksInformationSound::TtasksInformationSound() : FState(std::make_unique<TState>()) {}

TtasksInformationSound::~TtasksInformationSound() = default;

bool TtasksInformationSound::Play()
{
    return FState->Play();
}
