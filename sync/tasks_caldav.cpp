#include "sync/tasks_caldav.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QXmlStreamReader>

namespace {

const QString kDav = QStringLiteral("DAV:");
const QString kCalDav = QStringLiteral("urn:ietf:params:xml:ns:caldav");
const QString kCalServer = QStringLiteral("http://calendarserver.org/ns/");

const QByteArray kXmlHead = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n");

const QByteArray kProbeBody =
    kXmlHead +
    QByteArrayLiteral(
        "<d:propfind xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\" "
        "xmlns:cs=\"http://calendarserver.org/ns/\"><d:prop><d:resourcetype/><d:displayname/>"
        "<c:supported-calendar-component-set/><d:sync-token/><cs:getctag/></d:prop></d:propfind>");

const QByteArray kListBody =
    kXmlHead + QByteArrayLiteral(
                   "<c:calendar-query xmlns:d=\"DAV:\" xmlns:c=\"urn:ietf:params:xml:ns:caldav\">"
                   "<d:prop><d:getetag/></d:prop><c:filter><c:comp-filter name=\"VCALENDAR\">"
                   "<c:comp-filter name=\"VTODO\"/></c:comp-filter></c:filter></c:calendar-query>");

// A server that truncates a sync report is asked again from where it stopped,
// up to this many times in one call.
constexpr int kSyncRounds = 1000;

QByteArray Escaped(const QString& aText)
{
    return aText.toHtmlEscaped().toUtf8();
}

int StatusOfLine(const QString& aLine)
{
    // "HTTP/1.1 404 Not Found"
    const QStringList words = aLine.simplified().split(QLatin1Char(' '));
    return words.size() >= 2 ? words[1].toInt() : 0;
}

QString HostText(const QUrl& aUrl)
{
    return aUrl.port() > 0 ? QStringLiteral("%1:%2").arg(aUrl.host()).arg(aUrl.port())
                           : aUrl.host();
}

QString NetworkErrorText(const QNetworkReply& aReply, const QUrl& aUrl)
{
    const QString host = HostText(aUrl);
    switch (aReply.error()) {
    case QNetworkReply::ConnectionRefusedError:
        return QStringLiteral("the server %1 refused the connection (is it running?)").arg(host);
    case QNetworkReply::HostNotFoundError:
        return QStringLiteral("the server %1 was not found").arg(aUrl.host());
    case QNetworkReply::RemoteHostClosedError:
        return QStringLiteral("the server %1 closed the connection before it answered").arg(host);
    case QNetworkReply::SslHandshakeFailedError:
        return QStringLiteral("the secure connection to %1 failed: %2")
            .arg(host, aReply.errorString());
    case QNetworkReply::ProtocolFailure:
        return QStringLiteral("the server %1 sent a reply that is not valid HTTP (%2)")
            .arg(host, aReply.errorString());
    default:
        return QStringLiteral("the connection to %1 failed: %2").arg(host, aReply.errorString());
    }
}

QString StripSlash(QString aPath)
{
    while (aPath.size() > 1 && aPath.endsWith(QLatin1Char('/')))
        aPath.chop(1);
    return aPath;
}

bool IsDav(const QXmlStreamReader& aXml, QLatin1String aName)
{
    return aXml.namespaceUri() == kDav && aXml.name() == aName;
}

// The text and the element names inside the current property element, which
// the reader leaves at its end.
void ReadPropContent(QXmlStreamReader& aXml, TDavProp& aProp)
{
    int depth = 1;
    while (depth > 0 && !aXml.atEnd()) {
        switch (aXml.readNext()) {
        case QXmlStreamReader::StartElement:
            ++depth;
            aProp.children << aXml.namespaceUri().toString() + QLatin1Char('|') +
                                  aXml.name().toString();
            if (aXml.name() == QLatin1String("comp"))
                aProp.compNames
                    << aXml.attributes().value(QLatin1String("name")).toString().toUpper();
            break;
        case QXmlStreamReader::EndElement:
            --depth;
            break;
        case QXmlStreamReader::Characters:
            if (depth == 1)
                aProp.text += aXml.text();
            break;
        default:
            break;
        }
    }
}

void ReadPropstat(QXmlStreamReader& aXml, std::vector<TDavProp>& aProps)
{
    std::vector<TDavProp> props;
    int status = 200;
    while (aXml.readNextStartElement()) {
        if (IsDav(aXml, QLatin1String("prop"))) {
            while (aXml.readNextStartElement()) {
                TDavProp& prop = props.emplace_back();
                prop.ns = aXml.namespaceUri().toString();
                prop.name = aXml.name().toString();
                ReadPropContent(aXml, prop);
            }
        } else if (IsDav(aXml, QLatin1String("status"))) {
            status = StatusOfLine(aXml.readElementText());
        } else {
            aXml.skipCurrentElement();
        }
    }
    for (TDavProp& prop : props) {
        prop.status = status;
        aProps.push_back(std::move(prop));
    }
}

TDavResponse ReadResponse(QXmlStreamReader& aXml)
{
    TDavResponse response;
    while (aXml.readNextStartElement()) {
        if (IsDav(aXml, QLatin1String("href")))
            response.href = aXml.readElementText().trimmed();
        else if (IsDav(aXml, QLatin1String("status")))
            response.status = StatusOfLine(aXml.readElementText());
        else if (IsDav(aXml, QLatin1String("propstat")))
            ReadPropstat(aXml, response.props);
        else
            aXml.skipCurrentElement();
    }
    return response;
}

} // namespace

