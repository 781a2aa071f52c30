// Reading the makers' parameter documents and writing the library's XML texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

// Where an XML writer puts its text: its own growing string (XmlTextWriter), nowhere but a
// count of the bytes (XmlTextSize), or a block the caller sized with that count (XmlTextInto).
// A description is counted first and then written once into a block of exactly its size.
class StringOut {
  public:
    explicit StringOut(size_t expected) { text_.reserve(expected); }
    void put(const char* p, size_t n) { text_.append(p, n); }
    void put(char c) { text_ += c; }
    // Room for n bytes at the end; null when nothing is written (counting only).
    char* extend(size_t n) {
        const size_t at = text_.size();
        text_.resize(at + n);
        return &text_[at];
    }
    std::string text_;
};

class CountOut {
  public:
    explicit CountOut(size_t) {}
    void put(const char*, size_t n) { size_ += n; }
    void put(char) { ++size_; }
    char* extend(size_t n) {
        size_ += n;
        return nullptr;
    }
    size_t size_ = 0;
};

class RawOut {
  public:
    explicit RawOut(char* out) : at_(out) {}
    void put(const char* p, size_t n) {
        if (n) std::memcpy(at_, p, n);  // an empty text may have no bytes at all
        at_ += n;
    }
    void put(char c) { *at_++ = c; }
    char* extend(size_t n) {
        char* at = at_;
        at_ += n;
        return at;
    }
    char* at_;
};

// Writes the library's XML text form: no declaration, one element a line, one tab of
// indentation per level, line feeds; an element with text on one line (an empty text gives
// "<a></a>"), an element without children as "<a />". Text is escaped as pugixml escapes
// character data ("&amp;", "&lt;", "&gt;", and "&#NN;" for control characters other than tab,
// line feed and carriage return); other bytes pass through unchanged. The texts the library
// returned through pugixml's printer before are reproduced byte for byte, without building a
// document first.
template <class Out>
class BasicXmlWriter {
  public:
    template <class Arg>
    explicit BasicXmlWriter(Arg arg) : out_(arg) {}

    void open(const char* name, int depth);
    void close(const char* name, int depth);
    void empty(const char* name, int depth);
    void leaf(const char* name, std::string_view text, int depth);
    // A leaf whose text is the Base64 of the bytes: encoded in place, as Base64 never needs
    // escaping.
    void leaf_base64(const char* name, const uint8_t* data, size_t size, int depth);

  protected:
    void indent(int depth);
    void start_tag(const char* name);
    void end_tag(const char* name);
    void escaped(std::string_view text);

    Out out_;
};

extern template class BasicXmlWriter<StringOut>;
extern template class BasicXmlWriter<CountOut>;
extern template class BasicXmlWriter<RawOut>;

// Into a string of its own, reserved for `expected` bytes.
class XmlTextWriter : public BasicXmlWriter<StringOut> {
  public:
    explicit XmlTextWriter(size_t expected = 0) : BasicXmlWriter(expected) {}
    const std::string& text() const { return out_.text_; }
    std::string take() { return std::move(out_.text_); }
};

// Counts the bytes the same calls would write.
class XmlTextSize : public BasicXmlWriter<CountOut> {
  public:
    XmlTextSize() : BasicXmlWriter(size_t{0}) {}
    size_t size() const { return out_.size_; }
};

// Writes into a block with room for what XmlTextSize counted for the same calls.
class XmlTextInto : public BasicXmlWriter<RawOut> {
  public:
    explicit XmlTextInto(char* out) : BasicXmlWriter(out) {}
    char* end() const { return out_.at_; }
};

}  // namespace sealform
