#include "sync_ui/tasks_sync_controler.h"

#include "settings/tasks_sync_settings.h"
#include "store/tasks_db.h"
#include "sync_ui/tasks_sync_passwords.h"
#include "sync_ui/tasks_sync_runner.h"
#include "util/kvd_dialogs.h"
#include "util/kvd_guard.h"
#include "util/tasks_log.h"

#include <QLocale>
#include <QTimer>
#include <QWidget>

namespace {

TtasksSyncControler::TSeams gDefaultSeams;
TtasksSyncControler* gCurrent = nullptr;

const QString kPromptTitle = QStringLiteral("Ulmora Sync");

TtasksSyncTimer* MakeTimer(const TtasksSyncControler::TSeams& aSeams, QObject* aParent,
                           const QString& aName)
{
    TtasksSyncTimer* timer =
        aSeams.timers ? aSeams.timers(aParent, aName) : new TtasksSyncTimer(aParent);
    timer->setObjectName(aName);
    return timer;
}

QString OutcomeText(const TSyncResult& aOutcome)
{
    if (!aOutcome.ok)
        return QStringLiteral("Sync failed: %1").arg(aOutcome.error);
    const QDateTime when =
        aOutcome.finishedAt.isValid() ? aOutcome.finishedAt : QDateTime::currentDateTime();
    QString text = QStringLiteral("Last sync: %1")
                       .arg(QLocale().toString(when.toLocalTime(), QLocale::ShortFormat));
    if (aOutcome.conflicts == 1)
        text += QStringLiteral(" (1 conflict: your version was kept as a copy)");
    else if (aOutcome.conflicts > 1)
        text += QStringLiteral(" (%1 conflicts: your versions were kept as copies)")
                    .arg(aOutcome.conflicts);
    if (!aOutcome.notice.isEmpty())
        text += QStringLiteral("; ") + aOutcome.notice;
    return text;
}

} // namespace

// ---------------------------------------------------------------- timer

TtasksSyncTimer::TtasksSyncTimer(QObject* aParent) : QObject(aParent), FTimer(new QTimer(this))
{
    FTimer->setSingleShot(true);
    ConnectGuarded(FTimer, &QTimer::timeout, this, &TtasksSyncTimer::Timeout);
}

void TtasksSyncTimer::Start(int aMs)
{
    FTimer->start(aMs);
}

void TtasksSyncTimer::Stop()
{
    FTimer->stop();
}

bool TtasksSyncTimer::Active() const
{
    return FTimer->isActive();
}

// ---------------------------------------------------------------- controller

TtasksSyncControler::TtasksSyncControler(QWidget* aWindow, TSeams aSeams)
    : QObject(aWindow), FWindow(aWindow), FSeams(std::move(aSeams)),
      FSettings(std::make_unique<TSyncSettings>())
{
    setObjectName(QStringLiteral("syncControler"));
    if (!FSeams.passwords)
        FSeams.passwords = CreateKeyringPasswordStore();
    FStartTimer = MakeTimer(FSeams, this, QStringLiteral("syncStart"));
    FPeriodic = MakeTimer(FSeams, this, QStringLiteral("syncPeriodic"));
    FDebounce = MakeTimer(FSeams, this, QStringLiteral("syncDebounce"));
    ConnectGuarded(FStartTimer, &TtasksSyncTimer::Timeout, this, [this] { Request(false); });
    ConnectGuarded(FPeriodic, &TtasksSyncTimer::Timeout, this, [this] {
        FPeriodic->Start(kPeriodMs);
        Request(false);
    });
    ConnectGuarded(FDebounce, &TtasksSyncTimer::Timeout, this, [this] { Request(false); });
    gCurrent = this;
}

TtasksSyncControler::~TtasksSyncControler()
{
    Stop();
    if (gCurrent == this)
        gCurrent = nullptr;
}

bool TtasksSyncControler::Supported()
{
    return SyncBuilt();
}

TtasksSyncControler::TSeams TtasksSyncControler::DefaultSeams()
{
    return gDefaultSeams;
}

void TtasksSyncControler::SetDefaultSeams(const TSeams& aSeams)
{
    gDefaultSeams = aSeams;
}

TtasksSyncControler* TtasksSyncControler::Current()
{
    return gCurrent;
}

bool TtasksSyncControler::Configured() const
{
    return Supported() && FSettings->Configured();
}

void TtasksSyncControler::Start()
{
    if (FStopped)
        return;
    FStarted = true;
    *FSettings = ReadSyncSettings();
    ApplySchedule();
    // Once the event loop runs, so the window is up before a prompt may be.
    if (Configured())
        FStartTimer->Start(0);
}

void TtasksSyncControler::Reconfigure()
{
    if (FStopped)
        return;
    const TSyncSettings before = *FSettings;
    *FSettings = ReadSyncSettings();
    if (FSettings->PasswordKey() != before.PasswordKey()) {
        FPassword.clear();
        FPasswordKnown = false;
        FPasswordRefused = false;
    }
    ApplySchedule();
    if (FStarted && Configured() && !(*FSettings == before))
        FDebounce->Start(0);
}

