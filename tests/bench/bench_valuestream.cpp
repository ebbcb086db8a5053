// Decoder throughput on a long, realistic value stream (three channels, mixed signs and decimals).
#include "measure/ValueStream.h"

#include <benchmark/benchmark.h>
#include <cmath>

namespace {

std::vector<std::uint8_t> RealisticStream(std::size_t bytes) {
    std::vector<std::uint8_t> stream;
    stream.reserve(bytes + 64);
    for (int i = 0; stream.size() < bytes; ++i) {
        const double t = i * 0.001;
        stream.push_back(0xD0);
        EncodeValue(21.5 + 3 * std::sin(t), 2, stream);
        stream.push_back(0xD1);
        EncodeValue(-40 + 0.01 * i, 1, stream);
        stream.push_back(0xD2);
        EncodeValue(1013.25 + std::cos(t), 3, stream);
    }
    return stream;
}

void BM_DecodeValueStream(benchmark::State& state) {
    const std::vector<std::uint8_t> stream = RealisticStream(std::size_t(state.range(0)));
    for (auto _ : state) {
        tChannels channels;
        for (auto& channel : channels) channel.reserve(stream.size() / 4);
        int current = 0;
        DecodeValueStream(stream.data(), stream.size(), current, channels);
        benchmark::DoNotOptimize(channels[0].data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(stream.size()));
}
BENCHMARK(BM_DecodeValueStream)->Arg(1 << 20)->Arg(16 << 20)->Unit(benchmark::kMillisecond);

void BM_ExtractPayload(benchmark::State& state) {
    std::vector<std::uint8_t> packet = RealisticStream(9676);
    packet.resize(9676, kDataEnd);
    packet[0] = kPacketStart;
    packet[1] = 0;
    packet[2] = kDataStart;
    packet.back() = kPacketEnd;
    std::vector<std::uint8_t> payload;
    payload.reserve(packet.size());
    for (auto _ : state) {
        payload.clear();
        ExtractPayload(packet.data(), packet.size(), payload);
        benchmark::DoNotOptimize(payload.data());
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(packet.size()));
}
BENCHMARK(BM_ExtractPayload);

} // namespace

BENCHMARK_MAIN();
