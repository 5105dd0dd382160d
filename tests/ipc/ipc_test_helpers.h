#pragma once

// Helpers shared by the pipe server tests: a private runtime folder, unique
// pipe names and raw clients that speak the frame format byte by byte.

#include "ipc/kvd_ipc.h"
#include "ipc/kvd_message.h"
#include "util/kvd_errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <chrono>
#include <memory>

// Points XDG_RUNTIME_DIR at a fresh private folder for the life of the object.
class TRuntimeDir
{
public:
    TRuntimeDir() { qputenv("XDG_RUNTIME_DIR", FDir.path().toLocal8Bit()); }
    QString Path() const { return FDir.path(); }

private:
    QTemporaryDir FDir;
};

inline QString UniquePipeName(const char* aPrefix)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("%1_%2_%3")
        .arg(QLatin1String(aPrefix))
        .arg(QCoreApplication::applicationPid())
        .arg(++counter);
}

inline PPipeConnection RawConnect(const QString& aPipeName)
{
    int error = 0;
    return ConnectPipe(PipePathOf(aPipeName), 3000, error);
}

inline bool SendRaw(IPipeConnection& aConnection, const QByteArray& aBytes)
{
    return aConnection.WriteAll(aBytes.constData(), aBytes.size());
}

inline QByteArray ReadRaw(IPipeConnection& aConnection, int64_t aSize)
{
    QByteArray bytes(aSize, Qt::Uninitialized);
    if (!aConnection.ReadExact(bytes.data(), aSize))
        return QByteArray();
    return bytes;
}

// A server with the given limits (0: the default); nullptr when it cannot start.
inline std::unique_ptr<TIPCServer> StartServer(const QString& aName, TExecuteRequest aHandler,
                                               int aRequestTimeout = 0, int aMaxConnections = 0)
{
    auto server = std::make_unique<TIPCServer>();
    server->SetPipeName(aName);
    server->OnExecuteRequest = std::move(aHandler);
    if (aRequestTimeout > 0)
        server->SetRequestTimeout(aRequestTimeout);
    if (aMaxConnections > 0)
        server->SetMaxConnections(aMaxConnections);
    if (!server->Start())
        return nullptr;
    return server;
}

// One version question as the updater asks it: the reply's "Result", or the
// error's message.
inline QString AskOnce(const QString& aName, int aTimeoutMs = 10000)
{
    try {
        TIPCClient client;
        client.Connect(aName, aTimeoutMs);
        TMessageData request;
        request.WriteText(QStringLiteral("Command"), QStringLiteral("kvd_command_getversion"));
        return client.Execute(request)->ReadText(QStringLiteral("Result"));
    } catch (const std::exception& error) {
        return ErrorMessage(error);
    }
}

// True when the server closed its end: a read finds the end of the stream.
inline bool ServerClosed(IPipeConnection& aConnection)
{
    char byte;
    return aConnection.ReadSome(&byte, 1) <= 0;
}

inline QByteArray RequestFrame(const QString& aId, const QString& aCommand,
                               const QByteArray& aParams = QByteArray())
{
    TMessageData request;
    request.SetID(aId);
    request.WriteText(QStringLiteral("Command"), aCommand);
    request.WriteBytes(QStringLiteral("Params"), aParams);
    return EncodeFrame(request);
}

// Bare sockets on the Linux endpoint, for the tests of its queue and limits.
#ifndef _WIN32
#include "ipc_test_raw_unix.h"
#endif
