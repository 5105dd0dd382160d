#include "update/kvd_soap.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <atomic>

#ifndef ULMORA_UPDATE_HOST
#define ULMORA_UPDATE_HOST ""
#endif

namespace {

const QString kEnvelopeNs = QStringLiteral("http://schemas.xmlsoap.org/soap/envelope/");
const QString kEncodingNs = QStringLiteral("http://schemas.xmlsoap.org/soap/encoding/");
const QString kXsdNs = QStringLiteral("http://www.w3.org/2001/XMLSchema");
const QString kXsiNs = QStringLiteral("http://www.w3.org/2001/XMLSchema-instance");
const QString kWSDLNs = QStringLiteral("http://schemas.xmlsoap.org/wsdl/");

QString SoapAction(const QString& aOperation)
{
    return QLatin1String(kKVDNamespace) + QLatin1Char('#') + aOperation;
}

ESOAPReplyError Malformed(const QString& aWhy)
{
    return ESOAPReplyError(
        QStringLiteral("The update server's reply is not a valid SOAP message: %1.").arg(aWhy));
}

ESOAPReplyError TooLarge()
{
    return ESOAPReplyError(QStringLiteral("The update server's reply is larger than %1 KiB.")
                               .arg(kSoapMaxReplyBytes / 1024));
}

QString ReaderError(const QXmlStreamReader& aXml)
{
    return QStringLiteral("%1 (line %2, column %3)")
        .arg(aXml.errorString())
        .arg(aXml.lineNumber())
        .arg(aXml.columnNumber());
}

// The address of port aPort of service aService in a service description.
// A document type declaration is refused like in replies.
QUrl AddressFromWSDL(const QByteArray& aBody, const QString& aService, const QString& aPort)
{
    QXmlStreamReader xml(aBody);
    bool inService = false;
    bool inPort = false;
    QString location;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::DTD)
            throw Malformed(QStringLiteral("the service description holds a document type "
                                           "declaration"));
        if (token == QXmlStreamReader::StartElement) {
            if (xml.namespaceUri() == kWSDLNs && xml.name() == QLatin1String("service"))
                inService = xml.attributes().value(QLatin1String("name")) == aService;
            else if (inService && xml.namespaceUri() == kWSDLNs &&
                     xml.name() == QLatin1String("port"))
                inPort = xml.attributes().value(QLatin1String("name")) == aPort;
            else if (inPort && xml.name() == QLatin1String("address") && location.isEmpty())
                location = xml.attributes().value(QLatin1String("location")).toString();
        } else if (token == QXmlStreamReader::EndElement && xml.namespaceUri() == kWSDLNs) {
            if (xml.name() == QLatin1String("service"))
                inService = false;
            else if (xml.name() == QLatin1String("port"))
                inPort = false;
        }
    }
    if (xml.hasError())
        throw Malformed(QStringLiteral("the service description is not well-formed: ") +
                        ReaderError(xml));
    if (location.isEmpty())
        throw Malformed(QStringLiteral("the service description names no address for port "
                                       "%1 of service %2")
                            .arg(aPort, aService));
    return QUrl(location);
}

