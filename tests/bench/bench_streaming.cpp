// The serial streaming routine on a zero-latency line: bytes framed and queued per second, and the
// cost of one queue hand-over.
#include "core/CommandLine.h"
#include "device/Ftdilibrary.h"
#include "measure/Measurethread.h"
#include "measure/ValueStream.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>

namespace {

// A line that answers the start at once and then always has stream bytes ready.
struct tFastLine {
    std::vector<std::uint8_t> Stream;
    std::size_t Position = 0;
    bool Started = false;
    tCommTimeouts Timeouts = {};
    tDCB Dcb = {};
};

tFastLine gLine;

BOOL Ok(HANDLE) {
    return 1;
}
BOOL OkDword(HANDLE, DWORD) {
    return 1;
}
BOOL GetState(HANDLE, tDCB* dcb) {
    return *dcb = gLine.Dcb, 1;
}
BOOL SetState(HANDLE, tDCB* dcb) {
    return gLine.Dcb = *dcb, 1;
}
BOOL GetTimeouts(HANDLE, tCommTimeouts* t) {
    return *t = gLine.Timeouts, 1;
}
BOOL SetTimeouts(HANDLE, tCommTimeouts* t) {
    return gLine.Timeouts = *t, 1;
}
BOOL ModemStatus(HANDLE, DWORD* status) {
    return *status = 0, 1;
}
BOOL Write(HANDLE, void*, DWORD size, DWORD* done, void*) {
    return *done = size, 1;
}
BOOL Read(HANDLE, void* buffer, DWORD size, DWORD* done, void*) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    if (!gLine.Started) {
        gLine.Started = true;
        out[0] = 0;
        *done = 1;
        return 1;
    }
    DWORD n = 0;
    while (n < size) {
        const std::size_t chunk = std::min<std::size_t>(size - n, gLine.Stream.size() - gLine.Position);
        std::memcpy(out + n, gLine.Stream.data() + gLine.Position, chunk);
        n += DWORD(chunk);
        gLine.Position = (gLine.Position + chunk) % gLine.Stream.size();
    }
    *done = n;
    return 1;
}
HANDLE Create(const char*, DWORD, DWORD, void*, DWORD, DWORD, HANDLE) {
    return &gLine;
}

const tCommApi kFast = {Create, GetState, SetState,    GetTimeouts, SetTimeouts, OkDword, OkDword,
                        Ok,     Ok,       ModemStatus, Read,        Write,       Ok};

void PrepareLine() {
    SetCommandLine({QStringLiteral("bench")});
    gLine = tFastLine();
    for (int i = 0; gLine.Stream.size() < (1 << 20); ++i)
        EncodeValue(20 + std::sin(i * 0.01) * 5, 2, gLine.Stream);
    SetComApi(&kFast);
}

void BM_RateModeFramingAndQueueing(benchmark::State& state) {
    PrepareLine();
    std::int64_t bytes = 0;
    for (auto _ : state) {
        gLine.Started = false;
        tMeasureThread thread(0, &gLine, 921600, dtCOM, true);
        const int packetSize = RatePacketSize(921600);
        std::int64_t packets = 0;
        while (packets < 2000) {
            tMeasurePacket packet;
            thread.GetPacket(packet);
            if (packet.Data) ++packets;
        }
        thread.RequestStop();
        thread.WaitFor();
        bytes += packets * (packetSize - 4);
    }
    state.SetBytesProcessed(bytes);
    state.counters["line_rates"] = benchmark::Counter(double(bytes) / 92160.0, benchmark::Counter::kIsRate);
    SetComApi(nullptr);
}
BENCHMARK(BM_RateModeFramingAndQueueing)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PacketHandOver(benchmark::State& state) {
    PrepareLine();
    gLine.Started = false;
    tMeasureThread thread(0, &gLine, 921600, dtCOM, true);
    while (thread.GetPacketCount() < 20000) {
    }
    thread.RequestStop();
    thread.WaitFor();
    for (auto _ : state) {
        if (thread.GetPacketCount() == 0) {
            state.SkipWithError("queue ran dry");
            break;
        }
        tMeasurePacket packet;
        thread.GetPacket(packet);
        benchmark::DoNotOptimize(packet.Data.get());
    }
    SetComApi(nullptr);
}
BENCHMARK(BM_PacketHandOver)->Iterations(15000);

} // namespace

BENCHMARK_MAIN();
