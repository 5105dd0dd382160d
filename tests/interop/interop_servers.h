#pragma once

// The CalDAV servers of the interoperability tests behind one interface, so
// that a scenario runs as one row per server. Each is a Debian package started
// by the test on 127.0.0.1 at a free port with a temporary storage folder:
// Radicale with a password file holding the test user (tests/sync's
// TRadicaleServer), and Xandikos, which has no accounts of its own: it takes
// any user name and password and checks none, so it runs without them. A
// server whose program is missing makes its rows skip.

#include "../sync/radicale_server.h"
#include "sync/tasks_caldav.h"

#include <QList>
#include <QUrl>
#include <map>
#include <memory>
#include <utility>

struct THttpReply
{
    int status = 0;
    QByteArray body;
    QByteArray etag;
};

// One request with the test user's password (sent to every server, checked by
// those that have accounts).
inline THttpReply HttpRequest(const QByteArray& aVerb, const QString& aUrl,
                              const QByteArray& aBody = QByteArray(),
                              const QList<std::pair<QByteArray, QByteArray>>& aHeaders = {})
{
    QNetworkAccessManager network;
    QNetworkRequest request{QUrl(aUrl)};
    request.setRawHeader("Authorization", "Basic " + (TRadicaleServer::kUser + QLatin1Char(':') +
                                                      TRadicaleServer::kPassword)
                                                         .toUtf8()
                                                         .toBase64());
    for (const auto& [name, value] : aHeaders)
        request.setRawHeader(name, value);
    std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, aVerb, aBody));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    // A ceiling for a server that hangs, far above any answer of a live one.
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    THttpReply result;
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.body = reply->readAll();
    result.etag = reply->rawHeader("ETag");
    return result;
}

// Waits until something accepts connections on aPort, at most a generous
// ceiling; false when aProcess ended or nothing answered.
inline bool WaitForPort(quint16 aPort, const QProcess& aProcess)
{
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, aPort);
        if (socket.waitForConnected(200))
            return true;
        if (aProcess.state() == QProcess::NotRunning)
            return false;
        QThread::msleep(50);
    }
    return false;
}

inline quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class TInteropServer
{
public:
    virtual ~TInteropServer() = default;

    virtual QString Name() const = 0;
    // The server's program; empty when it is not installed.
    virtual QString Program() const = 0;
    // False with the reason when the server does not answer.
    virtual bool Start(QString& aError) = 0;
    virtual quint16 Port() const = 0;
    // The path of a calendar collection of this name in the test user's home.
    virtual QString CalendarPath(const QString& aName) const = 0;

    QString Base() const { return QStringLiteral("http://127.0.0.1:%1").arg(Port()); }
    QString CalendarUrl(const QString& aName) const { return Base() + CalendarPath(aName); }

    // A calendar collection for to-dos and events at aUrl; false when the
    // server refused.
    static bool MakeCalendarAt(const QString& aUrl)
    {
        const QByteArray body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><C:mkcalendar xmlns:D=\"DAV:\" "
            "xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:set><D:prop><D:displayname>Tasks"
            "</D:displayname><C:supported-calendar-component-set><C:comp name=\"VTODO\"/>"
            "<C:comp name=\"VEVENT\"/></C:supported-calendar-component-set></D:prop></D:set>"
            "</C:mkcalendar>";
        return HttpRequest("MKCALENDAR", aUrl, body,
                           {{"Content-Type", "application/xml; charset=utf-8"}})
                   .status == 201;
    }
    // A new calendar with a name of its own; its URL, empty when refused.
    QString NewCalendar()
    {
        const QString url = CalendarUrl(QUuid::createUuid().toString(QUuid::WithoutBraces));
        return MakeCalendarAt(url) ? url : QString();
    }
    static bool DeleteCollection(const QString& aUrl)
    {
        const int status = HttpRequest("DELETE", aUrl).status;
        return status >= 200 && status < 300;
    }

    // Every member of the collection at aUrl with its exact text (a GET of
    // each href), by href; false when the server would not list them.
    static bool Members(const QString& aUrl, std::map<QString, QByteArray>& aMembers)
    {
        aMembers.clear();
        const THttpReply listing =
            HttpRequest("PROPFIND", aUrl,
                        "<?xml version=\"1.0\" encoding=\"utf-8\"?><d:propfind xmlns:d=\"DAV:\">"
                        "<d:prop><d:getetag/></d:prop></d:propfind>",
                        {{"Depth", "1"}, {"Content-Type", "application/xml; charset=utf-8"}});
        if (listing.status != 207)
            return false;
        const QUrl collection(aUrl);
        for (const TDavResponse& response : ParseMultistatus(listing.body).responses) {
            const QUrl member = collection.resolved(QUrl(response.href));
            if (member.path() == collection.path() || !member.path().startsWith(collection.path()))
                continue;
            const THttpReply text = HttpRequest("GET", member.toString());
            if (text.status != 200)
                return false;
            aMembers[member.path()] = text.body;
        }
        return true;
    }
    // A new member at aUrl exactly as given.
    static bool PutNew(const QString& aUrl, const QByteArray& aText)
    {
        const int status =
            HttpRequest("PUT", aUrl, aText,
                        {{"Content-Type", "text/calendar; charset=utf-8"}, {"If-None-Match", "*"}})
                .status;
        return status == 201 || status == 204;
    }
};

