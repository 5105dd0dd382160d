#pragma once

// A Radicale CalDAV server for a test: on 127.0.0.1 at a free port, with a
// temporary storage folder and a plain password file holding one user. The
// tests that need it skip when the radicale program is not installed.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUuid>

class TRadicaleServer
{
public:
    static inline const QString kUser = QStringLiteral("ulmora");
    static inline const QString kPassword = QStringLiteral("s3cret pass");

    TRadicaleServer() = default;
    // Runs the server through a script of its own (python3 SCRIPT --config
    // FILE) instead of the radicale program: the benchmark's server.
    explicit TRadicaleServer(const QString& aScript) : FScript(aScript) {}
    ~TRadicaleServer() { Stop(); }

    static QString Program() { return QStandardPaths::findExecutable(QStringLiteral("radicale")); }

    // Starts the server (again, on the same port and storage after Stop);
    // false with the reason in aError when it does not answer.
    bool Start(QString& aError)
    {
        if (Program().isEmpty()) {
            aError = QStringLiteral("radicale is not installed");
            return false;
        }
        if (FPort == 0) {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            FPort = probe.serverPort();
            QFile users(FDir.filePath(QStringLiteral("users")));
            users.open(QIODevice::WriteOnly);
            users.write((kUser + QLatin1Char(':') + kPassword + QLatin1Char('\n')).toUtf8());
            users.close();
            QFile config(FDir.filePath(QStringLiteral("config")));
            config.open(QIODevice::WriteOnly);
            config.write(QStringLiteral("[server]\nhosts = 127.0.0.1:%1\n"
                                        "[auth]\ntype = htpasswd\nhtpasswd_filename = %2\n"
                                        "htpasswd_encryption = plain\n"
                                        "[storage]\nfilesystem_folder = %3\n"
                                        "[rights]\ntype = owner_only\n"
                                        "[logging]\nlevel = warning\n")
                             .arg(FPort)
                             .arg(FDir.filePath(QStringLiteral("users")),
                                  FDir.filePath(QStringLiteral("storage")))
                             .toUtf8());
        }
        FProcess = std::make_unique<QProcess>();
        FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess->setStandardOutputFile(QProcess::nullDevice());
        const QStringList options{QStringLiteral("--config"),
                                  FDir.filePath(QStringLiteral("config"))};
        if (FScript.isEmpty())
            FProcess->start(Program(), options);
        else
            FProcess->start(QStringLiteral("/usr/bin/python3"), QStringList{FScript} + options);
        if (!FProcess->waitForStarted(10000)) {
            aError = QStringLiteral("radicale did not start: %1").arg(FProcess->errorString());
            return false;
        }
        for (int attempt = 0; attempt < 200; ++attempt) {
            QTcpSocket socket;
            socket.connectToHost(QHostAddress::LocalHost, FPort);
            if (socket.waitForConnected(100))
                return true;
            if (FProcess->state() == QProcess::NotRunning)
                break;
            QThread::msleep(50);
        }
        aError = QStringLiteral("radicale does not answer on port %1").arg(FPort);
        return false;
    }

    // Ends the server at once, as a crash or a pulled cable would.
    void Kill()
    {
        if (FProcess && FProcess->state() != QProcess::NotRunning) {
            FProcess->kill();
            FProcess->waitForFinished(10000);
        }
        FProcess.reset();
    }
    void Stop()
    {
        if (FProcess && FProcess->state() != QProcess::NotRunning) {
            FProcess->terminate();
            if (!FProcess->waitForFinished(10000))
                Kill();
        }
        FProcess.reset();
    }

    QString Base() const { return QStringLiteral("http://127.0.0.1:%1/").arg(FPort); }
    // The storage folder of a collection: one .ics file per member.
    QString CollectionFolder(const QString& aName) const
    {
        return FDir.filePath(QStringLiteral("storage/collection-root/%1/%2").arg(kUser, aName));
    }
    int MemberCount(const QString& aName) const
    {
        return QDir(CollectionFolder(aName))
            .entryList({QStringLiteral("*.ics")}, QDir::Files)
            .size();
    }

    // The text of every member of a collection, as the server stores it.
    QList<QByteArray> MemberTexts(const QString& aName) const
    {
        const QDir folder(CollectionFolder(aName));
        QList<QByteArray> texts;
        for (const QString& file : folder.entryList({QStringLiteral("*.ics")}, QDir::Files)) {
            QFile member(folder.filePath(file));
            texts << (member.open(QIODevice::ReadOnly) ? member.readAll() : QByteArray());
        }
        return texts;
    }

    // A new calendar collection for to-dos and events; its URL, or empty
    // when the server refused.
    QString MakeCalendar(const QString& aName = QString())
    {
        const QString name =
            aName.isEmpty() ? QUuid::createUuid().toString(QUuid::WithoutBraces) : aName;
        const QString url = Base() + kUser + QLatin1Char('/') + name + QLatin1Char('/');
        const QByteArray body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><C:mkcalendar xmlns:D=\"DAV:\" "
            "xmlns:C=\"urn:ietf:params:xml:ns:caldav\"><D:set><D:prop><D:displayname>" +
            name.toUtf8() +
            "</D:displayname><C:supported-calendar-component-set><C:comp name=\"VTODO\"/>"
            "<C:comp name=\"VEVENT\"/></C:supported-calendar-component-set></D:prop></D:set>"
            "</C:mkcalendar>";
        return Request("MKCALENDAR", url, body) == 201 ? url : QString();
    }

    // One request with the user's password; its HTTP status.
    int Request(const QByteArray& aVerb, const QString& aUrl, const QByteArray& aBody,
                QByteArray* aReply = nullptr)
    {
        QNetworkAccessManager network;
        QNetworkRequest request{QUrl(aUrl)};
        request.setRawHeader("Authorization",
                             "Basic " + (kUser + QLatin1Char(':') + kPassword).toUtf8().toBase64());
        request.setRawHeader("Content-Type", "application/xml; charset=utf-8");
        request.setRawHeader("Depth", "1");
        std::unique_ptr<QNetworkReply> reply(network.sendCustomRequest(request, aVerb, aBody));
        QEventLoop loop;
        QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
        QTimer::singleShot(30000, &loop, &QEventLoop::quit);
        loop.exec();
        if (aReply)
            *aReply = reply->readAll();
        return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    }

private:
    QString FScript;
    QTemporaryDir FDir;
    quint16 FPort = 0;
    std::unique_ptr<QProcess> FProcess;
};
