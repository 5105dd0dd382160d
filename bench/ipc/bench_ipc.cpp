// The pipe server against a minimal echo server over the same kind of socket
// with the same framing: round-trip latency with one client and throughput
// with 20 clients. And reading all 10,000 values of a received body in random
// order against one sequential walk.
//
// Run: bench_ipc --benchmark_counters_tabular=true

#include "ipc/kvd_ipc.h"

#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Reads exactly aSize bytes from a blocking socket.
bool ReadAll(int aHandle, char* aTarget, int64_t aSize)
{
    while (aSize > 0) {
        const ssize_t got = ::read(aHandle, aTarget, static_cast<size_t>(aSize));
        if (got <= 0)
            return false;
        aTarget += got;
        aSize -= got;
    }
    return true;
}

bool WriteAllBytes(int aHandle, const char* aSource, int64_t aSize)
{
    while (aSize > 0) {
        const ssize_t sent = ::send(aHandle, aSource, static_cast<size_t>(aSize), MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        aSource += sent;
        aSize -= sent;
    }
    return true;
}

// A minimal echo server: one thread per connection reads a frame (ID length,
// ID, body length, body) and writes the same frame back.
class TEchoServer
{
public:
    explicit TEchoServer(const QString& aPipeName)
    {
        const QByteArray path = QFile::encodeName(PipePathOf(aPipeName));
        ::unlink(path.constData());
        FHandle = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, path.constData(), static_cast<size_t>(path.size()));
        if (::bind(FHandle, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::listen(FHandle, SOMAXCONN) != 0)
            std::abort();
        FAcceptor = std::thread([this] { AcceptLoop(); });
    }

    ~TEchoServer()
    {
        FStop = true;
        FAcceptor.join();
        ::close(FHandle);
        for (std::thread& connection : FConnections)
            connection.join();
    }

private:
    void AcceptLoop()
    {
        while (!FStop) {
            pollfd fd{FHandle, POLLIN, 0};
            if (::poll(&fd, 1, 50) <= 0)
                continue;
            const int client = ::accept(FHandle, nullptr, nullptr);
            if (client >= 0)
                FConnections.emplace_back([client] { Serve(client); });
        }
    }

    static void Serve(int aClient)
    {
        std::vector<char> frame;
        for (;;) {
            char length[8];
            if (!ReadAll(aClient, length, 8))
                break;
            const int64_t idLength = BytesToInt64(length);
            if (idLength < 0 || idLength > MaxFrameIdBytes)
                break;
            frame.resize(static_cast<size_t>(16 + idLength));
            std::memcpy(frame.data(), length, 8);
            if (!ReadAll(aClient, frame.data() + 8, idLength + 8))
                break;
            const int64_t bodyLength = BytesToInt64(frame.data() + 8 + idLength);
            if (bodyLength < 0 || bodyLength > MaxFrameBodyBytes)
                break;
            frame.resize(static_cast<size_t>(16 + idLength + bodyLength));
            if (!ReadAll(aClient, frame.data() + 16 + idLength, bodyLength) ||
                !WriteAllBytes(aClient, frame.data(), static_cast<int64_t>(frame.size())))
                break;
        }
        ::close(aClient);
    }

    int FHandle = -1;
    std::atomic<bool> FStop{false};
    std::thread FAcceptor;
    std::vector<std::thread> FConnections;
};

// The same echo as a request handler of the pipe server.
void EchoHandler(IMessageData& aRequest, IMessageData& aReply)
{
    aReply.SetID(aRequest.GetID());
    aReply.GetData().Assign(aRequest.GetData().Stream().Bytes());
}

TMessageData SmallRequest()
{
    TMessageData request;
    request.SetID(QStringLiteral("ABCDEFGHIJKLMNOP"));
    request.WriteText(QStringLiteral("Command"), QStringLiteral("kvd_command_getversion"));
    return request;
}

enum TTarget
{
    ttEcho,
    ttServer
};

// Starts the server under test for the length of one benchmark.
struct TTargetServer
{
    explicit TTargetServer(TTarget aTarget)
        : Name(aTarget == ttEcho ? "bench_echo" : "bench_server")
    {
        if (aTarget == ttEcho) {
            Echo = std::make_unique<TEchoServer>(Name);
        } else {
            Server = std::make_unique<TIPCServer>();
            Server->SetPipeName(Name);
            Server->OnExecuteRequest = EchoHandler;
            Server->Start();
        }
    }
    QString Name;
    std::unique_ptr<TEchoServer> Echo;
    std::unique_ptr<TIPCServer> Server;
};

void BM_Latency(benchmark::State& aState)
{
    TTargetServer target(static_cast<TTarget>(aState.range(0)));
    TIPCClient client;
    client.Connect(target.Name);
    const TMessageData request = SmallRequest();
    std::vector<double> latencies;
    for (auto _ : aState) {
        const auto start = std::chrono::steady_clock::now();
        TMessageData reply;
        client.Execute(request, reply);
        latencies.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    client.Disconnect();
    std::nth_element(latencies.begin(), latencies.begin() + latencies.size() / 2, latencies.end());
    aState.counters["median_us"] = latencies[latencies.size() / 2];
    aState.SetLabel(aState.range(0) == ttEcho ? "echo" : "TIPCServer");
}
BENCHMARK(BM_Latency)->Arg(ttEcho)->Arg(ttServer)->MinTime(2.0)->UseRealTime();

void BM_Throughput20Clients(benchmark::State& aState)
{
    constexpr int Clients = 20;
    constexpr int RequestsPerClient = 500;
    TTargetServer target(static_cast<TTarget>(aState.range(0)));
    const TMessageData request = SmallRequest();
    for (auto _ : aState) {
        std::vector<std::thread> clients;
        for (int c = 0; c < Clients; ++c) {
            clients.emplace_back([&] {
                TIPCClient client;
                client.Connect(target.Name);
                for (int r = 0; r < RequestsPerClient; ++r) {
                    TMessageData reply;
                    client.Execute(request, reply);
                }
                client.Disconnect();
            });
        }
        for (std::thread& client : clients)
            client.join();
    }
    aState.SetItemsProcessed(aState.iterations() * Clients * RequestsPerClient);
    aState.SetLabel(aState.range(0) == ttEcho ? "echo" : "TIPCServer");
}
BENCHMARK(BM_Throughput20Clients)->Arg(ttEcho)->Arg(ttServer)->MinTime(2.0)->UseRealTime();

// A received body of 10,000 text values, read all through in one order.
void BM_ReadAllValues(benchmark::State& aState)
{
    constexpr int Values = 10000;
    TStreamStorage written;
    std::vector<QString> names;
    for (int i = 0; i < Values; ++i) {
        names.push_back(QStringLiteral("Value%1").arg(i));
        written.WriteText(names.back(), QStringLiteral("text of value %1").arg(i));
    }
    std::vector<int> order(Values);
    for (int i = 0; i < Values; ++i)
        order[static_cast<size_t>(i)] = i;
    if (aState.range(0) == 1)
        std::shuffle(order.begin(), order.end(), std::mt19937(42));
    const QByteArray body = written.Stream().Bytes();
    for (auto _ : aState) {
        TStreamStorage received;
        received.Assign(body);
        const auto start = std::chrono::steady_clock::now();
        for (int i : order)
            benchmark::DoNotOptimize(received.ReadText(names[static_cast<size_t>(i)]));
        aState.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    aState.SetItemsProcessed(aState.iterations() * Values);
    aState.SetLabel(aState.range(0) == 1 ? "random order" : "sequential walk");
}
BENCHMARK(BM_ReadAllValues)->Arg(0)->Arg(1)->UseManualTime()->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
