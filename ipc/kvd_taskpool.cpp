#include "ipc/kvd_taskpool.h"

#include <QMetaObject>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <thread>

void TAutoResetEvent::Set()
{
    {
        std::lock_guard<std::mutex> guard(FLock);
        FSet = true;
    }
    FSignal.notify_one();
}

bool TAutoResetEvent::Wait(int aMilliseconds)
{
    std::unique_lock<std::mutex> guard(FLock);
    if (aMilliseconds < 0)
        FSignal.wait(guard, [this] { return FSet; });
    else if (!FSignal.wait_for(guard, std::chrono::milliseconds(aMilliseconds),
                               [this] { return FSet; }))
        return false;
    FSet = false;
    return true;
}

// ---------------------------------------------------------------------------
// The object on the pool's creating thread that receives task messages.

class TTaskPoolWindow : public QObject
{
public:
    void SetOnMessage(TTaskMessageEvent aHandler)
    {
        std::lock_guard<std::mutex> guard(FLock);
        FOnMessage = std::move(aHandler);
    }

    // On the window's thread.
    void Deliver(const PTaskMessage& aMessage)
    {
        TTaskMessageEvent handler;
        {
            std::lock_guard<std::mutex> guard(FLock);
            handler = FOnMessage;
        }
        if (!handler)
            return;
        try {
            handler(aMessage);
        } catch (...) {
            // A failing receiver must not unwind through the event loop; the
            // message is released by its last reference either way.
        }
    }

private:
    std::mutex FLock;
    TTaskMessageEvent FOnMessage;
};

void ReleaseThread(std::thread& aThread)
{
    if (!aThread.joinable())
        return;
    if (aThread.get_id() == std::this_thread::get_id())
        aThread.detach();
    else
        aThread.join();
}

namespace {

class TTaskMessage : public ITaskMessage
{
public:
    explicit TTaskMessage(const QString& aName) : FName(aName) {}
    QString GetName() const override { return FName; }
    PValueList GetValues() const override { return FValues; }

private:
    QString FName;
    PValueList FValues = std::make_shared<TValueList>();
};

// One delivery attempt of a message. The window and the sender race for it: the
// window takes it (Taken) or the sender gives it up after its time-out
// (Abandoned), never both, so the receiver sees it at most once.
struct TMessageObj
{
    enum
    {
        Waiting,
        Taken,
        Abandoned
    };
    explicit TMessageObj(PTaskMessage aMessage) : Message(std::move(aMessage)) {}

    PTaskMessage Message;
    std::atomic<int> State{Waiting};
    std::mutex Lock;
    std::condition_variable DoneSignal;
    bool Done = false;
};

void DestroyWindow(TTaskPoolWindow* aWindow)
{
    // A QObject is deleted on its own thread.
    if (aWindow->thread() == QThread::currentThread())
        delete aWindow;
    else
        aWindow->deleteLater();
}

constexpr int DeliveryAttempts = 3;

} // namespace

// ---------------------------------------------------------------------------

using TTaskDone = std::function<void(const PTask& aTask)>;

class TWorkerThread : public std::enable_shared_from_this<TWorkerThread>
{
public:
    TWorkerThread(PTask aTask, TTaskDone aDone) : FTask(std::move(aTask)), FDone(std::move(aDone))
    {
    }

    ~TWorkerThread()
    {
        Terminate();
        ReleaseThread(FThread);
    }

    void Start()
    {
        FThread = std::thread([self = shared_from_this()] { self->Execute(); });
    }

    // A run requested before a Terminate is still carried out, so work handed to
    // a task (such as a connection to close) is never silently dropped.
    void Wake()
    {
        FRunPending = true;
        FWake.Set();
    }

    void Terminate()
    {
        FTerminated = true;
        FWake.Set();
    }

    bool Terminated() const { return FTerminated; }
    bool Ended() const
    {
        std::lock_guard<std::mutex> guard(FEndLock);
        return FEnded;
    }
    bool OnOwnThread() const { return FThread.get_id() == std::this_thread::get_id(); }

    // Waits for the thread to end (aMilliseconds < 0: without limit) and joins it.
    bool WaitFor(int aMilliseconds)
    {
        if (OnOwnThread())
            return false;
        {
            std::unique_lock<std::mutex> guard(FEndLock);
            auto ended = [this] { return FEnded; };
            if (aMilliseconds < 0)
                FEndSignal.wait(guard, ended);
            else if (!FEndSignal.wait_for(guard, std::chrono::milliseconds(aMilliseconds), ended))
                return false;
        }
        std::lock_guard<std::mutex> guard(FJoinLock);
        if (FThread.joinable())
            FThread.join();
        return true;
    }

private:
    void Execute()
    {
        for (;;) {
            FWake.Wait();
            while (FRunPending.exchange(false)) {
                if (TTaskProcedure procedure = FTask->GetProcedure()) {
                    try {
                        procedure(*FTask);
                    } catch (...) {
                        // A failure of the work must not end the worker: the pool
                        // would keep a task whose thread is gone. The procedure's
                        // owner reports its own failures; here the task is simply
                        // handed back like after any other run.
                    }
                }
                FDone(FTask);
            }
            if (FTerminated)
                break;
        }
        // The task holds its worker and the worker its task; dropping this side
        // lets both go once nobody else refers to the task.
        FTask.reset();
        FDone = nullptr;
        {
            std::lock_guard<std::mutex> guard(FEndLock);
            FEnded = true;
        }
        FEndSignal.notify_all();
    }

