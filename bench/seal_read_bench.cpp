// GetSealInfo mode 0 and its steps, on a software key holding seals made with the key's maker
// certificate.
//
// A seal with a 50 KB picture has a record of about 51 KB: more than the 20480 bytes
// GetSealInfo's size query promises, so GetSealInfo refuses it (BM_Export_Mode0_50KB_Refused)
// and a host reads it with GetSealInfo_WithCapacity (BM_WithCapacity_Mode0_50KB, wall time,
// Sealform's per-call load and unload included; goal at most 200 us on a quiet machine). Its
// baseline in the same run is ParsingSeal of the same seal (BM_Baseline_ParsingSeal_50KB). The
// steps of mode 0 are measured one by one as well. BM_Rss_* run every export many times on a
// seal with a 1 MB picture and report the resident set's growth.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "key_seal_maker.h"
#include "kit/base64.h"
#include "kit/platform.h"
#include "process_usage.h"
#include "seal_record.h"
#include "sealform.h"
#include "sealform_binding.h"
#include "sealgate.h"
#include "softkey_factory.h"
#include "xml_doc.h"

namespace {

namespace fs = std::filesystem;
using bench::minor_faults;
using bench::resident_kib;

// Reports the page faults taken since `before` as an average per iteration.
void count_faults_per_call(benchmark::State& state, long before) {
    state.counters["faults_per_call"] = benchmark::Counter(
        static_cast<double>(minor_faults() - before), benchmark::Counter::kAvgIterations);
}

struct Bench {
    fs::path dir;
    kit::Module sealgate;
    void* device = nullptr;
    decltype(&::GetSealInfo) get_info = nullptr;
    decltype(&::GetSealInfo_WithCapacity) get_info_sized = nullptr;
    decltype(&::GetSealStatus) get_status = nullptr;
    decltype(&::GetSealCount) get_count = nullptr;
    std::string stored_50k;        // the driver's Base64 text of the 50 KB seal
    std::vector<uint8_t> der_50k;  // its DER
    std::string xml_50k;           // its description
    std::vector<uint8_t> picture_50k;
    std::string holder_b64;
    bool ready = false;

    static Bench& get() {
        static Bench b;
        return b;
    }

