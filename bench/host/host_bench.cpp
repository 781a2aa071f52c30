// ParsingSeal and GetSealInfo mode 0 through the built libraries' exports, the same source
// natively and as a Windows program under Wine, on a fixture that run_host_bench.sh prepares with
// the native tools (a software key holding one seal, and that seal's DER bytes). The script runs
// both programs in one go and prints what Wine costs beside the native figures.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "sealform.h"
#include "sealgate.h"

namespace {

std::string folder(const char* name) {
    std::string v = kit::environment_variable(name);
    return v.empty() ? v : kit::folder_with_separator(v);
}

std::vector<uint8_t> fixture_seal() {
    std::vector<uint8_t> der;
    kit::read_whole_file(folder("KIT_HOST_FIXTURE") + "seal0.der", der);
    return der;
}

void BM_ParsingSeal(benchmark::State& state) {
    const std::vector<uint8_t> seal = fixture_seal();
    if (seal.empty()) return state.SkipWithError("no seal0.der in KIT_HOST_FIXTURE");
    for (auto _ : state) {
        int length = static_cast<int>(seal.size());
        char* xml = ParsingSeal(seal.data(), &length);
        if (!xml) return state.SkipWithError("ParsingSeal refused the fixture seal");
        benchmark::DoNotOptimize(xml);
        ReleaseSealInfo();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * seal.size()));
}
BENCHMARK(BM_ParsingSeal)->UseRealTime();

void BM_GetSealInfo_Mode0(benchmark::State& state) {
    const std::string store = kit::environment_variable("KIT_HOST_STORE");
    if (store.empty()) return state.SkipWithError("KIT_HOST_STORE is not set");
    kit::set_environment_variable("SOFTKEY_STORE", store);
    void* device = nullptr;
    if (InitialSession(&device) != 1 || !device)
        return state.SkipWithError("no session on the fixture key");
    int size = 0;
    GetSealInfo(nullptr, 0, 0, nullptr, &size);
    std::vector<unsigned char> buffer(static_cast<size_t>(size > 0 ? size : 20480));
    for (auto _ : state) {
        int length = 0;
        if (GetSealInfo(device, 0, 0, buffer.data(), &length) != 1) {
            state.SkipWithError("GetSealInfo mode 0 failed");
            break;
        }
        benchmark::DoNotOptimize(length);
    }
    CloseSession(device);
}
BENCHMARK(BM_GetSealInfo_Mode0)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
