#pragma once

// The error-injecting proxy (fault_proxy.py) in front of one server: the test
// points the sync at it and sets rules that fail chosen requests. It ends with
// its input, so it never outlives the test.

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUrl>
#include <memory>

// One rule of the proxy; see fault_proxy.py.
struct TFault
{
    QString method;
    QString path;
    QString action = QStringLiteral("status");
    int status = 500;
    int skip = 0;
    int times = -1;

    QJsonObject Json() const
    {
        return QJsonObject{{QStringLiteral("method"), method}, {QStringLiteral("path"), path},
                           {QStringLiteral("action"), action}, {QStringLiteral("status"), status},
                           {QStringLiteral("skip"), skip},     {QStringLiteral("times"), times}};
    }
};

class TFaultProxy
{
public:
    ~TFaultProxy()
    {
        if (FProcess) {
            FProcess->closeWriteChannel();
            if (!FProcess->waitForFinished(10000))
                FProcess->kill();
            FProcess->waitForFinished(10000);
        }
    }

    // Starts the proxy in front of 127.0.0.1:aTargetPort; false with the
    // reason when it does not come up.
    bool Start(const QString& aScript, quint16 aTargetPort, QString& aError)
    {
        FProcess = std::make_unique<QProcess>();
        FProcess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess->start(QStringLiteral("/usr/bin/python3"),
                        {aScript, QString::number(aTargetPort)});
        const QByteArray line = ReadLine();
        FPort = line.toUShort();
        if (FPort == 0) {
            aError = QStringLiteral("the proxy did not start: %1 %2")
                         .arg(FProcess->errorString(), QString::fromUtf8(line));
            return false;
        }
        return true;
    }

    // aUrl of the server, reached through the proxy.
    QString Through(const QString& aUrl) const
    {
        QUrl url(aUrl);
        url.setPort(FPort);
        return url.toString();
    }

    // Replaces the rules; true once the proxy applies them to the next request.
    bool SetFaults(const QList<TFault>& aFaults)
    {
        QJsonArray rules;
        for (const TFault& fault : aFaults)
            rules.append(fault.Json());
        FProcess->write(QJsonDocument(rules).toJson(QJsonDocument::Compact) + '\n');
        return ReadLine() == "ok";
    }
    bool Clear() { return SetFaults({}); }

private:
    QByteArray ReadLine()
    {
        QDeadlineTimer deadline(60000);
        while (!FProcess->canReadLine() && !deadline.hasExpired() &&
               FProcess->state() != QProcess::NotRunning)
            FProcess->waitForReadyRead(1000);
        return FProcess->readLine().trimmed();
    }

    std::unique_ptr<QProcess> FProcess;
    quint16 FPort = 0;
};
