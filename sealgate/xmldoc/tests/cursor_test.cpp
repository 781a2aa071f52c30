// Navigation with the cursor and the path lookup.
#include <gtest/gtest.h>

#include <string>

#include "xml_doc.h"

namespace {

const char16_t kSealList[] =
    u"<?xml version=\"1.0\" encoding=\"GBK\"?>\r\n"
    u"<seallist>\r\n"
    u"  <seal id=\"1\"><name>a</name></seal>\r\n"
    u"  <!-- a comment between seals -->\r\n"
    u"  <other/>\r\n"
    u"  <seal id='2'/>\r\n"
    u"  <seal>third</seal>\r\n"
    u"</seallist>\r\n";

const char16_t kSealInfo[] =
    u"<sealinfo>"
    u"<version>4</version>"
    u"<esid>12345678901234</esid>"
    u"<property><name>\u516c\u7ae0</name><type>1</type></property>"
    u"<validstart>20240101080000Z</validstart>"
    u"<version>second</version>"
    u"</sealinfo>";

TEST(XmlCursor, CountsChildrenByNameTheWayTheSealListIsRead) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(kSealList));
    ASSERT_TRUE(doc.FindElem(u"seallist"));
    ASSERT_TRUE(doc.IntoElem());
    int count = 0;
    while (doc.FindElem(u"seal")) ++count;
    EXPECT_EQ(count, 3);
    // A failed search leaves the position where it was: still on the last seal.
    EXPECT_EQ(doc.GetTagName(), u"seal");
    EXPECT_EQ(doc.GetData(), u"third");
}

TEST(XmlCursor, FindElemSearchesOnlyAfterTheMainElementAndOnlyAtItsLevel) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><a>1</a><b><a>inner</a></b><a>2</a></r>"));
    EXPECT_FALSE(doc.FindElem(u"a")) << "the root's children are not at the document level";
    ASSERT_TRUE(doc.FindElem(u"r"));
    EXPECT_FALSE(doc.FindElem(u"r")) << "no second root after the main element";
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"b"));
    ASSERT_TRUE(doc.FindElem(u"a"));
    EXPECT_EQ(doc.GetData(), u"2") << "the search starts after b, not at the first child";
    EXPECT_FALSE(doc.FindElem(u"b"));
    EXPECT_EQ(doc.GetData(), u"2");
}

TEST(XmlCursor, NamesCompareExactly) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<Root><Item>x</Item></Root>"));
    EXPECT_FALSE(doc.FindElem(u"root"));
    EXPECT_FALSE(doc.FindElem(u"Roo"));
    EXPECT_FALSE(doc.FindElem(u"Root2"));
    ASSERT_TRUE(doc.FindElem(u"Root"));
    EXPECT_FALSE(doc.FindChildElem(u"item"));
    EXPECT_TRUE(doc.FindChildElem(u"Item"));
}

TEST(XmlCursor, IntoAndOutOfElements) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><a><x>1</x></a><b/></r>"));
    EXPECT_FALSE(doc.IntoElem()) << "no main element at the start";
    EXPECT_FALSE(doc.OutOfElem()) << "already at the document level";
    ASSERT_TRUE(doc.FindElem());
    ASSERT_TRUE(doc.IntoElem());
    EXPECT_EQ(doc.GetTagName(), u"");
    ASSERT_TRUE(doc.FindElem(u"a"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"x"));
    EXPECT_EQ(doc.GetData(), u"1");
    ASSERT_TRUE(doc.OutOfElem());
    EXPECT_EQ(doc.GetTagName(), u"a");
    EXPECT_EQ(doc.GetChildTagName(), u"x") << "the element left becomes the child";
    ASSERT_TRUE(doc.FindElem(u"b"));
    ASSERT_TRUE(doc.OutOfElem());
    EXPECT_EQ(doc.GetTagName(), u"r");
    doc.ResetPos();
    EXPECT_EQ(doc.GetTagName(), u"");
    EXPECT_TRUE(doc.FindElem(u"r"));
}

TEST(XmlCursor, FindChildElemStepsThroughChildrenAndFindsTheRootFirst) {
    CXmlDoc doc;
    ASSERT_TRUE(
        doc.SetDoc(u"<answer><status>0000</status><data><sealstatus>7</sealstatus></data>"
                   u"<status>second</status></answer>"));
    // No main element yet: the first element of the level (whatever its name) is taken.
    ASSERT_TRUE(doc.FindChildElem(u"status"));
    EXPECT_EQ(doc.GetTagName(), u"answer");
    EXPECT_EQ(doc.GetChildData(), u"0000");
    ASSERT_TRUE(doc.FindChildElem(u"status"));
    EXPECT_EQ(doc.GetChildData(), u"second");
    EXPECT_FALSE(doc.FindChildElem(u"status"));
    EXPECT_EQ(doc.GetChildData(), u"second") << "a failed search keeps the child";

    doc.ResetPos();
    ASSERT_TRUE(doc.FindChildElem(u"data"));
    EXPECT_EQ(doc.GetChildData(), u"") << "an element with child elements has no text";
    EXPECT_EQ(doc.GetChildTagName(), u"data");

    CXmlDoc empty;
    EXPECT_FALSE(empty.FindChildElem(u"status"));
    EXPECT_EQ(empty.GetChildData(), u"");
}