    Bench() {
        dir = fs::temp_directory_path() / ("seal-read-bench-" + std::to_string(::getpid()));
        fs::create_directories(dir / "tmp");
        setenv("SOFTKEY_STORE", (dir / "store").c_str(), 1);
        setenv("TMPDIR", (dir / "tmp").c_str(), 1);
        unsetenv("RZLOG_FILE");
        unsetenv("KIT_DEBUG_OUTPUT");
        softkey::KeyRecord key = softkey::make_key(softkey::sm2_key("BENCH0001", 0));
        softkey::Store(dir / "store").create(key);

        sgtest::SealOrder small, large;
        small.picture_padding = 12 * 1024 - 2862;  // 12 KB picture: the description still fits
        large.picture_padding = 50 * 1024 - 2862;  // 50 KB picture
        large.esid = "3201000000050";
        sgtest::SealOrder huge;
        huge.picture_padding = 1024 * 1024 - 2862;  // 1 MB picture
        huge.esid = "3201000001024";
        sgtest::MadeSeal s = sgtest::make_key_seal(key, small);
        sgtest::MadeSeal l = sgtest::make_key_seal(key, large);
        sgtest::MadeSeal m = sgtest::make_key_seal(key, huge);
        if (s.der.empty() || l.der.empty() || m.der.empty()) {
            std::fprintf(stderr, "seal_read_bench: %s%s\n", s.error.c_str(), l.error.c_str());
            return;
        }
        sgtest::store_seal(dir / "store", key.serial, s.der);
        sgtest::store_seal(dir / "store", key.serial, l.der);
        sgtest::store_seal(dir / "store", key.serial, m.der);
        der_50k = l.der;
        stored_50k = kit::base64_encode(l.der);
        picture_50k = l.picture;
        holder_b64 = kit::base64_encode(l.holder_cert);
        if (sealgate::parse_seal_with_key(der_50k, xml_50k) != 0) return;

        sealgate = kit::Module::load("Sealgate.dll");
        auto init = sealgate.function<decltype(&::InitialSession)>("InitialSession");
        get_info = sealgate.function<decltype(&::GetSealInfo)>("GetSealInfo");
        get_info_sized =
            sealgate.function<decltype(&::GetSealInfo_WithCapacity)>("GetSealInfo_WithCapacity");
        get_status = sealgate.function<decltype(&::GetSealStatus)>("GetSealStatus");
        get_count = sealgate.function<decltype(&::GetSealCount)>("GetSealCount");
        setenv("SEALGATE_ONLINE", "0", 1);  // GetSealStatus checks the signature offline
        ready = init && get_info && get_info_sized && get_status && get_count && init(&device) == 1;
        std::printf(
            "seals: 12 KB picture %zu bytes, 50 KB picture %zu bytes; 50 KB description "
            "%zu bytes, record %zu bytes\n",
            s.picture.size(), l.picture.size(), xml_50k.size(), l.picture.size() + 268);
    }
    ~Bench() {
        if (device) {
            auto close = sealgate.function<decltype(&::CloseSession)>("CloseSession");
            if (close) close(device);
        }
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
};

#define NEED_BENCH(state)                                         \
    Bench& b = Bench::get();                                      \
    if (!b.ready) {                                               \
        state.SkipWithError("the bench seals could not be made"); \
        return;                                                   \
    }

void BM_Export_Mode0_12KB(benchmark::State& state) {
    NEED_BENCH(state);
    std::vector<unsigned char> buffer(SEALGATE_SEALINFO_SIZE);
    for (auto _ : state) {
        int length = 0;
        if (b.get_info(b.device, 0, 0, buffer.data(), &length) != 1) {
            state.SkipWithError("GetSealInfo failed");
            break;
        }
        benchmark::DoNotOptimize(length);
    }
}
BENCHMARK(BM_Export_Mode0_12KB)->Unit(benchmark::kMicrosecond);

void BM_Export_Mode0_50KB_Refused(benchmark::State& state) {
    NEED_BENCH(state);
    std::vector<unsigned char> buffer(SEALGATE_SEALINFO_SIZE);
    for (auto _ : state) {
        int length = 0;
        if (b.get_info(b.device, 1, 0, buffer.data(), &length) != 0) {
            state.SkipWithError("a 50 KB record was returned into a 20480-byte buffer");
            break;
        }
    }
}
BENCHMARK(BM_Export_Mode0_50KB_Refused)->Unit(benchmark::kMicrosecond);

// GetSealInfo_WithCapacity mode 0 of the 50 KB seal, and the page faults a call takes.
void read_50kb_with_capacity(benchmark::State& state, Bench& b) {
    std::vector<unsigned char> buffer(b.picture_50k.size() + 268);
    const long faults_before = minor_faults();
    for (auto _ : state) {
        int length = 0;
        if (b.get_info_sized(b.device, 1, 0, buffer.data(), static_cast<int>(buffer.size()),
                             &length) != 1) {
            state.SkipWithError("GetSealInfo_WithCapacity failed");
            break;
        }
        benchmark::DoNotOptimize(length);
    }
    count_faults_per_call(state, faults_before);
}

void BM_WithCapacity_Mode0_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    read_50kb_with_capacity(state, b);
}
BENCHMARK(BM_WithCapacity_Mode0_50KB)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The same call while the benchmark holds Sealform loaded, so that the per-call load is only a
// count going up and down: the call's own work, without what loading costs.
void BM_WithCapacity_Mode0_50KB_SealformHeld(benchmark::State& state) {
    NEED_BENCH(state);
    kit::Module held = kit::Module::load("Sealform.dll");
    read_50kb_with_capacity(state, b);
}
BENCHMARK(BM_WithCapacity_Mode0_50KB_SealformHeld)->UseRealTime()->Unit(benchmark::kMicrosecond);

// The baseline of BM_WithCapacity_Mode0_50KB: Sealform's ParsingSeal of the same seal's DER.
void BM_Baseline_ParsingSeal_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    kit::Module m = kit::Module::load("Sealform.dll");
    auto parse = m.function<ParsingSeal_fn>("ParsingSeal");
    auto release = m.function<ReleaseSealInfo_fn>("ReleaseSealInfo");
    for (auto _ : state) {
        int length = static_cast<int>(b.der_50k.size());
        benchmark::DoNotOptimize(parse(b.der_50k.data(), &length));
    }
    release();
}
BENCHMARK(BM_Baseline_ParsingSeal_50KB)->UseRealTime()->Unit(benchmark::kMicrosecond);

