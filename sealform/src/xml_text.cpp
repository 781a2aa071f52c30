#include "xml_text.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/base64.h"

namespace sealform {

std::string element_text(const pugi::xml_node& parent, const char* name) {
    return parent.child(name).text().get();
}

long element_number(const pugi::xml_node& parent, const char* name) {
    std::string text = element_text(parent, name);
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<long>(v);
}

std::string decimal(long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld", value);
    return buf;
}

template <class Out>
void BasicXmlWriter<Out>::start_tag(const char* name) {
    out_.put('<');
    out_.put(name, std::strlen(name));
    out_.put('>');
}

template <class Out>
void BasicXmlWriter<Out>::end_tag(const char* name) {
    out_.put("</", 2);
    out_.put(name, std::strlen(name));
    out_.put(">\n", 2);
}

template <class Out>
void BasicXmlWriter<Out>::open(const char* name, int depth) {
    indent(depth);
    start_tag(name);
    out_.put('\n');
}

template <class Out>
void BasicXmlWriter<Out>::close(const char* name, int depth) {
    indent(depth);
    end_tag(name);
}

template <class Out>
void BasicXmlWriter<Out>::empty(const char* name, int depth) {
    indent(depth);
    out_.put('<');
    out_.put(name, std::strlen(name));
    out_.put(" />\n", 4);
}

template <class Out>
void BasicXmlWriter<Out>::leaf(const char* name, std::string_view text, int depth) {
    indent(depth);
    start_tag(name);
    escaped(text);
    end_tag(name);
}

template <class Out>
void BasicXmlWriter<Out>::leaf_base64(const char* name, const uint8_t* data, size_t size,
                                      int depth) {
    indent(depth);
    start_tag(name);
    if (char* at = out_.extend(kit::base64_encoded_size(size)))
        kit::base64_encode_to(at, data, size);
    end_tag(name);
}

template <class Out>
void BasicXmlWriter<Out>::escaped(std::string_view text) {
    // The text ends at a zero byte, as a C string would.
    size_t end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool control = c < 32 && c != '\t' && c != '\n' && c != '\r';
        if (!control && c != '&' && c != '<' && c != '>') continue;
        out_.put(text.data() + run, i - run);
        run = i + 1;
        if (c == '&') {
            out_.put("&amp;", 5);
        } else if (c == '<') {
            out_.put("&lt;", 4);
        } else if (c == '>') {
            out_.put("&gt;", 4);
        } else {
            const char reference[] = {'&', '#', static_cast<char>('0' + c / 10),
                                      static_cast<char>('0' + c % 10), ';'};
            out_.put(reference, sizeof reference);
        }
    }
    out_.put(text.data() + run, text.size() - run);
}

template <class Out>
void BasicXmlWriter<Out>::indent(int depth) {
    for (int i = 0; i < depth; ++i) out_.put('\t');
}

template class BasicXmlWriter<StringOut>;
template class BasicXmlWriter<CountOut>;
template class BasicXmlWriter<RawOut>;

}  // namespace sealform
