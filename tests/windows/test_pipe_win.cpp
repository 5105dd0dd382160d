// The pipe server on Windows semantics (run under wine by the Windows build):
// the named pipe \\.\pipe\NAME, its security descriptor, the limits that hold
// on Linux (the ceiling of served connections, the time limit of a request),
// Stop under load, and what a client can still read after the server closes.

#include "../ipc/ipc_test_helpers.h"
#include "ipc/kvd_ipc.h"
#include "ipc/kvd_pipe_win.h"
#include "util/kvd_utils.h"

#include <QTest>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include <windows.h>

#include <sddl.h>
#include <tlhelp32.h>

namespace {

QString UniqueName(const char* aPrefix)
{
    static std::atomic<int> counter{0};
    return QStringLiteral("%1_%2_%3")
        .arg(QLatin1String(aPrefix))
        .arg(::GetCurrentProcessId())
        .arg(++counter);
}

bool UnderWine()
{
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version");
}

int ThreadCount()
{
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = ::Thread32First(snapshot, &entry); more;
         more = ::Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == ::GetCurrentProcessId())
            ++count;
    }
    ::CloseHandle(snapshot);
    return count;
}

void OkHandler(IMessageData&, IMessageData& aReply)
{
    aReply.SetID(GenerateId());
    aReply.WriteText(QStringLiteral("Result"), QStringLiteral("ok"));
}

// The ACEs of an SDDL access list as (type, rights, trustee), in order.
struct TAce
{
    BYTE Type;
    ACCESS_MASK Rights;
    QString Trustee;
};

std::vector<TAce> AcesOf(const QString& aSddl, bool& aProtected)
{
    std::vector<TAce> aces;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const std::wstring text = aSddl.toStdWString();
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(text.c_str(), SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return aces;
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ::GetSecurityDescriptorControl(descriptor, &control, &revision);
    aProtected = (control & SE_DACL_PROTECTED) != 0;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL acl = nullptr;
    if (::GetSecurityDescriptorDacl(descriptor, &present, &acl, &defaulted) && present && acl) {
        for (DWORD i = 0; i < acl->AceCount; ++i) {
            void* ace = nullptr;
            if (!::GetAce(acl, i, &ace))
                continue;
            const auto* header = static_cast<ACE_HEADER*>(ace);
            const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            LPWSTR sid = nullptr;
            QString trustee;
            if (::ConvertSidToStringSidW(const_cast<DWORD*>(&allowed->SidStart), &sid)) {
                trustee = QString::fromWCharArray(sid);
                ::LocalFree(sid);
            }
            aces.push_back({header->AceType, allowed->Mask, trustee});
        }
    }
    ::LocalFree(descriptor);
    return aces;
}

// Reads until the server ends the connection: true for the end of the
// stream or a failure, false when data arrives instead.
bool ClosedByServer(IPipeConnection& aConnection)
{
    aConnection.SetDeadline(60000);
    char byte;
    return aConnection.ReadSome(&byte, 1) <= 0;
}

} // namespace

