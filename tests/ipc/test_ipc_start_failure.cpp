// A server whose Start cannot make its threads. A program of its own, because
// a process that has already ended threads keeps their stacks for reuse and
// would make new ones without asking for memory.

#include "ipc/kvd_ipc.h"
#include "ipc_test_helpers.h"

#include <QFile>
#include <QTest>
#include <sys/resource.h>
#include <unistd.h>

class TestIpcStartFailure : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Start raises the failure; Stop and the destructor afterwards cope with
    // the listener that never came to be.
    void startWithoutThreadsThenStop()
    {
        TRuntimeDir runtime;
        QFile statm(QStringLiteral("/proc/self/statm"));
        QVERIFY(statm.open(QIODevice::ReadOnly));
        const qulonglong pages = statm.readAll().split(' ').value(0).toULongLong();
        QVERIFY(pages > 0);

        auto server = std::make_unique<TIPCServer>();
        server->SetPipeName(UniquePipeName("nothreads"));
        server->OnExecuteRequest = [](IMessageData&, IMessageData&) {};
        rlimit before{};
        QCOMPARE(::getrlimit(RLIMIT_AS, &before), 0);
        // Room for small allocations, none for a thread's stack.
        rlimit tight = before;
        tight.rlim_cur = pages * static_cast<qulonglong>(::sysconf(_SC_PAGESIZE)) + 4 * 1024 * 1024;
        if (before.rlim_cur != RLIM_INFINITY && before.rlim_cur <= tight.rlim_cur)
            QSKIP("the address space is already limited below what this test needs");
        QString failure;
        QCOMPARE(::setrlimit(RLIMIT_AS, &tight), 0);
        try {
            server->Start();
        } catch (const std::exception& error) {
            failure = QString::fromLocal8Bit(error.what());
        }
        QCOMPARE(::setrlimit(RLIMIT_AS, &before), 0);
        QVERIFY2(!failure.isEmpty(), "Start made its threads despite the limit");

        server->Stop();
        QVERIFY(!server->Listening());
        server->Stop();
        server.reset();

        // With room again, the same name serves.
        auto again = std::make_unique<TIPCServer>();
        again->SetPipeName(UniquePipeName("nothreads"));
        again->OnExecuteRequest = [](IMessageData&, IMessageData& aReply) {
            aReply.WriteText(QStringLiteral("Result"), QStringLiteral("ok"));
        };
        QVERIFY(again->Start());
        TIPCClient client;
        client.Connect(again->PipeName());
        TMessageData request;
        QCOMPARE(client.Execute(request)->ReadText(QStringLiteral("Result")), QStringLiteral("ok"));
    }
};

QTEST_GUILESS_MAIN(TestIpcStartFailure)
#include "test_ipc_start_failure.moc"
