// The pipe server under load: many clients at once, clients that vanish in
// the middle of a frame, and Stop while clients keep sending.

#include "ipc/kvd_ipc.h"
#include "ipc_test_helpers.h"
#include "util/kvd_utils.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr int Clients = 200;
constexpr int RequestsPerClient = 100;

void LoadHandler(IMessageData& aRequest, IMessageData& aReply)
{
    QByteArray data = aRequest.ReadBytes(QStringLiteral("Params"));
    data += "#" + aRequest.ReadText(QStringLiteral("Command")).toLatin1();
    aReply.SetID(GenerateId());
    aReply.WriteText(QStringLiteral("Result"), QStringLiteral("ok"));
    aReply.WriteBytes(QStringLiteral("Data"), data);
}

bool IsIdentifier(const QString& aId)
{
    if (aId.size() != 16)
        return false;
    for (QChar c : aId)
        if (!((c >= 'A' && c <= 'Y') || (c >= 'a' && c <= 'y')))
            return false;
    return true;
}

int ThreadCount()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}

} // namespace

class TestIpcLoad : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TRuntimeDir> FRuntime;

private Q_SLOTS:
    void init() { FRuntime = std::make_unique<TRuntimeDir>(); }
    void cleanup() { FRuntime.reset(); }

    // 200 clients at once, 100 requests each, every reply checked, while
    // other clients keep vanishing in the middle of their frames.
    void manyClientsAtOnce()
    {
        const QString name = UniquePipeName("load");
        TIPCServer server;
        server.SetPipeName(name);
        server.OnExecuteRequest = LoadHandler;
        QVERIFY(server.Start());

        std::atomic<int> failures{0};
        std::atomic<int> replies{0};
        std::atomic<bool> loadDone{false};
        std::vector<std::thread> clients;
        clients.reserve(Clients);
        for (int c = 0; c < Clients; ++c) {
            clients.emplace_back([&, c] {
                try {
                    TIPCClient client;
                    client.Connect(name, 10000);
                    for (int r = 0; r < RequestsPerClient; ++r) {
                        TMessageData request;
                        const QByteArray params =
                            QByteArray::number(c) + ":" + QByteArray::number(r);
                        request.WriteText("Command", QStringLiteral("cmd%1").arg(r));
                        request.WriteBytes("Params", params);
                        PMessageData reply = client.Execute(request);
                        if (!IsIdentifier(reply->GetID()) || reply->ReadText("Result") != "ok" ||
                            reply->ReadBytes("Data") != params + "#cmd" + QByteArray::number(r))
                            ++failures;
                        else
                            ++replies;
                    }
                    client.Disconnect();
                } catch (const std::exception&) {
                    ++failures;
                }
            });
        }
        // Clients that leave in the middle of a frame while the load runs.
        std::thread vandal([&] {
            const QByteArray frame = RequestFrame("ABCD", "vanish", QByteArray(300, 'v'));
            for (int i = 0; !loadDone; ++i) {
                PPipeConnection raw = RawConnect(name);
                if (raw)
                    SendRaw(*raw, frame.left(1 + (i * 37) % (frame.size() - 1)));
            }
        });
        for (std::thread& client : clients)
            client.join();
        loadDone = true;
        vandal.join();

        QCOMPARE(failures.load(), 0);
        QCOMPARE(replies.load(), Clients * RequestsPerClient);
        // Extra tasks retire as they finish: the pool is back at its size.
        QTRY_COMPARE(server.PoolTaskCount(), int64_t(20));
        QTRY_COMPARE(server.FreeTaskCount(), int64_t(20));
        server.Stop();
    }

    // Stop while 200 clients keep sending: it returns, every client ends with
    // a closed connection, and no thread of the server is left behind.
    void stopUnderLoad()
    {
        const int threadsBefore = ThreadCount();
        const QString name = UniquePipeName("stopload");
        TIPCServer server;
        server.SetPipeName(name);
        server.OnExecuteRequest = LoadHandler;
        QVERIFY(server.Start());

        std::atomic<int> connected{0};
        std::atomic<int> ended{0};
        std::vector<std::thread> clients;
        for (int c = 0; c < Clients; ++c) {
            clients.emplace_back([&] {
                TIPCClient client;
                try {
                    client.Connect(name, 10000);
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
        QTRY_COMPARE_WITH_TIMEOUT(connected.load(), Clients, 30000);
        QElapsedTimer timer;
        timer.start();
        server.Stop();
        qInfo("Stop under load took %lld ms", timer.elapsed());
        QVERIFY(!server.Listening());
        for (std::thread& client : clients)
            client.join();
        QCOMPARE(ended.load(), Clients);
        QCOMPARE(ThreadCount(), threadsBefore);
    }
};

QTEST_GUILESS_MAIN(TestIpcLoad)
#include "test_ipc_load.moc"