class TestPipeWin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pipePath_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("path");
        QTest::newRow("the program's pipe") << "kvd_bexo"
                                            << "\\\\.\\pipe\\kvd_bexo";
        QTest::newRow("a path already") << "\\\\.\\pipe\\x"
                                        << "\\\\.\\pipe\\x";
        QTest::newRow("a backslash in a name") << "a\\b"
                                               << "\\\\.\\pipe\\a_b";
    }
    void pipePath()
    {
        QFETCH(QString, name);
        QFETCH(QString, path);
        QCOMPARE(PipePathOf(name), path);
    }

    // The descriptor grants full access to the user, SYSTEM and the
    // Administrators, to nobody else, and inherits nothing.
    void securityDescriptor()
    {
        const QString user = CurrentUserSid();
        QVERIFY2(user.startsWith(QLatin1String("S-1-5-")), qPrintable(user));
        const QString sddl = PipeSecuritySddl(user);
        QCOMPARE(sddl, QStringLiteral("D:P(A;;GA;;;%1)(A;;GA;;;SY)(A;;GA;;;BA)").arg(user));
        bool isProtected = false;
        const std::vector<TAce> aces = AcesOf(sddl, isProtected);
        QVERIFY(isProtected);
        QCOMPARE(int(aces.size()), 3);
        const QString trustees[] = {user, QStringLiteral("S-1-5-18"),
                                    QStringLiteral("S-1-5-32-544")};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(int(aces[i].Type), int(ACCESS_ALLOWED_ACE_TYPE));
            QCOMPARE(aces[i].Rights, ACCESS_MASK(GENERIC_ALL));
            QCOMPARE(aces[i].Trustee, trustees[i]);
        }
    }

    // The instance that a client reaches carries that descriptor. (Wine keeps
    // the descriptor but does not enforce it; Windows does.)
    void instanceCarriesDescriptor()
    {
        const auto stop = std::make_shared<TStopSignal>();
        int error = 0;
        const QString path = PipePathOf(UniqueName("dacl"));
        PPipeListener listener = CreatePipeListener(path, stop, error);
        QVERIFY2(listener, qPrintable(QString::number(error)));
        PPipeConnection client = ConnectPipe(path, 3000, error);
        QVERIFY(client);
        int handle = -1;
        int code = 0;
        QCOMPARE(listener->Accept(1000, handle, code), TAcceptResult::arConnected);
        PPipeConnection server = AdoptPipeConnection(handle, nullptr);
        const QString actual = PipeSecurityOf(handle);
        if (actual.isEmpty() && UnderWine())
            QSKIP("wine does not give back the access list of a pipe");
        bool isProtected = false;
        const std::vector<TAce> aces = AcesOf(actual, isProtected);
        QVERIFY2(aces.size() == 3, qPrintable(actual));
        QCOMPARE(aces[0].Trustee, CurrentUserSid());
        QCOMPARE(aces[1].Trustee, QStringLiteral("S-1-5-18"));
        QCOMPARE(aces[2].Trustee, QStringLiteral("S-1-5-32-544"));
        listener->Close();
    }

    // A second server cannot take a name that a running server holds.
    void nameOfARunningServerIsKept()
    {
        if (UnderWine())
            QSKIP("wine does not enforce FILE_FLAG_FIRST_PIPE_INSTANCE");
        const QString name = UniqueName("first");
        auto first = StartServer(name, OkHandler);
        QVERIFY(first);
        TIPCServer second;
        second.SetPipeName(name);
        second.OnExecuteRequest = OkHandler;
        QVERIFY(!second.Start());
        QCOMPARE(AskOnce(name), QString("ok"));
    }

    void roundTripAndReconnect()
    {
        const QString name = UniqueName("trip");
        auto server = StartServer(name, [](IMessageData& aRequest, IMessageData& aReply) {
            aReply.SetID(aRequest.GetID());
            aReply.WriteBytes(QStringLiteral("Data"), aRequest.ReadBytes(QStringLiteral("Params")));
        });
        QVERIFY(server);
        QCOMPARE(server->PipePath(), PipePathOf(name));
        for (int round = 0; round < 3; ++round) {
            TIPCClient client;
            client.Connect(name);
            for (int size : {0, 1, 65535, 65536, 1 << 20}) {
                TMessageData request;
                request.SetID(GenerateId());
                const QByteArray params(size, char('a' + size % 26));
                request.WriteBytes(QStringLiteral("Params"), params);
                PMessageData reply = client.Execute(request);
                QCOMPARE(reply->GetID(), request.GetID());
                QCOMPARE(reply->ReadBytes(QStringLiteral("Data")), params);
            }
            client.Disconnect();
        }
    }

    void connectWithoutServerTimesOut()
    {
        TIPCClient client;
        QVERIFY_THROWS_EXCEPTION(EIPCError, client.Connect(UniqueName("nobody"), 300));
    }

    // What the server wrote before it closed normally is still read by the
    // client, which then finds the end of the stream.
    void lastReplyReadableAfterClose()
    {
        auto [server, client] = CreatePipePair();
        QVERIFY(server && client);
        const QByteArray bytes(40000, 'r');
        QVERIFY(server->WriteAll(bytes.constData(), bytes.size()));
        server->Flush();
        server->Close();
        QByteArray got(bytes.size(), Qt::Uninitialized);
        QVERIFY(client->ReadExact(got.data(), got.size()));
        QCOMPARE(got, bytes);
        char byte;
        QCOMPARE(client->ReadSome(&byte, 1), int64_t(0));
    }

    // Clients that connect and never send: at most the ceiling is served at
    // once, the others wait for an instance; each is closed after the time
    // limit, and a client after them is answered.
    void silentClientsAndTheCeiling()
    {
        const int ceiling = 4;
        const int silent = 12;
        const QString name = UniqueName("flood");
        auto server = StartServer(name, OkHandler, 500, ceiling);
        QVERIFY(server);
        std::atomic<int> connected{0};
        std::atomic<int> closed{0};
        std::atomic<bool> done{false};
        std::atomic<int64_t> most{0};
        std::vector<std::thread> clients;
        for (int i = 0; i < silent; ++i) {
            clients.emplace_back([&] {
                int error = 0;
                PPipeConnection connection = ConnectPipe(PipePathOf(name), 60000, error);
                if (!connection)
                    return;
                ++connected;
                if (ClosedByServer(*connection))
                    ++closed;
            });
        }
        std::thread watch([&] {
            while (!done) {
                most = std::max(most.load(), server->ConnectionCount());
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        for (std::thread& client : clients)
            client.join();
        done = true;
        watch.join();
        QCOMPARE(connected.load(), silent);
        QCOMPARE(closed.load(), silent);
        QVERIFY2(most.load() <= ceiling, qPrintable(QString::number(most.load())));
        QVERIFY(most.load() >= 1);
        QTRY_COMPARE(server->ConnectionCount(), int64_t(0));
        QCOMPARE(AskOnce(name), QString("ok"));
    }

    // A client that sends a byte now and then, never completing its frame
    // in time, is closed like a silent one and never reaches the handler.
    void tricklingClientIsClosed()
    {
        const QString name = UniqueName("trickle");
        std::atomic<int> calls{0};
        auto server = StartServer(
            name,
            [&](IMessageData& aRequest, IMessageData& aReply) {
                ++calls;
                OkHandler(aRequest, aReply);
            },
            500);
        QVERIFY(server);
        int error = 0;
        PPipeConnection sender = ConnectPipe(PipePathOf(name), 3000, error);
        QVERIFY(sender);
        const QByteArray frame = Int64ToBytes(0) + Int64ToBytes(1000) + QByteArray(1000, 'b');
        bool stillOpen = true;
        for (int i = 0; i < 50 && stillOpen; ++i) {
            stillOpen = sender->WriteAll(frame.constData() + i, 1);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        QVERIFY(!stillOpen);
        QCOMPARE(calls.load(), 0);
        QCOMPARE(AskOnce(name), QString("ok"));
        QCOMPARE(calls.load(), 1);
    }

    // Stop while the ceiling's clients keep sending and more wait for an
    // instance: it returns, every client ends, and no thread is left behind.
    void stopUnderLoad()
    {
        const int threadsBefore = ThreadCount();
        const int ceiling = TIPCServer::DefaultMaxConnections;
        const int waiting = 16;
        const QString name = UniqueName("stopload");
        auto server = StartServer(name, OkHandler);
        QVERIFY(server);
        std::atomic<int> connected{0};
        std::atomic<int> ended{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < ceiling + waiting; ++c) {
            clients.emplace_back([&] {
                try {
                    TIPCClient client;
                    // Those past the ceiling give up waiting for an instance
                    // after a while, or find the name gone after Stop.
                    client.Connect(name, 5000);
                    ++connected;
                    TMessageData request;
                    request.WriteText("Command", "again");
                    for (;;)
                        client.Execute(request);
                } catch (const EIPCError&) {
                    ++ended;
                }
            });
        }
        QTRY_VERIFY_WITH_TIMEOUT(server->ConnectionCount() == ceiling, 60000);
        server->Stop();
        QVERIFY(!server->Listening());
        for (std::thread& client : clients)
            client.join();
        QCOMPARE(ended.load(), ceiling + waiting);
        QVERIFY(connected.load() >= ceiling);
        QTRY_COMPARE(ThreadCount(), threadsBefore);
    }
};

QTEST_GUILESS_MAIN(TestPipeWin)
#include "test_pipe_win.moc"
