// GetSealInfo mode 0 and its steps, on a software key holding a seal made with the key's maker
// certificate.
//
// A seal with a 50 KB picture has a description (the picture in Base64) of about 70 KB and a
// record of about 51 KB: more than the 20480 bytes Sealgate's description buffer holds and its
// size query promises, so the export refuses it after Sealform reports the capacity (measured
// as BM_Export_Mode0_50KB_Refused). The steps of mode 0 are therefore measured one by one for
// the 50 KB seal, with a description buffer large enough, and their sum compared with the
// whole pipeline (BM_Pipeline_50KB: everything but the host's copy). The complete export call,
// Sealform's per-call load included, is measured for the largest picture that fits (12 KB).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "key_seal_maker.h"
#include "kit/base64.h"
#include "kit/platform.h"
#include "seal_record.h"
#include "sealform_binding.h"
#include "sealgate.h"
#include "softkey_factory.h"
#include "xml_doc.h"

namespace {

namespace fs = std::filesystem;

struct Bench {
    fs::path dir;
    kit::Module sealgate;
    void* device = nullptr;
    decltype(&::GetSealInfo) get_info = nullptr;
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
        softkey::FactoryOptions o;
        o.serial = "BENCH0001";
        o.rsa_containers = 0;
        o.sm2_containers = 0;
        softkey::KeyRecord key = softkey::make_key(o);
        softkey::Store(dir / "store").create(key);

        sgtest::SealOrder small, large;
        small.picture_padding = 12 * 1024 - 2862;  // 12 KB picture: the description still fits
        large.picture_padding = 50 * 1024 - 2862;  // 50 KB picture
        large.esid = "3201000000050";
        sgtest::MadeSeal s = sgtest::make_key_seal(key, small);
        sgtest::MadeSeal l = sgtest::make_key_seal(key, large);
        if (s.der.empty() || l.der.empty()) {
            std::fprintf(stderr, "seal_read_bench: %s%s\n", s.error.c_str(), l.error.c_str());
            return;
        }
        sgtest::store_seal(dir / "store", key.serial, s.der);
        sgtest::store_seal(dir / "store", key.serial, l.der);
        der_50k = l.der;
        stored_50k = kit::base64_encode(l.der);
        picture_50k = l.picture;
        holder_b64 = kit::base64_encode(l.holder_cert);
        if (sealgate::parse_seal_with_key(der_50k, xml_50k, 128 * 1024) != 0) return;

        sealgate = kit::Module::load("Sealgate.dll");
        auto init = sealgate.function<decltype(&::InitialSession)>("InitialSession");
        get_info = sealgate.function<decltype(&::GetSealInfo)>("GetSealInfo");
        ready = init && get_info && init(&device) == 1;
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
    for (auto _ : state) {
        kit::Module m = kit::Module::load("Sealform.dll");
        benchmark::DoNotOptimize(m.symbol("ParsingSeal_SignWithKey"));
    }
}
BENCHMARK(BM_Step3_SealformLoadUnload)->Unit(benchmark::kMicrosecond);

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
        if (sealgate::parse_seal_with_key(der, xml, 128 * 1024) != 0 ||
            !sealgate::build_seal_record(xml, record)) {
            state.SkipWithError("pipeline failed");
            break;
        }
        benchmark::DoNotOptimize(record.data());
    }
}
BENCHMARK(BM_Pipeline_50KB)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
