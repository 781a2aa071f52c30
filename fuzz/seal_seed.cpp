// Writes a few well-formed seals into a folder: the starting corpus of the seal fuzzers.
#include <cstdio>
#include <string>

#include "kit/platform.h"
#include "seal_fixture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: seal_seed DIR\n");
        return 2;
    }
    std::string dir = argv[1];
    sealform::testing::SealSpec spec;
    int n = 0;
    auto write = [&] {
        auto der = sealform::testing::encode_seal(spec);
        std::string path = dir + "/seed-" + std::to_string(n++) + ".der";
        return kit::write_whole_file(path, der.data(), der.size());
    };
    bool ok = write();
    spec.holder_certs = {{0x30, 0x01, 0x00}, {0x30, 0x00}};
    spec.with_ext_data = false;
    ok = write() && ok;
    spec.picture.assign(300, 0x11);
    spec.valid_end = "20310513100248.5Z";
    ok = write() && ok;
    return ok ? 0 : 1;
}
