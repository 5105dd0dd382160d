#include "update/kvd_services.h"

#include "util/kvd_errors.h"
#include "util/kvd_utils.h"
#include "util/tasks_log.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cmath>
#include <utility>

namespace {

std::atomic<TkvdServices*> gServices{nullptr};

constexpr int kTimerIntervalMSecs = 60000;
constexpr qint64 kMSecsPerHour = 3600000;
constexpr qint64 kReportEveryHours = 24;

std::shared_ptr<IkvdUpdateUI> gUpdateUI;

// Without a user to ask, nothing is shown and no updater starts.
class TSilentUpdateUI : public IkvdUpdateUI
{
public:
    void ShowWaiting(const QString&, std::function<void()>) override {}
    void HideWaiting() override {}
    bool Confirm(const QString&, const QString&) override { return false; }
    void Inform(const QString&, const QString&) override {}
    void ShowError(const QString&, const QString&) override {}
    quintptr OwnerWindow(QObject*) override { return 0; }
};

// The installed interface, or the silent one. A wait holds the one it began
// with, so that one installed meanwhile never gets the end of a wait that it
// did not show.
std::shared_ptr<IkvdUpdateUI> UpdateUI()
{
    if (gUpdateUI)
        return gUpdateUI;
    static const std::shared_ptr<IkvdUpdateUI> silent = std::make_shared<TSilentUpdateUI>();
    return silent;
}

} // namespace

void SetUpdateUI(std::shared_ptr<IkvdUpdateUI> aUI)
{
    gUpdateUI = std::move(aUI);
}

std::shared_ptr<IkvdUpdateUI> GetUpdateUI()
{
    return gUpdateUI;
}

TkvdServices::TkvdServices(const QString& aAppName, const QString& aVersion)
    : FAppName(aAppName), FVersion(aVersion)
{
    FIPCServer = std::make_unique<TIPCServer>();
    FIPCServer->SetPipeName(FAppName);
    FIPCServer->OnExecuteRequest = &TkvdServices::HandleRequest;
    FIPCServer->Start();
    FIPCClient = std::make_unique<TIPCClient>();
    FTimer = new QTimer(this);
    FTimer->setInterval(kTimerIntervalMSecs);
    connect(FTimer, &QTimer::timeout, this, &TkvdServices::TimerTick);
    FTimer->start();
}

TkvdServices::~TkvdServices()
{
    delete FTimer;
    FTimer = nullptr;
    if (FReportCall)
        FReportCall->Cancel();
    FIPCServer->Stop();
    FIPCServer.reset();
    FIPCClient.reset();
}

void TkvdServices::TimerTick()
{
    // Whole hours from the millisecond difference, so exactly 24 hours later
    // counts as 24 however the day counts round.
    const qint64 msecs = std::llround(std::fabs(Now() - FLastRunReport) * kMSecsPerDay);
    if (msecs / kMSecsPerHour >= kReportEveryHours && !ReportRunning())
        ReportRun();
}

