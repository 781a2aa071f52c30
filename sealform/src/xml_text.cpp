#include "xml_text.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "Cert.h"
#include "kit/base64.h"

namespace sealform {
namespace {

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

}  // namespace

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

void append_certificates(pugi::xml_node list, const char* child_name, const CertInfoList_t& certs) {
    for (int i = 0; i < certs.list.count; ++i) {
        const Cert_t* cert = certs.list.array[i];
        std::string b64 = cert ? kit::base64_encode(cert->buf, static_cast<size_t>(cert->size)) : "";
        list.append_child(child_name).text().set(b64.c_str());
    }
}

std::string print_xml(const pugi::xml_node& node, size_t expected) {
    StringWriter writer;
    writer.text.reserve(expected);
    node.print(writer, "\t", pugi::format_indent, pugi::encoding_utf8);
    return std::move(writer.text);
}

}  // namespace sealform