const TDavProp* TDavResponse::Find(const QString& aNs, const QString& aName) const
{
    for (const TDavProp& prop : props) {
        if (prop.ns == aNs && prop.name == aName && prop.status >= 200 && prop.status < 300)
            return &prop;
    }
    return nullptr;
}

TDavMultistatus ParseMultistatus(const QByteArray& aXml)
{
    TDavMultistatus result;
    QXmlStreamReader xml(aXml);
    bool root = false;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        // A document type could declare entities that grow without bound.
        if (token == QXmlStreamReader::DTD)
            throw ECalDavError(QStringLiteral(
                "the server's reply declares a document type, which is not accepted"));
        if (token != QXmlStreamReader::StartElement)
            continue;
        if (!root) {
            if (!IsDav(xml, QLatin1String("multistatus")))
                throw ECalDavError(
                    QStringLiteral("the server's reply is not a WebDAV multistatus but <%1>")
                        .arg(xml.name().toString()));
            root = true;
        } else if (IsDav(xml, QLatin1String("response"))) {
            result.responses.push_back(ReadResponse(xml));
        } else if (IsDav(xml, QLatin1String("sync-token"))) {
            result.syncToken = xml.readElementText().trimmed();
        } else {
            xml.skipCurrentElement();
        }
    }
    if (xml.hasError())
        throw ECalDavError(QStringLiteral("the server's reply is not valid XML: %1 (line %2)")
                               .arg(xml.errorString())
                               .arg(xml.lineNumber()));
    if (!root)
        throw ECalDavError(QStringLiteral("the server's reply holds no XML document"));
    return result;
}

TCalDavClient::TCalDavClient(const TCalDavSettings& aSettings)
    : FSettings(aSettings), FNetwork(std::make_unique<QNetworkAccessManager>())
{
    QString path = FSettings.url.path();
    if (!path.endsWith(QLatin1Char('/')))
        FSettings.url.setPath(path + QLatin1Char('/'));
    // Replies are never cached: every answer must come from the server.
    FNetwork->setCache(nullptr);
}

TCalDavClient::~TCalDavClient() = default;

QString TCalDavClient::HrefFor(const QString& aFileName) const
{
    return FSettings.url.path(QUrl::FullyDecoded) + aFileName;
}