// Every export a host reads a seal with, on the 1 MB seal (index 2), many times: the resident
// set before the timed loop (after a warm-up) and after it. One iteration is one call; the
// modes take turns. SEAL_READ_RSS_CALLS=100000 holds each to that many calls (minutes each);
// without it Google Benchmark chooses.
void rss_loop(benchmark::State& state, const std::function<bool(int64_t)>& call) {
    for (int64_t i = 0; i < 30; ++i) call(i);
    const long before = resident_kib();
    int64_t n = 0;
    for (auto _ : state)
        if (!call(n++)) {
            const std::string what = "call " + std::to_string(n) + " failed";
            state.SkipWithError(what.c_str());
            break;
        }
    const long after = resident_kib();
    state.counters["rss_start_kib"] = static_cast<double>(before);
    state.counters["rss_end_kib"] = static_cast<double>(after);
    state.counters["rss_growth_kib"] = static_cast<double>(after - before);
}

void BM_Rss_WithCapacity_1MB(benchmark::State& state) {
    NEED_BENCH(state);
    std::vector<unsigned char> buffer(2 * 1024 * 1024);
    rss_loop(state, [&](int64_t i) {
        int length = 0;
        return b.get_info_sized(b.device, 2, static_cast<int>(i % 3), buffer.data(),
                                static_cast<int>(buffer.size()), &length) == 1;
    });
}

// Modes 0 and 1 are refused (the results exceed 20480 bytes), mode 2 answers.
void BM_Rss_GetSealInfo_1MB(benchmark::State& state) {
    NEED_BENCH(state);
    std::vector<unsigned char> buffer(SEALGATE_SEALINFO_SIZE);
    rss_loop(state, [&](int64_t i) {
        int length = 0;
        const int mode = static_cast<int>(i % 3);
        return b.get_info(b.device, 2, mode, buffer.data(), &length) == (mode == 2 ? 1 : 0);
    });
}

void BM_Rss_GetSealStatusOffline_1MB(benchmark::State& state) {
    NEED_BENCH(state);
    rss_loop(state, [&](int64_t) { return b.get_status(b.device, 2) == 1; });
}

// The key holds the 1 MB seal among its three.
void BM_Rss_GetSealCount(benchmark::State& state) {
    NEED_BENCH(state);
    rss_loop(state, [&](int64_t) { return b.get_count(b.device) == 3; });
}

void register_rss_benchmarks() {
    const char* calls = std::getenv("SEAL_READ_RSS_CALLS");
    const long long n = calls ? std::atoll(calls) : 0;
    for (auto* bm :
         {benchmark::RegisterBenchmark("BM_Rss_WithCapacity_1MB", BM_Rss_WithCapacity_1MB),
          benchmark::RegisterBenchmark("BM_Rss_GetSealInfo_1MB", BM_Rss_GetSealInfo_1MB),
          benchmark::RegisterBenchmark("BM_Rss_GetSealStatusOffline_1MB",
                                       BM_Rss_GetSealStatusOffline_1MB),
          benchmark::RegisterBenchmark("BM_Rss_GetSealCount", BM_Rss_GetSealCount)}) {
        bm->Unit(benchmark::kMicrosecond);
        if (n > 0) bm->Iterations(n);
    }
}

