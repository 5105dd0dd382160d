#pragma once

// The window's side of the two-way sync: when it runs, on which thread, with
// which password, and what the user is told of its last result.
//
// A sync runs at start, every 5 minutes, a few seconds after the last of a
// run of local changes, and when the user asks ("Sync now"). It runs on a
// worker thread of its own, never on the GUI thread's time, and one at a
// time: a request while one runs is remembered and runs once after it.
// Without an address or switched off nothing is sent, no thread runs and no
// password is asked for.
//
// The password comes from the keyring; where none answers (or it holds no
// password for the collection) it is asked for once per run and kept in
// memory. A prompt the user cancels is not repeated by the schedule, only by
// "Sync now" or a password entered in the settings.
//
// A build without sync (no iCalendar library) has a controller that is never
// configured; Supported() says so and the windows offer no sync there.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class ItasksPasswordStore;
class QTimer;
class QWidget;
class TtasksSyncRunner;
struct TSyncResult;
struct TSyncSettings;

// A one-shot timer of the schedule; tests replace it to fire it by hand.
class TtasksSyncTimer : public QObject
{
    Q_OBJECT
public:
    explicit TtasksSyncTimer(QObject* aParent = nullptr);
    // (Re)starts it to fire once after aMs milliseconds.
    virtual void Start(int aMs);
    virtual void Stop();
    virtual bool Active() const;

Q_SIGNALS:
    void Timeout();

private:
    QTimer* FTimer;
};

class TtasksSyncControler : public QObject
{
    Q_OBJECT
public:
    // The schedule's timers and the password store; tests set their own.
    struct TSeams
    {
        std::shared_ptr<ItasksPasswordStore> passwords;
        // Makes the timer named aName ("syncStart", "syncPeriodic", "syncDebounce").
        std::function<TtasksSyncTimer*(QObject* aParent, const QString& aName)> timers;
        // Per request; 0 keeps the engine's default.
        int timeoutMs = 0;
    };

    static constexpr int kPeriodMs = 5 * 60 * 1000;
    static constexpr int kDebounceMs = 3000;

    // aWindow is the parent of the password prompt.
    explicit TtasksSyncControler(QWidget* aWindow, TSeams aSeams = DefaultSeams());
    // Stops and joins the worker.
    ~TtasksSyncControler() override;

    // Whether this build has sync at all.
    static bool Supported();
    // The seams a controller gets when none are given; tests set them before
    // the main window creates its controller, and reset them with {}.
    static TSeams DefaultSeams();
    static void SetDefaultSeams(const TSeams& aSeams);
    // The controller of the running window, or nullptr; the settings dialog
    // reaches it here.
    static TtasksSyncControler* Current();

    // Reads the settings and starts the schedule; the first sync follows at
    // once when sync is configured. Local changes count from here on.
    void Start();
    // Reads the settings again after the user changed them: a changed
    // collection or user forgets the password in memory; a configuration
    // that is (still) complete syncs soon.
    void Reconfigure();
    // Ends the schedule, asks a running sync to end and waits for its
    // thread. Nothing runs afterwards. Called again, it does nothing.
    void Stop();

    bool Configured() const;
    // A sync is on the worker thread now.
    bool Running() const { return FRunning; }
    // "Last sync: ...", "Sync failed: ..." or empty before the first result.
    const QString& ResultText() const { return FResultText; }

    // The password as the settings dialog shows it: the one in memory, if any.
    QString KnownPassword() const { return FPasswordKnown ? FPassword : QString(); }
    // A password entered by the user: kept in memory for this run and written
    // to the keyring where one answers.
    void SetPassword(const QString& aPassword);

public Q_SLOTS:
    // The user's "Sync now": asks for the password again after a cancel.
    void SyncNow();
    // A task was stored locally: a sync follows a few seconds after the last
    // of several changes.
    void LocalChanged();

Q_SIGNALS:
    // The text of the last result changed.
    void ResultChanged(const QString& aText);
    // A sync changed these local tasks (created, changed or deleted).
    void TasksSynced(const QStringList& aIds);

private:
    void Request(bool aByUser);
    // From the keyring, or from the user where the keyring has none.
    void ObtainPassword();
    void AskPassword(const QString& aWhy, bool aKeyringWorks);
    void StorePassword(const QString& aPassword);
    void Launch();
    void RunnerFinished(const TSyncResult& aOutcome);
    void SetResult(const QString& aText);
    void ApplySchedule();

    QPointer<QWidget> FWindow;
    TSeams FSeams;
    std::unique_ptr<TSyncSettings> FSettings;
    // Lazily made: no thread runs before the first sync.
    std::unique_ptr<TtasksSyncRunner> FRunner;
    TtasksSyncTimer* FStartTimer = nullptr;
    TtasksSyncTimer* FPeriodic = nullptr;
    TtasksSyncTimer* FDebounce = nullptr;
    QString FPassword;
    bool FPasswordKnown = false;
    // The user cancelled the prompt: the schedule does not ask again.
    bool FPasswordRefused = false;
    bool FStarted = false;
    bool FStopped = false;
    bool FRunning = false;
    bool FAwaitingPassword = false;
    // A request came while one ran; bByUser when one of them was the user's.
    bool FPending = false;
    bool FPendingByUser = false;
    QString FResultText;
};
