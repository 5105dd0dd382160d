// The pipe server and client: the exchange on the pipe, its edge cases, the
// private endpoint, bad frames, failing handlers, stopping, and ulmora-pipe.

#include "ipc/kvd_ipc.h"
#include "ipc_test_helpers.h"
#include "util/kvd_utils.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <mutex>
#include <semaphore>
#include <set>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// The handler of the update service in miniature: a fresh ID, "Result" "ok",
// and "Data" with the request's "Params" followed by a line naming the command.
void EchoHandler(IMessageData& aRequest, IMessageData& aReply)
{
    QByteArray data = aRequest.ReadBytes(QStringLiteral("Params"));
    const QString command = aRequest.ReadText(QStringLiteral("Command"));
    if (!command.isEmpty())
        data += "command=" + command.toLocal8Bit() + "\r\n";
    aReply.SetID(GenerateId());
    aReply.WriteText(QStringLiteral("Result"), QStringLiteral("ok"));
    aReply.WriteBytes(QStringLiteral("Data"), data);
}

mode_t ModeOf(const QString& aPath)
{
    struct stat info;
    if (::lstat(QFile::encodeName(aPath).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

} // namespace

class TestIpcServer : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TRuntimeDir> FRuntime;

    std::unique_ptr<TIPCServer> StartServer(const QString& aName, TExecuteRequest aHandler)
    {
        auto server = std::make_unique<TIPCServer>();
        server->SetPipeName(aName);
        server->OnExecuteRequest = std::move(aHandler);
        if (!server->Start())
            return nullptr;
        return server;
    }

private Q_SLOTS:
    void init() { FRuntime = std::make_unique<TRuntimeDir>(); }
    void cleanup() { FRuntime.reset(); }

    void createdNotListening()
    {
        TIPCServer server;
        QVERIFY(!server.Listening());
        QCOMPARE(server.PoolSize(), 20);
        server.SetPipeName("kvd_bexo");
        QCOMPARE(server.PipeName(), QString("kvd_bexo"));
        QCOMPARE(server.PipePath(), FRuntime->Path() + "/kvd_bexo");
        QCOMPARE(server.PoolTaskCount(), int64_t(-1));
    }

    void startWithoutHandler()
    {
        TIPCServer server;
        server.SetPipeName(UniquePipeName("nohandler"));
        try {
            server.Start();
            QFAIL("no error");
        } catch (const EIPCError& error) {
            QCOMPARE(error.Message(), QString("OnExecuteRequest not assigned"));
        }
        QVERIFY(!server.Listening());
        QVERIFY(!QFileInfo::exists(server.PipePath()));
        server.Stop();
    }

    void startMakesPoolAndPrivateSocket()
    {
        auto server = StartServer(UniquePipeName("start"), EchoHandler);
        QVERIFY(server);
        QVERIFY(server->Listening());
        QCOMPARE(server->PoolTaskCount(), int64_t(20));
        QCOMPARE(server->FreeTaskCount(), int64_t(20));
        QVERIFY(QFileInfo(server->PipePath()).exists());
        QCOMPARE(ModeOf(server->PipePath()), mode_t(0600));
        const QString path = server->PipePath();
        server->Stop();
        QVERIFY(!server->Listening());
        QVERIFY(!QFileInfo::exists(path));
        server->Stop(); // the second call does nothing
        QVERIFY(!server->Listening());
    }

    void clientRoundTrips()
    {
        const QString name = UniquePipeName("client");
        auto server = StartServer(name, EchoHandler);
        QVERIFY(server);
        TIPCClient client;
        QCOMPARE(client.Computer(), QString("."));
        QVERIFY(!client.Connected());
        client.Connect(name);
        QVERIFY(client.Connected());
        QSet<QString> ids;
        for (int i = 0; i < 3; ++i) {
            TMessageData request;
            request.WriteText("Command", "kvd_command_getversion");
            request.WriteBytes("Params", QByteArray("line") + QByteArray::number(i) + "\r\n");
            PMessageData reply = client.Execute(request);
            QCOMPARE(reply->GetID().size(), 16);
            ids.insert(reply->GetID());
            QCOMPARE(reply->ReadText("Result"), QString("ok"));
            QCOMPARE(reply->ReadBytes("Data"), QByteArray("line") + QByteArray::number(i) +
                                                   "\r\ncommand=kvd_command_getversion\r\n");
        }
        QCOMPARE(ids.size(), 3);
        client.Disconnect();
        QVERIFY(!client.Connected());
        client.Disconnect();
    }

    void clientErrors()
    {
        TIPCClient client;
        TMessageData request;
        QVERIFY_THROWS_EXCEPTION(EIPCError, client.Execute(request));
        QVERIFY_THROWS_EXCEPTION(EIPCError, client.Connect(UniquePipeName("absent"), 50));
        QVERIFY(!client.Connected());
    }

    // A reply with a 16-letter ID starts with 20 00 00 00 00 00 00 00, then the 32 ID bytes.
    void replyFrameBytes()
    {
        const QString name = UniquePipeName("bytes");
        auto server = StartServer(name, [](IMessageData&, IMessageData& aReply) {
            aReply.SetID("ABCDEFGHIJKLMNOP");
            aReply.WriteText("Result", "ok");
        });
        QVERIFY(server);
        PPipeConnection client = RawConnect(name);
        QVERIFY(client);
        QVERIFY(SendRaw(*client, RequestFrame("", "kvd_command_update")));
        QCOMPARE(ReadRaw(*client, 8), QByteArray::fromHex("2000000000000000"));
        QCOMPARE(ReadRaw(*client, 32), TextToUtf16Le("ABCDEFGHIJKLMNOP"));
        QCOMPARE(ReadRaw(*client, 8), QByteArray::fromHex("1c00000000000000"));
        TStreamStorage expected;
        expected.WriteText("Result", "ok");
        QCOMPARE(ReadRaw(*client, 28), expected.Stream().Bytes());
    }

    // A handler that writes nothing: body length 0 and no body bytes; the same
    // connection then carries the next request.
    void emptyReplyThenNextRequest()
    {
        const QString name = UniquePipeName("empty");
        std::atomic<int> calls{0};
        auto server = StartServer(name, [&](IMessageData&, IMessageData&) { ++calls; });
        QVERIFY(server);
        PPipeConnection client = RawConnect(name);
        QVERIFY(SendRaw(*client, RequestFrame("", "a")));
        QCOMPARE(ReadRaw(*client, 16), QByteArray(16, '\0'));
        QVERIFY(SendRaw(*client, RequestFrame("", "b")));
        QCOMPARE(ReadRaw(*client, 16), QByteArray(16, '\0'));
        QVERIFY(SendRaw(*client, Int64ToBytes(ClosingMark)));
        QVERIFY(ServerClosed(*client));
        QCOMPARE(calls.load(), 2);
    }

    void emptyRequestReachesHandler()
    {
        const QString name = UniquePipeName("emptyreq");
        std::atomic<int> calls{0};
        QString seenId = "unset";
        int64_t seenSize = -1;
        auto server = StartServer(name, [&](IMessageData& aRequest, IMessageData& aReply) {
            seenId = aRequest.GetID();
            seenSize = aRequest.GetData().Stream().Size();
            ++calls;
            aReply.WriteText("Result", "ok");
        });
        QVERIFY(server);
        PPipeConnection client = RawConnect(name);
        QVERIFY(SendRaw(*client, QByteArray(16, '\0')));
        QCOMPARE(ReadRaw(*client, 16).size(), 16);
        QCOMPARE(calls.load(), 1);
        QCOMPARE(seenId, QString());
        QCOMPARE(seenSize, int64_t(0));
    }

    void closingMarkAtOnce()
    {
        const QString name = UniquePipeName("mark");
        std::atomic<int> calls{0};
        auto server = StartServer(name, [&](IMessageData&, IMessageData&) { ++calls; });
        QVERIFY(server);
        PPipeConnection client = RawConnect(name);
        QVERIFY(SendRaw(*client, QByteArray::fromHex("ffffffffffffffff")));
        QVERIFY(ServerClosed(*client));
        QCOMPARE(calls.load(), 0);
        QTRY_COMPARE(server->FreeTaskCount(), int64_t(20));
    }

    // 200000 bytes, sent in uneven pieces with pauses, arrive whole.
    void largeBodySeenWhole()
    {
        const QString name = UniquePipeName("large");
        QByteArray params(200000 - 4 - 12 - 8, Qt::Uninitialized);
        for (int i = 0; i < params.size(); ++i)
            params[i] = char(i * 7);
        TMessageData request;
        request.WriteBytes("Params", params);
        QCOMPARE(request.GetData().Stream().Size(), int64_t(200000));
        int64_t seenSize = 0;
        QByteArray seenParams;
        auto server = StartServer(name, [&](IMessageData& aRequest, IMessageData& aReply) {
            seenSize = aRequest.GetData().Stream().Size();
            seenParams = aRequest.ReadBytes("Params");
            aReply.WriteBytes("Data", seenParams);
        });
        QVERIFY(server);
        PPipeConnection client = RawConnect(name);
        const QByteArray frame = EncodeFrame(request);
        for (qsizetype sent = 0; sent < frame.size();) {
            const qsizetype piece = std::min<qsizetype>(frame.size() - sent, 50001);
            QVERIFY(SendRaw(*client, frame.mid(sent, piece)));
            sent += piece;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        TMessageData reply;
        QCOMPARE(ReadFrame(*client, reply), 1);
        QCOMPARE(seenSize, int64_t(200000));
        QCOMPARE(seenParams, params);
        QCOMPARE(reply.ReadBytes("Data"), params);
    }

    // Frames that would make the server allocate without limit, or that no
    // writer makes, close that connection; the listener and others go on.
    void badFrameClosesConnection_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::newRow("negative id length") << QByteArray::fromHex("feffffffffffffff");
        QTest::newRow("most negative") << QByteArray::fromHex("0000000000000080");
        QTest::newRow("odd id length") << QByteArray::fromHex("0300000000000000") + "abc";
        QTest::newRow("id over 64 KiB") << QByteArray::fromHex("0200010000000000");
        QTest::newRow("negative body")
            << QByteArray::fromHex("0000000000000000") + QByteArray::fromHex("ffffffffffffffff");
        QTest::newRow("body over 64 MiB")
            << QByteArray::fromHex("0000000000000000") + QByteArray::fromHex("0100000400000000");
    }
    void badFrameClosesConnection()
    {
        QFETCH(QByteArray, frame);
        const QString name = UniquePipeName("bad");
        std::atomic<int> calls{0};
        auto server = StartServer(name, [&](IMessageData& aRequest, IMessageData& aReply) {
            ++calls;
            EchoHandler(aRequest, aReply);
        });
        QVERIFY(server);
        TIPCClient other;
        other.Connect(name);
        PPipeConnection client = RawConnect(name);
        QVERIFY(SendRaw(*client, frame));
        QVERIFY(ServerClosed(*client));
        QCOMPARE(calls.load(), 0);

        TMessageData request;
        request.WriteText("Command", "still there");
        QCOMPARE(other.Execute(request)->ReadText("Result"), QString("ok"));
        TIPCClient later;
        later.Connect(name);
        QCOMPARE(later.Execute(request)->ReadText("Result"), QString("ok"));
    }

    // A client that closes in the middle of a frame costs only its connection.
    void clientVanishesMidFrame_data()
    {
        QTest::addColumn<int>("cut");
        QTest::newRow("in id length") << 3;
        QTest::newRow("in id") << 10;
        QTest::newRow("in body length") << 20;
        QTest::newRow("in body") << 40;
    }
    void clientVanishesMidFrame()
    {
        QFETCH(int, cut);
        const QString name = UniquePipeName("vanish");
        auto server = StartServer(name, EchoHandler);
        QVERIFY(server);
        TIPCClient other;
        other.Connect(name);
        {
            PPipeConnection client = RawConnect(name);
            QVERIFY(SendRaw(*client, RequestFrame("ABCD", "kvd_command_update").left(cut)));
        }
        TMessageData request;
        request.WriteText("Command", "x");
        QCOMPARE(other.Execute(request)->ReadText("Result"), QString("ok"));
        QTRY_COMPARE(server->FreeTaskCount(), int64_t(19));
    }

    void failingHandlerClosesConnection()
    {
        const QString name = UniquePipeName("throws");
        std::atomic<int> calls{0};
        auto server = StartServer(name, [&](IMessageData& aRequest, IMessageData& aReply) {
            ++calls;
            if (aRequest.ReadText("Command") == "fail")
                throw EIPCError("handler failed");
            if (aRequest.ReadText("Command") == "std")
                throw std::logic_error("plain failure");
            EchoHandler(aRequest, aReply);
        });
        QVERIFY(server);
        for (const char* command : {"fail", "std"}) {
            PPipeConnection client = RawConnect(name);
            QVERIFY(SendRaw(*client, RequestFrame("", command)));
            QVERIFY(ServerClosed(*client));
        }
        TIPCClient client;
        client.Connect(name);
        TMessageData request;
        request.WriteText("Command", "fine");
        QCOMPARE(client.Execute(request)->ReadText("Result"), QString("ok"));
        QCOMPARE(calls.load(), 3);
        QCOMPARE(server->PoolTaskCount(), int64_t(20));
    }

    // Two clients busy at once run on two tasks; a third is served meanwhile.
    void concurrentClients()
    {
        const QString name = UniquePipeName("concurrent");
        std::counting_semaphore<10> release{0};
        std::atomic<int> blocked{0};
        std::mutex lock;
        std::set<std::thread::id> threads;
        auto server = StartServer(name, [&](IMessageData& aRequest, IMessageData& aReply) {
            {
                std::lock_guard<std::mutex> guard(lock);
                threads.insert(std::this_thread::get_id());
            }
            if (aRequest.ReadText("Command") == "block") {
                ++blocked;
                release.acquire();
            }
            EchoHandler(aRequest, aReply);
        });
        QVERIFY(server);
        auto busyClient = [&] {
            TIPCClient client;
            client.Connect(name);
            TMessageData request;
            request.WriteText("Command", "block");
            return client.Execute(request)->ReadText("Result");
        };
        QString first;
        QString second;
        std::thread a([&] { first = busyClient(); });
        std::thread b([&] { second = busyClient(); });
        QTRY_COMPARE(blocked.load(), 2);
        QCOMPARE(server->FreeTaskCount(), int64_t(18));

        TIPCClient third;
        third.Connect(name);
        TMessageData request;
        request.WriteText("Command", "quick");
        QCOMPARE(third.Execute(request)->ReadText("Result"), QString("ok"));

        release.release(2);
        a.join();
        b.join();
        QCOMPARE(first, QString("ok"));
        QCOMPARE(second, QString("ok"));
        QCOMPARE(threads.size(), size_t(3));
        QVERIFY(!threads.count(std::this_thread::get_id()));
    }

    // Stop with a client connected and idle: the connection is closed, Stop returns.
    void stopClosesOpenConnections()
    {
        const QString name = UniquePipeName("stopidle");
        auto server = StartServer(name, EchoHandler);
        QVERIFY(server);
        PPipeConnection idle = RawConnect(name);
        TIPCClient client;
        client.Connect(name);
        TMessageData request;
        request.WriteText("Command", "x");
        client.Execute(request);
        QTRY_COMPARE(server->FreeTaskCount(), int64_t(18));
        server->Stop();
        QVERIFY(!server->Listening());
        QVERIFY(ServerClosed(*idle));
        QVERIFY_THROWS_EXCEPTION(EIPCError, client.Execute(request));
        QVERIFY(!QFileInfo::exists(PipePathOf(name)));
    }

    void restartAfterStop()
    {
        const QString name = UniquePipeName("restart");
        auto server = StartServer(name, EchoHandler);
        QVERIFY(server);
        server->Stop();
        QVERIFY(server->Start());
        TIPCClient client;
        client.Connect(name);
        TMessageData request;
        request.WriteText("Command", "x");
        QCOMPARE(client.Execute(request)->ReadText("Result"), QString("ok"));
    }

    // A socket file left behind by a run that died is replaced; a live server's
    // socket is not taken over.
    void staleAndLiveSockets()
    {
        const QString name = UniquePipeName("stale");
        const QString path = PipePathOf(name);
        {
            const int handle = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray raw = QFile::encodeName(path);
            std::memcpy(address.sun_path, raw.constData(), raw.size());
            QCOMPARE(::bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
            ::close(handle); // bound, never listening: nobody answers
        }
        QVERIFY(QFileInfo::exists(path));
        auto server = StartServer(name, EchoHandler);
        QVERIFY(server);

        TIPCServer second;
        second.SetPipeName(name);
        second.OnExecuteRequest = EchoHandler;
        QVERIFY(!second.Start());
        QCOMPARE(second.ListenerError(), QString("Could not create new pipe instance."));
        QVERIFY(second.Listening());
        second.Stop();

        TIPCClient client;
        client.Connect(name);
        TMessageData request;
        request.WriteText("Command", "x");
        QCOMPARE(client.Execute(request)->ReadText("Result"), QString("ok"));
    }

    void regularFileIsNotRemoved()
    {
        const QString name = UniquePipeName("file");
        QFile file(PipePathOf(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("keep me");
        file.close();
        TIPCServer server;
        server.SetPipeName(name);
        server.OnExecuteRequest = EchoHandler;
        QVERIFY(!server.Start());
        QCOMPARE(server.ListenerError(), QString("Could not create new pipe instance."));
        server.Stop();
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
    }

    void fallbackFolderWithoutRuntimeDir()
    {
        qunsetenv("XDG_RUNTIME_DIR");
        const QString name = UniquePipeName("fallback");
        const QString folder = QStringLiteral("/tmp/%1-%2").arg(name).arg(::geteuid());
        QCOMPARE(PipePathOf(name), folder + "/" + name);
        {
            auto server = StartServer(name, EchoHandler);
            QVERIFY(server);
            QCOMPARE(ModeOf(folder), mode_t(0700));
            QCOMPARE(ModeOf(folder + "/" + name), mode_t(0600));
        }
        QDir(folder).removeRecursively();
    }

    // The socket's folder, the runtime folder or the program's own fallback,
    // must be the user's and writable by nobody else: then nobody else can
    // replace the socket, whose own mode and the peer check keep others out.
    // Folders that others may only enter (a runtime folder of mode 0755 on
    // some systems) are used.
    void socketFolderRules_data()
    {
        QTest::addColumn<bool>("runtimeDir");
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("otherOwner");
        QTest::addColumn<bool>("served");
        for (const bool runtime : {true, false}) {
            const char* where = runtime ? "runtime" : "fallback";
            auto row = [&](const char* aName) {
                return &QTest::newRow(qPrintable(QStringLiteral("%1 %2").arg(where, aName)));
            };
            *row("0700") << runtime << 0700 << false << true;
            *row("0755") << runtime << 0755 << false << true;
            *row("0750") << runtime << 0750 << false << true;
            *row("0770 group-writable") << runtime << 0770 << false << false;
            *row("0757 world-writable") << runtime << 0757 << false << false;
            *row("0777") << runtime << 0777 << false << false;
            *row("another owner") << runtime << 0700 << true << false;
        }
    }

    void socketFolderRules()
    {
        QFETCH(bool, runtimeDir);
        QFETCH(int, mode);
        QFETCH(bool, otherOwner);
        QFETCH(bool, served);
        if (otherOwner && ::geteuid() != 0)
            QSKIP("giving a folder to another user needs root");
        const QString name = UniquePipeName("folder");
        QTemporaryDir runtime;
        QString folder;
        if (runtimeDir) {
            qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
            folder = runtime.path();
        } else {
            qunsetenv("XDG_RUNTIME_DIR");
            folder = QStringLiteral("/tmp/%1-%2").arg(name).arg(::geteuid());
            QVERIFY(QDir().mkpath(folder));
        }
        const QByteArray native = QFile::encodeName(folder);
        QCOMPARE(::chmod(native.constData(), mode_t(mode)), 0);
        if (otherOwner)
            QCOMPARE(::chown(native.constData(), 65534, 65534), 0);
        {
            TIPCServer server;
            server.SetPipeName(name);
            server.OnExecuteRequest = EchoHandler;
            QCOMPARE(server.Start(), served);
            if (served) {
                QCOMPARE(ModeOf(folder + "/" + name), mode_t(0600));
                TIPCClient client;
                client.Connect(name);
                QVERIFY(client.Connected());
            } else {
                QCOMPARE(server.ListenerError(), QString("Could not create new pipe instance."));
                QVERIFY(!QFileInfo::exists(folder + "/" + name));
            }
            server.Stop();
        }
        if (otherOwner)
            QCOMPARE(::chown(native.constData(), ::geteuid(), ::getegid()), 0);
        if (!runtimeDir)
            QDir(folder).removeRecursively();
    }

    // Another user cannot reach the socket.
    void otherUserIsRefused()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to act as another user");
        const QString name = UniquePipeName("otheruser");
        std::atomic<int> calls{0};
        auto server = StartServer(name, [&](IMessageData&, IMessageData&) { ++calls; });
        QVERIFY(server);
        const QByteArray path = QFile::encodeName(server->PipePath());
        const pid_t child = ::fork();
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            const int handle = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::memcpy(address.sun_path, path.constData(), path.size());
            if (::connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0)
                ::_exit(0);
            const char frame[16] = {};
            [[maybe_unused]] ssize_t sent = ::write(handle, frame, sizeof(frame));
            char reply;
            ::_exit(::read(handle, &reply, 1) > 0 ? 1 : 0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QCOMPARE(calls.load(), 0);
    }

    void startWithUnusablePathReturns()
    {
        TIPCServer server;
        server.SetPipeName(QString(200, 'n'));
        server.OnExecuteRequest = EchoHandler;
        QVERIFY(!server.Start());
        QCOMPARE(server.ListenerError(), QString("Could not create new pipe instance."));
        QVERIFY(server.Listening());
        server.Stop();
        QVERIFY(!server.Listening());
    }

    // The endpoint stops accepting under the listener (its socket is shut
    // down): the listener ends with the connect failure and the error code,
    // the server counts as listening until Stop, and Stop still works.
    void listenerEndsWhenAcceptFails()
    {
        auto server = StartServer(UniquePipeName("acceptfails"), EchoHandler);
        QVERIFY(server);
        const QString path = server->PipePath();
        int listening = -1;
        for (int fd = 3; fd < 4096 && listening < 0; ++fd) {
            sockaddr_un address{};
            socklen_t length = sizeof(address);
            int accepting = 0;
            socklen_t size = sizeof(accepting);
            if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
                address.sun_family == AF_UNIX &&
                QFile::decodeName(address.sun_path) == server->PipePath() &&
                ::getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &size) == 0 && accepting)
                listening = fd;
        }
        QVERIFY(listening >= 0);
        QCOMPARE(::shutdown(listening, SHUT_RDWR), 0);
        QTRY_VERIFY(!server->ListenerError().isEmpty());
        QCOMPARE(server->ListenerError(),
                 QString("ConnectNamedPipe failed with error code %1.").arg(EINVAL));
        QVERIFY(server->Listening());
        QTRY_COMPARE(server->PoolTaskCount(), int64_t(0));
        server->Stop();
        QVERIFY(!server->Listening());
        QVERIFY(!QFileInfo::exists(path));
    }

    void commandLineClient_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("data");
        QTest::newRow("command") << QStringList{"kvd_command_getversion"}
                                 << QByteArray("command=kvd_command_getversion\r\n");
        QTest::newRow("by path") << QStringList{"kvd_command_getversion"}
                                 << QByteArray("command=kvd_command_getversion\r\n");
        QTest::newRow("with params") << QStringList{"kvd_command_update", "a=1"}
                                     << QByteArray("a=1command=kvd_command_update\r\n");
    }
    void commandLineClient()
    {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, data);
        const QString name = UniquePipeName("cli");
        auto server = StartServer(name, EchoHandler);
        QVERIFY(server);
        QProcess process;
        const QString target =
            QString(QTest::currentDataTag()) == "by path" ? PipePathOf(name) : name;
        process.start(ULMORA_PIPE_BIN, QStringList{target} + args);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), 0);
        const QByteArray output = process.readAllStandardOutput();
        const QList<QByteArray> lines = output.split('\n');
        QVERIFY(lines.size() >= 3);
        QVERIFY(lines[0].startsWith("ID: "));
        QCOMPARE(lines[0].size(), 4 + 16);
        QCOMPARE(lines[1], QByteArray("Result: ok"));
        QCOMPARE(lines[2], QByteArray("Data:"));
        QCOMPARE(output.mid(lines[0].size() + lines[1].size() + lines[2].size() + 3), data);
    }

    void commandLineClientFailures_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("exitCode");
        QTest::newRow("no arguments") << QStringList{} << 2;
        QTest::newRow("name only") << QStringList{"kvd_bexo"} << 2;
        QTest::newRow("too many") << QStringList{"a", "b", "c", "d"} << 2;
        QTest::newRow("no server") << QStringList{"nobody_here", "kvd_command_getversion"} << 1;
    }
    void commandLineClientFailures()
    {
        QFETCH(QStringList, args);
        QFETCH(int, exitCode);
        QProcess process;
        process.start(ULMORA_PIPE_BIN, args);
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitCode(), exitCode);
        QVERIFY(!process.readAllStandardError().isEmpty());
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestIpcServer)
#include "test_ipc_server.moc"
