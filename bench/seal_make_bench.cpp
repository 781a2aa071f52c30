// MakeSeal with a 50 KB picture, split into the signer's work (ParsePfxFile and PfxSign, the
// PKCS #12 reading and the SM2 signature) and Sealform's own work (XML, Base64, building and
// encoding the seal, the PFX's temporary file). The signer's calls are timed separately with
// the same PFX, password and signed bytes; Sealform's share is the rest of the call. Both
// wall-clock and CPU time (this thread's, user and system) are reported: on a loaded machine
// every blocking file operation can cost a wait for the processor, which the CPU split leaves
// out.
#include <benchmark/benchmark.h>
#include <time.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "kit/base64.h"
#include "kit/platform.h"
#include "maker_fixture.h"
#include "sealform.h"
#include "signaturemodule.h"

namespace {

using sealform::testing::Bytes;
using sealform::testing::MakerMaterial;
using sealform::testing::SealParams;
using Clock = std::chrono::steady_clock;

std::string params_with_picture(size_t* picture_size) {
    const MakerMaterial& material = MakerMaterial::shared();
    SealParams params = SealParams::standard(material);
    Bytes picture = sealform::testing::bmp_picture(128, 130);  // 49 974 bytes
    *picture_size = picture.size();
    params.values["imgtdate"] = kit::base64_encode(picture);
    return params.xml();
}

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void BM_MakeSeal(benchmark::State& state) {
    ::unsetenv("KIT_DEBUG_OUTPUT");
    size_t picture_size = 0;
    const std::string params = params_with_picture(&picture_size);
    const MakerMaterial& material = MakerMaterial::shared();

    // The signer's inputs as MakeSeal hands them over: the PFX in a file and the bytes signed.
    kit::TempFile pfx;
    kit::write_whole_file(pfx.path(), material.pfx.data(), material.pfx.size());
    int length = 0;
    unsigned char* seal = MakeSeal(params.c_str(), &length);
    if (!seal) {
        state.SkipWithError("MakeSeal failed");
        return;
    }
    Bytes info(static_cast<size_t>(length)), cert(5120), sign(1024);
    int info_len = length, cert_len = 5120, sign_len = 1024;
    ParsingSeal_ForVerify(seal, length, info.data(), &info_len, cert.data(), &cert_len, sign.data(),
                          &sign_len);
    info.resize(static_cast<size_t>(info_len));
    ReleaseSealData();

    Clock::duration total{}, signer{}, pfx_copy{};
    double total_cpu = 0, signer_cpu = 0;
    std::vector<char> cert_info(SIGNATUREMODULE_INFO_SIZE);
    std::vector<unsigned char> signature(SIGNATUREMODULE_SIGN_SIZE);
    for (auto _ : state) {
        double c0 = thread_cpu_seconds();
        Clock::time_point t0 = Clock::now();
        unsigned char* made = MakeSeal(params.c_str(), &length);
        benchmark::DoNotOptimize(made);
        ReleaseSealData();
        Clock::time_point t1 = Clock::now();
        total += t1 - t0;
        total_cpu += thread_cpu_seconds() - c0;

        state.PauseTiming();
        double d0 = thread_cpu_seconds();
        Clock::time_point s0 = Clock::now();
        int n = 0;
        ParsePfxFile(pfx.path().c_str(), material.password.c_str(), cert_info.data(), &n);
        PfxSign(pfx.path().c_str(), material.password.c_str(), info.data(),
                static_cast<int>(info.size()), signature.data(), &n);
        signer += Clock::now() - s0;
        signer_cpu += thread_cpu_seconds() - d0;
        // Of Sealform's share: the PFX's temporary copy (made, written, removed).
        Clock::time_point f0 = Clock::now();
        {
            kit::TempFile copy;
            kit::write_whole_file(copy.path(), material.pfx.data(), material.pfx.size());
        }
        pfx_copy += Clock::now() - f0;
        state.ResumeTiming();
    }
    const double iterations = static_cast<double>(state.iterations());
    const double total_s = seconds(total), signer_s = seconds(signer);
    state.counters["picture_bytes"] = static_cast<double>(picture_size);
    state.counters["seal_bytes"] = length;
    state.counters["call_ms"] = 1e3 * total_s / iterations;
    state.counters["signer_ms"] = 1e3 * signer_s / iterations;
    state.counters["sealform_ms"] = 1e3 * (total_s - signer_s) / iterations;
    state.counters["pfx_file_ms"] = 1e3 * seconds(pfx_copy) / iterations;
    state.counters["sealform_share_pct"] = 100.0 * (total_s - signer_s) / total_s;
    state.counters["seals_per_s"] = iterations / total_s;
    state.counters["cpu_call_ms"] = 1e3 * total_cpu / iterations;
    state.counters["cpu_signer_ms"] = 1e3 * signer_cpu / iterations;
    state.counters["cpu_sealform_share_pct"] = 100.0 * (total_cpu - signer_cpu) / total_cpu;
}
BENCHMARK(BM_MakeSeal)->Unit(benchmark::kMillisecond)->MinTime(3.0);

// The verifier's side: the three outputs of a made seal.
void BM_ParsingSealForVerify(benchmark::State& state) {
    size_t picture_size = 0;
    const std::string params = params_with_picture(&picture_size);
    int length = 0;
    unsigned char* made = MakeSeal(params.c_str(), &length);
    if (!made) {
        state.SkipWithError("MakeSeal failed");
        return;
    }
    Bytes seal(made, made + length);
    ReleaseSealData();
    Bytes info(20480 * 4), cert(5120), sign(1024);
    for (auto _ : state) {
        int info_len = static_cast<int>(info.size()), cert_len = 5120, sign_len = 1024;
        int rc = ParsingSeal_ForVerify(seal.data(), length, info.data(), &info_len, cert.data(),
                                       &cert_len, sign.data(), &sign_len);
        benchmark::DoNotOptimize(rc);
    }
    state.counters["seal_bytes"] = length;
}
BENCHMARK(BM_ParsingSealForVerify)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
