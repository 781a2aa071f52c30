// Reading the makers' parameter documents and writing the library's XML texts.
#pragma once

#include <pugixml.hpp>

#include <cstddef>
#include <string>

#include "CertInfoList.h"

namespace sealform {

// Text of a child element: its first text or CDATA child; empty when either is missing.
std::string element_text(const pugi::xml_node& parent, const char* name);

// A child's decimal read the way atoi reads it (leading blanks, optional sign, digits; anything
// else ends the number or gives 0); values beyond 32 bits stop at the nearest limit.
long element_number(const pugi::xml_node& parent, const char* name);

// "%ld" of a value, written in full whatever its length.
std::string decimal(long value);

// Appends one child `child_name` per certificate of the list, in list order, each holding the
// Base64 of the certificate's DER.
void append_certificates(pugi::xml_node list, const char* child_name, const CertInfoList_t& certs);

// The node and its children as text: tab indentation, line feeds, no declaration, UTF-8 bytes
// passed through. `expected` is a size hint for the text.
std::string print_xml(const pugi::xml_node& node, size_t expected = 0);

}  // namespace sealform