TEST(XmlCursor, FindElemClearsTheChild) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(u"<r><a><c>1</c></a><a><c>2</c></a></r>"));
    ASSERT_TRUE(doc.FindElem(u"r"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"a"));
    ASSERT_TRUE(doc.FindChildElem(u"c"));
    EXPECT_EQ(doc.GetChildData(), u"1");
    ASSERT_TRUE(doc.FindElem(u"a"));
    EXPECT_EQ(doc.GetChildTagName(), u"");
    ASSERT_TRUE(doc.FindChildElem(u"c"));
    EXPECT_EQ(doc.GetChildData(), u"2");
}

TEST(XmlPath, ReadsTheFirstMatchAndLaterOnesByIndex) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(kSealInfo));
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\version"), u"4");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\version", 1), u"second");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\version", 2), u"");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\esid"), u"12345678901234");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\property\\name"), u"\u516c\u7ae0");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\property"), u"") << "has child elements";
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\validstart"), u"20240101080000Z");
}

TEST(XmlPath, MissingComponentsGiveEmptyText) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(kSealInfo));
    EXPECT_EQ(doc.GetDataByPath(u"version"), u"") << "the first component names the root";
    EXPECT_EQ(doc.GetDataByPath(u"seal\\version"), u"");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\nothing\\name"), u"");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\"), u"");
    EXPECT_EQ(doc.GetDataByPath(u"\\sealinfo\\version"), u"");
    EXPECT_EQ(doc.GetDataByPath(u""), u"");
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo/version"), u"") << "only backslash separates";
}

TEST(XmlPath, LeavesThePositionAsItWas) {
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(kSealInfo));
    ASSERT_TRUE(doc.FindElem(u"sealinfo"));
    ASSERT_TRUE(doc.IntoElem());
    ASSERT_TRUE(doc.FindElem(u"property"));
    ASSERT_TRUE(doc.FindChildElem(u"name"));
    EXPECT_EQ(doc.GetDataByPath(u"sealinfo\\esid"), u"12345678901234");
    EXPECT_EQ(doc.GetTagName(), u"property");
    EXPECT_EQ(doc.GetChildTagName(), u"name");
    ASSERT_TRUE(doc.FindChildElem(u"type"));
    EXPECT_EQ(doc.GetChildData(), u"1");
    ASSERT_TRUE(doc.FindElem(u"validstart"));
}

TEST(XmlPath, TakesTheFirstRootWhenADocumentHasTwo) {
    CXmlDoc doc;
    EXPECT_FALSE(doc.SetDoc(u"<a><v>1</v></a><a><v>2</v></a>"));
    EXPECT_EQ(doc.GetDataByPath(u"a\\v"), u"1");
}

TEST(XmlIndex, HoldsManyBlocksOfElements) {
    // 200000 elements fill more than three blocks of the index.
    const int kCount = 200000;
    std::u16string text = u"<list>";
    for (int i = 0; i < kCount; ++i) {
        std::string n = std::to_string(i);
        text += u"<i>";
        text.append(n.begin(), n.end());
        text += u"</i>";
    }
    text += u"<last>end</last></list>";
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(text));
    EXPECT_EQ(doc.IndexedElements(), static_cast<size_t>(kCount + 3));
    EXPECT_EQ(doc.GetDataByPath(u"list\\i", 0), u"0");
    EXPECT_EQ(doc.GetDataByPath(u"list\\i", 65535), u"65535");
    EXPECT_EQ(doc.GetDataByPath(u"list\\i", 65536), u"65536");
    EXPECT_EQ(doc.GetDataByPath(u"list\\i", kCount - 1), std::u16string(u"199999"));
    EXPECT_EQ(doc.GetDataByPath(u"list\\last"), u"end");
    ASSERT_TRUE(doc.FindElem(u"list"));
    ASSERT_TRUE(doc.IntoElem());
    int count = 0;
    while (doc.FindElem(u"i")) ++count;
    EXPECT_EQ(count, kCount);
    // 32-byte records, and growth by half leaves at most a third of the room unused.
    const size_t records = doc.IndexedElements();
    EXPECT_GE(doc.IndexBytes(), records * 32);
    EXPECT_LE(doc.IndexBytes(), records * 32 * 3 / 2 + 4096);
}

TEST(XmlIndex, DeepNestingNeedsNoDeepCallStack) {
    const int kDepth = 300000;
    std::u16string text;
    for (int i = 0; i < kDepth; ++i) text += u"<d>";
    text += u"<leaf>x</leaf>";
    for (int i = 0; i < kDepth; ++i) text += u"</d>";
    CXmlDoc doc;
    ASSERT_TRUE(doc.SetDoc(text));
    std::u16string path = u"d";
    for (int i = 1; i < kDepth; ++i) path += u"\\d";
    path += u"\\leaf";
    EXPECT_EQ(doc.GetDataByPath(path), u"x");
    int depth = 0;
    while (doc.FindElem(u"d")) {
        ASSERT_TRUE(doc.IntoElem());
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    ASSERT_TRUE(doc.FindElem(u"leaf"));
    EXPECT_EQ(doc.GetData(), u"x");
}

}  // namespace
