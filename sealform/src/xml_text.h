// Reading the makers' parameter documents and writing the library's XML texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <pugixml.hpp>
#include <string>
#include <string_view>

namespace sealform {

// Text of a child element: its first text or CDATA child; empty when either is missing.
std::string element_text(const pugi::xml_node& parent, const char* name);

// A child's decimal read the way atoi reads it (leading blanks, optional sign, digits; anything
// else ends the number or gives 0); values beyond 32 bits stop at the nearest limit.
long element_number(const pugi::xml_node& parent, const char* name);

// "%ld" of a value, written in full whatever its length.
std::string decimal(long value);

// Writes the library's XML text form straight into one string: no declaration, one element a
// line, one tab of indentation per level, line feeds; an element with text on one line (an
// empty text gives "<a></a>"), an element without children as "<a />". Text is escaped as
// pugixml escapes character data ("&amp;", "&lt;", "&gt;", and "&#NN;" for control characters
// other than tab, line feed and carriage return); other bytes pass through unchanged. The
// texts the library returned through pugixml's printer before are reproduced byte for byte,
// without building a document first.
class XmlTextWriter {
  public:
    explicit XmlTextWriter(size_t expected = 0) { text_.reserve(expected); }

    void open(const char* name, int depth);
    void close(const char* name, int depth);
    void empty(const char* name, int depth);
    void leaf(const char* name, std::string_view text, int depth);
    // A leaf whose text is the Base64 of the bytes: encoded in place, as Base64 never needs
    // escaping.
    void leaf_base64(const char* name, const uint8_t* data, size_t size, int depth);

    const std::string& text() const { return text_; }
    std::string take() { return std::move(text_); }

  private:
    void indent(int depth) { text_.append(static_cast<size_t>(depth), '\t'); }
    void start_tag(const char* name);
    void end_tag(const char* name);
    void escaped(std::string_view text);

    std::string text_;
};

}  // namespace sealform