QUrl TCalDavClient::UrlOf(const QString& aHref) const
{
    QUrl url = FSettings.url;
    url.setPath(aHref, QUrl::DecodedMode);
    return url;
}

TCalDavClient::TReply TCalDavClient::Send(const QByteArray& aVerb, const QUrl& aUrl,
                                          const QByteArray& aBody,
                                          const QList<std::pair<QByteArray, QByteArray>>& aHeaders)
{
    QNetworkRequest request(aUrl);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    if (!FSettings.user.isEmpty() || !FSettings.password.isEmpty())
        request.setRawHeader(
            "Authorization",
            "Basic " +
                (FSettings.user + QLatin1Char(':') + FSettings.password).toUtf8().toBase64());
    for (const auto& [name, value] : aHeaders)
        request.setRawHeader(name, value);

    std::unique_ptr<QNetworkReply> reply(FNetwork->sendCustomRequest(request, aVerb, aBody));
    QByteArray received;
    bool tooLarge = false;
    bool timedOut = false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        timedOut = true;
        reply->abort();
    });
    QObject::connect(reply.get(), &QNetworkReply::metaDataChanged, &loop, [&] {
        const qint64 length = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
        if (length > FSettings.maxReplyBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &loop, [&] {
        received += reply->readAll();
        if (received.size() > FSettings.maxReplyBytes) {
            tooLarge = true;
            reply->abort();
        }
    });
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(FSettings.timeoutMs);
    if (!reply->isFinished())
        loop.exec();
    timer.stop();
    if (!tooLarge && !timedOut)
        received += reply->readAll();
    if (tooLarge)
        throw ECalDavError(QStringLiteral("the server's reply is too large (over %1 MiB)")
                               .arg(FSettings.maxReplyBytes / (1024 * 1024)));
    if (timedOut)
        throw ECalDavError(QStringLiteral("the server %1 did not answer within %2 seconds")
                               .arg(HostText(aUrl))
                               .arg(FSettings.timeoutMs / 1000.0));
    TReply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (result.status == 0)
        throw ECalDavError(NetworkErrorText(*reply, aUrl));
    if (result.status >= 300 && result.status < 400) {
        // Never followed: the password would go wherever the server points.
        const QUrl target = aUrl.resolved(QUrl(QString::fromUtf8(reply->rawHeader("Location"))));
        throw ECalDavError(QStringLiteral("the server moved %1 to %2; if that is right, enter the "
                                          "new address")
                               .arg(aUrl.toDisplayString(), target.toDisplayString()));
    }
    result.body = received;
    result.etag = QString::fromUtf8(reply->rawHeader("ETag"));
    result.reason = reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toString();
    return result;
}

void TCalDavClient::RaiseStatus(const TReply& aReply, const QUrl& aUrl) const
{
    switch (aReply.status) {
    case 401:
        throw ECalDavError(QStringLiteral("the server refused the user name or password"));
    case 403:
        throw ECalDavError(
            QStringLiteral("the server does not allow this user to change %1 (403 Forbidden)")
                .arg(aUrl.toDisplayString()));
    case 404:
        throw ECalDavError(QStringLiteral("the collection %1 does not exist")
                               .arg(FSettings.url.toDisplayString()));
    default:
        break;
    }
    throw ECalDavError(QStringLiteral("the server answered %1 to a request for %2")
                           .arg(aReply.status)
                           .arg(aUrl.toDisplayString()));
}

TCalDavCollection TCalDavClient::Probe()
{
    const TReply reply = Send("PROPFIND", FSettings.url, kProbeBody,
                              {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}});
    if (reply.status != 207)
        RaiseStatus(reply, FSettings.url);
    const TDavMultistatus status = ParseMultistatus(reply.body);
    const QString url = FSettings.url.toDisplayString();
    if (status.responses.empty())
        throw ECalDavError(QStringLiteral("the server said nothing about %1").arg(url));
    const TDavResponse& collection = status.responses.front();
    // Some servers (Xandikos) answer a missing collection with a multistatus
    // whose response, or every property of it, is not found.
    bool missing = collection.status == 404 || collection.status == 410;
    if (!missing && collection.status == 0 && !collection.props.empty()) {
        missing = true;
        for (const TDavProp& prop : collection.props)
            missing = missing && (prop.status == 404 || prop.status == 410);
    }
    if (missing)
        RaiseStatus({404, QByteArray(), QString(), QString()}, FSettings.url);
    const TDavProp* type = collection.Find(kDav, QStringLiteral("resourcetype"));
    if (!type || !type->children.contains(kCalDav + QStringLiteral("|calendar")))
        throw ECalDavError(QStringLiteral("%1 is not a calendar collection").arg(url));
    const TDavProp* components =
        collection.Find(kCalDav, QStringLiteral("supported-calendar-component-set"));
    if (components && !components->compNames.isEmpty() &&
        !components->compNames.contains(QStringLiteral("VTODO")))
        throw ECalDavError(QStringLiteral("the calendar %1 cannot hold tasks (it takes %2)")
                               .arg(url, components->compNames.join(QStringLiteral(", "))));
    TCalDavCollection result;
    if (const TDavProp* name = collection.Find(kDav, QStringLiteral("displayname")))
        result.displayName = name->text;
    if (const TDavProp* token = collection.Find(kDav, QStringLiteral("sync-token")))
        result.syncToken = token->text.trimmed();
    if (const TDavProp* ctag = collection.Find(kCalServer, QStringLiteral("getctag")))
        result.ctag = ctag->text.trimmed();
    return result;
}