    PTask FTask;
    TTaskDone FDone;
    TAutoResetEvent FWake;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FRunPending{false};
    std::thread FThread;
    std::mutex FJoinLock;
    mutable std::mutex FEndLock;
    std::condition_variable FEndSignal;
    bool FEnded = false;
};

namespace {

class TTask : public ITask
{
public:
    static std::shared_ptr<TTask> Create(std::weak_ptr<TTaskPoolWindow> aWindow, TTaskDone aDone)
    {
        auto task = std::make_shared<TTask>();
        task->FWindow = std::move(aWindow);
        task->FWorker = std::make_shared<TWorkerThread>(task, std::move(aDone));
        task->FWorker->Start();
        return task;
    }

    QString GetName() const override { return FName; }
    PValueList GetValues() const override { return FValues; }
    PValueList Message() override
    {
        if (!FPending)
            FPending = std::make_shared<TTaskMessage>(FName);
        return FPending->GetValues();
    }
    bool IsTerminated() const override { return FWorker->Terminated(); }
    TTaskProcedure GetProcedure() const override { return FProcedure; }
    void SetName(const QString& aName) override { FName = aName; }
    void SetProcedure(TTaskProcedure aProcedure) override { FProcedure = std::move(aProcedure); }
    bool SendToPool(int aTimeout) override;
    bool WaitFor(int aMilliseconds) override { return FWorker->WaitFor(aMilliseconds); }
    bool PostToPool() override;
    void Terminate() override { FWorker->Terminate(); }
    void Run() override { FWorker->Wake(); }

    const std::shared_ptr<TWorkerThread>& Worker() const { return FWorker; }

private:
    PTaskMessage TakePending()
    {
        Message();
        return std::exchange(FPending, nullptr);
    }

    QString FName;
    PValueList FValues = std::make_shared<TValueList>();
    TTaskProcedure FProcedure;
    std::weak_ptr<TTaskPoolWindow> FWindow;
    std::shared_ptr<TWorkerThread> FWorker;
    std::shared_ptr<TTaskMessage> FPending;
};

bool TTask::PostToPool()
{
    // The message is held by shared references: the queued call owns one once
    // posted, and whichever of the two lets go last releases it, exactly once.
    PTaskMessage message = TakePending();
    for (int attempt = 0; attempt < DeliveryAttempts; ++attempt) {
        std::shared_ptr<TTaskPoolWindow> window = FWindow.lock();
        if (!window)
            return false;
        TTaskPoolWindow* target = window.get();
        if (QMetaObject::invokeMethod(
                target, [target, message] { target->Deliver(message); }, Qt::QueuedConnection))
            return true;
    }
    return false;
}

bool TTask::SendToPool(int aTimeout)
{
    PTaskMessage message = TakePending();
    for (int attempt = 0; attempt < DeliveryAttempts; ++attempt) {
        std::shared_ptr<TTaskPoolWindow> window = FWindow.lock();
        if (!window)
            return false;
        TTaskPoolWindow* target = window.get();
        if (target->thread() == QThread::currentThread()) {
            target->Deliver(message);
            return true;
        }
        auto obj = std::make_shared<TMessageObj>(message);
        const bool queued = QMetaObject::invokeMethod(
            target,
            [target, obj] {
                int expected = TMessageObj::Waiting;
                if (!obj->State.compare_exchange_strong(expected, TMessageObj::Taken))
                    return; // the sender gave this attempt up
                target->Deliver(obj->Message);
                {
                    std::lock_guard<std::mutex> guard(obj->Lock);
                    obj->Done = true;
                }
                obj->DoneSignal.notify_all();
            },
            Qt::QueuedConnection);
        window.reset();
        if (!queued)
            continue;
        std::unique_lock<std::mutex> guard(obj->Lock);
        if (obj->DoneSignal.wait_for(guard, std::chrono::milliseconds(std::max(aTimeout, 0)),
                                     [&obj] { return obj->Done; }))
            return true;
        int expected = TMessageObj::Waiting;
        if (obj->State.compare_exchange_strong(expected, TMessageObj::Abandoned))
            continue; // not taken in time: this attempt failed
        // The window took it just as the time ran out: it is being handled, so
        // wait for the end rather than deliver it a second time.
        obj->DoneSignal.wait(guard, [&obj] { return obj->Done; });
        return true;
    }
    return false;
}

} // namespace

// ---------------------------------------------------------------------------

void TTaskList::Add(const PTask& aTask)
{
    std::lock_guard<std::mutex> guard(FLock);
    FItems.push_back(aTask);
}