// The endpoint check every call makes before it connects.
void CheckUrl(const QUrl& aUrl)
{
    const QString scheme = aUrl.scheme().toLower();
    if (!aUrl.isValid() || aUrl.host().isEmpty() ||
        (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        throw ESOAPConnectError(
            QStringLiteral("The update server address \"%1\" is not a valid http URL.")
                .arg(aUrl.toString()));
}

// A KVD object: calls go through the caller's binding or one of its own.
class TKVDService : public KVD, public std::enable_shared_from_this<TKVDService>
{
public:
    explicit TKVDService(THTTPRIO* aBinding)
        : FOwned(aBinding ? nullptr : new THTTPRIO), FBinding(aBinding ? aBinding : FOwned.get())
    {
    }
    THTTPRIO& Binding() { return *FBinding; }

    QString kvd_application_run(const QString& aAppName) override
    {
        return FBinding->Invoke(QStringLiteral("kvd_application_run"),
                                {{QStringLiteral("aAppName"), aAppName}});
    }
    QString kvd_application_getupdate(const QString& aAppName, const QString& aVersion) override
    {
        return FBinding->Invoke(
            QStringLiteral("kvd_application_getupdate"),
            {{QStringLiteral("aAppName"), aAppName}, {QStringLiteral("aVersion"), aVersion}});
    }
    QPointer<TkvdSoapCall> kvd_application_run_async(const QString& aAppName,
                                                     TSoapDone aDone) override
    {
        return FBinding->InvokeAsync(QStringLiteral("kvd_application_run"),
                                     {{QStringLiteral("aAppName"), aAppName}},
                                     KeepAlive(std::move(aDone)));
    }
    QPointer<TkvdSoapCall> kvd_application_getupdate_async(const QString& aAppName,
                                                           const QString& aVersion,
                                                           TSoapDone aDone) override
    {
        return FBinding->InvokeAsync(
            QStringLiteral("kvd_application_getupdate"),
            {{QStringLiteral("aAppName"), aAppName}, {QStringLiteral("aVersion"), aVersion}},
            KeepAlive(std::move(aDone)));
    }

private:
    // The callback holds a reference, so a caller may drop the service object
    // as soon as the call has started.
    TSoapDone KeepAlive(TSoapDone aDone)
    {
        return [self = shared_from_this(), aDone = std::move(aDone)](const QString& aResult,
                                                                     std::exception_ptr aError) {
            if (aDone)
                aDone(aResult, aError);
        };
    }

    std::unique_ptr<THTTPRIO> FOwned;
    THTTPRIO* FBinding;
};

} // namespace

// ---------------------------------------------------------------------------
// One call

TkvdSoapCall::TkvdSoapCall(const THTTPRIO& aBinding, const QString& aOperation,
                           const TSoapParams& aParams, TSoapDone aDone)
    : FUrl(aBinding.URL), FWSDLLocation(aBinding.WSDLLocation), FService(aBinding.Service),
      FPort(aBinding.Port), FOperation(aOperation), FParams(aParams),
      FTimeoutMSecs(aBinding.TimeoutMSecs), FDone(std::move(aDone))
{
}

void TkvdSoapCall::Cancel()
{
    if (FEnded)
        return;
    FEnded = true;
    FDone = nullptr;
    if (FTimer)
        FTimer->stop();
    if (FReply) {
        FReply->disconnect(this);
        FReply->abort();
    }
    deleteLater();
}

void TkvdSoapCall::Start()
{
    if (FEnded)
        return;
    FManager = new QNetworkAccessManager(this);
    // The time-out covers the whole call, so a server that sends a byte now and
    // then cannot keep it open.
    FTimer = new QTimer(this);
    FTimer->setSingleShot(true);
    connect(FTimer, &QTimer::timeout, this, [this] {
        const QString seconds = QString::number(FTimeoutMSecs / 1000.0);
        Fail(std::make_exception_ptr(ESOAPTimeout(
            QStringLiteral("The update server did not answer within %1 seconds.").arg(seconds))));
    });
    FTimer->start(FTimeoutMSecs);
    try {
        if (!FWSDLLocation.isEmpty()) {
            const QUrl wsdl(FWSDLLocation);
            CheckUrl(wsdl);
            FFetchingWSDL = true;
            Send(FManager->get(QNetworkRequest(wsdl)));
        } else {
            Post(FUrl);
        }
    } catch (...) {
        Fail(std::current_exception());
    }
}

void TkvdSoapCall::Post(const QUrl& aUrl)
{
    CheckUrl(aUrl);
    FUrl = aUrl;
    QNetworkRequest request(aUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("text/xml; charset=\"utf-8\""));
    request.setRawHeader("SOAPAction", '"' + SoapAction(FOperation).toUtf8() + '"');
    Send(FManager->post(request, BuildSoapRequest(FOperation, FParams)));
}

void TkvdSoapCall::Send(QNetworkReply* aReply)
{
    FReply = aReply;
    FBody.clear();
    connect(FReply, &QNetworkReply::metaDataChanged, this, [this] {
        // A server that announces too much is refused before anything is read.
        const QVariant length = FReply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > kSoapMaxReplyBytes)
            Fail(std::make_exception_ptr(TooLarge()));
    });
    connect(FReply, &QNetworkReply::readyRead, this, &TkvdSoapCall::ReadMore);
    connect(FReply, &QNetworkReply::finished, this, &TkvdSoapCall::ReplyFinished);
}

