// CXmlDoc against pugixml on the same 1 MB document.
//
// Both parse from a copy of the text (pugixml's load_buffer copies its input, CXmlDoc's
// SetDoc takes its text by value), so the copy is part of both measurements. Throughput is
// counted in bytes of the UTF-8 text for both. pugixml decodes references while parsing;
// CXmlDoc decodes element text when it is read, so a second pair reads every leaf's text.
#include <benchmark/benchmark.h>

#include <pugixml.hpp>
#include <string>

#include "kit/platform.h"
#include "xml_doc.h"

namespace {

// About 1 MB in the shape of the documents the library reads: records with attributes,
// short texts, references, Base64 blocks, CDATA and comments.
const std::string& Document() {
    static const std::string text = [] {
        std::string t = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<seallist>\r\n";
        unsigned seed = 12345;
        auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
        const char b64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (int i = 0; t.size() < (1u << 20); ++i) {
            std::string n = std::to_string(i);
            t += "  <seal id=\"" + n + "\" type='" + std::to_string(next() % 4) + "'>\r\n";
            t += "    <version>4</version>\r\n";
            t += "    <esid>33010" + std::to_string(next() % 100000000) + "</esid>\r\n";
            t += "    <name>Seal &amp; stamp &#x516C;&#31456; " + n + "</name>\r\n";
            t += "    <validstart>20240101080000Z</validstart>\r\n";
            t += "    <validend>20290101080000Z</validend>\r\n";
            t += "    <!-- picture -->\r\n    <imgdata>";
            for (int k = 0; k < 160; ++k) t += b64[next() % 64];
            t += "</imgdata>\r\n";
            t += "    <note><![CDATA[a < b && c > d]]></note>\r\n";
            t += "    <flags a=\"1\" b=\"2\"/>\r\n";
            t += "  </seal>\r\n";
        }
        t += "</seallist>\r\n";
        return t;
    }();
    return text;
}

const std::u16string& Document16() {
    static const std::u16string text = kit::to_utf16(Document(), kit::kUtf8CodePage);
    return text;
}

void BM_CXmlDoc_Parse(benchmark::State& state) {
    const std::u16string& text = Document16();
    size_t index_bytes = 0;
    for (auto _ : state) {
        CXmlDoc doc;
        bool ok = doc.SetDoc(text);
        benchmark::DoNotOptimize(ok);
        index_bytes = doc.IndexBytes();
        if (!ok) state.SkipWithError("not well-formed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Document().size()));
    state.counters["index_bytes"] = static_cast<double>(index_bytes);
    state.counters["index_per_text_byte"] =
        static_cast<double>(index_bytes) / static_cast<double>(text.size() * sizeof(char16_t));
}
BENCHMARK(BM_CXmlDoc_Parse)->Unit(benchmark::kMillisecond);

void BM_Pugixml_Parse(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        pugi::xml_document doc;
        pugi::xml_parse_result r = doc.load_buffer(text.data(), text.size());
        benchmark::DoNotOptimize(r);
        if (!r) state.SkipWithError("not well-formed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Pugixml_Parse)->Unit(benchmark::kMillisecond);

// Parses the document and reads the text of every field of every seal with `read_leaf`,
// which answers the text's length.
template <typename ReadLeaf>
void ParseAndReadLeaves(benchmark::State& state, ReadLeaf read_leaf) {
    const std::u16string& text = Document16();
    for (auto _ : state) {
        CXmlDoc doc;
        doc.SetDoc(text);
        size_t chars = 0;
        doc.FindElem(u"seallist");
        doc.IntoElem();
        while (doc.FindElem(u"seal")) {
            while (doc.FindChildElem()) chars += read_leaf(doc);
        }
        benchmark::DoNotOptimize(chars);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * Document().size()));
}

// Every leaf's text read into one string, the way a loop over many elements reads them.
void BM_CXmlDoc_ParseAndReadLeaves(benchmark::State& state) {
    std::u16string leaf;
    ParseAndReadLeaves(state, [&leaf](const CXmlDoc& doc) {
        doc.ReadChildData(leaf);
        return leaf.size();
    });
}
BENCHMARK(BM_CXmlDoc_ParseAndReadLeaves)->Unit(benchmark::kMillisecond);

// The same with a new string for every leaf (GetChildData).
void BM_CXmlDoc_ParseAndGetLeaves(benchmark::State& state) {
    ParseAndReadLeaves(state, [](const CXmlDoc& doc) { return doc.GetChildData().size(); });
}
BENCHMARK(BM_CXmlDoc_ParseAndGetLeaves)->Unit(benchmark::kMillisecond);

void BM_Pugixml_ParseAndReadLeaves(benchmark::State& state) {
    const std::string& text = Document();
    for (auto _ : state) {
        pugi::xml_document doc;
        doc.load_buffer(text.data(), text.size());
        size_t chars = 0;
        for (pugi::xml_node seal : doc.child("seallist").children("seal"))
            for (pugi::xml_node field : seal.children())
                if (field.type() == pugi::node_element)
                    chars += std::char_traits<char>::length(field.child_value());
        benchmark::DoNotOptimize(chars);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Pugixml_ParseAndReadLeaves)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
