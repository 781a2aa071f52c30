#include "xml_access.h"

#if defined(SEALGATE_HAVE_XMLDOC)
#include "xml_doc.h"
#else
#include <pugixml.hpp>

#include "kit/platform.h"
#endif

namespace sealgate {

#if defined(SEALGATE_HAVE_XMLDOC)

bool root_child_text(const std::u16string& document, std::u16string_view child,
                     std::u16string& text) {
    CXmlDoc doc;
    if (!doc.SetDoc(document)) return false;
    if (!doc.FindElem() || !doc.FindChildElem(child)) return false;
    text = doc.GetChildData();
    return true;
}

#else

// Until Sealgate's own XML document class is in the tree, pugixml reads the answer.
bool root_child_text(const std::u16string& document, std::u16string_view child,
                     std::u16string& text) {
    std::string utf8 = kit::to_utf8(kit::from_utf16(document, kit::kUtf8CodePage),
                                    kit::kUtf8CodePage);
    pugi::xml_document doc;
    if (!doc.load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8))
        return false;
    std::string name = kit::from_utf16(child, kit::kUtf8CodePage);
    pugi::xml_node node = doc.document_element().child(name.c_str());
    if (!node) return false;
    text = kit::to_utf16(node.child_value(), kit::kUtf8CodePage);
    return true;
}

#endif

}  // namespace sealgate