namespace {

// The members a multistatus names, as decoded paths inside the collection;
// an href elsewhere (another host, outside the collection) is ignored.
QString MemberPath(const QUrl& aCollection, const QString& aHref)
{
    const QUrl url = aCollection.resolved(QUrl(aHref, QUrl::TolerantMode));
    if (url.scheme() != aCollection.scheme() || url.host() != aCollection.host() ||
        url.port(aCollection.scheme() == QLatin1String("https") ? 443 : 80) !=
            aCollection.port(aCollection.scheme() == QLatin1String("https") ? 443 : 80))
        return QString();
    const QString path = url.path(QUrl::FullyDecoded);
    const QString base = aCollection.path(QUrl::FullyDecoded);
    if (!path.startsWith(base) || StripSlash(path) == StripSlash(base))
        return QString();
    return path;
}

} // namespace

bool TCalDavClient::SyncCollection(const QString& aToken, TCalDavChanges& aChanges)
{
    aChanges = TCalDavChanges();
    QString token = aToken;
    for (int round = 0; round < kSyncRounds; ++round) {
        const QByteArray body =
            kXmlHead + "<d:sync-collection xmlns:d=\"DAV:\"><d:sync-token>" + Escaped(token) +
            "</d:sync-token><d:sync-level>1</d:sync-level><d:prop><d:getetag/></d:prop>"
            "</d:sync-collection>";
        const TReply reply =
            Send("REPORT", FSettings.url, body,
                 {{"Depth", "0"}, {"Content-Type", "application/xml; charset=utf-8"}});
        if (reply.status == 401 || reply.status == 404)
            RaiseStatus(reply, FSettings.url);
        // A token the server no longer knows (403, 409 with valid-sync-token),
        // or no such report at all.
        if (reply.status != 207)
            return false;
        const TDavMultistatus status = ParseMultistatus(reply.body);
        bool truncated = false;
        for (const TDavResponse& response : status.responses) {
            const QString path = MemberPath(FSettings.url, response.href);
            if (path.isEmpty()) {
                truncated = truncated || response.status == 507;
                continue;
            }
            if (response.status == 404 || response.status == 410) {
                aChanges.removed << path;
                continue;
            }
            if (const TDavProp* etag = response.Find(kDav, QStringLiteral("getetag")))
                aChanges.changed.push_back({path, etag->text.trimmed(), QByteArray()});
        }
        if (status.syncToken.isEmpty())
            throw ECalDavError(QStringLiteral("the server's sync report holds no sync token"));
        aChanges.token = status.syncToken;
        if (!truncated || status.syncToken == token)
            return true;
        token = status.syncToken;
    }
    return true;
}

