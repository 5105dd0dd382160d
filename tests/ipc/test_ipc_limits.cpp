// The limits that keep clients from holding the server's threads and handles:
// the time a connection has for each request frame and for each reply, and the
// ceiling of connections served at once. The time rules are checked on a
// scripted connection with a clock of its own; the real server is checked with
// clients that never finish a frame, so no case depends on the machine's speed.

#include "ipc/kvd_ipc.h"
#include "ipc_test_helpers.h"

#include <QTest>
#include <atomic>
#include <future>
#include <thread>
#include <vector>

namespace {

// What a scripted client sends: the bytes arrive AfterMs after its previous
// piece, or after it has taken the last reply.
struct TPiece
{
    int64_t AfterMs = 0;
    QByteArray Bytes;
};

// A connection whose client follows a script on a clock of its own, so no real
// time passes. A read or write that would have to wait past the deadline fails,
// as it does on a real connection.
class TScriptedConnection : public IPipeConnection
{
public:
    TScriptedConnection(QList<TPiece> aPieces, int64_t aReplyTakenAfterMs)
        : FPieces(std::move(aPieces)), FReplyTakenAfterMs(aReplyTakenAfterMs)
    {
    }

    void SetDeadline(int aMilliseconds) override
    {
        FDeadline = aMilliseconds < 0 ? -1 : FNow + aMilliseconds;
    }

    int64_t ReadSome(void* aTarget, int64_t aMax) override
    {
        if (!FOpen || aMax <= 0)
            return -1;
        if (FArrived.isEmpty()) {
            if (FNext == FPieces.size()) {
                // The client stays silent from here on.
                if (FDeadline < 0) {
                    FWaitedForever = true;
                    return -1;
                }
                return TimeOut();
            }
            const int64_t arrival = FMark + FPieces[FNext].AfterMs;
            if (Late(arrival))
                return TimeOut();
            FArrived = FPieces[FNext++].Bytes;
            FNow = FMark = arrival;
        }
        const int64_t count = std::min<int64_t>(aMax, FArrived.size());
        std::memcpy(aTarget, FArrived.constData(), static_cast<size_t>(count));
        FArrived.remove(0, count);
        return count;
    }

    bool WriteAll(const void* aSource, int64_t aSize) override
    {
        return WriteAll(aSource, aSize, nullptr, 0);
    }

    bool WriteAll(const void* aFirst, int64_t aFirstSize, const void* aSecond,
                  int64_t aSecondSize) override
    {
        if (!FOpen)
            return false;
        const int64_t taken = FNow + FReplyTakenAfterMs;
        if (Late(taken)) {
            TimeOut();
            return false;
        }
        FNow = FMark = taken;
        FWritten.append(static_cast<const char*>(aFirst), aFirstSize);
        if (aSecondSize > 0)
            FWritten.append(static_cast<const char*>(aSecond), aSecondSize);
        return true;
    }

    void Flush() override {}
    void Close() override { FOpen = false; }
    bool IsOpen() const override { return FOpen; }

    // Time the handler spends.
    void Spend(int64_t aMilliseconds) { FNow += aMilliseconds; }

    const QByteArray& Written() const { return FWritten; }
    bool TimedOut() const { return FTimedOut; }
    bool WaitedForever() const { return FWaitedForever; }

private:
    bool Late(int64_t aTime) const { return FDeadline >= 0 && aTime > FDeadline; }

    int64_t TimeOut()
    {
        FTimedOut = true;
        FNow = std::max(FNow, FDeadline);
        return -1;
    }

    QList<TPiece> FPieces;
    qsizetype FNext = 0;
    int64_t FReplyTakenAfterMs;
    QByteArray FArrived;
    QByteArray FWritten;
    int64_t FNow = 0;
    int64_t FMark = 0;
    int64_t FDeadline = -1;
    bool FOpen = true;
    bool FTimedOut = false;
    bool FWaitedForever = false;
};

void OkHandler(IMessageData&, IMessageData& aReply)
{
    aReply.WriteText(QStringLiteral("Result"), QStringLiteral("ok"));
}

// The size of OkHandler's reply frame: two lengths and the "Result" entry.
constexpr int OkReplySize = 16 + 28;

QList<TPiece> Trickled(const QByteArray& aBytes, int64_t aEveryMs)
{
    QList<TPiece> pieces;
    for (char byte : aBytes)
        pieces.append({aEveryMs, QByteArray(1, byte)});
    return pieces;
}

} // namespace

