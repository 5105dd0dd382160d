#pragma once

// What the platforms' connections share: the deadline, the stop signal and a
// read buffer in front of the endpoint. A platform supplies Receive, the raw
// read that waits as the deadline and the stop signal allow.

#include "ipc/kvd_pipe.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>

class TBufferedPipeConnection : public IPipeConnection
{
public:
    explicit TBufferedPipeConnection(PStopSignal aStop) : FStop(std::move(aStop)) {}

    void SetDeadline(int aMilliseconds) override
    {
        FHasDeadline = aMilliseconds >= 0;
        if (FHasDeadline)
            FDeadline = TClock::now() + std::chrono::milliseconds(aMilliseconds);
    }

    int64_t ReadSome(void* aTarget, int64_t aMax) override
    {
        if (!IsOpen() || aMax <= 0 || Stopped())
            return -1;
        if (FBegin == FEnd) {
            // Large reads bypass the buffer; small fields are served from it so
            // that a whole frame usually costs one read of the endpoint.
            if (aMax >= kReadBufferSize)
                return Receive(aTarget, aMax);
            const int64_t got = Receive(FBuffer, kReadBufferSize);
            if (got <= 0)
                return got;
            FBegin = 0;
            FEnd = got;
        }
        const int64_t count = std::min(aMax, FEnd - FBegin);
        std::memcpy(aTarget, FBuffer + FBegin, static_cast<size_t>(count));
        FBegin += count;
        return count;
    }

protected:
    // Up to aMax bytes straight from the endpoint, waiting while the deadline
    // and the stop signal allow; 0 at the end of the stream, -1 on failure.
    virtual int64_t Receive(void* aTarget, int64_t aMax) = 0;

    bool Stopped() const { return FStop && FStop->IsSet(); }
    // The milliseconds left until the deadline (none or fewer once it has
    // passed); nothing while there is no deadline.
    std::optional<int64_t> MillisecondsLeft() const
    {
        if (!FHasDeadline)
            return std::nullopt;
        return std::chrono::ceil<std::chrono::milliseconds>(FDeadline - TClock::now()).count();
    }

    PStopSignal FStop;

private:
    using TClock = std::chrono::steady_clock;
    static constexpr int64_t kReadBufferSize = 65536;

    bool FHasDeadline = false;
    TClock::time_point FDeadline;
    char FBuffer[kReadBufferSize];
    int64_t FBegin = 0;
    int64_t FEnd = 0;
};