void TkvdSoapCall::ReadMore()
{
    if (FEnded || !FReply)
        return;
    FBody += FReply->read(kSoapMaxReplyBytes + 1 - FBody.size());
    if (FBody.size() > kSoapMaxReplyBytes)
        Fail(std::make_exception_ptr(TooLarge()));
}

void TkvdSoapCall::ReplyFinished()
{
    ReadMore();
    if (FEnded)
        return;
    QNetworkReply* reply = FReply;
    FReply = nullptr;
    reply->deleteLater();
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QString url = reply->url().toDisplayString();
    try {
        if (!status.isValid()) {
            throw ESOAPConnectError(QStringLiteral("The update server at %1 cannot be reached: %2.")
                                        .arg(url, reply->errorString()));
        }
        const int code = status.toInt();
        if (code >= 300) {
            // SOAP 1.1 sends faults with status 500: a fault in the body says
            // more than the status does.
            if (!FFetchingWSDL) {
                try {
                    ParseSoapResponse(FBody);
                } catch (const ESOAPFault&) {
                    throw;
                } catch (const std::exception&) {
                }
            }
            const QString reason =
                reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
            throw ESOAPHTTPError(
                QStringLiteral("The update server at %1 answered with HTTP "
                               "status %2%3.")
                    .arg(url)
                    .arg(code)
                    .arg(reason.isEmpty() ? QString() : QLatin1Char(' ') + reason));
        }
        if (reply->error() != QNetworkReply::NoError) {
            throw ESOAPConnectError(
                QStringLiteral("The connection to the update server at %1 broke off: %2.")
                    .arg(url, reply->errorString()));
        }
        if (FFetchingWSDL) {
            FFetchingWSDL = false;
            Post(AddressFromWSDL(FBody, FService, FPort));
            return;
        }
        Finish(ParseSoapResponse(FBody), nullptr);
    } catch (...) {
        Fail(std::current_exception());
    }
}

void TkvdSoapCall::Fail(std::exception_ptr aError)
{
    Finish(QString(), aError);
}

void TkvdSoapCall::Finish(const QString& aResult, std::exception_ptr aError)
{
    if (FEnded)
        return;
    FEnded = true;
    if (FTimer)
        FTimer->stop();
    if (FReply) {
        FReply->disconnect(this);
        FReply->abort();
        FReply = nullptr;
    }
    deleteLater();
    TSoapDone done = std::move(FDone);
    FDone = nullptr;
    if (done)
        done(aResult, aError);
}

// ---------------------------------------------------------------------------
// The binding

namespace {
std::atomic<int> gDefaultTimeout{kSoapTimeoutMSecs};
}

int DefaultSoapTimeout()
{
    return gDefaultTimeout.load();
}
void SetDefaultSoapTimeout(int aMSecs)
{
    gDefaultTimeout.store(aMSecs > 0 ? aMSecs : kSoapTimeoutMSecs);
}

QPointer<TkvdSoapCall> THTTPRIO::InvokeAsync(const QString& aOperation, const TSoapParams& aParams,
                                             TSoapDone aDone)
{
    auto* call = new TkvdSoapCall(*this, aOperation, aParams, std::move(aDone));
    // Started from the event loop, so the callback never runs inside this call.
    QMetaObject::invokeMethod(call, &TkvdSoapCall::Start, Qt::QueuedConnection);
    return call;
}

QString THTTPRIO::Invoke(const QString& aOperation, const TSoapParams& aParams)
{
    QEventLoop loop;
    bool done = false;
    QString result;
    std::exception_ptr error;
    QPointer<TkvdSoapCall> call =
        InvokeAsync(aOperation, aParams, [&](const QString& aResult, std::exception_ptr aError) {
            result = aResult;
            error = aError;
            done = true;
            loop.quit();
        });
    // Windows keep painting and timers keep ticking while the call runs; the
    // user's clicks and keys wait until it is over.
    if (!done)
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!done) {
        // The loop was ended from outside: the program is quitting.
        if (call)
            call->Cancel();
        throw ESOAPCancelled(
            QStringLiteral("The call to the update server was cancelled because the program is "
                           "ending."));
    }
    if (error)
        std::rethrow_exception(error);
    return result;
}

