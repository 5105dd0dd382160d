#pragma once

// The SOAP peer of the update tests (tests/update/peer/peer.js) run as a child
// process: it serves the two operations with the npm package "soap" and tells
// over its stdout what it received.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QTest>

class TSoapPeer
{
public:
    // Empty when the peer can run here, else why it cannot.
    static QString Unavailable()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("node")).isEmpty())
            return QStringLiteral("node is not installed; the SOAP peer cannot run");
        if (!QFileInfo::exists(QStringLiteral(ULMORA_PEER_DIR "/node_modules/soap/package.json")))
            return QStringLiteral(
                "the SOAP peer's packages are missing; run npm ci in " ULMORA_PEER_DIR);
        return QString();
    }

    ~TSoapPeer() { Stop(); }

    // Starts the peer on a free port of 127.0.0.1; false with a reason when it
    // does not come up.
    bool Start(QString& aWhy)
    {
        FProcess.setProgram(QStandardPaths::findExecutable(QStringLiteral("node")));
        FProcess.setArguments({QStringLiteral(ULMORA_PEER_DIR "/peer.js"), QStringLiteral("0")});
        FProcess.setWorkingDirectory(QStringLiteral(ULMORA_PEER_DIR));
        FProcess.setProcessChannelMode(QProcess::SeparateChannels);
        FProcess.start();
        if (!FProcess.waitForStarted(10000)) {
            aWhy = QStringLiteral("node did not start: ") + FProcess.errorString();
            return false;
        }
        const QByteArray line = ReadLine(20000);
        if (!line.startsWith("PORT ")) {
            aWhy = QStringLiteral("the peer did not report its port: ") +
                   QString::fromUtf8(line + FProcess.readAllStandardError());
            return false;
        }
        FPort = line.mid(5).trimmed().toInt();
        return FPort > 0;
    }

    void Stop()
    {
        if (FProcess.state() == QProcess::NotRunning)
            return;
        FProcess.closeWriteChannel();
        if (!FProcess.waitForFinished(5000)) {
            FProcess.kill();
            FProcess.waitForFinished(5000);
        }
    }

    int Port() const { return FPort; }
    QString Url(const QString& aPath) const
    {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(FPort).arg(aPath);
    }
    QString Endpoint() const { return Url(QStringLiteral("/scripts/kvd_services.php")); }

    // aOp is "run" or "getupdate".
    bool SetReply(const QString& aOp, const QString& aText)
    {
        return Command({{"cmd", "reply"}, {"op", aOp}, {"text", aText}});
    }
    bool SetFault(const QString& aOp, const QString& aCode, const QString& aString)
    {
        return Command(
            {{"cmd", "fault"}, {"op", aOp}, {"faultcode", aCode}, {"faultstring", aString}});
    }

    // The next request the peer reports, waiting for it if need be; an empty
    // object when none comes.
    QJsonObject NextReceived(int aWaitMSecs = 5000)
    {
        if (FReceived.isEmpty())
            ReadUntil([](const QJsonObject& aLine) { return aLine.contains("recv"); }, aWaitMSecs);
        return FReceived.isEmpty() ? QJsonObject() : FReceived.takeFirst();
    }
    // Requests reported so far, without waiting.
    QList<QJsonObject> TakeReceived()
    {
        while (FProcess.canReadLine())
            Take(FProcess.readLine());
        QList<QJsonObject> all = FReceived;
        FReceived.clear();
        return all;
    }

private:
    QByteArray ReadLine(int aWaitMSecs)
    {
        QDeadlineTimer deadline(aWaitMSecs);
        while (!FProcess.canReadLine()) {
            if (deadline.hasExpired() || FProcess.state() == QProcess::NotRunning)
                return QByteArray();
            // The calls under test run in this thread's event loop.
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            FProcess.waitForReadyRead(20);
        }
        return FProcess.readLine();
    }

    void Take(const QByteArray& aLine)
    {
        const QJsonObject obj = QJsonDocument::fromJson(aLine).object();
        if (obj.contains("recv"))
            FReceived << obj.value("recv").toObject();
        FLast = obj;
    }

    template <typename P> bool ReadUntil(P aPredicate, int aWaitMSecs)
    {
        QDeadlineTimer deadline(aWaitMSecs);
        while (!deadline.hasExpired()) {
            const QByteArray line = ReadLine(static_cast<int>(deadline.remainingTime()));
            if (line.isEmpty())
                return false;
            Take(line);
            if (aPredicate(FLast))
                return true;
        }
        return false;
    }

    bool Command(const QJsonObject& aCommand)
    {
        FProcess.write(QJsonDocument(aCommand).toJson(QJsonDocument::Compact) + '\n');
        FProcess.waitForBytesWritten(5000);
        return ReadUntil(
                   [](const QJsonObject& aLine) {
                       return aLine.contains("ack") || aLine.contains("error");
                   },
                   5000) &&
               FLast.contains("ack");
    }

    QProcess FProcess;
    int FPort = 0;
    QList<QJsonObject> FReceived;
    QJsonObject FLast;
};
