#include "result_slots.h"

#include <cstdlib>
#include <cstring>
#include <memory>

namespace sealform {
namespace {

// Held as the writer's own string, so the XML is not copied once more on the way out.
std::unique_ptr<std::string> g_sealinfos;
unsigned char* g_made_seal = nullptr;

}  // namespace

char* keep_sealinfos(std::string text) {
    g_sealinfos = std::make_unique<std::string>(std::move(text));
    return g_sealinfos->data();
}

void release_sealinfos() { g_sealinfos.reset(); }

unsigned char* keep_made_seal(const std::vector<uint8_t>& der) {
    auto* copy = static_cast<unsigned char*>(std::malloc(der.empty() ? 1 : der.size()));
    if (!copy) return nullptr;
    if (!der.empty()) std::memcpy(copy, der.data(), der.size());
    std::free(g_made_seal);
    g_made_seal = copy;
    return copy;
}

void release_made_seal() {
    std::free(g_made_seal);
    g_made_seal = nullptr;
}

}  // namespace sealform