// ---------------------------------------------------------------------------
// Service objects and addresses

std::shared_ptr<KVD> GetUpdateService(bool aUseWSDL, const QString& aAddress, THTTPRIO* aBinding)
{
    QString address = aAddress;
    if (address.isEmpty())
        address = aUseWSDL ? DefaultUpdateWSDL() : DefaultUpdateEndpoint();
    auto service = std::make_shared<TKVDService>(aBinding);
    THTTPRIO& binding = service->Binding();
    if (aUseWSDL) {
        binding.WSDLLocation = address;
        binding.Service = QLatin1String(kKVDServiceName);
        binding.Port = QLatin1String(kKVDPortName);
        binding.URL.clear();
    } else {
        binding.URL = QUrl(address);
        binding.WSDLLocation.clear();
    }
    return service;
}

bool UpdateServerConfigured()
{
    return !qEnvironmentVariable("ULMORA_UPDATE_URL").trimmed().isEmpty() ||
           !QStringLiteral(ULMORA_UPDATE_HOST).trimmed().isEmpty();
}

QString DefaultUpdateEndpoint()
{
    const QString url = qEnvironmentVariable("ULMORA_UPDATE_URL").trimmed();
    if (!url.isEmpty())
        return url;
    if (!UpdateServerConfigured())
        return {};
    return QStringLiteral(ULMORA_UPDATE_HOST) + QLatin1String(kKVDEndpointPath);
}

QString DefaultUpdateWSDL()
{
    const QString url = qEnvironmentVariable("ULMORA_UPDATE_URL").trimmed();
    if (url.isEmpty() && !UpdateServerConfigured())
        return {};
    if (url.isEmpty())
        return QStringLiteral(ULMORA_UPDATE_HOST) + QLatin1String(kKVDWSDLPath);
    QUrl wsdl(url);
    wsdl.setPath(QLatin1String(kKVDWSDLPath));
    wsdl.setQuery(QString());
    wsdl.setFragment(QString());
    return wsdl.toString();
}

// ---------------------------------------------------------------------------
// Messages

