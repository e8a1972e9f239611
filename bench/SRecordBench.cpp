// Throughput of the download's own work on S-record text: checking and converting each
// "S2" record, collecting its bytes into 128-byte windows and building the payload (CRC
// included) of every finished window. The line and the station are left out.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "engine/SRecord.h"

namespace {

// Records of `perRecord` data bytes over 1 MiB from 0x010000, with a gap every 64 KiB.
std::vector<std::string> MakeRecords(int perRecord) {
    std::mt19937 rng(1);
    std::vector<std::string> lines;
    for (std::uint32_t address = 0x010000; address < 0x110000; address += static_cast<std::uint32_t>(perRecord)) {
        if ((address & 0xFFFF) >= 0xF000) continue;
        char head[16];
        std::snprintf(head, sizeof head, "S2%02X%06X", perRecord + 4, address);
        std::string line = head;
        unsigned sum = static_cast<unsigned>(perRecord + 4) + (address & 0xFF) + ((address >> 8) & 0xFF) + (address >> 16);
        for (int i = 0; i < perRecord; ++i) {
            const unsigned b = rng() & 0xFF;
            char pair[3];
            std::snprintf(pair, sizeof pair, "%02X", b);
            line += pair;
            sum += b;
        }
        char cs[3];
        std::snprintf(cs, sizeof cs, "%02X", ~sum & 0xFF);
        lines.push_back(line + cs);
    }
    return lines;
}

void BM_LoadAndBuildBlocks(benchmark::State& state) {
    const auto lines = MakeRecords(static_cast<int>(state.range(0)));
    std::size_t textBytes = 0;
    for (const auto& l : lines) textBytes += l.size() + 2;  // with its CR LF in a file

    zv::S2Record record;
    zv::BlockPayload payload;
    for (auto _ : state) {
        std::int32_t base = 0;
        zv::BlockMap map{};
        zv::BlockData data;
        data.fill(0xFF);
        std::size_t sent = 0;
        for (const auto& line : lines) {
            zv::ParseS2Record(line, record);
            std::int32_t address = record.address;
            for (int i = 0; i < record.count; ++i, ++address) {
                if ((address & ~0x7F) != base) {
                    if (base != 0) {
                        zv::BuildBlockPayload(base, map, data, payload);
                        sent += payload.size;
                    }
                    base = address & ~0x7F;
                    map.fill(0);
                    data.fill(0xFF);
                }
                const auto j = static_cast<std::size_t>(address & 0x7F);
                data[j] = record.data[static_cast<std::size_t>(i)];
                map[j >> 3] = static_cast<std::uint8_t>(map[j >> 3] | (1u << (j & 7)));
            }
        }
        benchmark::DoNotOptimize(sent);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * textBytes));
}
BENCHMARK(BM_LoadAndBuildBlocks)->Arg(16)->Arg(32)->Arg(251)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