class TRadicaleInterop : public TInteropServer
{
public:
    QString Name() const override { return QStringLiteral("Radicale"); }
    QString Program() const override { return TRadicaleServer::Program(); }
    bool Start(QString& aError) override { return FServer.Start(aError); }
    quint16 Port() const override { return QUrl(FServer.Base()).port(); }
    QString CalendarPath(const QString& aName) const override
    {
        return QStringLiteral("/%1/%2/").arg(TRadicaleServer::kUser, aName);
    }

private:
    TRadicaleServer FServer;
};

class TXandikosServer : public TInteropServer
{
public:
    ~TXandikosServer() override
    {
        if (FProcess && FProcess->state() != QProcess::NotRunning) {
            FProcess->terminate();
            if (!FProcess->waitForFinished(10000)) {
                FProcess->kill();
                FProcess->waitForFinished(10000);
            }
        }
    }

    QString Name() const override { return QStringLiteral("Xandikos"); }
    QString Program() const override
    {
        return QStandardPaths::findExecutable(QStringLiteral("xandikos"));
    }
    bool Start(QString& aError) override
    {
        if (Program().isEmpty()) {
            aError = QStringLiteral("xandikos is not installed");
            return false;
        }
        FPort = FreePort();
        FProcess = std::make_unique<QProcess>();
        // It logs every request.
        FProcess->setStandardOutputFile(QProcess::nullDevice());
        FProcess->setStandardErrorFile(QProcess::nullDevice());
        // --autocreate makes the principal /user/ with its calendar home;
        // each test makes its calendars there with MKCALENDAR.
        FProcess->start(Program(),
                        {QStringLiteral("--directory"), FDir.filePath(QStringLiteral("data")),
                         QStringLiteral("--listen-address"), QStringLiteral("127.0.0.1"),
                         QStringLiteral("--port"), QString::number(FPort),
                         QStringLiteral("--autocreate")});
        if (!FProcess->waitForStarted(10000)) {
            aError = QStringLiteral("xandikos did not start: %1").arg(FProcess->errorString());
            return false;
        }
        if (!WaitForPort(FPort, *FProcess)) {
            aError = QStringLiteral("xandikos does not answer on port %1").arg(FPort);
            return false;
        }
        return true;
    }
    quint16 Port() const override { return FPort; }
    QString CalendarPath(const QString& aName) const override
    {
        return QStringLiteral("/user/calendars/%1/").arg(aName);
    }

private:
    QTemporaryDir FDir;
    quint16 FPort = 0;
    std::unique_ptr<QProcess> FProcess;
};
