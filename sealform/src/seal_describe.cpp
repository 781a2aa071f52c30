#include "seal_describe.h"

#include <climits>
#include <cstring>

#include "kit/platform.h"
#include "kit/trace.h"
#include "result_slots.h"
#include "sealform.h"
#include "trace_text.h"
#include "xml_text.h"

namespace sealform {
namespace {

enum class Source {
    kHeaderId,
    kVersion,
    kVid,
    kType,
    kName,
    kCertList,
    kCreateDate,
    kValidStart,
    kValidEnd,
    kPictureType,
    kPicture,
    kWidth,
    kHeight,
    kSealId,
    kSignature,
    kMakerCert,
};

// One row per element, in document order: its name in each view (null: not in that view) and
// the "sealinfo" trace step written once the element has its text (0: none).
struct Element {
    Source source;
    const char* sealinfos;
    const char* sealinfo;
    int step;
};

constexpr Element kElements[] = {
    {Source::kHeaderId, "id", "id", 0},
    {Source::kVersion, "version", "version", 0},
    {Source::kVid, "vid", "vid", 0},
    {Source::kType, "type", "sealtype", 0},
    {Source::kName, "name", "sealname", 2},
    {Source::kCertList, "certlist", "usercertlist", 0},
    {Source::kCreateDate, "createdate", "createdate", 0},
    {Source::kValidStart, "vaildstart", "validstart", 0},
    {Source::kValidEnd, "vaildend", "validend", 0},
    {Source::kPictureType, "imgtype", "imgtype", 0},
    {Source::kPicture, "imgtdate", "imgdata", 0},
    {Source::kWidth, "imgwidth", "imgwidth", 0},
    {Source::kHeight, "imgheight", "imgheight", 0},
    {Source::kSealId, "esid", "esid", 3},
    {Source::kSignature, nullptr, "signdata", 4},
    {Source::kMakerCert, nullptr, "sealmakercer", 5},
};

struct Shape {
    const char* root;
    const char* cert;  // child of the certificate list
};
constexpr Shape kSealinfosShape{"sealinfos", "cert"};
constexpr Shape kSealinfoShape{"sealinfo", "usercert"};
constexpr char kParseWithKey[] = "ParsingSeal_SignWithKey";

std::string_view member_view(const OCTET_STRING_t& s) {
    if (!s.buf || s.size <= 0) return {};
    return std::string_view(reinterpret_cast<const char*>(s.buf), static_cast<size_t>(s.size));
}

template <class Writer>
void bytes_leaf(Writer& out, const char* name, const OCTET_STRING_t& s) {
    out.leaf_base64(name, s.buf, s.buf && s.size > 0 ? static_cast<size_t>(s.size) : 0, 1);
}

// The name in the ANSI code page by way of code page 936: exact where the ANSI code page is
// 936, a best effort elsewhere.
std::string ansi_name(const OCTET_STRING_t& name) {
    mark("ParsingSeal...1.1");
    std::string gbk = kit::from_utf8(member_text(name), 936);
    std::string ansi = kit::from_utf16(kit::to_utf16(gbk, 936));
    mark(ansi);
    return ansi;
}

}  // namespace

SealDescription::SealDescription(const SESeal_t& seal, SealView view) : seal_(seal), view_(view) {
    // The name in the ANSI code page is the one value converted; its marks come before the
    // steps after it, as when each element was written in turn.
    if (view == SealView::kSealinfo) ansi_name_ = ansi_name(seal.sesSealInfo.property.name);
    XmlTextSize counted;
    emit(counted, true);
    size_ = counted.size();
}

void SealDescription::write(char* out) const {
    XmlTextInto into(out);
    emit(into, false);
}

template <class Writer>
void SealDescription::emit(Writer& out, bool trace_steps) const {
    const SESeal_t& seal = seal_;
    const bool with_key = view_ == SealView::kSealinfo;
    const Shape& shape = with_key ? kSealinfoShape : kSealinfosShape;
    const SESSealInfo_t& info = seal.sesSealInfo;
    const SESESPropertyInfo_t& property = info.property;
    const SESESPictrueInfo_t& picture = info.picture;

    out.open(shape.root, 0);
    for (const Element& e : kElements) {
        const char* name = with_key ? e.sealinfo : e.sealinfos;
        if (!name) continue;
        switch (e.source) {
            case Source::kHeaderId:
                out.leaf(name, member_view(info.header.esID), 1);
                break;
            case Source::kVersion:
                out.leaf(name, decimal(info.header.version), 1);
                break;
            case Source::kVid:
                out.leaf(name, member_view(info.header.vid), 1);
                break;
            case Source::kType:
                out.leaf(name, decimal(property.type), 1);
                break;
            case Source::kName:
                if (with_key) {
                    out.leaf(name, ansi_name_, 1);
                    if (trace_steps) mark("ParsingSeal...1.2");
                } else {
                    out.leaf(name, member_view(property.name), 1);
                }
                break;
            case Source::kCertList: {
                const auto& list = property.certList.list;
                if (list.count <= 0) {
                    out.empty(name, 1);
                    break;
                }
                out.open(name, 1);
                for (int i = 0; i < list.count; ++i) {
                    const Cert_t* cert = list.array[i];
                    out.leaf_base64(shape.cert, cert ? cert->buf : nullptr,
                                    cert && cert->size > 0 ? static_cast<size_t>(cert->size) : 0,
                                    2);
                }
                out.close(name, 1);
                break;
            }
            case Source::kCreateDate:
                out.leaf(name, member_view(property.createDate), 1);
                break;
            case Source::kValidStart:
                out.leaf(name, member_view(property.validStart), 1);
                break;
            case Source::kValidEnd:
                out.leaf(name, member_view(property.validEnd), 1);
                break;
            case Source::kPictureType:
                out.leaf(name, member_view(picture.type), 1);
                break;
            case Source::kPicture:
                bytes_leaf(out, name, picture.data);
                break;
            case Source::kWidth:
                out.leaf(name, decimal(picture.width), 1);
                break;
            case Source::kHeight:
                out.leaf(name, decimal(picture.height), 1);
                break;
            case Source::kSealId:
                out.leaf(name, member_view(info.esID), 1);
                break;
            case Source::kSignature:
                out.leaf_base64(name, seal.signedMsg.buf,
                                seal.signedMsg.buf ? static_cast<size_t>(seal.signedMsg.size) : 0,
                                1);
                break;
            case Source::kMakerCert:
                bytes_leaf(out, name, seal.cert);
                break;
        }
        if (trace_steps && with_key && e.step)
            kit::trace("%s------------------%d", kParseWithKey, e.step);
    }
    out.close(shape.root, 0);
}

std::string describe_seal(const SESeal_t& seal, SealView view) {
    SealDescription description(seal, view);
    std::string text(description.size(), '\0');
    description.write(text.data());
    return text;
}

char* parse_seal(const unsigned char* seal, int* length) {
    // A negative count or missing bytes are no seal: nothing is read, *length stays.
    SealPtr decoded;
    if (length && *length >= 0 && (seal || *length == 0))
        decoded = decode_seal(seal, static_cast<size_t>(*length));
    if (!decoded) {
        trace_marker_utf8("ParsingSeal...1.e1 解析电子印章数据失败");
        return nullptr;
    }
    // Counted, then written once into the calling thread's result block.
    const SealDescription description(*decoded, SealView::kSealinfos);
    if (description.size() > static_cast<size_t>(INT_MAX)) return nullptr;
    char* kept = sealinfos_block(description.size() + 1);
    description.write(kept);
    kept[description.size()] = '\0';
    *length = static_cast<int>(description.size());
    kit::trace_marker("ParsingSeal...2");
    return kept;
}

int parse_seal_with_key(const unsigned char* seal, int seal_length, char* xml, int* xml_length) {
    kit::trace("%s------------------1", kParseWithKey);
    mark("ParsingSeal...1");
    if (!xml_length) return SEALFORM_NOT_A_SEAL;
    SealPtr decoded;
    if (seal && seal_length > 0) decoded = decode_seal(seal, static_cast<size_t>(seal_length));
    if (!decoded) {
        trace_marker_utf8("ParsingSeal...1.e1 解析电子印章数据失败");
        return SEALFORM_NOT_A_SEAL;
    }
    // Counted first, then written straight into the caller's buffer when it has room.
    const SealDescription description(*decoded, SealView::kSealinfo);
    if (description.size() > static_cast<size_t>(INT_MAX)) return SEALFORM_NOT_A_SEAL;
    const int size = static_cast<int>(description.size());
    if (xml) {
        // A positive length on entry is the buffer's capacity: never write past it.
        if (*xml_length > 0 && size > *xml_length) {
            *xml_length = size;
            return SEALFORM_BUFFER_TOO_SMALL;
        }
        description.write(xml);
        kit::trace("%s------------------6", kParseWithKey);
    }
    *xml_length = size;
    mark("ParsingSeal...2");
    return 0;
}

}  // namespace sealform
