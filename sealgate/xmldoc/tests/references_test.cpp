// Element text: references, CDATA, comments and processing instructions.
#include <gtest/gtest.h>

#include <vector>

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

// Whether a text needs decoding is settled while parsing; each construct must count wherever
// it stands, next to siblings without any, and in documents with errors.
TEST(XmlText, EveryConstructIsDecodedWhereverItStands) {
    for (const char16_t* construct : {u"&amp;", u"<![CDATA[&]]>", u"<!--c-->", u"<?p x?>"}) {
        std::u16string expected = construct[0] == u'&' || construct[2] == u'[' ? u"&" : u"";
        std::u16string c = construct;
        EXPECT_EQ(TextOf(c + u"ab"), expected + u"ab");
        EXPECT_EQ(TextOf(u"a" + c + u"b"), u"a" + expected + u"b");
        EXPECT_EQ(TextOf(u"ab" + c), u"ab" + expected);
        CXmlDoc doc;
        ASSERT_TRUE(doc.SetDoc(u"<r><p>x</p><a><b/>y</a><v>1" + c + u"</v><w>2</w></r>"));
        EXPECT_EQ(doc.GetDataByPath(u"r\\p"), u"x");
        EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"1" + expected);
        EXPECT_EQ(doc.GetDataByPath(u"r\\w"), u"2");
    }
}

TEST(XmlText, TextsOfIllFormedDocumentsAreStillDecoded) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(u"<r><v>a</x>&amp;b</v><w>c &lt; d</w></r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"a</x>&b");
    EXPECT_EQ(doc.GetDataByPath(u"r\\w"), u"c < d");
    EXPECT_FALSE(doc.SetDoc(u"<r><v>a < b &amp; c</v></r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"a < b & c");
    EXPECT_FALSE(doc.SetDoc(u"<r><v>&amp;<!--"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"&");
    // References that parsing skipped inside broken tags.
    EXPECT_FALSE(doc.SetDoc(u"<r><v>a</x &amp;>b</v></r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"a</x &>b");
    EXPECT_FALSE(doc.SetDoc(u"<r><v>ab<w x='&amp;"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"ab<w x='&");
    EXPECT_TRUE(doc.SetDoc(u"<r><v>x&#x41;</v ><w>y</w></r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"xA");
    EXPECT_EQ(doc.GetDataByPath(u"r\\w"), u"y");
}

TEST(XmlText, ReadingIntoAStringReplacesWhatItHeld) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><a>a long first text</a><b>&lt;b</b><c><d/></c><e/><f>f</f></r>"));
    ASSERT_TRUE(doc.FindElem(u"r"));
    std::u16string text = u"left over from before";
    std::vector<std::u16string> read;
    while (doc.FindChildElem()) {
        doc.ReadChildData(text);
        EXPECT_EQ(text, doc.GetChildData());
        read.push_back(text);
    }
    EXPECT_EQ(read, (std::vector<std::u16string>{u"a long first text", u"<b", u"", u"", u"f"}));
    doc.ReadData(text);
    EXPECT_EQ(text, u"") << "an element with children";
    doc.ResetPos();
    std::u16string untouched_before = u"x";
    doc.ReadChildData(untouched_before);
    EXPECT_EQ(untouched_before, u"") << "no child element";
}

TEST(XmlText, MarkupInsideAttributesIsNotContent) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r a='&gt;x' b=\"/>\" c='\"'>t</r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r"), u"t");
}

}  // namespace