void TTaskList::Remove(const PTask& aTask)
{
    Remove(aTask.get());
}

void TTaskList::Remove(const ITask* aTask)
{
    PTask removed; // released after the lock, in case it is the last reference
    std::lock_guard<std::mutex> guard(FLock);
    for (auto it = FItems.begin(); it != FItems.end(); ++it) {
        if (it->get() == aTask) {
            removed = std::move(*it);
            FItems.erase(it);
            break;
        }
    }
}

bool TTaskList::RemoveIfMoreThan(const PTask& aTask, int64_t aLimit)
{
    PTask removed; // released after the lock, in case it is the last reference
    std::lock_guard<std::mutex> guard(FLock);
    if (static_cast<int64_t>(FItems.size()) <= aLimit)
        return false;
    for (auto it = FItems.begin(); it != FItems.end(); ++it) {
        if (*it == aTask) {
            removed = std::move(*it);
            FItems.erase(it);
            return true;
        }
    }
    return false;
}

int64_t TTaskList::Count() const
{
    std::lock_guard<std::mutex> guard(FLock);
    return static_cast<int64_t>(FItems.size());
}

PTask TTaskList::TakeFirst()
{
    std::lock_guard<std::mutex> guard(FLock);
    if (FItems.empty())
        return nullptr;
    PTask task = std::move(FItems.front());
    FItems.pop_front();
    return task;
}

void TTaskList::Clear()
{
    std::list<PTask> items;
    {
        std::lock_guard<std::mutex> guard(FLock);
        items.swap(FItems);
    }
}

// ---------------------------------------------------------------------------

TTaskPool::TTaskPool(int aPoolSize)
    : FPoolSize(aPoolSize), FWindow(new TTaskPoolWindow, DestroyWindow)
{
}

TTaskPool::~TTaskPool()
{
    if (FAllTasks.Count() > 0)
        StopWorkers();
    FFreeTasks.Clear();
    JoinRetired(true);
}

void TTaskPool::SetOnMessage(TTaskMessageEvent aHandler)
{
    FWindow->SetOnMessage(std::move(aHandler));
}

PTask TTaskPool::CreateTask()
{
    return TTask::Create(FWindow, [this](const PTask& aTask) { TaskDone(aTask); });
}

void TTaskPool::StartWorkers()
{
    for (int i = 0; i < FPoolSize; ++i) {
        PTask task = CreateTask();
        FAllTasks.Add(task);
        FFreeTasks.Add(task);
    }
    FActive = true;
}

PTask TTaskPool::TakeTask(const QString& aName, TTaskProcedure aProcedure)
{
    JoinRetired(false);
    PTask task;
    // A task terminated from outside has no worker any more: never hand it out.
    while ((task = FFreeTasks.TakeFirst()) && task->IsTerminated()) {
        FAllTasks.Remove(task);
        std::lock_guard<std::mutex> guard(FRetiredLock);
        FRetired.push_back(static_cast<TTask*>(task.get())->Worker());
    }
    if (!task) {
        task = CreateTask();
        FAllTasks.Add(task);
    }
    task->SetProcedure(std::move(aProcedure));
    task->SetName(aName);
    task->GetValues()->Clear();
    return task;
}

void TTaskPool::TaskDone(const PTask& aTask)
{
    if (FGrowAndShrink) {
        // Kept among the retired before it leaves AllTasks, so StopWorkers
        // always finds the worker in one place or the other to wait for.
        std::shared_ptr<TWorkerThread> worker = static_cast<TTask*>(aTask.get())->Worker();
        {
            std::lock_guard<std::mutex> guard(FRetiredLock);
            FRetired.push_back(worker);
        }
        if (FAllTasks.RemoveIfMoreThan(aTask, FPoolSize)) {
            aTask->Terminate();
            return;
        }
        std::lock_guard<std::mutex> guard(FRetiredLock);
        auto kept = std::find(FRetired.begin(), FRetired.end(), worker);
        if (kept != FRetired.end())
            FRetired.erase(kept);
    }
    if (FActive)
        FFreeTasks.Add(aTask);
}

void TTaskPool::StopWorkers()
{
    while (PTask task = FAllTasks.TakeFirst()) {
        task->Terminate();
        task->WaitFor(FStopTimeout);
    }
    FFreeTasks.Clear();
    FActive = false;
    JoinRetired(true);
}

// Joins the threads of retired workers: every one (aAll), or only those that
// have already ended, so that retiring under load never leaves threads behind.
void TTaskPool::JoinRetired(bool aAll)
{
    std::vector<std::shared_ptr<TWorkerThread>> joinable;
    {
        std::lock_guard<std::mutex> guard(FRetiredLock);
        for (auto it = FRetired.begin(); it != FRetired.end();) {
            if (aAll || (*it)->Ended()) {
                joinable.push_back(std::move(*it));
                it = FRetired.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto& worker : joinable)
        worker->WaitFor(aAll ? FStopTimeout : -1);
}