void TtasksSyncControler::ApplySchedule()
{
    if (Configured() && FStarted) {
        if (!FPeriodic->Active())
            FPeriodic->Start(kPeriodMs);
        return;
    }
    FStartTimer->Stop();
    FPeriodic->Stop();
    FDebounce->Stop();
}

void TtasksSyncControler::Stop()
{
    if (FStopped)
        return;
    FStopped = true;
    FStartTimer->Stop();
    FPeriodic->Stop();
    FDebounce->Stop();
    if (FRunner)
        FRunner->Stop();
    FRunning = false;
    FPending = false;
}

void TtasksSyncControler::SetPassword(const QString& aPassword)
{
    FPassword = aPassword;
    FPasswordKnown = true;
    FPasswordRefused = false;
    StorePassword(aPassword);
    // A new password is tried soon: the last sync may have failed for the old one.
    if (FStarted && !FStopped && Configured())
        FDebounce->Start(0);
}

void TtasksSyncControler::StorePassword(const QString& aPassword)
{
    // Where the keyring refuses, the password stays in memory for this run
    // and is asked for again in the next; the log says why.
    FSeams.passwords->Write(FSettings->PasswordKey(), aPassword, this,
                            [](bool aStored, const QString& aError) {
                                if (TtasksLog* log = GetTasksLog(); log && !aStored)
                                    log->Log(QStringLiteral("The sync's password could not be "
                                                            "stored in the keyring: %1")
                                                 .arg(aError));
                            });
}

void TtasksSyncControler::SyncNow()
{
    Request(true);
}

void TtasksSyncControler::LocalChanged()
{
    if (!FStarted || FStopped || !Configured())
        return;
    // Restarted by every change: a run of edits gives one sync after the last.
    FDebounce->Start(kDebounceMs);
}

void TtasksSyncControler::Request(bool aByUser)
{
    if (FStopped || !Configured())
        return;
    if (FRunning || FAwaitingPassword) {
        FPending = true;
        FPendingByUser = FPendingByUser || aByUser;
        return;
    }
    // A sync now covers every change so far.
    FDebounce->Stop();
    if (FPasswordKnown) {
        Launch();
        return;
    }
    if (FPasswordRefused && !aByUser)
        return;
    ObtainPassword();
}

void TtasksSyncControler::ObtainPassword()
{
    FAwaitingPassword = true;
    const QString key = FSettings->PasswordKey();
    FSeams.passwords->Read(key, this, [this, key](const TSyncPasswordRead& aRead) {
        if (FStopped)
            return;
        // The settings may have changed while the keyring was asked.
        if (key != FSettings->PasswordKey() || FPasswordKnown) {
            FAwaitingPassword = false;
            Request(false);
            return;
        }
        switch (aRead.status) {
        case TSyncPasswordRead::TStatus::Found:
            FPassword = aRead.password;
            FPasswordKnown = true;
            FAwaitingPassword = false;
            Launch();
            break;
        case TSyncPasswordRead::TStatus::NotFound:
            AskPassword(QStringLiteral("The keyring holds no password for %1.").arg(FSettings->url),
                        true);
            break;
        case TSyncPasswordRead::TStatus::NoKeyring:
            AskPassword(QStringLiteral("No keyring is available, so Ulmora keeps the password "
                                       "in memory until it ends."),
                        false);
            break;
        }
    });
}

void TtasksSyncControler::AskPassword(const QString& aWhy, bool aKeyringWorks)
{
    const QString user =
        FSettings->user.isEmpty() ? QStringLiteral("(no user name)") : FSettings->user;
    const QString text =
        QStringLiteral("Password of %1 for %2\n%3").arg(user, FSettings->url, aWhy);
    QString password;
    const bool given = TkvdPasswordDialog::Ask(FWindow, kPromptTitle, text, password);
    FAwaitingPassword = false;
    // The prompt runs its own event loop: the program may have begun to end.
    if (FStopped)
        return;
    if (!given) {
        FPasswordRefused = true;
        FPending = false;
        FPendingByUser = false;
        SetResult(QStringLiteral("Sync failed: no password was given"));
        return;
    }
    FPassword = password;
    FPasswordKnown = true;
    FPasswordRefused = false;
    if (aKeyringWorks)
        StorePassword(password);
    Launch();
}

void TtasksSyncControler::Launch()
{
    if (!FRunner) {
        FRunner = CreateSyncRunner(
            this, [this](const TSyncResult& aOutcome) { RunnerFinished(aOutcome); });
        if (!FRunner) {
            SetResult(QStringLiteral("Sync failed: this build of Ulmora cannot sync"));
            return;
        }
    }
    FRunning = true;
    FRunner->Run(*GetTasksDB(), FSettings->url, FSettings->user, FPassword, FSeams.timeoutMs);
}

void TtasksSyncControler::RunnerFinished(const TSyncResult& aOutcome)
{
    if (FStopped)
        return;
    FRunning = false;
    SetResult(OutcomeText(aOutcome));
    if (!aOutcome.changedTaskIds.isEmpty())
        Q_EMIT TasksSynced(aOutcome.changedTaskIds);
    if (FPending) {
        const bool byUser = FPendingByUser;
        FPending = false;
        FPendingByUser = false;
        Request(byUser);
    }
}

void TtasksSyncControler::SetResult(const QString& aText)
{
    FResultText = aText;
    Q_EMIT ResultChanged(aText);
}