std::vector<TCalDavItem> TCalDavClient::ListTodos()
{
    const TReply reply = Send("REPORT", FSettings.url, kListBody,
                              {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}});
    if (reply.status != 207)
        RaiseStatus(reply, FSettings.url);
    std::vector<TCalDavItem> items;
    for (const TDavResponse& response : ParseMultistatus(reply.body).responses) {
        const QString path = MemberPath(FSettings.url, response.href);
        const TDavProp* etag = response.Find(kDav, QStringLiteral("getetag"));
        if (!path.isEmpty() && etag)
            items.push_back({path, etag->text.trimmed(), QByteArray()});
    }
    return items;
}

std::vector<TCalDavItem> TCalDavClient::Multiget(const QStringList& aHrefs)
{
    std::vector<TCalDavItem> items;
    if (aHrefs.isEmpty())
        return items;
    QByteArray body = kXmlHead + "<c:calendar-multiget xmlns:d=\"DAV:\" "
                                 "xmlns:c=\"urn:ietf:params:xml:ns:caldav\"><d:prop><d:getetag/>"
                                 "<c:calendar-data/></d:prop>";
    for (const QString& href : aHrefs)
        body += "<d:href>" + Escaped(UrlOf(href).path(QUrl::FullyEncoded)) + "</d:href>";
    body += "</c:calendar-multiget>";
    const TReply reply = Send("REPORT", FSettings.url, body,
                              {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}});
    if (reply.status != 207)
        RaiseStatus(reply, FSettings.url);
    for (const TDavResponse& response : ParseMultistatus(reply.body).responses) {
        const QString path = MemberPath(FSettings.url, response.href);
        const TDavProp* etag = response.Find(kDav, QStringLiteral("getetag"));
        const TDavProp* data = response.Find(kCalDav, QStringLiteral("calendar-data"));
        if (!path.isEmpty() && etag && data)
            items.push_back({path, etag->text.trimmed(), data->text.toUtf8()});
    }
    return items;
}

namespace {

TCalDavWrite WriteOutcome(const TCalDavClient::TReply& aReply)
{
    QString answer = QString::number(aReply.status);
    if (!aReply.reason.trimmed().isEmpty())
        answer += QLatin1Char(' ') + aReply.reason.trimmed();
    return {aReply.status, aReply.etag, answer};
}

} // namespace

TCalDavWrite TCalDavClient::Put(const QString& aHref, const QByteArray& aData, const QString& aEtag)
{
    const QUrl url = UrlOf(aHref);
    const TReply reply =
        Send("PUT", url, aData,
             {{"Content-Type", "text/calendar; charset=utf-8"},
              aEtag.isEmpty() ? std::pair<QByteArray, QByteArray>("If-None-Match", "*")
                              : std::pair<QByteArray, QByteArray>("If-Match", aEtag.toUtf8())});
    // A refused password refuses every request: no item goes through.
    if (reply.status == 401)
        RaiseStatus(reply, url);
    return WriteOutcome(reply);
}

TCalDavWrite TCalDavClient::Delete(const QString& aHref, const QString& aEtag)
{
    const QUrl url = UrlOf(aHref);
    QList<std::pair<QByteArray, QByteArray>> headers;
    if (!aEtag.isEmpty())
        headers.append({"If-Match", aEtag.toUtf8()});
    const TReply reply = Send("DELETE", url, QByteArray(), headers);
    if (reply.status == 401)
        RaiseStatus(reply, url);
    return WriteOutcome(reply);
}
