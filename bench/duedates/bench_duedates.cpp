// One reminder pass over a large loaded list, as the window's minute timer runs
// it, and the due date-time of a general choice.
// Run: build/bench/duedates/bench_duedates

#include "app/tasks_notifier.h"
#include "app/tasks_reminders.h"
#include "due/tasks_duedates.h"

#include <QCoreApplication>
#include <benchmark/benchmark.h>
#include <memory>
#include <random>
#include <vector>

namespace {

// The window's list model keeps its records this way.
using TRecords = std::vector<std::unique_ptr<TTaskRecord>>;

// aCount records as a list load leaves them: a tenth unplanned, a fifth
// finished, the rest due within a month before or after now, none announced
// yet and none due within the minute, so every open record is measured in full.
TRecords LoadedRecords(int aCount, int aMaxSeconds = 30 * 86400)
{
    std::mt19937 random(4);
    std::uniform_int_distribution<int> seconds(120, aMaxSeconds);
    std::uniform_int_distribution<int> percent(0, 99);
    const QDateTime now = QDateTime::currentDateTime();
    TRecords records;
    for (int i = 0; i < aCount; ++i) {
        auto record = std::make_unique<TTaskRecord>(QString::number(i).rightJustified(16, u'A'));
        record->summary = QStringLiteral("Task %1").arg(i);
        const int kind = percent(random);
        if (kind >= 10) {
            const int offset = seconds(random);
            record->duedt =
                DateTimeFromQDateTime(now.addSecs(percent(random) < 50 ? -offset : offset));
        }
        record->finished = kind >= 10 && kind < 30;
        records.push_back(std::move(record));
    }
    return records;
}

void RunPass(benchmark::State& aState, bool aFixedClock)
{
    TRecords records = LoadedRecords(static_cast<int>(aState.range(0)));
    if (aFixedClock)
        SetFixedNow(QDateTime::currentDateTime());
    else
        ResetNow();
    TtasksRecordingNotifier notifier;
    int announced = 0;
    for (auto _ : aState)
        announced += CheckReminders(records, notifier, [](const QString&) {});
    benchmark::DoNotOptimize(announced);
    aState.SetItemsProcessed(aState.iterations() * aState.range(0));
    ResetNow();
}

// The real clock, read anew for each record.
void BM_CheckRemindersRealClock(benchmark::State& aState)
{
    RunPass(aState, false);
}
// The clock fixed by a test, to see what the reading of the clock costs.
void BM_CheckRemindersFixedClock(benchmark::State& aState)
{
    RunPass(aState, true);
}

// The worst case: every open record due within a few minutes of now, so the
// pass asks the clock again for each of them.
void BM_CheckRemindersAllNearNow(benchmark::State& aState)
{
    TRecords records = LoadedRecords(static_cast<int>(aState.range(0)), 300);
    ResetNow();
    TtasksRecordingNotifier notifier;
    int announced = 0;
    for (auto _ : aState)
        announced += CheckReminders(records, notifier, [](const QString&) {});
    benchmark::DoNotOptimize(announced);
}

// The single-record step for every record, which asks the clock each time.
void BM_CheckReminderEachRecord(benchmark::State& aState)
{
    TRecords records = LoadedRecords(static_cast<int>(aState.range(0)));
    ResetNow();
    TtasksRecordingNotifier notifier;
    int announced = 0;
    for (auto _ : aState)
        for (const auto& record : records)
            announced += CheckReminder(*record, notifier) ? 1 : 0;
    benchmark::DoNotOptimize(announced);
}

void BM_DueDateFromHours(benchmark::State& aState)
{
    int hours = 0;
    for (auto _ : aState) {
        benchmark::DoNotOptimize(DueDateFromHours(hours));
        hours = (hours + 1) % 25;
    }
}

} // namespace

BENCHMARK(BM_CheckRemindersRealClock)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckRemindersFixedClock)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckRemindersAllNearNow)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckReminderEachRecord)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DueDateFromHours)->Unit(benchmark::kMicrosecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
