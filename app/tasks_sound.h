#pragma once

// The desktop's information sound, one file per platform behind it: on Linux
// libcanberra's "dialog-information" event, on Windows MessageBeep with
// MB_ICONINFORMATION.

#include <memory>

class TtasksInformationSound
{
public:
    TtasksInformationSound();
    ~TtasksInformationSound();
    TtasksInformationSound(const TtasksInformationSound&) = delete;
    TtasksInformationSound& operator=(const TtasksInformationSound&) = delete;

    // Plays the sound; false when the desktop cannot, so the caller beeps.
    bool Play();

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
