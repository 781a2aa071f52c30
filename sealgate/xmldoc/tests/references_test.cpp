// Element text: references, CDATA, comments and processing instructions.
#include <gtest/gtest.h>

#include "xml_doc.h"

namespace {

std::u16string TextOf(const std::u16string& content) {
    CXmlDoc doc;
    EXPECT_TRUE(doc.SetDoc(u"<r><v>" + content + u"</v></r>"));
    return doc.GetDataByPath(u"r\\v");
}

TEST(XmlText, AmpersandAndHexadecimalReference) { EXPECT_EQ(TextOf(u"&amp;&#x41;"), u"&A"); }

TEST(XmlText, PredefinedAndNumericReferences) {
    EXPECT_EQ(TextOf(u"&lt;&gt;&amp;&quot;&apos;"), u"<>&\"'");
    EXPECT_EQ(TextOf(u"&#65;&#x42;&#x00043;&#0068;"), u"ABCD");
    EXPECT_EQ(TextOf(u"&#x4e2d;&#25991;"), u"\u4e2d\u6587");
    EXPECT_EQ(TextOf(u"&#x1F600;"), u"\U0001F600") << "beyond the BMP: a surrogate pair";
    EXPECT_EQ(TextOf(u"&#x10FFFF;"), u"\U0010FFFF");
    EXPECT_EQ(TextOf(u"&#9;&#10;&#13;"), u"\t\n\r");
}

TEST(XmlText, HtmlNamedEntities) {
    EXPECT_EQ(TextOf(u"&nbsp;&copy;&reg;&euro;&mdash;&hellip;"),
              u"\u00a0\u00a9\u00ae\u20ac\u2014\u2026");
    EXPECT_EQ(TextOf(u"&Alpha;&alpha;&thetasym;&diams;&yuml;&Yuml;"),
              u"\u0391\u03b1\u03d1\u2666\u00ff\u0178");
}

TEST(XmlText, ReferencesThatCannotBeDecodedStayAsWritten) {
    for (const char16_t* raw : {u"&foo;",
                                u"&amp",
                                u"& amp;",
                                u"&;",
                                u"&#;",
                                u"&#x;",
                                u"&#X41;",
                                u"&#xD800;",
                                u"&#xDFFF;",
                                u"&#0;",
                                u"&#x1;",
                                u"&#xFFFE;",
                                u"&#x110000;",
                                u"&#99999999999999999999;",
                                u"&#xFFFFFFFFFFFFFFFF41;",
                                u"&#65",
                                u"&#x41 ;",
                                u"&NBSP;",
                                u"&averyveryverylongname;",
                                u"&nbsp",
                                u"&",
                                u"a&&&b"}) {
        EXPECT_EQ(TextOf(raw), raw)
            << std::string(raw, raw + std::char_traits<char16_t>::length(raw));
    }
    EXPECT_EQ(TextOf(u"&foo;&amp;&bar"), u"&foo;&&bar");
}

TEST(XmlText, CdataIsTakenAsItIs) {
    EXPECT_EQ(TextOf(u"<![CDATA[&amp; <b>x</b> &#x41;]]>"), u"&amp; <b>x</b> &#x41;");
    EXPECT_EQ(TextOf(u"a<![CDATA[]]>b<![CDATA[]]]]><![CDATA[>]]>c"), u"ab]]>c");
}

TEST(XmlText, CommentsAndProcessingInstructionsAreNotText) {
    EXPECT_EQ(TextOf(u"a<!-- &amp; <x> -->b<?pi data?>c"), u"abc");
    EXPECT_EQ(TextOf(u"<!---->"), u"");
}

TEST(XmlText, WhitespaceAndLineEndsAreKept) { EXPECT_EQ(TextOf(u"  a\r\n\tb  "), u"  a\r\n\tb  "); }

TEST(XmlText, ElementsWithChildrenHaveNoText) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r>before<c/>after</r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r"), u"");
    ASSERT_TRUE(doc.SetDoc(u"<r><c/></r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\c"), u"");
    ASSERT_TRUE(doc.SetDoc(u"<r><c></c></r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\c"), u"");
}

TEST(XmlText, MarkupInsideAttributesIsNotContent) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r a='&gt;x' b=\"/>\" c='\"'>t</r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r"), u"t");
}

}  // namespace
