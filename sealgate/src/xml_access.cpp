#include "xml_access.h"

#include "xml_doc.h"

namespace sealgate {

bool root_child_text(const std::u16string& document, std::u16string_view child,
                     std::u16string& text) {
    CXmlDoc doc;
    if (!doc.SetDoc(document)) return false;
    if (!doc.FindElem() || !doc.FindChildElem(child)) return false;
    doc.ReadChildData(text);
    return true;
}

}  // namespace sealgate