// Step 1: the driver's ReadSeal (mode 1 returns exactly that text; it fails for 50 KB, so the
// 12 KB seal's text stands in, and the driver is asked directly below).
void BM_Step1_DriverReadSeal_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    kit::Module driver = kit::Module::load("UKeyDriver.dll");
    using ReadFn = const char* (*)(void*, int);
    auto read = driver.function<ReadFn>("ReadSeal");
    for (auto _ : state) benchmark::DoNotOptimize(read(b.device, 1));
}
BENCHMARK(BM_Step1_DriverReadSeal_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step2_Base64Decode_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    for (auto _ : state) benchmark::DoNotOptimize(kit::base64_decode(b.stored_50k));
}
BENCHMARK(BM_Step2_Base64Decode_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step3_SealformLoadUnload(benchmark::State& state) {
    NEED_BENCH(state);
    const long faults_before = minor_faults();
    for (auto _ : state) {
        kit::Module m = kit::Module::load("Sealform.dll");
        benchmark::DoNotOptimize(m.symbol("ParsingSeal_SignWithKey"));
    }
    count_faults_per_call(state, faults_before);
}
BENCHMARK(BM_Step3_SealformLoadUnload)->Unit(benchmark::kMicrosecond);

// The floor of the line above in the same run: a library with one function and nothing else,
// loaded and unloaded the same way. What the machine charges for mapping a file and for each
// page a load touches shows here; Sealform's load can come near this and not below it.
void BM_Floor_MinimalModuleLoadUnload(benchmark::State& state) {
    const long faults_before = minor_faults();
    for (auto _ : state) {
        kit::Module m = kit::Module::load("MinimalModule.dll");
        if (!m.symbol("MinimalModuleFunction")) {
            state.SkipWithError("MinimalModule.dll could not be loaded");
            break;
        }
    }
    count_faults_per_call(state, faults_before);
}
BENCHMARK(BM_Floor_MinimalModuleLoadUnload)->Unit(benchmark::kMicrosecond);

void BM_Step4_ParsingSealSignWithKey_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    kit::Module m = kit::Module::load("Sealform.dll");
    using ParseFn = int (*)(const unsigned char*, int, char*, int*);
    auto parse = m.function<ParseFn>("ParsingSeal_SignWithKey");
    std::string out(128 * 1024, '\0');
    for (auto _ : state) {
        int length = static_cast<int>(out.size());
        benchmark::DoNotOptimize(
            parse(b.der_50k.data(), static_cast<int>(b.der_50k.size()), out.data(), &length));
    }
}
BENCHMARK(BM_Step4_ParsingSealSignWithKey_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step5_XmlDocParse_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    for (auto _ : state) {
        CXmlDoc doc;
        benchmark::DoNotOptimize(doc.SetDoc(kit::to_utf16(b.xml_50k)));
        benchmark::DoNotOptimize(kit::from_utf16(doc.GetDataByPath(u"sealinfo\\imgdata")));
    }
}
BENCHMARK(BM_Step5_XmlDocParse_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step5a_ToUtf16_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    for (auto _ : state) benchmark::DoNotOptimize(kit::to_utf16(b.xml_50k));
}
BENCHMARK(BM_Step5a_ToUtf16_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step5b_SetDocOnly_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    const std::u16string wide = kit::to_utf16(b.xml_50k);
    for (auto _ : state) {
        CXmlDoc doc;
        benchmark::DoNotOptimize(doc.SetDoc(wide));
    }
}
BENCHMARK(BM_Step5b_SetDocOnly_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step5c_PictureTextOut_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    CXmlDoc doc;
    doc.SetDoc(kit::to_utf16(b.xml_50k));
    for (auto _ : state) {
        std::string text = kit::from_utf16(doc.GetDataByPath(u"sealinfo\\imgdata"));
        benchmark::DoNotOptimize(text.data());
    }
}
BENCHMARK(BM_Step5c_PictureTextOut_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step6_PictureMeasure_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    for (auto _ : state) {
        double w = 0, h = 0;
        benchmark::DoNotOptimize(sealgate::GetImgInfo(b.picture_50k, &w, &h));
    }
}
BENCHMARK(BM_Step6_PictureMeasure_50KB)->Unit(benchmark::kMicrosecond);

void BM_Step7_HolderName(benchmark::State& state) {
    NEED_BENCH(state);
    for (auto _ : state) {
        std::string name;
        benchmark::DoNotOptimize(sealgate::_GetDN(b.holder_b64, name));
    }
}
BENCHMARK(BM_Step7_HolderName)->Unit(benchmark::kMicrosecond);

// Steps 5 to 8 together: the record from the description.
void BM_Step5to8_BuildRecord_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    for (auto _ : state) {
        std::vector<uint8_t> record;
        benchmark::DoNotOptimize(sealgate::build_seal_record(b.xml_50k, record));
    }
}
BENCHMARK(BM_Step5to8_BuildRecord_50KB)->Unit(benchmark::kMicrosecond);

// Steps 1 to 8: driver read, decode, Sealform loaded for the call, description, record.
void BM_Pipeline_50KB(benchmark::State& state) {
    NEED_BENCH(state);
    kit::Module driver = kit::Module::load("UKeyDriver.dll");
    using ReadFn = const char* (*)(void*, int);
    auto read = driver.function<ReadFn>("ReadSeal");
    for (auto _ : state) {
        std::vector<uint8_t> der = kit::base64_decode(read(b.device, 1));
        std::string xml;
        std::vector<uint8_t> record;
        if (sealgate::parse_seal_with_key(der, xml) != 0 ||
            !sealgate::build_seal_record(xml, record)) {
            state.SkipWithError("pipeline failed");
            break;
        }
        benchmark::DoNotOptimize(record.data());
    }
}
BENCHMARK(BM_Pipeline_50KB)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    register_rss_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
