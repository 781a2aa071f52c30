// What the Sealgate tests share: the library loaded the way a host loads it, a software key
// store of the test's own, and the trace file.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "sealgate.h"
#include "softkey_factory.h"

namespace sgtest {

// The ten exports of one loaded copy of the library.
struct Sealgate {
    explicit Sealgate(const std::string& windows_name = "Sealgate.dll");
    kit::Module module;
    decltype(&::InitialSession) InitialSession = nullptr;
    decltype(&::CloseSession) CloseSession = nullptr;
    decltype(&::GetSealCount) GetSealCount = nullptr;
    decltype(&::GetSealInfo) GetSealInfo = nullptr;
    decltype(&::GetSealInfo_WithCapacity) GetSealInfo_WithCapacity = nullptr;
    decltype(&::GetSealStatus) GetSealStatus = nullptr;
    decltype(&::VerifyUserPin) VerifyUserPin = nullptr;
    decltype(&::GetSerial) GetSerial = nullptr;
    decltype(&::GetSignCert) GetSignCert = nullptr;
    decltype(&::RawSignData) RawSignData = nullptr;
    bool complete() const;
    // Ends any binding a test left behind (CloseSession with a handle the driver does not know).
    void unbind();
};

class TempDir {
  public:
    TempDir();
    ~TempDir();
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

std::string read_text(const std::filesystem::path& path);
std::vector<std::string> lines_of(const std::string& text);

// Fields of a seal record as GetSealInfo delivers it: a little-endian 32-bit number at `at`, and
// the zero-terminated text of the `width`-byte field at `at`, followed by "(not zero-padded)"
// when the field holds no terminating zero or anything but zeros after its text.
int32_t record_int32(const std::vector<uint8_t>& record, size_t at);
std::string record_text(const std::vector<uint8_t>& record, size_t at, size_t width);
void set_env(const char* name, const std::string& value);

// A store with one key ready for a session, the trace going to a file of the test's own.
class SessionTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    softkey::KeyRecord add_key(const std::string& serial);
    std::vector<std::string> trace_lines() const;
    void clear_trace() const;
    bool driver_loaded() const;  // libUKeyDriver.so beside the library is mapped

    TempDir dir_;
    std::filesystem::path store_, trace_;
    softkey::KeyRecord key_;
    Sealgate sg_;
};

}  // namespace sgtest
