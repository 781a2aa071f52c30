// The HTML 4.01 entity table, checked against libxml2's HTML parser, an independent source.
#include <gtest/gtest.h>
#include <libxml/HTMLparser.h>

#include <set>
#include <string>

#include "html_entities.h"
#include "xml_doc.h"

namespace {

TEST(HtmlEntities, AllTwoHundredFiftyTwoAreThereOnceAndSorted) {
    ASSERT_EQ(xmldoc::HtmlEntityCount(), 252u);
    const xmldoc::NamedEntity* t = xmldoc::HtmlEntities();
    std::set<std::string> names;
    std::set<unsigned> codes;
    for (size_t i = 0; i < xmldoc::HtmlEntityCount(); ++i) {
        names.insert(t[i].name);
        codes.insert(t[i].code);
        if (i > 0) {
            EXPECT_LT(std::string(t[i - 1].name), std::string(t[i].name));
        }
    }
    EXPECT_EQ(names.size(), 252u);
    EXPECT_EQ(codes.size(), 252u) << "no two names for one character";
}

TEST(HtmlEntities, AgreeWithLibxml2BothWays) {
    const xmldoc::NamedEntity* t = xmldoc::HtmlEntities();
    for (size_t i = 0; i < xmldoc::HtmlEntityCount(); ++i) {
        const htmlEntityDesc* d = htmlEntityLookup(reinterpret_cast<const xmlChar*>(t[i].name));
        ASSERT_NE(d, nullptr) << t[i].name;
        EXPECT_EQ(d->value, t[i].code) << t[i].name;
    }
    // Every character libxml2 names is named here too (HTML 4 has no "apos"; XML's own is
    // handled beside the table).
    size_t theirs = 0;
    for (unsigned c = 1; c < 0x10000; ++c) {
        const htmlEntityDesc* d = htmlEntityValueLookup(c);
        if (d == nullptr || std::string(d->name) == "apos") continue;
        ++theirs;
        char16_t ch = 0;
        std::string name = d->name;
        EXPECT_TRUE(xmldoc::LookupNamedEntity(std::u16string(name.begin(), name.end()), ch))
            << name;
        EXPECT_EQ(ch, c) << name;
    }
    EXPECT_EQ(theirs, 252u);
}

TEST(HtmlEntities, EveryOneDecodesInElementText) {
    const xmldoc::NamedEntity* t = xmldoc::HtmlEntities();
    std::u16string text = u"<r>";
    std::u16string expected;
    for (size_t i = 0; i < xmldoc::HtmlEntityCount(); ++i) {
        text += u'&';
        for (const char* p = t[i].name; *p; ++p) text += static_cast<char16_t>(*p);
        text += u';';
        expected += static_cast<char16_t>(t[i].code);
    }
    text += u"</r>";
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(text));
    EXPECT_EQ(doc.GetDataByPath(u"r"), expected);
}

}  // namespace
