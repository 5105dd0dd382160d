// The information sound on Windows: the sound the user's scheme gives to
// information messages (MessageBeep with MB_ICONINFORMATION).

#include "app/tasks_sound.h"

#include <windows.h>

struct TtasksInformationSound::TState
{
};

TtasksInformationSound::TtasksInformationSound() = default;

TtasksInformationSound::~TtasksInformationSound() = default;

bool TtasksInformationSound::Play()
{
    return ::MessageBeep(MB_ICONINFORMATION) != FALSE;
}
