// A host program in a folder of its own that loads Sealgate.dll and Sealform.dll by full path from
// the kit's folder, as a signing application does, while modules named like the outside ones the
// kit loads lie in its current folder and on PATH (run_host_tests.sh plants them; each leaves a
// marker when loaded). The kit's folder holds what the users' setup installs beside the vendor's
// signer and key driver: no trace library, no certificate SDK, no file cipher.
//
//   planted_host kit KIT-FOLDER      every export that loads a module, once; exit 0 when each
//                                    gives what a kit without those modules gives
//   planted_host control NAME...     a bare LoadLibraryA of each name (the standard search
//                                    order, which reaches the current folder and PATH); exit 0
//                                    when each is found
// Fixture and key store as for the host tests: KIT_HOST_FIXTURE, KIT_HOST_STORE.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "sealform.h"
#include "sealgate.h"

namespace {

using Bytes = std::vector<unsigned char>;
int failures = 0;

void check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

Bytes fixture(const char* name) {
    Bytes b;
    std::string path = kit::folder_with_separator(kit::environment_variable("KIT_HOST_FIXTURE"));
    if (!kit::read_whole_file(path + name, b))
        std::printf("cannot read %s%s\n", path.c_str(), name);
    return b;
}

std::string text(const Bytes& b) { return std::string(b.begin(), b.end()); }

template <class Fn>
Fn exported(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void drive_sealform(HMODULE sf) {
    Bytes seal = fixture("seal0.der");
    int length = static_cast<int>(seal.size());
    check(exported<ParsingSeal_fn>(sf, "ParsingSeal")(seal.data(), &length) != nullptr,
          "ParsingSeal describes the seal");
    exported<ReleaseSealInfo_fn>(sf, "ReleaseSealInfo")();

    std::string params = text(fixture("sealparams.xml"));
    check(exported<MakeSeal_fn>(sf, "MakeSeal")(params.c_str(), &length) != nullptr,
          "MakeSeal signs with the PFX through the signer beside the library");
    exported<ReleaseSealData_fn>(sf, "ReleaseSealData")();

    // The maker document is decrypted by the file cipher, which this kit folder lacks.
    std::string info = text(fixture("sealinfo.xml"));
    check(exported<MakeSeal_SignWithKey_fn>(sf, "MakeSeal_SignWithKey")(info.c_str(), &length) ==
              nullptr,
          "MakeSeal_SignWithKey fails without the file cipher");

    std::vector<char> xml(64 * 1024);
    int xml_length = static_cast<int>(xml.size());
    check(exported<ParsingSeal_SignWithKey_fn>(sf, "ParsingSeal_SignWithKey")(
              seal.data(), static_cast<int>(seal.size()), xml.data(), &xml_length) == 0,
          "ParsingSeal_SignWithKey");
    Bytes data(20480), cert(5120), sign(1024);
    int data_length = 20480, cert_length = 5120, sign_length = 1024;
    check(exported<ParsingSeal_ForVerify_fn>(sf, "ParsingSeal_ForVerify")(
              seal.data(), static_cast<int>(seal.size()), data.data(), &data_length, cert.data(),
              &cert_length, sign.data(), &sign_length) == 0,
          "ParsingSeal_ForVerify");
}

void drive_sealgate(HMODULE sg) {
    kit::set_environment_variable("SOFTKEY_STORE", kit::environment_variable("KIT_HOST_STORE"));
    kit::set_environment_variable("SEALGATE_ONLINE", "0");
    void* device = nullptr;
    check(exported<int(SEALGATE_CALL*)(void**)>(sg, "InitialSession")(&device) == 1 && device,
          "InitialSession binds the key driver beside the library");
    if (!device) return;
    check(exported<int(SEALGATE_CALL*)(void*)>(sg, "GetSealCount")(device) == 2, "GetSealCount");
    Bytes record(SEALGATE_SEALINFO_SIZE);
    int length = 0;
    check(exported<int(SEALGATE_CALL*)(void*, int, int, unsigned char*, int*)>(sg, "GetSealInfo")(
              device, 0, 0, record.data(), &length) == 1,
          "GetSealInfo mode 0 (through Sealform)");
    // Offline the maker's signature is checked by the certificate SDK; without it the seal
    // cannot be checked (5), whatever a module of that name elsewhere would answer.
    check(exported<int(SEALGATE_CALL*)(void*, int)>(sg, "GetSealStatus")(device, 0) == 5,
          "GetSealStatus offline without the certificate SDK: 5");
    check(exported<int(SEALGATE_CALL*)(void*, const char*)>(sg, "VerifyUserPin")(device,
                                                                                 "580914") == 1,
          "VerifyUserPin");
    Bytes buffer(8192);
    length = 0;
    check(exported<int(SEALGATE_CALL*)(void*, unsigned char*, int*)>(sg, "GetSerial")(
              device, buffer.data(), &length) == 1,
          "GetSerial");
    length = 0;
    check(exported<int(SEALGATE_CALL*)(void*, unsigned char*, int*)>(sg, "GetSignCert")(
              device, buffer.data(), &length) == 1,
          "GetSignCert");
    const unsigned char data[] = "planted";
    length = static_cast<int>(buffer.size());
    check(exported<int(SEALGATE_CALL*)(void*, const unsigned char*, int, unsigned char*, int*)>(
              sg, "RawSignData")(device, data, sizeof data - 1, buffer.data(), &length) == 1,
          "RawSignData");
    exported<void(SEALGATE_CALL*)(void*)>(sg, "CloseSession")(device);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::string(argv[1]) == "kit") {
        std::string kit = argv[2];
        // A careful host: the library's own dependencies come from beside it.
        HMODULE sf = LoadLibraryExA((kit + "\\Sealform.dll").c_str(), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
        HMODULE sg = LoadLibraryExA((kit + "\\Sealgate.dll").c_str(), nullptr,
                                    LOAD_WITH_ALTERED_SEARCH_PATH);
        check(sf && sg, "both libraries load from the kit folder");
        if (sf) drive_sealform(sf);
        if (sg) drive_sealgate(sg);
        return failures ? 1 : 0;
    }
    if (argc >= 3 && std::string(argv[1]) == "control") {
        for (int i = 2; i < argc; ++i) {
            std::string what = std::string("a bare LoadLibraryA finds ") + argv[i];
            check(LoadLibraryA(argv[i]) != nullptr, what.c_str());
        }
        return failures ? 1 : 0;
    }
    std::fprintf(stderr, "usage: planted_host kit KIT-FOLDER | control NAME...\n");
    return 2;
}
