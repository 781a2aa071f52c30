// The named character entities of HTML 4.01 (the Latin-1, symbol and special sets), which
// element text decodes beside XML's own five.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace xmldoc {

struct NamedEntity {
    const char* name;
    uint16_t code;  // every one of them is in the Basic Multilingual Plane
};

// The table, sorted by name (byte order, so upper case first).
const NamedEntity* HtmlEntities();
size_t HtmlEntityCount();

// The character a named reference stands for: HTML 4.01's entities and "apos".
// False when the name is unknown.
bool LookupNamedEntity(std::u16string_view name, char16_t& out);

}  // namespace xmldoc
