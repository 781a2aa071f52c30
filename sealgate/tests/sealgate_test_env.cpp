#include "sealgate_test_env.h"

#include <dlfcn.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

namespace sgtest {

Sealgate::Sealgate(const std::string& windows_name) : module(kit::Module::load(windows_name)) {
#define SG_FN(name) name = module.function<decltype(name)>(#name)
    SG_FN(InitialSession);
    SG_FN(CloseSession);
    SG_FN(GetSealCount);
    SG_FN(GetSealInfo);
    SG_FN(GetSealInfo_WithCapacity);
    SG_FN(GetSealStatus);
    SG_FN(VerifyUserPin);
    SG_FN(GetSerial);
    SG_FN(GetSignCert);
    SG_FN(RawSignData);
#undef SG_FN
}

bool Sealgate::complete() const {
    return InitialSession && CloseSession && GetSealCount && GetSealInfo &&
           GetSealInfo_WithCapacity && GetSealStatus && VerifyUserPin && GetSerial && GetSignCert &&
           RawSignData;
}

void Sealgate::unbind() {
    static int unknown_handle;
    if (CloseSession) CloseSession(&unknown_handle);
}

TempDir::TempDir() {
    std::random_device rd;
    path_ = fs::temp_directory_path() / ("sealgate-test-" + std::to_string(rd()));
    fs::create_directories(path_);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

void set_env(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void SessionTest::SetUp() {
    store_ = dir_.path() / "store";
    trace_ = dir_.path() / "trace.txt";
    set_env(softkey::kStoreEnv, store_.string());
    set_env("RZLOG_FILE", trace_.string());
    unsetenv("SOFTKEY_SERIAL");
    ASSERT_TRUE(sg_.module) << "libSealgate.so not found by name";
    ASSERT_TRUE(sg_.complete()) << "an export is missing";
    sg_.unbind();
    key_ = add_key("SG-TEST-0001");
    clear_trace();
}

void SessionTest::TearDown() {
    sg_.unbind();
    unsetenv("RZLOG_FILE");
}

softkey::KeyRecord SessionTest::add_key(const std::string& serial) {
    softkey::FactoryOptions o = softkey::sm2_key(serial, 1);
    o.max_retries = 3;
    softkey::KeyRecord r = softkey::make_key(o);
    softkey::Store(store_).create(r);
    return r;
}

std::vector<std::string> SessionTest::trace_lines() const { return lines_of(read_text(trace_)); }

void SessionTest::clear_trace() const {
    std::error_code ec;
    fs::remove(trace_, ec);
}

bool SessionTest::driver_loaded() const {
    std::string path = kit::this_module_directory() + "/libUKeyDriver.so";
    void* h = dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    if (h) dlclose(h);  // NOLOAD counted one more load when it found the module
    return h != nullptr;
}

int32_t record_int32(const std::vector<uint8_t>& record, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | record.at(at + static_cast<size_t>(i));
    return static_cast<int32_t>(v);
}

std::string record_text(const std::vector<uint8_t>& record, size_t at, size_t width) {
    if (at + width > record.size()) return "(field past the record's end)";
    const char* p = reinterpret_cast<const char*>(record.data() + at);
    std::string text(p, strnlen(p, width));
    bool padded = text.size() < width;
    for (size_t i = at + text.size(); i < at + width; ++i) padded = padded && record[i] == 0;
    return padded ? text : text + "(not zero-padded)";
}

}  // namespace sgtest
