// libFuzzer target for CXmlDoc: any text must parse without a crash, navigation and reading
// must stay inside the text, and building into a well-formed document must keep it
// well-formed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xml_doc.h"

namespace {

// Odd first byte: the rest is UTF-16LE. Even: each byte is one code unit, which reaches the
// ASCII structure of the language quickly.
std::u16string ToText(const uint8_t* data, size_t size) {
    std::u16string text;
    if (size == 0) return text;
    bool pairs = data[0] & 1;
    ++data;
    --size;
    if (pairs) {
        for (size_t i = 0; i + 1 < size; i += 2)
            text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
    } else {
        for (size_t i = 0; i < size; ++i) text += static_cast<char16_t>(data[i]);
    }
    return text;
}

void Check(bool condition) {
    if (!condition) std::abort();
}

// Visits every element from the document level down, without recursion; returns the count.
size_t Walk(CXmlDoc& doc, std::u16string& first_path) {
    size_t count = 0;
    std::u16string reused;  // one string for every text, as a reading loop holds it
    doc.ResetPos();
    while (true) {
        if (doc.FindElem()) {
            ++count;
            std::u16string name = doc.GetTagName();
            Check(!name.empty());
            if (count < 4) first_path += (first_path.empty() ? u"" : u"\\") + name;
            std::u16string data = doc.GetData();
            doc.ReadData(reused);
            Check(reused == data);
            doc.FindChildElem();
            doc.ReadChildData(reused);
            Check(reused == doc.GetChildData());
            doc.IntoElem();
            continue;
        }
        if (!doc.OutOfElem()) return count;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CXmlDoc doc;
    bool ok = doc.SetDoc(ToText(data, size));
    Check(ok == doc.GetErrors().empty());
    Check(ok == doc.GetResult().empty());
    std::u16string path;
    size_t seen = Walk(doc, path);
    Check(seen + 1 <= doc.IndexedElements());
    if (ok) Check(seen + 1 == doc.IndexedElements());
    doc.GetDataByPath(path);
    doc.GetDataByPath(path, 1);

    // Build into the document: after the root, inside it, and inside its first child.
    doc.ResetPos();
    if (ok && doc.FindElem() && doc.IntoElem()) {
        Check(doc.AddElem(u"added", u"a&b<c>"));
        Check(doc.IntoElem());
        Check(doc.AddElem(u"inner"));
        Check(doc.IntoElem());
        Check(doc.AddElem(u"deep", u"x"));
        CXmlDoc again;
        Check(again.SetDoc(doc.GetDoc()));
        std::u16string p2;
        Check(Walk(again, p2) == seen + 3);
    }
    return 0;
}
