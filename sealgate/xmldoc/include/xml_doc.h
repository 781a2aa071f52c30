// CXmlDoc: Sealgate's XML document with a cursor.
//
// The document is kept as one UTF-16 string (std::u16string; callers convert narrow text
// with kit::to_utf16 first) plus a flat index of its elements. A current position of three
// elements (parent, main, child) moves through the index the way a cursor moves through a
// list: find an element among the siblings, go into it, find a child, read its text, add an
// element after it.
//
// Parsing never recurses and never throws for any input; hostile text (deep nesting, huge
// tags, unterminated constructs) ends in a false result and a list of errors.
//
// Names compare exactly, code unit by code unit. For FindElem and FindChildElem an empty
// name matches any element.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// What the parser found wrong, in document order. The names (XmlErrorName) are recorded in
// the parse result text.
enum class XmlErrorKind : uint8_t {
    UnterminatedTagSyntax,  // "unterminated_tag_syntax": a tag, attribute or processing
                            // instruction that is not closed properly (also '<' in a value)
    FirstTagSyntax,         // "first_tag_syntax": "<" or "</" not followed by a name
    DoctypeTagSyntax,       // "doctype_tag_syntax": unterminated, misplaced or repeated doctype
    ExclamationTagSyntax,   // "exclamation_tag_syntax": "<!" that starts no known construct
    CommentTagSyntax,       // "comment_tag_syntax": unterminated comment or "--" inside it
    CdataSectionSyntax,     // "cdata_section_syntax": unterminated CDATA or CDATA outside
                            // the root element
    LoneEndTag,             // "lone_end_tag": an end tag without a matching start tag
    UnendedStartTag,        // "unended_start_tag": a start tag never closed
    RootHasSibling,         // "root_has_sibling": a second element at the top level
    NoRootElement,          // "no_root_element"
    DocumentTooLarge,       // "document_too_large": text offsets would not fit 32 bits
};

const char* XmlErrorName(XmlErrorKind kind);

struct XmlError {
    XmlErrorKind kind;
    uint32_t offset;  // where the offending construct starts in the document text
};

class CXmlDoc {
  public:
    CXmlDoc();
    ~CXmlDoc();
    CXmlDoc(const CXmlDoc&) = delete;
    CXmlDoc& operator=(const CXmlDoc&) = delete;
    CXmlDoc(CXmlDoc&&) noexcept;
    CXmlDoc& operator=(CXmlDoc&&) noexcept;

    // Replaces the text, rebuilds the index and goes to the document level (before the
    // root). True when the document is well-formed: one root element and no error. The index
    // is built as far as the text allows even when the result is false.
    bool SetDoc(std::u16string text);
    // The current document text (including elements added since).
    const std::u16string& GetDoc() const { return text_; }

    // True when the last SetDoc found no error and nothing added since made a second
    // top-level element. A new document is not well-formed until its root is added.
    bool IsWellFormed() const;
    // The errors found, in the order found.
    const std::vector<XmlError>& GetErrors() const { return errors_; }
    // The parse result as text: one line per error, "<name> at <offset>", lines joined by
    // LF; empty for a well-formed document.
    std::u16string GetResult() const;

    // ---- navigation ----------------------------------------------------------------------

    // Back to the document level: parent, main and child cleared.
    void ResetPos();
    // Searches the siblings after the main element (from the first element of the current
    // level when there is none) for the next element named `name`; on success it becomes
    // the main element and the child is cleared. The position is unchanged on failure.
    bool FindElem(std::u16string_view name = {});
    // The main element becomes the parent; main and child are cleared. False when there is
    // no main element.
    bool IntoElem();
    // The reverse of IntoElem: the parent becomes the main element again and the former
    // main element the child. False at the document level.
    bool OutOfElem();
    // When there is no main element, first makes the first element of the current level the
    // main element (false if there is none); then searches the main element's children after
    // the current child for the next one named `name`, which becomes the child element.
    bool FindChildElem(std::u16string_view name = {});

    // Tag names of the main and child element; empty when there is none.
    std::u16string GetTagName() const;
    std::u16string GetChildTagName() const;

    // Element text of the main / child element: for an element without child elements its
    // content with references decoded and CDATA sections taken as they are (comments and
    // processing instructions left out); an empty text for an element with child elements
    // or when there is no such element.
    std::u16string GetData() const;
    std::u16string GetChildData() const;
    // The same texts read into `out`: its former contents are replaced and its storage is
    // reused, so a loop reading many elements into one string allocates only when a text is
    // longer than every one before it.
    void ReadData(std::u16string& out) const;
    void ReadChildData(std::u16string& out) const;

    // Path lookup: `path` is a list of element names separated by backslashes starting at
    // the document level ("sealinfo\\version"). Each name but the last goes into the first
    // element of that name; the result is the text of the index-th element named by the
    // last component at that level, or an empty text. The position is left as it was.
    std::u16string GetDataByPath(std::u16string_view path, size_t index = 0) const;

    // ---- building ------------------------------------------------------------------------

    // Adds an element after the main element, or when there is none after the last element
    // of the current level (at the top level: at the end of the document); it becomes the
    // main element. With text: start tag, the text with '&', '<', '>' escaped, end tag;
    // without: "<name/>". Each new element is followed by CR LF; an empty-element parent is
    // opened into a start tag, CR LF, the new element, and its end tag. False (nothing
    // changed) when `name` is not a valid element name.
    bool AddElem(std::u16string_view name, std::u16string_view text = {});

    // ---- index facts (for measurements) --------------------------------------------------

    // Number of element records in use, the document record included.
    size_t IndexedElements() const;
    // Bytes held by the element index.
    size_t IndexBytes() const;

    class Index;  // the element index (defined in the implementation)

  private:
    uint32_t FindSibling(uint32_t after, uint32_t parent, std::u16string_view name) const;
    std::u16string ElementText(uint32_t pos) const;
    void ReadElementText(uint32_t pos, std::u16string& out) const;
    std::u16string_view ElementName(uint32_t pos) const;
    bool NameIs(uint32_t pos, std::u16string_view name) const;
    void Shift(uint32_t at, int64_t delta);

    std::u16string text_;
    std::unique_ptr<Index> index_;
    std::vector<XmlError> errors_;
    uint32_t parent_ = 0;
    uint32_t main_ = 0;
    uint32_t child_ = 0;
};
