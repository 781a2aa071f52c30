// ParsingSeal on a seal with a 50 KB picture and two 1 KB holder certificates, called through
// the shared library as a host does. Also reports how much the process grew over the run
// (resident set before and after), which must stay flat: every result is released, and the
// page faults per call (minor faults over the timed loop), which must stay at most 0.01: a
// steady-state call reuses the memory the last one used instead of having the system map it
// afresh.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <string>

#include "kit/platform.h"
#include "process_usage.h"
#include "seal_fixture.h"
#include "sealform.h"

namespace {

using bench::minor_faults;
using bench::resident_kib;

// The library loaded as a host loads it, and the seal both benchmarks parse: a 50 KB picture
// and two 1 KB holder certificates.
struct Sealform {
    kit::Module module = kit::Module::load("Sealform.dll");
    ParsingSeal_fn parse = module.function<ParsingSeal_fn>("ParsingSeal");
    ReleaseSealInfo_fn release = module.function<ReleaseSealInfo_fn>("ReleaseSealInfo");
    std::vector<uint8_t> seal;
    Sealform() {
        sealform::testing::SealSpec spec;
        spec.picture.assign(50 * 1024, 0);
        for (size_t i = 0; i < spec.picture.size(); ++i)
            spec.picture[i] = static_cast<uint8_t>(i * 31);
        spec.holder_certs = {std::vector<uint8_t>(1024, 0x30), std::vector<uint8_t>(1024, 0x31)};
        seal = sealform::testing::encode_seal(spec);
    }
    // False, with the benchmark skipped, when the library or its exports were not found.
    bool usable(benchmark::State& state) const {
        if (parse && release) return true;
        state.SkipWithError("libSealform.so not found beside the benchmark");
        return false;
    }
};

void BM_ParsingSeal(benchmark::State& state) {
    Sealform sf;
    if (!sf.usable(state)) return;
    auto parse = sf.parse;
    auto release = sf.release;
    const std::vector<uint8_t>& seal = sf.seal;

    // Warm up, then measure growth over the timed loop.
    for (int i = 0; i < 100; ++i) {
        int length = static_cast<int>(seal.size());
        benchmark::DoNotOptimize(parse(seal.data(), &length));
    }
    long before = resident_kib();
    const long faults_before = minor_faults();
    for (auto _ : state) {
        int length = static_cast<int>(seal.size());
        char* xml = parse(seal.data(), &length);
        benchmark::DoNotOptimize(xml);
    }
    const long faults = minor_faults() - faults_before;
    release();
    long after = resident_kib();
    state.counters["seals_per_s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.counters["rss_growth_kib"] = static_cast<double>(after - before);
    state.counters["faults_per_call"] =
        benchmark::Counter(static_cast<double>(faults), benchmark::Counter::kAvgIterations);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * seal.size()));
}
BENCHMARK(BM_ParsingSeal)->Unit(benchmark::kMicrosecond);

// The floor ParsingSeal is compared with, on the same seal: what the data itself costs, one
// Base64 encoding of the seal's bytes (OpenSSL's EVP_EncodeBlock) and one copy of the XML's
// size. Goal: BM_ParsingSeal at most 1.2 times this, and at most 0.01 page faults a call.
void BM_Floor_EncodeBlockAndCopy(benchmark::State& state) {
    Sealform sf;
    if (!sf.usable(state)) return;
    auto parse = sf.parse;
    auto release = sf.release;
    const std::vector<uint8_t>& seal = sf.seal;
    int xml_length = static_cast<int>(seal.size());
    std::string xml = parse(seal.data(), &xml_length);
    release();
    std::vector<unsigned char> encoded(seal.size() / 3 * 4 + 8);
    std::string copy(xml.size(), '\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            EVP_EncodeBlock(encoded.data(), seal.data(), static_cast<int>(seal.size())));
        std::memcpy(copy.data(), xml.data(), xml.size());
        benchmark::ClobberMemory();
    }
    state.counters["xml_bytes"] = static_cast<double>(xml.size());
}
BENCHMARK(BM_Floor_EncodeBlockAndCopy)->Unit(benchmark::kMicrosecond);
// The same loop held to 100000 calls: rss_growth_kib must stay at (about) zero.
BENCHMARK(BM_ParsingSeal)
    ->Name("BM_ParsingSeal_100000_calls")
    ->Iterations(100000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
