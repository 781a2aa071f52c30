// Building documents with AddElem.
#include <gtest/gtest.h>

#include "xml_doc.h"

namespace {

// The document must parse back to itself, well-formed.
void ExpectReparses(const CXmlDoc& doc) {
    CXmlDoc again;
    EXPECT_TRUE(again.SetDoc(doc.GetDoc()))
        << std::string(doc.GetDoc().begin(), doc.GetDoc().end());
}

TEST(XmlBuild, StatusRequestDocument) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.AddElem(u"request"));
    EXPECT_EQ(doc.GetDoc(), u"<request/>\r\n");
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddElem(u"sealcode", u"3301000012345"));
    EXPECT_EQ(doc.GetDoc(), u"<request>\r\n<sealcode>3301000012345</sealcode>\r\n</request>\r\n");
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(doc.GetDataByPath(u"request\\sealcode"), u"3301000012345");
    ExpectReparses(doc);
}

TEST(XmlBuild, EscapesMarkupCharactersAndReadsThemBack) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.AddElem(u"r"));
    ASSERT_TRUE(doc.IntoElem());
    const std::u16string text = u"a&b<c>d \"q\" 'p' ]]> &amp;";
    ASSERT_TRUE(doc.AddElem(u"v", text));
    EXPECT_EQ(doc.GetDoc(),
              u"<r>\r\n<v>a&amp;b&lt;c&gt;d \"q\" 'p' ]]&gt; &amp;amp;</v>\r\n</r>\r\n");
    EXPECT_EQ(doc.GetData(), text);
    CXmlDoc again;
    ASSERT_TRUE(again.SetDoc(doc.GetDoc()));
    EXPECT_EQ(again.GetDataByPath(u"r\\v"), text);
}

TEST(XmlBuild, ElementsFollowTheMainElementOrEndTheLevel) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.AddElem(u"r"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddElem(u"a", u"1"));
    ASSERT_TRUE(doc.AddElem(u"c", u"3"));
    ASSERT_TRUE(doc.AddElem(u"e"));
    EXPECT_EQ(doc.GetDoc(), u"<r>\r\n<a>1</a>\r\n<c>3</c>\r\n<e/>\r\n</r>\r\n");

    // After a found element: inserted right behind it.
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem(u"r"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"a"));
    ASSERT_TRUE(doc.AddElem(u"b", u"2"));
    EXPECT_EQ(doc.GetTagName(), u"b");
    ASSERT_TRUE(doc.FindElem(u"c")) << "the new element is linked before c";
    ASSERT_TRUE(doc.AddElem(u"d", u"4"));
    EXPECT_EQ(doc.GetDoc(),
              u"<r>\r\n<a>1</a>\r\n<b>2</b>\r\n<c>3</c>\r\n<d>4</d>\r\n<e/>\r\n</r>\r\n");

    // No main element: after the last child.
    ASSERT_TRUE(doc.OutOfElem());
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddElem(u"f", u"6"));
    EXPECT_EQ(doc.GetDoc(),
              u"<r>\r\n<a>1</a>\r\n<b>2</b>\r\n<c>3</c>\r\n<d>4</d>\r\n<e/>\r\n"
              u"<f>6</f>\r\n</r>\r\n");

    // Every element is where the index says: walk them in order.
    doc.ResetPos();
    ASSERT_TRUE(doc.FindElem(u"r"));
    ASSERT_TRUE(doc.IntoElem());
    std::u16string names, texts;
    while (doc.FindElem()) {
        names += doc.GetTagName();
        texts += doc.GetData();
    }
    EXPECT_EQ(names, u"abcdef");
    EXPECT_EQ(texts, u"12346");
    EXPECT_TRUE(doc.IsWellFormed());
    ExpectReparses(doc);
}

TEST(XmlBuild, OpensEmptyElementTagsFromParsedText) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r>\r\n<p a=\"1\"/>\r\n<q/>\r\n</r>\r\n"));
    ASSERT_TRUE(doc.FindElem(u"r"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"p"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddElem(u"x", u"1"));
    ASSERT_TRUE(doc.AddElem(u"y"));
    EXPECT_EQ(doc.GetDoc(), u"<r>\r\n<p a=\"1\">\r\n<x>1</x>\r\n<y/>\r\n</p>\r\n<q/>\r\n</r>\r\n");
    ASSERT_TRUE(doc.OutOfElem());
    ASSERT_TRUE(doc.FindElem(u"q"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddElem(u"z", u"2"));
    EXPECT_EQ(doc.GetDoc(),
              u"<r>\r\n<p a=\"1\">\r\n<x>1</x>\r\n<y/>\r\n</p>\r\n"
              u"<q>\r\n<z>2</z>\r\n</q>\r\n</r>\r\n");
    EXPECT_EQ(doc.GetDataByPath(u"r\\p\\x"), u"1");
    EXPECT_EQ(doc.GetDataByPath(u"r\\q\\z"), u"2");
    ExpectReparses(doc);
}

TEST(XmlBuild, AddsIntoElementsWithEmptyOrTextContent) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><e></e><t>text</t></r>"));
    ASSERT_TRUE(doc.FindElem(u"r"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"e"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddElem(u"x"));
    ASSERT_TRUE(doc.OutOfElem());
    ASSERT_TRUE(doc.FindElem(u"t"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.AddElem(u"y", u"v"));
    EXPECT_EQ(doc.GetDoc(), u"<r><e>\r\n<x/>\r\n</e><t>text<y>v</y>\r\n</t></r>");
    EXPECT_EQ(doc.GetDataByPath(u"r\\t\\y"), u"v");
    ExpectReparses(doc);
}

TEST(XmlBuild, ASecondTopLevelElementMakesTheDocumentIllFormed) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.IsWellFormed()) << "an empty document has no root";
    ASSERT_TRUE(doc.AddElem(u"first", u"1"));
    EXPECT_TRUE(doc.IsWellFormed());
    ASSERT_TRUE(doc.AddElem(u"second", u"2"));
    EXPECT_FALSE(doc.IsWellFormed());
    EXPECT_EQ(doc.GetDoc(), u"<first>1</first>\r\n<second>2</second>\r\n");
    ASSERT_FALSE(doc.GetErrors().empty());
    EXPECT_EQ(doc.GetErrors().back().kind, XmlErrorKind::RootHasSibling);
}

TEST(XmlBuild, TheFirstElementOfATextWithoutRootBecomesTheRoot) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(u"<?xml version=\"1.0\"?>\r\n<!-- nothing yet -->\r\n"));
    ASSERT_TRUE(doc.AddElem(u"root", u"v"));
    EXPECT_TRUE(doc.IsWellFormed());
    EXPECT_EQ(doc.GetDoc(),
              u"<?xml version=\"1.0\"?>\r\n<!-- nothing yet -->\r\n<root>v</root>\r\n");
    ExpectReparses(doc);
}

TEST(XmlBuild, RejectsNamesThatAreNotNamesAndChangesNothing) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.AddElem(u"r"));
    const std::u16string before = doc.GetDoc();
    for (const char16_t* bad : {u"", u"1a", u"a b", u"a>", u"<a", u"a/", u"-a", u"a&b"}) {
        EXPECT_FALSE(doc.AddElem(bad, u"x"))
            << std::string(bad, bad + std::char_traits<char16_t>::length(bad));
        EXPECT_EQ(doc.GetDoc(), before);
    }
    EXPECT_EQ(doc.GetTagName(), u"r");
    EXPECT_TRUE(doc.AddElem(u"\u540d\u79f0", u"x")) << "names in other scripts are names";
}

}  // namespace
