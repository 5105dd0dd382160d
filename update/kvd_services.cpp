#include "update/kvd_services.h"

#include "util/kvd_dialogs.h"
#include "util/kvd_utils.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QStringList>
#include <QTimer>
#include <atomic>
#include <cmath>

namespace {

std::atomic<TkvdServices*> gServices{nullptr};

constexpr int kTimerIntervalMSecs = 60000;
constexpr qint64 kMSecsPerHour = 3600000;
constexpr qint64 kReportEveryHours = 24;

// A wait cursor for as long as the object lives, in a GUI program only.
class TBusyCursor
{
public:
    TBusyCursor() : FActive(qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr)
    {
        if (FActive)
            QApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    }
    ~TBusyCursor()
    {
        if (FActive)
            QApplication::restoreOverrideCursor();
    }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    bool FActive;
};

} // namespace

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
    if (ReportRunning())
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
    QString reply;
    {
        TBusyCursor busy;
        reply = GetUpdateService(false, QString(), nullptr)
                    ->kvd_application_getupdate(aAppName, aVersion);
    }
    return UpdateResultCode(reply, aVersion, aNewVersion, aExtra);
}

bool TkvdServices::CheckForUpdates(QWidget* aOwner)
{
    QString newVersion;
    QString extra;
    int code = urUnexpected;
    try {
        code = CheckForUpdate(QString(), QString(), newVersion, extra);
    } catch (const ESOAPCancelled&) {
        // The program is ending; a dialog now would only be in the way.
        return false;
    }
    // The dialogs are centred on the screen, so they have no parent window.
    switch (code) {
    case urNewerAvailable:
        if (TkvdMessageBox::Show(nullptr, TMsgKind::Confirmation, QStringLiteral("Confirm"),
                                 QStringLiteral("New version available, update from %1 => %2")
                                     .arg(FVersion, newVersion),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::Yes) == QMessageBox::Yes) {
            LaunchUpdater(aOwner);
            return true;
        }
        return false;
    case urUpToDate:
        TkvdMessageBox::Show(nullptr, TMsgKind::Information, QStringLiteral("Information"),
                             QStringLiteral("Application is up to date!"));
        return false;
    case urServerError:
        TkvdMessageBox::Show(nullptr, TMsgKind::Error, QStringLiteral("Error"),
                             QStringLiteral("Error connecting update servers! Please try again "
                                            "later!"));
        return false;
    default:
        TkvdMessageBox::Show(nullptr, TMsgKind::Error, QStringLiteral("Error"),
                             QStringLiteral("Unexpected error!"));
        return false;
    }
}

void TkvdServices::LaunchUpdater(QWidget* aOwner)
{
    const QString params = QStringLiteral("appid=%1").arg(FAppName);
    const QString program =
        FileBeside(QCoreApplication::applicationFilePath(), QLatin1String(kUpdaterFileName));
    QWidget* owner = aOwner ? aOwner : QApplication::activeWindow();
    // A missing updater or a declined elevation shows nothing further.
    RunElevated(owner, program, params);
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
    if (!gServices.load())
        gServices.store(new TkvdServices(aAppName, aVersion));
}

TkvdServices* GetServices()
{
    return gServices.load();
}

void ReleaseServices()
{
    delete gServices.exchange(nullptr);
}