Q_DECLARE_METATYPE(TPiece)

class TestIpcLimits : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TRuntimeDir> FRuntime;

private Q_SLOTS:
    void init() { FRuntime = std::make_unique<TRuntimeDir>(); }
    void cleanup() { FRuntime.reset(); }

    void defaults()
    {
        TIPCServer server;
        QCOMPARE(server.RequestTimeout(), 10000);
        QCOMPARE(server.MaxConnections(), 64);
        QCOMPARE(server.ConnectionCount(), int64_t(-1));
    }

    // Each request frame has the time limit, counted from the start or from
    // the end of the previous reply; so does the taking of each reply. The
    // handler's own time does not count.
    void requestTimeRules_data()
    {
        const QByteArray frame = RequestFrame(QString(), QStringLiteral("x"));
        const QByteArray mark = Int64ToBytes(ClosingMark);
        QTest::addColumn<int>("limit");
        QTest::addColumn<QList<TPiece>>("pieces");
        QTest::addColumn<int>("replyTakenAfter");
        QTest::addColumn<int>("calls");
        QTest::addColumn<int>("replies");
        QTest::addColumn<bool>("timedOut");
        QTest::newRow("each request within the limit")
            << 1000 << QList<TPiece>{{900, frame}, {900, frame}, {900, frame}, {0, mark}} << 0 << 3
            << 3 << false;
        QTest::newRow("replies taken within the limit")
            << 1000 << QList<TPiece>{{0, frame}, {900, frame}, {0, mark}} << 900 << 2 << 2 << false;
        QTest::newRow("silent") << 1000 << QList<TPiece>{} << 0 << 0 << 0 << true;
        QTest::newRow("silent after a reply")
            << 1000 << QList<TPiece>{{100, frame}} << 0 << 1 << 1 << true;
        QTest::newRow("frame too late")
            << 1000 << QList<TPiece>{{1001, frame}} << 0 << 0 << 0 << true;
        QTest::newRow("frame trickled") << 1000 << Trickled(frame, 400) << 0 << 0 << 0 << true;
        QTest::newRow("closing mark trickled")
            << 1000 << QList<TPiece>{{0, frame}} + Trickled(mark, 300) << 0 << 1 << 1 << true;
        QTest::newRow("reply not taken")
            << 1000 << QList<TPiece>{{0, frame}, {0, mark}} << 1500 << 1 << 0 << true;
        QTest::newRow("no limit") << -1 << QList<TPiece>{{100000, frame}, {100000, mark}} << 100000
                                  << 1 << 1 << false;
    }
    void requestTimeRules()
    {
        QFETCH(int, limit);
        QFETCH(QList<TPiece>, pieces);
        QFETCH(int, replyTakenAfter);
        QFETCH(int, calls);
        QFETCH(int, replies);
        QFETCH(bool, timedOut);
        TScriptedConnection connection(pieces, replyTakenAfter);
        int handled = 0;
        ServeClient(
            connection,
            [&](IMessageData& aRequest, IMessageData& aReply) {
                ++handled;
                connection.Spend(5000);
                OkHandler(aRequest, aReply);
            },
            limit);
        QCOMPARE(handled, calls);
        QCOMPARE(connection.Written().size(), replies * OkReplySize);
        QCOMPARE(connection.TimedOut(), timedOut);
        QVERIFY(!connection.WaitedForever());
        QVERIFY(!connection.IsOpen());
    }

    // A crowd of clients that connect and never send: the server serves at
    // most its ceiling of them at once, holding no more handles than that, and
    // closes each after the time limit. A well-behaved client that comes after
    // them gets its reply, and the server goes on serving.
    void floodOfSilentClients_data()
    {
        QTest::addColumn<int>("ceiling");
        QTest::addColumn<int>("silent");
        QTest::newRow("default ceiling, 200 silent") << 0 << 200;
        QTest::newRow("ceiling 4, 12 silent") << 4 << 12;
    }
    void floodOfSilentClients()
    {
        QFETCH(int, ceiling);
        QFETCH(int, silent);
        const int expected = ceiling > 0 ? ceiling : TIPCServer::DefaultMaxConnections;
        const QString name = UniquePipeName("flood");
        auto server = StartServer(name, OkHandler, 500, ceiling);
        QVERIFY(server);
        const int handlesBefore = OpenHandleCount();
        std::vector<int> clients;
        for (int i = 0; i < silent; ++i) {
            clients.push_back(RawSocket(name));
            QVERIFY(clients.back() >= 0);
        }
        QTRY_COMPARE(server->ConnectionCount(), int64_t(expected));
        // The process holds the clients' own handles and at most the
        // ceiling's on the server side (slack for the listing itself).
        QVERIFY2(OpenHandleCount() - handlesBefore - silent <= expected + 2,
                 qPrintable(QString::number(OpenHandleCount() - handlesBefore - silent)));

        std::future<QString> reply =
            std::async(std::launch::async, [name] { return AskOnce(name); });
        const bool answered = reply.wait_for(std::chrono::seconds(60)) == std::future_status::ready;
        if (!answered)
            server->Stop(); // ends the client's wait, so the test can report
        QVERIFY(answered);
        QCOMPARE(reply.get(), QString("ok"));

        for (int client : clients) {
            QVERIFY(ClosedByServer(client));
            ::close(client);
        }
        QTRY_COMPARE(server->ConnectionCount(), int64_t(0));
        QCOMPARE(AskOnce(name), QString("ok"));
        QTRY_COMPARE(server->PoolTaskCount(), int64_t(20));
    }

    // An updater that keeps its connection and sends now and then is served
    // all through a flood of silent clients, at the default limits.
    void keptConnectionDuringFlood()
    {
        const QString name = UniquePipeName("kept");
        auto server = StartServer(name, OkHandler);
        QVERIFY(server);
        TIPCClient updater;
        updater.Connect(name);
        TMessageData request;
        request.WriteText("Command", "kvd_command_getversion");
        QCOMPARE(updater.Execute(request)->ReadText("Result"), QString("ok"));

        std::vector<int> clients;
        for (int i = 0; i < 200; ++i) {
            clients.push_back(RawSocket(name));
            QVERIFY(clients.back() >= 0);
        }
        QTRY_COMPARE(server->ConnectionCount(), int64_t(TIPCServer::DefaultMaxConnections));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(updater.Execute(request)->ReadText("Result"), QString("ok"));
        QCOMPARE(server->ConnectionCount(), int64_t(TIPCServer::DefaultMaxConnections));

        // Stop closes the served ones and those still waiting to be accepted.
        server->Stop();
        for (int client : clients) {
            QVERIFY(ClosedByServer(client));
            ::close(client);
        }
    }

    // A client that sends one byte now and then, each well within the limit,
    // never completing its frame in time, is closed like a silent one.
    void tricklingClientIsClosed()
    {
        const QString name = UniquePipeName("trickle");
        std::atomic<int> calls{0};
        auto server = StartServer(
            name,
            [&](IMessageData& aRequest, IMessageData& aReply) {
                ++calls;
                OkHandler(aRequest, aReply);
            },
            500);
        QVERIFY(server);
        const int client = RawSocket(name);
        QVERIFY(client >= 0);
        // Completing this frame would take 100 s at a byte every 100 ms.
        const QByteArray frame = Int64ToBytes(0) + Int64ToBytes(1000) + QByteArray(1000, 'b');
        std::atomic<bool> done{false};
        std::thread sender([&] {
            for (char byte : frame) {
                if (done || ::send(client, &byte, 1, MSG_NOSIGNAL) != 1)
                    return;
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
        });
        const bool closed = ClosedByServer(client);
        done = true;
        sender.join();
        ::close(client);
        QVERIFY(closed);
        QCOMPARE(calls.load(), 0);
        QCOMPARE(AskOnce(name), QString("ok"));
        QCOMPARE(calls.load(), 1);
    }
};

QTEST_GUILESS_MAIN(TestIpcLimits)
#include "test_ipc_limits.moc"
