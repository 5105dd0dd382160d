#include "app/tasks_notifier.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#ifdef ULMORA_HAVE_CANBERRA
#include <canberra.h>
#endif

namespace {

std::shared_ptr<ItasksNotifier> gTestNotifier;

} // namespace

// The libcanberra context, opened on the first sound and kept for the next
// ones. A context that cannot be opened is not tried again: the beep stands in.
struct TtasksTrayNotifier::TSound
{
#ifdef ULMORA_HAVE_CANBERRA
    ca_context* Context = nullptr;
    bool Failed = false;

    ~TSound()
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

std::shared_ptr<ItasksNotifier> CreateTasksNotifier(QSystemTrayIcon* aTrayIcon)
{
    if (gTestNotifier)
        return gTestNotifier;
    return std::make_shared<TtasksTrayNotifier>(aTrayIcon);
}

void SetTestNotifier(std::shared_ptr<ItasksNotifier> aNotifier)
{
    gTestNotifier = std::move(aNotifier);
}
