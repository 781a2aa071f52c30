// Real documents: every XML file under /usr/share that libxml2 accepts must be well-formed
// for CXmlDoc as well, with the same elements in the same order, and the text of every
// element without child elements must read as libxml2 reads it.
//
// The set is bounded and deterministic: the first kMaxFiles paths in sorted order among the
// files with an XML extension and at most kMaxBytes bytes.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "xml_doc.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxFiles = 2000;
constexpr uintmax_t kMaxBytes = 512 * 1024;

std::vector<std::string> CorpusFiles() {
    const std::set<std::string> extensions = {".xml", ".svg", ".xsl",   ".xslt", ".xsd",
                                              ".ui",  ".rng", ".xhtml", ".xbel"};
    std::vector<std::string> files;
    std::error_code ec;
    fs::recursive_directory_iterator it("/usr/share", fs::directory_options::skip_permission_denied,
                                        ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::directory_entry& e = *it;
        std::error_code fec;
        if (e.is_symlink(fec) || !e.is_regular_file(fec)) continue;
        if (!extensions.count(e.path().extension().string())) continue;
        if (e.file_size(fec) > kMaxBytes || fec) continue;
        files.push_back(e.path().string());
    }
    std::sort(files.begin(), files.end());
    if (files.size() > kMaxFiles) files.resize(kMaxFiles);
    return files;
}

// The file's text as UTF-16, from its byte order mark or declared encoding. False for an
// encoding not handled here.
bool DecodeFile(const std::vector<uint8_t>& bytes, const xmlDoc* parsed, std::u16string& out) {
    if (bytes.size() >= 2 && (bytes[0] == 0xFF && bytes[1] == 0xFE)) {
        out.clear();
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            out += static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8));
        return true;
    }
    if (bytes.size() >= 2 && (bytes[0] == 0xFE && bytes[1] == 0xFF)) {
        out.clear();
        for (size_t i = 0; i + 1 < bytes.size(); i += 2)
            out += static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
        return true;
    }
    std::string declared;
    if (parsed->encoding != nullptr) declared = reinterpret_cast<const char*>(parsed->encoding);
    std::transform(declared.begin(), declared.end(), declared.begin(), ::toupper);
    unsigned code_page;
    if (declared.empty() || declared == "UTF-8" || declared == "UTF8")
        code_page = kit::kUtf8CodePage;
    else if (declared == "ISO-8859-1" || declared == "LATIN1" || declared == "ISO_8859-1")
        code_page = 28591;
    else if (declared == "US-ASCII" || declared == "ASCII")
        code_page = 20127;
    else if (declared == "SHIFT_JIS")
        code_page = 932;
    else
        return false;
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    out = kit::to_utf16(text, code_page);
    return true;
}

std::u16string Utf16(const xmlChar* s) {
    if (s == nullptr) return {};
    return kit::to_utf16(reinterpret_cast<const char*>(s), kit::kUtf8CodePage);
}

std::u16string QualifiedName(const xmlNode* n) {
    std::u16string name;
    if (n->ns != nullptr && n->ns->prefix != nullptr) name = Utf16(n->ns->prefix) + u":";
    return name + Utf16(n->name);
}

