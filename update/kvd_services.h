#pragma once

// The update service: a daily report to the update web service that the
// application runs, the interactive update check with the updater's launch, and
// the answers to the updater's commands on the pipe named after the application.

#include "ipc/kvd_ipc.h"
#include "update/kvd_soap.h"
#include "util/kvd_datetime.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QTimer;

// The updater's program, beside our own.
#ifdef Q_OS_WIN
inline constexpr const char* kUpdaterFileName = "updater.exe";
#else
inline constexpr const char* kUpdaterFileName = "updater";
#endif

// Result codes of CheckForUpdate.
enum TkvdUpdateResult : int
{
    urUnexpected = 0,     // empty reply, or fewer than three fields after "OK"
    urNewerAvailable = 1, // the offered version is newer than the running one
    urUpToDate = 2,       // the offered version is the same or older
    urServerError = 3,    // the service's status field is not "OK"
};

// The pipe commands of the updater; compared exactly, letter case included.
inline constexpr const char* kCommandTerminate = "kvd_command_terminate";
inline constexpr const char* kCommandUpdate = "kvd_command_update";
inline constexpr const char* kCommandGetVersion = "kvd_command_getversion";

// How the interactive check speaks with the user. The service decides what is
// asked and said, in these words; the GUI shows it (TkvdUpdateDialogs in
// update/kvd_update_dialogs.h: a modal wait box with Cancel, then message
// boxes), a test may record it. The service itself shows nothing, so it needs
// no widget library. Every call comes on the thread that runs the check.
class IkvdUpdateUI
{
public:
    virtual ~IkvdUpdateUI() = default;
    // Shows aText while the question waits for the service and returns at
    // once. aCancel gives the check up: the request is dropped and nothing
    // more is shown.
    virtual void ShowWaiting(const QString& aText, std::function<void()> aCancel) = 0;
    // The wait is over, however it ended; aCancel is not called any more.
    virtual void HideWaiting() = 0;
    // A question answered Yes or No, Yes being the default; true for Yes.
    virtual bool Confirm(const QString& aTitle, const QString& aText) = 0;
    // A result that the user acknowledges.
    virtual void Inform(const QString& aTitle, const QString& aText) = 0;
    virtual void ShowError(const QString& aTitle, const QString& aText) = 0;
    // The native handle (WId) of the window that the updater's elevation
    // prompt belongs to: aOwner's, or the active window's when aOwner is
    // null; 0 for none. aOwner is whatever the caller of the check gave.
    virtual quintptr OwnerWindow(QObject* aOwner) = 0;
};

// Installs the user interface of every update check; the program installs
// TkvdUpdateDialogs at start-up. With none (nullptr, or before the first
// call) a check shows nothing and declines the update.
void SetUpdateUI(std::shared_ptr<IkvdUpdateUI> aUI);
// The interface installed, or nullptr.
std::shared_ptr<IkvdUpdateUI> GetUpdateUI();

// The text shown while the check waits.
inline constexpr const char* kCheckingForUpdatesText = "Checking for updates...";

class TkvdServices : public QObject
{
    Q_OBJECT
public:
    // Starts the pipe server named aAppName (which may hold the GUI thread for
    // up to 3 seconds) and the 60-second timer.
    TkvdServices(const QString& aAppName, const QString& aVersion);
    // Stops the timer first, so no tick comes any more, drops a report in
    // flight, then stops the pipe server.
    ~TkvdServices() override;

    QString AppName() const { return FAppName; }
    QString Version() const { return FVersion; }
    // Time of the last successful run report; 0 until there is one.
    TDateTime LastRunReport() const { return FLastRunReport; }
    TIPCServer& IPCServer() { return *FIPCServer; }
    QTimer& Timer() { return *FTimer; }

    // The interactive check: asks the service, then gives one of four results
    // through the update UI (a question or a message). True when the user
    // chose to update (the updater has been started, owned by aOwner's
    // window). Transport failures and SOAP faults are raised for the caller
    // to show; a check the user cancelled, or that the program's end cut
    // short, shows nothing and gives false.
    bool CheckForUpdates(QObject* aOwner = nullptr);
    // One question to the service; empty aAppName or aVersion mean the
    // service's own. Returns a TkvdUpdateResult; raises transport failures,
    // and ESOAPCancelled when the wait was given up. Waits in a local event
    // loop behind the update UI's ShowWaiting, so windows keep painting and
    // the user can cancel.
    int CheckForUpdate(QString aAppName, QString aVersion, QString& aNewVersion, QString& aExtra);
    // Starts one run report in the background and returns at once; false when
    // one is already in flight. RunReportFinished tells the outcome.
    bool ReportRun();
    bool ReportRunning() const { return !FReportCall.isNull(); }
    // Starts the updater beside the program, elevated, with "appid=<AppName>";
    // the prompt belongs to aOwner's window (see IkvdUpdateUI::OwnerWindow).
    void LaunchUpdater(QObject* aOwner = nullptr);
    // The pipe server's request handler; runs on pool worker threads and uses no
    // field of the service.
    static void HandleRequest(IMessageData& aRequest, IMessageData& aReply);
    // The timer's handler: a run report when the last successful one is 24
    // hours or more ago (by the clock of kvd_datetime) and none is in flight.
    void TimerTick();

Q_SIGNALS:
    // After each run report, on the GUI thread; LastRunReport is already set.
    void RunReportFinished(bool aSuccess);

private:
    QString FAppName;
    QString FVersion;
    TDateTime FLastRunReport = 0;
    std::unique_ptr<TIPCServer> FIPCServer;
    std::unique_ptr<TIPCClient> FIPCClient;
    QTimer* FTimer = nullptr;
    QPointer<TkvdSoapCall> FReportCall;
};

// The result code of a getupdate reply for the running version aVersion, with
// the offered version and the extra field when the reply has them.
int UpdateResultCode(const QString& aReply, const QString& aVersion, QString& aNewVersion,
                     QString& aExtra);

// Creates the single service object unless one exists.
void StartServices(const QString& aAppName, const QString& aVersion);
// The single service object, or nullptr.
TkvdServices* GetServices();
// Releases the single service object (the program's end calls it after the main
// window is gone and before the task store and the settings are released).
void ReleaseServices();