QStringList SplitReplyFields(const QString& aReply)
{
    // Text ends at a NUL character, as it does for the platform's string lists.
    const QString text = aReply.left(aReply.indexOf(QChar(0)));
    const qsizetype n = text.size();
    auto isBlank = [](QChar aCh) { return aCh.unicode() >= 1 && aCh.unicode() <= 32; };
    QStringList fields;
    qsizetype i = 0;
    while (i < n && isBlank(text[i]))
        ++i;
    while (i < n) {
        QString field;
        if (text[i] == QLatin1Char('"')) {
            // Quoted: up to the closing quote, a doubled quote standing for one.
            ++i;
            while (i < n) {
                if (text[i] == QLatin1Char('"')) {
                    if (i + 1 < n && text[i + 1] == QLatin1Char('"')) {
                        field += QLatin1Char('"');
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += text[i++];
            }
        } else {
            const qsizetype start = i;
            while (i < n && text[i].unicode() > 32 && text[i] != QLatin1Char(';'))
                ++i;
            field = text.mid(start, i - start);
        }
        fields << field;
        while (i < n && isBlank(text[i]))
            ++i;
        if (i < n && text[i] == QLatin1Char(';')) {
            if (i + 1 == n)
                fields << QString();
            do
                ++i;
            while (i < n && isBlank(text[i]));
        }
    }
    return fields;
}

QByteArray BuildSoapRequest(const QString& aOperation, const TSoapParams& aParams)
{
    QByteArray body;
    QXmlStreamWriter xml(&body);
    xml.writeStartDocument();
    xml.writeNamespace(kEnvelopeNs, QStringLiteral("SOAP-ENV"));
    xml.writeNamespace(kXsdNs, QStringLiteral("xsd"));
    xml.writeNamespace(kXsiNs, QStringLiteral("xsi"));
    xml.writeNamespace(kEncodingNs, QStringLiteral("SOAP-ENC"));
    xml.writeStartElement(kEnvelopeNs, QStringLiteral("Envelope"));
    xml.writeStartElement(kEnvelopeNs, QStringLiteral("Body"));
    xml.writeAttribute(kEnvelopeNs, QStringLiteral("encodingStyle"), kEncodingNs);
    xml.writeNamespace(QLatin1String(kKVDNamespace), QStringLiteral("NS1"));
    xml.writeStartElement(QLatin1String(kKVDNamespace), aOperation);
    for (const auto& [name, value] : aParams) {
        xml.writeStartElement(name);
        xml.writeAttribute(kXsiNs, QStringLiteral("type"), QStringLiteral("xsd:string"));
        xml.writeCharacters(value);
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return body;
}

QString ParseSoapResponse(const QByteArray& aBody)
{
    if (aBody.size() > kSoapMaxReplyBytes)
        throw TooLarge();
    QXmlStreamReader xml(aBody);
    int depth = 0;
    bool haveEnvelope = false;
    bool haveBody = false;
    bool inBody = false;
    bool haveResponse = false;
    bool inResponse = false;
    bool isFault = false;
    bool haveResult = false;
    QString result;
    QString faultCode;
    QString faultString;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::DTD) {
            // SOAP messages carry no document type declaration; refusing it
            // also keeps entity definitions, and their expansion, out.
            throw Malformed(QStringLiteral("it holds a document type declaration"));
        }
        if (token == QXmlStreamReader::EndElement) {
            if (depth == 3)
                inResponse = false;
            else if (depth == 2)
                inBody = false;
            --depth;
            continue;
        }
        if (token != QXmlStreamReader::StartElement)
            continue;
        ++depth;
        const bool soapElement = xml.namespaceUri() == kEnvelopeNs;
        if (depth == 1) {
            if (!soapElement || xml.name() != QLatin1String("Envelope"))
                throw Malformed(QStringLiteral("it has no SOAP 1.1 envelope"));
            haveEnvelope = true;
        } else if (depth == 2) {
            if (soapElement && xml.name() == QLatin1String("Body") && !haveBody) {
                haveBody = true;
                inBody = true;
            }
        } else if (depth == 3 && inBody && !haveResponse) {
            // The first element of the body is the answer; encoded replies may
            // add referenced values after it, which this service never uses.
            haveResponse = true;
            inResponse = true;
            isFault = soapElement && xml.name() == QLatin1String("Fault");
        } else if (depth == 4 && inResponse) {
            if (isFault) {
                const QString name = xml.name().toString();
                const QString text = xml.readElementText(QXmlStreamReader::IncludeChildElements);
                --depth;
                if (name == QLatin1String("faultcode"))
                    faultCode = text.trimmed();
                else if (name == QLatin1String("faultstring"))
                    faultString = text.trimmed();
            } else if (!haveResult) {
                if (xml.attributes().hasAttribute(QLatin1String("href")))
                    throw Malformed(QStringLiteral("its result is a reference"));
                result = xml.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
                --depth;
                haveResult = true;
            }
        }
    }
    if (xml.hasError()) {
        if (aBody.trimmed().isEmpty())
            throw Malformed(QStringLiteral("it is empty"));
        throw Malformed(QStringLiteral("it is not well-formed XML: ") + ReaderError(xml));
    }
    if (!haveEnvelope)
        throw Malformed(QStringLiteral("it has no SOAP 1.1 envelope"));
    if (!haveBody)
        throw Malformed(QStringLiteral("it has no SOAP body"));
    if (isFault) {
        QString message = QStringLiteral("The update server reported a fault");
        if (!faultString.isEmpty())
            message += QStringLiteral(": ") + faultString;
        if (!faultCode.isEmpty())
            message += QStringLiteral(" (%1)").arg(faultCode);
        throw ESOAPFault(message + QLatin1Char('.'));
    }
    if (!haveResult)
        throw Malformed(QStringLiteral("it holds no result"));
    return result;
}
