#pragma once

#include "util/kvd_errors.h"

#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <exception>
#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class THTTPRIO;

// The update web service: SOAP 1.1, RPC style with encoded parameters.
inline constexpr const char* kKVDNamespace = "urn:KVDIntf-KVD";
inline constexpr const char* kKVDEndpointPath = "/scripts/kvd_services.php";
inline constexpr const char* kKVDWSDLPath = "/scripts/kvd.wsdl";
inline constexpr const char* kKVDServiceName = "KVDservice";
inline constexpr const char* kKVDPortName = "KVDPort";
// Every call gives up after this long, whatever the server does.
inline constexpr int kSoapTimeoutMSecs = 15000;
// No reply of this service comes near this size; a larger one is refused
// before it is parsed.
inline constexpr qint64 kSoapMaxReplyBytes = 1024 * 1024;

// The time-out new bindings get: kSoapTimeoutMSecs unless a test shortened it.
int DefaultSoapTimeout();
void SetDefaultSoapTimeout(int aMSecs);

// Failures of a call, all ESOAPError. The message says which kind of failure it
// was, in words a user can act on.
KVD_DECLARE_ERROR(ESOAPError, EkvdError)
KVD_DECLARE_ERROR(ESOAPFault, ESOAPError)        // the server answered with a SOAP fault
KVD_DECLARE_ERROR(ESOAPHTTPError, ESOAPError)    // an HTTP status other than success
KVD_DECLARE_ERROR(ESOAPConnectError, ESOAPError) // no connection, unknown host, refused
KVD_DECLARE_ERROR(ESOAPTimeout, ESOAPError)      // no whole reply within the time-out
KVD_DECLARE_ERROR(ESOAPReplyError, ESOAPError)   // the reply is not a usable SOAP message
KVD_DECLARE_ERROR(ESOAPCancelled, ESOAPError)    // the call was abandoned (user, program end)

// Called once with the call's result, or with the error that ended it.
using TSoapDone = std::function<void(const QString& aResult, std::exception_ptr aError)>;
using TSoapParams = QList<QPair<QString, QString>>;

// One SOAP request in flight. It lives on the thread that started it, reports
// there through its callback, and deletes itself afterwards.
class TkvdSoapCall : public QObject
{
    Q_OBJECT
public:
    // Drops the call: the request is aborted and the callback never runs.
    void Cancel();

private:
    friend class THTTPRIO;
    TkvdSoapCall(const THTTPRIO& aBinding, const QString& aOperation, const TSoapParams& aParams,
                 TSoapDone aDone);
    void Start();
    void Send(QNetworkReply* aReply);
    void Post(const QUrl& aUrl);
    void ReadMore();
    void ReplyFinished();
    void Fail(std::exception_ptr aError);
    void Finish(const QString& aResult, std::exception_ptr aError);

    QUrl FUrl;
    QString FWSDLLocation;
    QString FService;
    QString FPort;
    bool FFetchingWSDL = false;
    QString FOperation;
    TSoapParams FParams;
    int FTimeoutMSecs;
    TSoapDone FDone;
    QNetworkAccessManager* FManager = nullptr;
    QNetworkReply* FReply = nullptr;
    QTimer* FTimer = nullptr;
    QByteArray FBody;
    bool FEnded = false;
};

// The HTTP binding: where calls go and how long they may take. A service
// object from GetUpdateService owns one unless the caller brought its own.
class THTTPRIO
{
public:
    QUrl URL;             // the endpoint, when bound directly
    QString WSDLLocation; // the description, when bound through it: each call
                          // reads the address of Service and Port from it first
    QString Service;
    QString Port;
    int TimeoutMSecs = DefaultSoapTimeout();

    // Starts a call of aOperation in the service's namespace and returns at once.
    // aDone runs later on this thread, also for failures found before sending.
    QPointer<TkvdSoapCall> InvokeAsync(const QString& aOperation, const TSoapParams& aParams,
                                       TSoapDone aDone);
    // The same call, waited for in a local event loop that keeps windows painted
    // but holds back the user's input. Raises the call's error.
    QString Invoke(const QString& aOperation, const TSoapParams& aParams);
};

// The update web service as the program calls it.
class KVD
{
public:
    virtual ~KVD() = default;
    // Blocking forms: they wait in a local event loop (see THTTPRIO::Invoke).
    virtual QString kvd_application_run(const QString& aAppName) = 0;
    virtual QString kvd_application_getupdate(const QString& aAppName, const QString& aVersion) = 0;
    // Asynchronous forms: they return at once; aDone runs on this thread. The
    // call keeps the service object alive until it has reported.
    virtual QPointer<TkvdSoapCall> kvd_application_run_async(const QString& aAppName,
                                                             TSoapDone aDone) = 0;
    virtual QPointer<TkvdSoapCall> kvd_application_getupdate_async(const QString& aAppName,
                                                                   const QString& aVersion,
                                                                   TSoapDone aDone) = 0;
};

// A KVD object bound to the endpoint (aUseWSDL false) or through the service
// description (true). An empty aAddress means the default for either. aBinding
// is configured and used when given (the caller keeps owning it and must keep
// it alive while the object is used); otherwise the object has one of its own.
std::shared_ptr<KVD> GetUpdateService(bool aUseWSDL = false, const QString& aAddress = QString(),
                                      THTTPRIO* aBinding = nullptr);

// Whether there is an update server to ask: ULMORA_UPDATE_URL is set, or the
// build names an update host (the CMake option ULMORA_UPDATE_HOST, empty by
// default). Without one the program sends nothing.
bool UpdateServerConfigured();
// The default endpoint: ULMORA_UPDATE_URL when set, else the build's update
// host with the path "/scripts/kvd_services.php"; empty without either.
QString DefaultUpdateEndpoint();
// The default description: the same host with the path "/scripts/kvd.wsdl".
QString DefaultUpdateWSDL();

// Splits a reply into fields at ";": blanks and other characters up to the space
// end a field too and are skipped between fields; a field in double quotes may
// hold ";" and blanks ("" inside is one quote); a ";" at the very end adds an
// empty last field.
QStringList SplitReplyFields(const QString& aReply);

// The request body of one call, and the result read out of a reply body. Both
// are what the calls use; they are here so they can be checked alone.
QByteArray BuildSoapRequest(const QString& aOperation, const TSoapParams& aParams);
// Raises ESOAPFault for a fault and ESOAPReplyError for anything unusable.
QString ParseSoapResponse(const QByteArray& aBody);