bool TkvdServices::ReportRun()
{
    // A build without an update server sends nothing.
    if (ReportRunning() || !UpdateServerConfigured())
        return false;
    try {
        const std::shared_ptr<KVD> service = GetUpdateService(false, QString(), nullptr);
        // Failures are not reported: the next tick simply tries again.
        FReportCall = service->kvd_application_run_async(
            FAppName, [this](const QString& aResult, std::exception_ptr aError) {
                FReportCall.clear();
                const bool success = !aError && aResult == QLatin1String("OK");
                if (success)
                    FLastRunReport = Now();
                Q_EMIT RunReportFinished(success);
            });
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

int UpdateResultCode(const QString& aReply, const QString& aVersion, QString& aNewVersion,
                     QString& aExtra)
{
    aNewVersion.clear();
    aExtra.clear();
    const QStringList fields = SplitReplyFields(aReply);
    if (fields.isEmpty())
        return urUnexpected;
    if (fields[0] != QLatin1String("OK"))
        return urServerError;
    if (fields.size() < 3)
        return urUnexpected;
    const int code = IsNewerVersion(aVersion, fields[1]) ? urNewerAvailable : urUpToDate;
    aNewVersion = fields[1];
    aExtra = fields[2];
    return code;
}

int TkvdServices::CheckForUpdate(QString aAppName, QString aVersion, QString& aNewVersion,
                                 QString& aExtra)
{
    aNewVersion.clear();
    aExtra.clear();
    if (aAppName.isEmpty())
        aAppName = FAppName;
    if (aVersion.isEmpty())
        aVersion = FVersion;

    enum class TWait
    {
        Waiting,
        Answered,
        Cancelled
    };
    TWait wait = TWait::Waiting;
    QString reply;
    std::exception_ptr error;
    QEventLoop loop;
    const QPointer<TkvdSoapCall> call =
        GetUpdateService(false, QString(), nullptr)
            ->kvd_application_getupdate_async(
                aAppName, aVersion, [&](const QString& aResult, std::exception_ptr aError) {
                    reply = aResult;
                    error = aError;
                    wait = TWait::Answered;
                    loop.quit();
                });
    // The call reports from the event loop and never before this point, and
    // whatever ends the wait below drops it, so its callback cannot outlive
    // the locals it writes.
    struct TEndWait
    {
        const QPointer<TkvdSoapCall>& Call;
        std::shared_ptr<IkvdUpdateUI> UI;
        bool Shown = false;
        ~TEndWait()
        {
            if (Call)
                Call->Cancel();
            if (Shown)
                UI->HideWaiting();
        }
    } end{call, UpdateUI()};
    end.UI->ShowWaiting(QLatin1String(kCheckingForUpdatesText), [&] {
        if (wait == TWait::Waiting) {
            wait = TWait::Cancelled;
            loop.quit();
        }
    });
    end.Shown = true;
    // User input is not held back: the box is modal, so a click on another
    // window is refused where the user sees why, and Cancel can be pressed.
    // The loop also ends when the program quits; then no reply has come.
    if (wait == TWait::Waiting)
        loop.exec();
    if (wait != TWait::Answered)
        throw ESOAPCancelled(wait == TWait::Cancelled
                                 ? QStringLiteral("The update check was cancelled.")
                                 : QStringLiteral("The update check was cancelled because the "
                                                  "program is ending."));
    if (error)
        std::rethrow_exception(error);
    return UpdateResultCode(reply, aVersion, aNewVersion, aExtra);
}

bool TkvdServices::CheckForUpdates(QObject* aOwner)
{
    const std::shared_ptr<IkvdUpdateUI> ui = UpdateUI();
    if (!UpdateServerConfigured()) {
        // Said as what it is, rather than as a connection error.
        ui->Inform(QStringLiteral("Information"),
                   QStringLiteral("No update server is configured for this build of Ulmora."));
        return false;
    }
    QString newVersion;
    QString extra;
    int code = urUnexpected;
    try {
        code = CheckForUpdate(QString(), QString(), newVersion, extra);
    } catch (const ESOAPCancelled&) {
        // The user gave up, or the program is ending: nothing more to show.
        return false;
    }
    switch (code) {
    case urNewerAvailable:
        if (ui->Confirm(QStringLiteral("Confirm"),
                        QStringLiteral("New version available, update from %1 => %2")
                            .arg(FVersion, newVersion))) {
            LaunchUpdater(aOwner);
            return true;
        }
        return false;
    case urUpToDate:
        ui->Inform(QStringLiteral("Information"), QStringLiteral("Application is up to date!"));
        return false;
    case urServerError:
        ui->ShowError(QStringLiteral("Error"),
                      QStringLiteral("Error connecting update servers! Please try again later!"));
        return false;
    default:
        ui->ShowError(QStringLiteral("Error"), QStringLiteral("Unexpected error!"));
        return false;
    }
}

void TkvdServices::LaunchUpdater(QObject* aOwner)
{
    const QString params = QStringLiteral("appid=%1").arg(FAppName);
    const QString program =
        FileBeside(QCoreApplication::applicationFilePath(), QLatin1String(kUpdaterFileName));
    // A missing updater or a declined elevation shows nothing further.
    RunElevated(UpdateUI()->OwnerWindow(aOwner), program, params);
}

void TkvdServices::HandleRequest(IMessageData& aRequest, IMessageData& aReply)
{
    const QString command = aRequest.ReadText(QStringLiteral("Command"));
    QByteArray data = aRequest.ReadBytes(QStringLiteral("Params"));
    QStringList results;
    switch (IndexOfString(command, {QLatin1String(kCommandTerminate), QLatin1String(kCommandUpdate),
                                    QLatin1String(kCommandGetVersion)})) {
    case 0:
        // Queued, so the reply is written before the GUI thread acts on it.
        // exit rather than quit: quit would ask the windows to close, and a
        // main window that minimises to the tray on close would refuse.
        if (QCoreApplication* app = QCoreApplication::instance())
            QMetaObject::invokeMethod(
                app, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
        break;
    case 1:
        break;
    case 2:
        results << QStringLiteral("version=") + GetAppVersion();
        break;
    default:
        break;
    }
    for (const QString& line : results)
        data += (line + QStringLiteral("\r\n")).toLocal8Bit();
    aReply.SetID(GenerateId());
    aReply.WriteText(QStringLiteral("Result"), QStringLiteral("ok"));
    aReply.WriteBytes(QStringLiteral("Data"), data);
}

void StartServices(const QString& aAppName, const QString& aVersion)
{
    if (gServices.load())
        return;
    try {
        gServices.store(new TkvdServices(aAppName, aVersion));
    } catch (const std::exception& error) {
        // Nothing of the service runs (its threads could not be made). The
        // failure says what did not start, and the log keeps it.
        const EkvdError failure(
            QStringLiteral("The update service could not start: %1").arg(ErrorMessage(error)));
        if (TtasksLog* log = GetTasksLog())
            log->LogException(failure);
        throw failure;
    }
}

TkvdServices* GetServices()
{
    return gServices.load();
}

void ReleaseServices()
{
    delete gServices.exchange(nullptr);
}
