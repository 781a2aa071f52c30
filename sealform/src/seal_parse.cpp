// ParsingSeal / ReleaseSealInfo: a seal described as the "sealinfos" XML document.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <pugixml.hpp>
#include <string>

#include "kit/base64.h"
#include "seal_codec.h"
#include "sealform.h"
#include "trace_text.h"
#include "xml_text.h"

namespace sealform {
namespace {

// The text the last ParsingSeal returned (NUL-terminated); shared with ReleaseSealInfo only.
// Held as the writer's own string, so the XML is not copied once more on the way out.
std::string* g_sealinfos = nullptr;

std::string describe(const SESeal_t& seal) {
    size_t expected = 1024 + static_cast<size_t>(seal.sesSealInfo.picture.data.size) * 4 / 3;
    const SESSealInfo_t& info = seal.sesSealInfo;
    const SESESPropertyInfo_t& property = info.property;
    const SESESPictrueInfo_t& picture = info.picture;

    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("sealinfos");
    static const char* const kChildren[] = {
        "id",         "version",  "vid",     "type",     "name",     "certlist",  "createdate",
        "vaildstart", "vaildend", "imgtype", "imgtdate", "imgwidth", "imgheight", "esid"};
    for (const char* name : kChildren) root.append_child(name);

    auto set = [&](const char* name, const std::string& text) {
        root.child(name).text().set(text.c_str());
    };
    set("id", member_text(info.header.esID));
    set("version", decimal(info.header.version));
    set("vid", member_text(info.header.vid));
    set("type", decimal(property.type));
    set("name", member_text(property.name));
    append_certificates(root.child("certlist"), "cert", property.certList);
    set("createdate", member_text(property.createDate));
    set("vaildstart", member_text(property.validStart));
    set("vaildend", member_text(property.validEnd));
    set("imgtype", member_text(picture.type));
    set("imgtdate", kit::base64_encode(picture.data.buf, static_cast<size_t>(picture.data.size)));
    set("imgwidth", decimal(picture.width));
    set("imgheight", decimal(picture.height));
    set("esid", member_text(info.esID));

    for (int i = 0; i < property.certList.list.count; ++i)
        if (const Cert_t* cert = property.certList.list.array[i])
            expected += static_cast<size_t>(cert->size) * 4 / 3 + 32;
    return print_xml(root, expected);
}

}  // namespace
}  // namespace sealform

using namespace sealform;

extern "C" SEALFORM_API char* SEALFORM_CALL ParsingSeal(const unsigned char* seal, int* length) {
    try {
        kit::trace_marker("ParsingSeal...1");
        ReleaseSealInfo();
        // A negative count or missing bytes are no seal: nothing is read, *length stays.
        SealPtr decoded;
        if (length && *length >= 0 && (seal || *length == 0))
            decoded = decode_seal(seal, static_cast<size_t>(*length));
        if (!decoded) {
            trace_marker_utf8("ParsingSeal...1.e1 解析电子印章数据失败");
            return nullptr;
        }
        auto xml = std::make_unique<std::string>(describe(*decoded));
        decoded.reset();
        *length = static_cast<int>(xml->size());
        g_sealinfos = xml.release();
        kit::trace_marker("ParsingSeal...2");
        return g_sealinfos->data();
    } catch (...) {
        return nullptr;  // out of memory inside the XML builder
    }
}

extern "C" SEALFORM_API void SEALFORM_CALL ReleaseSealInfo(void) {
    kit::trace_marker("ReleaseSealInfo...1");
    delete g_sealinfos;
    g_sealinfos = nullptr;
    kit::trace_marker("ReleaseSealInfo...2");
}
