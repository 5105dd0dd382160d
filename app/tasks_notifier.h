#pragma once

// How a reminder reaches the user: the desktop's information sound and a
// balloon message on the tray icon. The window announces through this seam so
// that tests can record what was announced instead of showing it.

#include <QList>
#include <QPointer>
#include <QString>
#include <memory>

class QSystemTrayIcon;

class ItasksNotifier
{
public:
    virtual ~ItasksNotifier() = default;
    // The desktop's information sound.
    virtual void PlayInformationSound() = 0;
    // A balloon on the tray icon with a title and a text, without an icon,
    // shown for aMSecs milliseconds.
    virtual void ShowBalloon(const QString& aTitle, const QString& aText, int aMSecs) = 0;
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

// Keeps every announcement in order instead of showing it.
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

    const QList<TEvent>& Events() const { return FEvents; }
    // The balloons alone, in the order they were shown.
    QList<TEvent> Balloons() const;
    int SoundCount() const;
    void Clear() { FEvents.clear(); }

private:
    QList<TEvent> FEvents;
};

// The notifier a window announces through: the one a test installed with
// SetTestNotifier, otherwise a new tray notifier on aTrayIcon.
std::shared_ptr<ItasksNotifier> CreateTasksNotifier(QSystemTrayIcon* aTrayIcon);
// Installs a notifier for the windows created from now on; an empty pointer
// goes back to the tray notifier.
void SetTestNotifier(std::shared_ptr<ItasksNotifier> aNotifier);
