// Encoding and decoding a group data file of 10,000 Items.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "exchange/core/GroupDataFile.h"

namespace {

constexpr int kItems = 10000;

std::vector<quorvel::Rec> sampleItems() {
    std::vector<quorvel::Rec> items(kItems);
    for (int i = 0; i < kItems; ++i) {
        quorvel::Rec& r = items[i];
        r.Name = "Classified site " + std::to_string(i);
        r.Site = "http://ads" + std::to_string(i) + ".example/post/new?category=cars&region=all";
        r.LastDone = std::to_string(1 + i % 28) + "/0" + std::to_string(1 + i % 9) + "/2023 " +
                     std::to_string(i % 24) + ":" + std::to_string(10 + i % 50);
        r.RepeatDays = 1 + i % 30;
        r.EntryCount = i;
        r.Keys =
            "{name}{tab}{email}{tab}{phone}{tab}Selling a well-kept car, one owner.\r\n"
            "Call evenings.{tab}{tab}{enter}";
        r.Comments = "Needs a fresh account every month.\r\nCategory list changes often.";
    }
    return items;
}

const std::vector<quorvel::Rec>& items() {
    static const std::vector<quorvel::Rec> all = sampleItems();
    return all;
}

std::vector<const quorvel::Rec*> pointers() {
    std::vector<const quorvel::Rec*> p;
    for (const quorvel::Rec& r : items()) p.push_back(&r);
    return p;
}

void BM_EncodeGroupFile(benchmark::State& state) {
    const auto p = pointers();
    const quorvel::FormatSettings fs;
    std::size_t bytes = 0;
    for (auto _ : state) {
        std::string file = quorvel::writeGroupFile("Cars", p, true, fs, 2023);
        bytes = file.size();
        benchmark::DoNotOptimize(file);
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_EncodeGroupFile)->Unit(benchmark::kMillisecond);

void BM_DecodeGroupFile(benchmark::State& state) {
    const std::string file =
        quorvel::writeGroupFile("Cars", pointers(), true, quorvel::FormatSettings{}, 2023);
    for (auto _ : state) {
        quorvel::FormatSettings fs;
        quorvel::GroupFileReader reader(file);
        const std::int32_t blocks = reader.announcedBlocksMinusOne() + 1;
        for (std::int32_t i = 0; i < blocks; ++i) {
            reader.blockName();
            quorvel::Rec r = reader.readBlockRest(fs);
            benchmark::DoNotOptimize(r);
        }
    }
    state.SetItemsProcessed(state.iterations() * kItems);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_DecodeGroupFile)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