// libxml2 turns every CR LF and lone CR into LF; CXmlDoc keeps the text as written.
std::u16string LineEndsAsLf(const std::u16string& s) {
    std::u16string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == u'\r') {
            out += u'\n';
            if (i + 1 < s.size() && s[i + 1] == u'\n') ++i;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string Narrow(const std::u16string& s) { return kit::from_utf16(s, kit::kUtf8CodePage); }

struct Tally {
    size_t files = 0, rejected = 0, other_encoding = 0, checked = 0;
    size_t elements = 0, leaves = 0, leaves_with_entities = 0, leaves_line_ends = 0;
};

bool HasChild(const xmlNode* n, xmlElementType type) {
    for (const xmlNode* c = n->children; c != nullptr; c = c->next)
        if (c->type == type) return true;
    return false;
}

const xmlNode* FirstElement(const xmlNode* n) {
    for (; n != nullptr; n = n->next)
        if (n->type == XML_ELEMENT_NODE) return n;
    return nullptr;
}

// Walks libxml2's tree and CXmlDoc's cursor side by side, without recursion.
void CompareTrees(const std::string& path, const xmlDoc* x, CXmlDoc& doc, Tally& tally) {
    const xmlNode* root = xmlDocGetRootElement(const_cast<xmlDoc*>(x));
    ASSERT_NE(root, nullptr);
    ASSERT_TRUE(doc.FindElem()) << path;
    const xmlNode* n = root;
    while (true) {
        ++tally.elements;
        ASSERT_EQ(doc.GetTagName(), QualifiedName(n)) << path << " line " << n->line;
        const xmlNode* child = FirstElement(n->children);
        if (child != nullptr) {
            ASSERT_TRUE(doc.IntoElem());
            ASSERT_TRUE(doc.FindElem()) << path << " line " << child->line;
            n = child;
            continue;
        }
        // A leaf: compare its text, unless the DTD defines some of it (entity references
        // other than the predefined ones, which CXmlDoc leaves as written).
        if (HasChild(n, XML_ENTITY_REF_NODE)) {
            ++tally.leaves_with_entities;
        } else {
            ++tally.leaves;
            xmlChar* content = xmlNodeGetContent(n);
            std::u16string theirs = Utf16(content);
            xmlFree(content);
            std::u16string ours = doc.GetData();
            if (ours != theirs) {
                ++tally.leaves_line_ends;
                EXPECT_EQ(Narrow(LineEndsAsLf(ours)), Narrow(LineEndsAsLf(theirs)))
                    << path << " line " << n->line;
            }
        }
        // Next: a following sibling, or up until one has one.
        while (true) {
            const xmlNode* next = FirstElement(n->next);
            if (next != nullptr) {
                ASSERT_TRUE(doc.FindElem()) << path << " line " << next->line;
                n = next;
                break;
            }
            if (n == root) {
                EXPECT_FALSE(doc.FindElem()) << path << ": no second root";
                return;
            }
            n = n->parent;
            ASSERT_TRUE(doc.OutOfElem());
        }
    }
}

TEST(XmlCorpus, DocumentsUnderUsrShareReadAsLibxml2ReadsThem) {
    const std::vector<std::string> files = CorpusFiles();
    if (files.empty()) GTEST_SKIP() << "no XML files under /usr/share on this machine";
    Tally tally;
    for (const std::string& path : files) {
        ++tally.files;
        std::vector<uint8_t> bytes;
        if (!kit::read_whole_file(path, bytes)) continue;
        xmlDoc* x = xmlReadMemory(reinterpret_cast<const char*>(bytes.data()),
                                  static_cast<int>(bytes.size()), path.c_str(), nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
        if (x == nullptr) {
            // Not compared: CXmlDoc is more lenient in places (it leaves a bare '&' alone, for
            // one). Shown so that a reader sees what the two make of it.
            ++tally.rejected;
            CXmlDoc doc;
            bool ours = doc.SetDoc(kit::to_utf16(
                std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                kit::kUtf8CodePage));
            std::cout << "[ corpus ] rejected by libxml2: " << path << "; here: "
                      << (ours ? "well-formed" : Narrow(doc.GetResult()).substr(0, 60)) << "\n";
            continue;
        }
        std::u16string text;
        if (!DecodeFile(bytes, x, text)) {
            ++tally.other_encoding;
            std::cout << "[ corpus ] encoding not compared: " << path << "\n";
            xmlFreeDoc(x);
            continue;
        }
        ++tally.checked;
        CXmlDoc doc;
        EXPECT_TRUE(doc.SetDoc(std::move(text))) << path << "\n" << Narrow(doc.GetResult());
        CompareTrees(path, x, doc, tally);
        xmlFreeDoc(x);
    }
    std::cout << "[ corpus ] files " << tally.files << ", rejected by libxml2 " << tally.rejected
              << ", other encodings " << tally.other_encoding << ", compared " << tally.checked
              << "; elements " << tally.elements << ", leaf texts " << tally.leaves
              << " (differing only in line ends " << tally.leaves_line_ends
              << "), leaves with DTD entity references not compared " << tally.leaves_with_entities
              << "\n";
    EXPECT_GT(tally.checked, 0u);
}

}  // namespace
