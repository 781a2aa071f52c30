// Well-formedness: the error kinds for malformed text, and hostile input.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml_doc.h"

namespace {

std::string Narrow(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 128 ? static_cast<char>(c) : '?';
    return out;
}

std::vector<std::string> Kinds(const CXmlDoc& doc) {
    std::vector<std::string> kinds;
    for (const XmlError& e : doc.GetErrors()) kinds.push_back(XmlErrorName(e.kind));
    return kinds;
}

struct Malformed {
    const char16_t* text;
    std::vector<std::string> kinds;
};

TEST(XmlWellFormed, ReportsEachKindOfError) {
    const Malformed cases[] = {
        {u"", {"no_root_element"}},
        {u"   \r\n", {"no_root_element"}},
        {u"<!-- only a comment -->", {"no_root_element"}},
        {u"just text", {"no_root_element"}},
        {u"<a/><b/>", {"root_has_sibling"}},
        {u"<a></a>\r\n<b>x</b><c/>", {"root_has_sibling", "root_has_sibling"}},
        {u"<a></b></a>", {"lone_end_tag"}},
        {u"</a>", {"lone_end_tag", "no_root_element"}},
        {u"<a><b></a>", {"unended_start_tag"}},
        {u"<a>", {"unended_start_tag"}},
        {u"<a><b><c>", {"unended_start_tag", "unended_start_tag", "unended_start_tag"}},
        {u"<a>< b/></a>", {"first_tag_syntax"}},
        {u"<a><1/></a>", {"first_tag_syntax"}},
        {u"<a></ a></a>", {"first_tag_syntax"}},
        {u"<a><? pi?></a>", {"first_tag_syntax"}},
        {u"<a/><", {"first_tag_syntax"}},
        {u"<a x='1'", {"unterminated_tag_syntax", "no_root_element"}},
        {u"<a x='1></a>", {"unterminated_tag_syntax"}},
        {u"<a x=1></a>", {"unterminated_tag_syntax"}},
        {u"<a x></a>", {"unterminated_tag_syntax"}},
        {u"<a x='1'y='2'></a>", {"unterminated_tag_syntax"}},
        {u"<a x='<'></a>", {"unterminated_tag_syntax", "first_tag_syntax"}},
        {u"<a / ></a>", {"unterminated_tag_syntax"}},
        {u"<a></a x>", {"unterminated_tag_syntax"}},
        {u"<a></a", {"unterminated_tag_syntax", "unended_start_tag"}},
        {u"<a><?pi never closed </a>", {"unterminated_tag_syntax", "unended_start_tag"}},
        {u"<a><!-- never closed </a>", {"comment_tag_syntax", "unended_start_tag"}},
        {u"<a><!-- a -- b --></a>", {"comment_tag_syntax"}},
        {u"<a><!-- a ---></a>", {"comment_tag_syntax"}},
        {u"<a><!--></a>", {"comment_tag_syntax", "unended_start_tag"}},
        {u"<a><![CDATA[ never closed </a>", {"cdata_section_syntax", "unended_start_tag"}},
        {u"<![CDATA[x]]><a/>", {"cdata_section_syntax"}},
        {u"<a><!ELEMENT a ANY></a>", {"exclamation_tag_syntax"}},
        {u"<a><!x></a>", {"exclamation_tag_syntax"}},
        {u"<!DOCTYPE a [ <!ELEMENT a ANY> <a/>", {"doctype_tag_syntax", "no_root_element"}},
        {u"<!DOCTYPE a SYSTEM \"never closed><a/>", {"doctype_tag_syntax", "no_root_element"}},
        {u"<!DOCTYPEa><a/>", {"doctype_tag_syntax"}},
        {u"<a/><!DOCTYPE a>", {"doctype_tag_syntax"}},
        {u"<!DOCTYPE a><!DOCTYPE a><a/>", {"doctype_tag_syntax"}},
    };
    for (const Malformed& c : cases) {
        CXmlDoc doc;
        EXPECT_FALSE(doc.SetDoc(c.text)) << Narrow(c.text);
        EXPECT_EQ(Kinds(doc), c.kinds) << Narrow(c.text);
        EXPECT_FALSE(doc.IsWellFormed());
    }
}

TEST(XmlWellFormed, AcceptsWhatXmlAllows) {
    const char16_t* good[] = {
        u"<a/>",
        u"\ufeff<a/>",
        u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a/>\n<!-- after -->\n<?pi after?>",
        u"<a x='1' y = \"2\"\r\n z='&lt;&quot;'/>",
        u"<a></a >",
        u"<a:b xmlns:a='urn:x'><a:c/></a:b>",
        u"<!DOCTYPE a>\n<a/>",
        u"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Strict//EN\" "
        u"\"http://www.w3.org/TR/xhtml1/DTD/xhtml1-strict.dtd\"><html/>",
        u"<!DOCTYPE a [\n<!ELEMENT a ANY>\n<!-- ] > ' \" -->\n<!ENTITY e \"]>'\">\n"
        u"<?pi ]>?>\n]>\n<a>&e;</a>",
        u"<a><![CDATA[<not><markup>]]></a>",
        u"<a>1 > 0 and ]] is fine</a>",
        u"<\u540d\u79f0>\u503c</\u540d\u79f0>",
        u"<a><!----><!-- - --></a>",
    };
    for (const char16_t* text : good) {
        CXmlDoc doc;
        EXPECT_TRUE(doc.SetDoc(text)) << Narrow(text) << "\n" << Narrow(doc.GetResult());
        EXPECT_EQ(doc.GetResult(), u"");
    }
}

TEST(XmlWellFormed, ResultTextNamesTheErrorsAndWhere) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(u"<a></b><c></a>"));
    EXPECT_EQ(doc.GetResult(), u"lone_end_tag at 3\nunended_start_tag at 7");
    EXPECT_TRUE(doc.SetDoc(u"<a/>")) << "a new text forgets the old errors";
    EXPECT_EQ(doc.GetResult(), u"");
}

