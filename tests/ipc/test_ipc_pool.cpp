// The worker pool: tasks with their own threads, growth and shrinking, stop,
// failures in procedures, and messages to the pool's thread.

#include "ipc/kvd_taskpool.h"

#include <QCoreApplication>
#include <QTest>
#include <atomic>
#include <semaphore>
#include <set>
#include <thread>

namespace {

// A gate that busy procedures wait at until the test opens it.
struct TGate
{
    std::counting_semaphore<1000> Open{0};
    std::atomic<int> Inside{0};
    std::atomic<int> Finished{0};

    TTaskProcedure Procedure()
    {
        return [this](ITask&) {
            ++Inside;
            Open.acquire();
            ++Finished;
        };
    }
};

} // namespace

class TestIpcPool : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void taskListOperations()
    {
        TTaskPool pool(2);
        pool.StartWorkers();
        TTaskList list;
        PTask a = pool.TakeTask("a", nullptr);
        PTask b = pool.TakeTask("b", nullptr);
        QCOMPARE(list.Count(), int64_t(0));
        QVERIFY(!list.TakeFirst());
        list.Add(a);
        list.Add(b);
        QCOMPARE(list.Count(), int64_t(2));
        list.Remove(a);
        QCOMPARE(list.Count(), int64_t(1));
        QCOMPARE(list.TakeFirst(), b);
        list.Add(a);
        list.Add(b);
        QVERIFY(!list.RemoveIfMoreThan(a, 2));
        QVERIFY(list.RemoveIfMoreThan(a, 1));
        QVERIFY(!list.RemoveIfMoreThan(a, 0)); // no longer there
        QVERIFY(!list.RemoveIfMoreThan(b, 1));
        QCOMPARE(list.Count(), int64_t(1));
        list.Add(a);
        list.Clear();
        QCOMPARE(list.Count(), int64_t(0));
        pool.StopWorkers();
    }

    void startWorkersMakesPoolSize()
    {
        TTaskPool pool(20);
        QVERIFY(!pool.Active());
        QCOMPARE(pool.StopTimeout(), -1);
        pool.StartWorkers();
        QVERIFY(pool.Active());
        QCOMPARE(pool.AllTasks().Count(), int64_t(20));
        QCOMPARE(pool.FreeTasks().Count(), int64_t(20));
        pool.StopWorkers();
        QVERIFY(!pool.Active());
        QCOMPARE(pool.AllTasks().Count(), int64_t(0));
        QCOMPARE(pool.FreeTasks().Count(), int64_t(0));
    }

    void runCallsProcedureOnWorker()
    {
        TTaskPool pool(1);
        pool.StartWorkers();
        std::atomic<bool> ran{false};
        std::thread::id worker;
        PTask task = pool.TakeTask("Job", [&](ITask& aTask) {
            QCOMPARE(aTask.GetName(), QString("Job"));
            QCOMPARE(aTask.GetValues()->FindValue("param")->AsInteger(), 42);
            worker = std::this_thread::get_id();
            ran = true;
        });
        QCOMPARE(pool.FreeTasks().Count(), int64_t(0));
        task->GetValues()->EnsureValue("Param")->SetAsInteger(42);
        task->Run();
        task.reset();
        QTRY_VERIFY(ran.load());
        QTRY_COMPARE(pool.FreeTasks().Count(), int64_t(1));
        QVERIFY(worker != std::this_thread::get_id());
        pool.StopWorkers();
    }

    void takeTaskClearsValues()
    {
        TTaskPool pool(1);
        pool.StartWorkers();
        PTask task = pool.TakeTask("first", [](ITask&) {});
        task->GetValues()->EnsureValue("Left")->SetAsInteger(1);
        task->Run();
        QTRY_COMPARE(pool.FreeTasks().Count(), int64_t(1));
        PTask again = pool.TakeTask("second", nullptr);
        QCOMPARE(again, task);
        QCOMPARE(again->GetValues()->Count(), 0);
        QCOMPARE(again->GetName(), QString("second"));
        pool.StopWorkers();
    }

    void growAndShrink_data()
    {
        QTest::addColumn<bool>("growAndShrink");
        QTest::addColumn<int>("afterwards");
        QTest::newRow("shrinks") << true << 20;
        QTest::newRow("keeps its size") << false << 21;
    }
    void growAndShrink()
    {
        QFETCH(bool, growAndShrink);
        QFETCH(int, afterwards);
        TTaskPool pool(20);
        pool.SetGrowAndShrink(growAndShrink);
        pool.StartWorkers();
        TGate gate;
        std::set<ITask*> seen;
        for (int i = 0; i < 21; ++i) {
            PTask task = pool.TakeTask("busy", gate.Procedure());
            seen.insert(task.get());
            task->Run();
        }
        QCOMPARE(seen.size(), size_t(21));
        QCOMPARE(pool.AllTasks().Count(), int64_t(21));
        QCOMPARE(pool.FreeTasks().Count(), int64_t(0));
        QTRY_COMPARE(gate.Inside.load(), 21);

        gate.Open.release(1);
        QTRY_COMPARE(gate.Finished.load(), 1);
        QTRY_COMPARE(pool.AllTasks().Count() + pool.FreeTasks().Count(),
                     int64_t(growAndShrink ? 20 : 22));
        QCOMPARE(pool.AllTasks().Count(), int64_t(growAndShrink ? 20 : 21));

        gate.Open.release(20);
        QTRY_COMPARE(pool.FreeTasks().Count(), int64_t(afterwards));
        QCOMPARE(pool.AllTasks().Count(), int64_t(afterwards));
        pool.StopWorkers();
    }

    // Many extra tasks finishing at the same moment shrink the pool exactly
    // back to its size, never below it.
    void shrinkNeverBelowPoolSize()
    {
        TTaskPool pool(4);
        pool.SetGrowAndShrink(true);
        pool.StartWorkers();
        for (int round = 0; round < 20; ++round) {
            TGate gate;
            for (int i = 0; i < 24; ++i)
                pool.TakeTask("busy", gate.Procedure())->Run();
            QTRY_COMPARE(gate.Inside.load(), 24);
            gate.Open.release(24);
            QTRY_COMPARE(gate.Finished.load(), 24);
            QTRY_COMPARE(pool.FreeTasks().Count(), int64_t(4));
            QCOMPARE(pool.AllTasks().Count(), int64_t(4));
        }
        pool.StopWorkers();
    }

    void terminateSleepingTask()
    {
        TTaskPool pool(1);
        pool.StartWorkers();
        std::atomic<bool> called{false};
        PTask task = pool.TakeTask("never", [&](ITask&) { called = true; });
        QVERIFY(!task->IsTerminated());
        task->Terminate();
        QVERIFY(task->IsTerminated());
        QVERIFY(task->WaitFor(-1));
        QVERIFY(!called);
        pool.StopWorkers();
    }

    void waitForTimesOutWhileAsleep()
    {
        TTaskPool pool(1);
        pool.StartWorkers();
        PTask task = pool.TakeTask("sleeping", nullptr);
        QVERIFY(!task->WaitFor(20));
        pool.StopWorkers();
        QVERIFY(task->WaitFor(0));
    }

    void stopWorkersWaitsForBusyTask()
    {
        TTaskPool pool(3);
        pool.StartWorkers();
        std::atomic<bool> finished{false};
        std::atomic<bool> started{false};
        PTask task = pool.TakeTask("slow", [&](ITask&) {
            started = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            finished = true;
        });
        task->Run();
        QTRY_VERIFY(started.load());
        pool.StopWorkers();
        QVERIFY(finished);
        QVERIFY(task->WaitFor(0));
        QCOMPARE(pool.AllTasks().Count(), int64_t(0));
    }

    // A procedure that throws: the worker goes on serving, the task comes back.
    void failingProcedureKeepsWorker()
    {
        TTaskPool pool(1);
        pool.StartWorkers();
        PTask task = pool.TakeTask("fails", [](ITask&) { throw std::runtime_error("boom"); });
        task->Run();
        QTRY_COMPARE(pool.FreeTasks().Count(), int64_t(1));
        std::atomic<bool> ran{false};
        PTask again = pool.TakeTask("works", [&](ITask&) { ran = true; });
        QCOMPARE(again, task);
        QVERIFY(!again->IsTerminated());
        again->Run();
        QTRY_VERIFY(ran.load());
        pool.StopWorkers();
    }

    // A free task whose worker was ended from outside is never handed out again.
    void terminatedFreeTaskIsSkipped()
    {
        TTaskPool pool(1);
        pool.StartWorkers();
        PTask task = pool.TakeTask("once", [](ITask&) {});
        task->Run();
        QTRY_COMPARE(pool.FreeTasks().Count(), int64_t(1));
        task->Terminate();
        QVERIFY(task->WaitFor(-1));
        std::atomic<bool> ran{false};
        PTask other = pool.TakeTask("next", [&](ITask&) { ran = true; });
        QVERIFY(other != task);
        other->Run();
        QTRY_VERIFY(ran.load());
        QCOMPARE(pool.AllTasks().Count(), int64_t(1));
        pool.StopWorkers();
    }

    void destructionStopsWorkers()
    {
        std::atomic<bool> finished{false};
        {
            TTaskPool pool(2);
            pool.StartWorkers();
            PTask task = pool.TakeTask("slow", [&](ITask&) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                finished = true;
            });
            task->Run();
        }
        QVERIFY(finished);
    }

    void postToPool()
    {
        TTaskPool pool(1);
        std::vector<std::pair<QString, int>> received;
        std::thread::id receiver;
        pool.SetOnMessage([&](const PTaskMessage& aMessage) {
            receiver = std::this_thread::get_id();
            received.emplace_back(aMessage->GetName(),
                                  aMessage->GetValues()->FindValue("n")->AsInteger());
        });
        pool.StartWorkers();
        std::atomic<bool> posted{false};
        PTask task = pool.TakeTask("Poster", [&](ITask& aTask) {
            aTask.Message()->EnsureValue("n")->SetAsInteger(1);
            aTask.SetName("Renamed");
            posted = aTask.PostToPool();
            // A second message is a new one.
            aTask.Message()->EnsureValue("n")->SetAsInteger(2);
            aTask.PostToPool();
        });
        task->Run();
        QTRY_COMPARE(received.size(), size_t(2));
        QVERIFY(posted);
        QCOMPARE(received[0], std::make_pair(QString("Poster"), 1));
        QCOMPARE(received[1], std::make_pair(QString("Renamed"), 2));
        QCOMPARE(receiver, std::this_thread::get_id());
        pool.StopWorkers();
    }

    void sendToPoolDelivers()
    {
        TTaskPool pool(1);
        std::atomic<int> delivered{0};
        pool.SetOnMessage([&](const PTaskMessage&) { ++delivered; });
        pool.StartWorkers();
        std::atomic<int> result{-1};
        PTask task = pool.TakeTask("Sender", [&](ITask& aTask) {
            aTask.Message();
            result = aTask.SendToPool(5000) ? 1 : 0;
            // The pool's thread had handled it before SendToPool returned.
            if (delivered != 1)
                result = 2;
        });
        task->Run();
        QTRY_COMPARE(result.load(), 1);
        pool.StopWorkers();
    }

    // Nobody takes the message in time: three attempts fail, the message is
    // never delivered later, and it is released exactly once.
    void sendToPoolTimesOut()
    {
        TTaskPool pool(1);
        std::atomic<int> delivered{0};
        pool.SetOnMessage([&](const PTaskMessage&) { ++delivered; });
        pool.StartWorkers();
        std::atomic<int> result{-1};
        std::weak_ptr<IValueList> watch;
        PTask task = pool.TakeTask("Sender", [&](ITask& aTask) {
            watch = aTask.Message();
            result = aTask.SendToPool(20) ? 1 : 0;
        });
        task->Run();
        // This thread does not process events while the worker tries.
        while (result.load() < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        QCOMPARE(result.load(), 0);
        QCoreApplication::processEvents();
        QCOMPARE(delivered.load(), 0);
        QVERIFY(watch.expired());
        pool.StopWorkers();
    }

    void receiverFailureReleasesMessage()
    {
        TTaskPool pool(1);
        std::weak_ptr<IValueList> watch;
        std::atomic<int> calls{0};
        pool.SetOnMessage([&](const PTaskMessage&) {
            ++calls;
            throw std::runtime_error("receiver fails");
        });
        pool.StartWorkers();
        std::atomic<bool> posted{false};
        PTask task = pool.TakeTask("Poster", [&](ITask& aTask) {
            watch = aTask.Message();
            posted = aTask.PostToPool();
        });
        task->Run();
        QTRY_COMPARE(calls.load(), 1);
        QVERIFY(posted);
        QTRY_VERIFY(watch.expired());
        pool.StopWorkers();
    }

    void postWithoutReceiverIsDropped()
    {
        TTaskPool pool(1);
        pool.StartWorkers();
        std::weak_ptr<IValueList> watch;
        std::atomic<bool> done{false};
        PTask task = pool.TakeTask("Poster", [&](ITask& aTask) {
            watch = aTask.Message();
            aTask.PostToPool();
            done = true;
        });
        task->Run();
        QTRY_VERIFY(done.load());
        QTRY_VERIFY(watch.expired());
        pool.StopWorkers();
    }
};

QTEST_GUILESS_MAIN(TestIpcPool)
#include "test_ipc_pool.moc"
