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

void XmlTextWriter::start_tag(const char* name) {
    text_ += '<';
    text_ += name;
    text_ += '>';
}

void XmlTextWriter::end_tag(const char* name) {
    text_ += "</";
    text_ += name;
    text_ += ">\n";
}

void XmlTextWriter::open(const char* name, int depth) {
    indent(depth);
    start_tag(name);
    text_ += '\n';
}

void XmlTextWriter::close(const char* name, int depth) {
    indent(depth);
    end_tag(name);
}

void XmlTextWriter::empty(const char* name, int depth) {
    indent(depth);
    text_ += '<';
    text_ += name;
    text_ += " />\n";
}

void XmlTextWriter::leaf(const char* name, std::string_view text, int depth) {
    indent(depth);
    start_tag(name);
    escaped(text);
    end_tag(name);
}

void XmlTextWriter::leaf_base64(const char* name, const uint8_t* data, size_t size, int depth) {
    indent(depth);
    start_tag(name);
    const size_t at = text_.size();
    text_.resize(at + kit::base64_encoded_size(size));
    kit::base64_encode_to(&text_[at], data, size);
    end_tag(name);
}

void XmlTextWriter::escaped(std::string_view text) {
    // The text ends at a zero byte, as a C string would.
    size_t end = text.find('\0');
    if (end != std::string_view::npos) text = text.substr(0, end);
    size_t run = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool control = c < 32 && c != '\t' && c != '\n' && c != '\r';
        if (!control && c != '&' && c != '<' && c != '>') continue;
        text_.append(text.data() + run, i - run);
        run = i + 1;
        if (c == '&') {
            text_ += "&amp;";
        } else if (c == '<') {
            text_ += "&lt;";
        } else if (c == '>') {
            text_ += "&gt;";
        } else {
            const char reference[] = {'&', '#', static_cast<char>('0' + c / 10),
                                      static_cast<char>('0' + c % 10), ';'};
            text_.append(reference, sizeof reference);
        }
    }
    text_.append(text.data() + run, text.size() - run);
}

}  // namespace sealform