TEST(XmlWellFormed, TheFirstOfTwoRootsStaysReachable) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(u"<first>1</first><second>2</second>"));
    EXPECT_EQ(Kinds(doc), std::vector<std::string>{"root_has_sibling"});
    ASSERT_TRUE(doc.FindElem(u"first"));
    EXPECT_EQ(doc.GetData(), u"1");
    ASSERT_TRUE(doc.FindElem(u"second"));
    EXPECT_EQ(doc.GetData(), u"2");
}

TEST(XmlWellFormed, TheIndexIsBuiltAsFarAsTheTextAllows) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(u"<r><a>1</a><b>2</b><c>3"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\a"), u"1");
    EXPECT_EQ(doc.GetDataByPath(u"r\\b"), u"2");
    EXPECT_EQ(doc.GetDataByPath(u"r\\c"), u"3");
    EXPECT_FALSE(doc.SetDoc(u"<r><a>1</x></a><b>2</b></r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r\\b"), u"2");
}

// ---- hostile input ------------------------------------------------------------------------

TEST(XmlHostile, EveryTruncationOfADocumentIsHandled) {
    const std::u16string full =
        u"<?xml version=\"1.0\"?><!DOCTYPE r [<!ENTITY e \"x\">]><r a=\"1\" b='2'>"
        u"<!-- c --><![CDATA[d]]><?p q?><s>&amp;&#x41;</s><t/></r>";
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(full));
    for (size_t len = 0; len < full.size(); ++len) {
        std::u16string part = full.substr(0, len);
        EXPECT_FALSE(doc.SetDoc(part)) << Narrow(part);
        EXPECT_FALSE(doc.GetErrors().empty());
        doc.GetDataByPath(u"r\\s");  // reading an ill-formed index must be safe
    }
}

TEST(XmlHostile, UnclosedDeepNesting) {
    std::u16string text;
    for (int i = 0; i < 500000; ++i) text += u"<a>";
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(text));
    EXPECT_EQ(doc.GetErrors().size(), 500000u);
    EXPECT_EQ(doc.GetErrors().front().kind, XmlErrorKind::UnendedStartTag);
}

TEST(XmlHostile, MismatchedEndTagsStayLinear) {
    // 100000 open elements followed by 100000 end tags that match none of them, then the
    // matching ones: a quadratic search would take minutes.
    std::u16string text;
    for (int i = 0; i < 100000; ++i) text += u"<a>";
    for (int i = 0; i < 100000; ++i) text += u"</b>";
    for (int i = 0; i < 100000; ++i) text += u"</a>";
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(text));
    EXPECT_EQ(doc.GetErrors().size(), 100000u);
    EXPECT_EQ(doc.GetErrors().front().kind, XmlErrorKind::LoneEndTag);

    // Each end tag closing the outermost element through all the inner ones.
    text.clear();
    for (int i = 0; i < 50000; ++i) text += u"<x><a><a><a>";
    for (int i = 0; i < 50000; ++i) text += u"</x>";
    EXPECT_FALSE(doc.SetDoc(text));
    EXPECT_EQ(doc.GetErrors().size(), 150000u);
}

TEST(XmlHostile, AMegabyteOfAttributes) {
    std::u16string text = u"<r";
    while (text.size() < (1u << 20)) {
        std::string n = std::to_string(text.size());
        text += u" a";
        text.append(n.begin(), n.end());
        text += u"='value'";
    }
    text += u"><v>ok</v></r>";
    CXmlDoc doc;
    EXPECT_TRUE(doc.SetDoc(text));
    EXPECT_EQ(doc.GetDataByPath(u"r\\v"), u"ok");
    text.resize(text.size() - 14);  // the start tag is never closed
    EXPECT_FALSE(doc.SetDoc(text));
    EXPECT_EQ(Kinds(doc), (std::vector<std::string>{"unterminated_tag_syntax", "no_root_element"}));
}

TEST(XmlHostile, HugeConstructsAndReferences) {
    CXmlDoc doc;
    std::u16string big(1u << 20, u'&');
    EXPECT_TRUE(doc.SetDoc(u"<r>" + big + u"</r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r"), big);
    std::u16string digits(1u << 20, u'9');
    EXPECT_TRUE(doc.SetDoc(u"<r>&#" + digits + u";&#x" + digits + u";</r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r"), u"&#" + digits + u";&#x" + digits + u";");
    EXPECT_FALSE(doc.SetDoc(u"<r><!--" + std::u16string(1u << 20, u'-')));
    EXPECT_FALSE(doc.SetDoc(u"<r>" + std::u16string(1u << 20, u'<')));
    EXPECT_FALSE(doc.SetDoc(std::u16string(1u << 20, u'<')));
    EXPECT_FALSE(doc.SetDoc(u"<!DOCTYPE r [" + std::u16string(1u << 20, u'[')));
    std::u16string nul(16, u'\0');
    EXPECT_FALSE(doc.SetDoc(nul));
    EXPECT_TRUE(doc.SetDoc(u"<r>" + nul + u"</r>"));
    EXPECT_EQ(doc.GetDataByPath(u"r"), nul);
}

}  // namespace
