// pugixml documents that hold secrets (a decrypted maker document, a signing request).
//
// A document parsed in place keeps its text in the caller's buffer: pugixml's own blocks then
// hold only the document's structure, and a SecureBytes buffer wipes the text when it goes.
// (pugixml's global memory functions are no way to wipe its blocks: with a shared pugixml they
// would point into a module that may be unloaded while the functions stay installed.)
#pragma once

#include <pugixml.hpp>

#include "kit/secure.h"

namespace kit {

// Parses `buffer` in place as UTF-8 (the document must not outlive the buffer).
inline pugi::xml_parse_result load_secret_document(pugi::xml_document& doc, SecureBytes& buffer) {
    return doc.load_buffer_inplace(buffer.data(), buffer.size(), pugi::parse_default,
                                   pugi::encoding_utf8);
}

}  // namespace kit
