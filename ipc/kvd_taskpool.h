#pragma once

// A pool of tasks, each with its own worker thread that is created once, sleeps
// until the task is run, calls the task's procedure and hands the task back.
// Tasks may send messages to the thread that created the pool.

#include "ipc/kvd_values.h"

#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Ends the life of a thread object: joins the thread, or detaches it when the
// thread itself is releasing its owner (joining itself would deadlock).
void ReleaseThread(std::thread& aThread);

// An auto-reset event: Set wakes one waiter (or the next one to wait) and resets.
class TAutoResetEvent
{
public:
    void Set();
    // Waits until set; aMilliseconds < 0 waits without limit. True when it was set.
    bool Wait(int aMilliseconds = -1);

private:
    std::mutex FLock;
    std::condition_variable FSignal;
    bool FSet = false;
};

// A message from a task to the pool's thread: the task's name when it was made
// and the values the task filled in.
class ITaskMessage
{
public:
    virtual ~ITaskMessage() = default;
    virtual QString GetName() const = 0;
    virtual PValueList GetValues() const = 0;
};
using PTaskMessage = std::shared_ptr<ITaskMessage>;

class ITask;
using PTask = std::shared_ptr<ITask>;
// The work a task runs on its worker thread.
using TTaskProcedure = std::function<void(ITask& aTask)>;
// Receives task messages on the pool's thread.
using TTaskMessageEvent = std::function<void(const PTaskMessage& aMessage)>;

class ITask
{
public:
    virtual ~ITask() = default;
    virtual QString GetName() const = 0;
    // Parameters given by the taker before Run; empty when the task is taken.
    virtual PValueList GetValues() const = 0;
    // The values of the pending message, created on first use with the task's name.
    virtual PValueList Message() = 0;
    virtual bool IsTerminated() const = 0;
    virtual TTaskProcedure GetProcedure() const = 0;
    virtual void SetName(const QString& aName) = 0;
    virtual void SetProcedure(TTaskProcedure aProcedure) = 0;
    // Delivers the pending message and waits until the pool's thread has handled
    // it, at most aTimeout ms per attempt, up to 3 attempts. True when delivered.
    virtual bool SendToPool(int aTimeout) = 0;
    // Waits up to aMilliseconds (-1: without limit) for the worker thread to end.
    virtual bool WaitFor(int aMilliseconds) = 0;
    // Queues the pending message for the pool's thread, up to 3 attempts.
    virtual bool PostToPool() = 0;
    // Ends the worker: at once when asleep, after its procedure when busy.
    virtual void Terminate() = 0;
    // Wakes the worker to run the procedure once.
    virtual void Run() = 0;
};

// A list of tasks guarded by its own lock; every operation takes the lock.
class TTaskList
{
public:
    void Add(const PTask& aTask);
    void Remove(const PTask& aTask);
    void Remove(const ITask* aTask);
    int64_t Count() const;
    // Removes aTask only while the list holds more than aLimit items, in one
    // step, so that tasks finishing together never shrink it below aLimit.
    bool RemoveIfMoreThan(const PTask& aTask, int64_t aLimit);
    PTask TakeFirst();
    void Clear();

private:
    mutable std::mutex FLock;
    std::list<PTask> FItems;
};

class TTaskPoolWindow;
class TWorkerThread;

class TTaskPool
{
public:
    explicit TTaskPool(int aPoolSize);
    // Stops the workers if any task remains.
    ~TTaskPool();
    TTaskPool(const TTaskPool&) = delete;
    TTaskPool& operator=(const TTaskPool&) = delete;

    // Makes PoolSize tasks, each in AllTasks and FreeTasks, and sets Active.
    void StartWorkers();
    // A free task, or a new one when none is free (no upper limit), with its
    // name and procedure set and its Values empty. Fill Values, then Run it.
    PTask TakeTask(const QString& aName, TTaskProcedure aProcedure);
    // Terminates every task and waits for its worker (StopTimeout ms each, -1
    // without limit); returns when every worker thread has ended.
    void StopWorkers();
    // Called on the worker's thread after its procedure returned.
    void TaskDone(const PTask& aTask);

    bool Active() const { return FActive; }
    int PoolSize() const { return FPoolSize; }
    bool GrowAndShrink() const { return FGrowAndShrink; }
    void SetGrowAndShrink(bool aValue) { FGrowAndShrink = aValue; }
    int StopTimeout() const { return FStopTimeout; }
    void SetStopTimeout(int aValue) { FStopTimeout = aValue; }
    // Runs on the thread that created the pool, which needs an event loop.
    void SetOnMessage(TTaskMessageEvent aHandler);

    TTaskList& AllTasks() { return FAllTasks; }
    TTaskList& FreeTasks() { return FFreeTasks; }

private:
    PTask CreateTask();
    void JoinRetired(bool aAll);

    std::atomic<bool> FActive{false};
    std::atomic<bool> FGrowAndShrink{false};
    int FPoolSize;
    int FStopTimeout = -1;
    TTaskList FAllTasks;
    TTaskList FFreeTasks;
    std::shared_ptr<TTaskPoolWindow> FWindow;
    // Workers of retired tasks, joined once their threads have ended.
    std::mutex FRetiredLock;
    std::vector<std::shared_ptr<TWorkerThread>> FRetired;
};
