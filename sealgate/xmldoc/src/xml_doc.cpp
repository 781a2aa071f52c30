#include "xml_doc.h"

#include <algorithm>
#include <new>
#include <unordered_map>
#include <utility>

#include "html_entities.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// ---- the element index --------------------------------------------------------------------
//
// Records live in blocks of 65536. Every block but the last is full, so a position
// (block << 16 | slot) is simply the record's sequence number; position 0 is the document.

namespace {

constexpr uint32_t kBlockBits = 16;
constexpr uint32_t kBlockSize = 1u << kBlockBits;
constexpr uint32_t kSlotMask = kBlockSize - 1;
constexpr uint64_t kMaxText = 0xFFFFFFFEu;  // offsets and lengths are 32-bit

constexpr uint32_t kEmptyTag = 1;   // written as an empty-element tag "<name/>"
constexpr uint32_t kIllFormed = 2;  // the tag had a syntax error, or the element was never closed
// The content may hold a reference, CDATA, a comment or a processing instruction: its text is
// decoded when read. Without it (and without kIllFormed) the text of an element without
// children is its content as it stands; a stray '<' reads as itself either way.
constexpr uint32_t kDecode = 4;

struct ElemRecord {
    uint32_t start;      // offset of the '<' of the start tag
    uint32_t length;     // start tag to end tag inclusive
    uint32_t start_tag;  // length of the start tag
    uint32_t end_tag;    // length of the end tag; 0 for empty-element tags and unclosed ones
    uint32_t flags;
    uint32_t parent;
    uint32_t first_child;
    uint32_t next;
};

}  // namespace

class CXmlDoc::Index {
  public:
    // Drops every record but the document's and reserves room for `reserve` records.
    void Reset(size_t reserve) {
        blocks_.clear();
        capacity_ = 0;
        last_size_ = 0;
        count_ = 0;
        GrowTo(std::max<size_t>(reserve, 1));
        Add();
    }

    // A new zeroed record; grows the index by half when it is full.
    uint32_t Add() {
        if (count_ == capacity_) GrowTo(capacity_ + std::max<size_t>(capacity_ / 2, 1));
        uint32_t pos = static_cast<uint32_t>(count_++);
        (*this)[pos] = ElemRecord{};
        return pos;
    }

    ElemRecord& operator[](uint32_t pos) { return blocks_[pos >> kBlockBits][pos & kSlotMask]; }
    const ElemRecord& operator[](uint32_t pos) const {
        return blocks_[pos >> kBlockBits][pos & kSlotMask];
    }

    size_t Count() const { return count_; }
    size_t Bytes() const {
        return capacity_ * sizeof(ElemRecord) + blocks_.capacity() * sizeof(blocks_[0]);
    }

  private:
    // Fills the last block up to its full size first, then adds blocks, so that only the
    // records of one block are ever copied while growing.
    void GrowTo(size_t want) {
        while (capacity_ < want) {
            if (!blocks_.empty() && last_size_ < kBlockSize) {
                size_t size = std::min<size_t>(kBlockSize, last_size_ + (want - capacity_));
                std::unique_ptr<ElemRecord[]> block(new ElemRecord[size]);
                size_t used = count_ - ((blocks_.size() - 1) << kBlockBits);
                std::copy(blocks_.back().get(), blocks_.back().get() + used, block.get());
                blocks_.back() = std::move(block);
                capacity_ += size - last_size_;
                last_size_ = size;
            } else {
                size_t size = std::min<size_t>(kBlockSize, want - capacity_);
                blocks_.emplace_back(new ElemRecord[size]);
                capacity_ += size;
                last_size_ = size;
            }
        }
    }

    std::vector<std::unique_ptr<ElemRecord[]>> blocks_;
    size_t capacity_ = 0;   // records allocated
    size_t last_size_ = 0;  // records allocated in the last block
    size_t count_ = 0;      // records in use
};

namespace {

using Index = CXmlDoc::Index;

// ---- characters ---------------------------------------------------------------------------

enum : uint8_t { kSpace = 1, kNameStart = 2, kName = 4 };

struct CharTable {
    uint8_t c[128] = {};
    constexpr CharTable() {
        for (int i : {' ', '\t', '\r', '\n'}) c[i] = kSpace;
        for (int i = 'a'; i <= 'z'; ++i) c[i] = kNameStart | kName;
        for (int i = 'A'; i <= 'Z'; ++i) c[i] = kNameStart | kName;
        for (int i : {'_', ':'}) c[i] = kNameStart | kName;
        for (int i = '0'; i <= '9'; ++i) c[i] = kName;
        for (int i : {'-', '.'}) c[i] = kName;
    }
};
constexpr CharTable kChars;

// Every code unit beyond ASCII is taken as a name character: names in other scripts are
// accepted without a Unicode table.
inline bool IsSpace(char16_t ch) { return ch < 128 && (kChars.c[ch] & kSpace); }
inline bool IsNameStart(char16_t ch) { return ch >= 128 || (kChars.c[ch] & kNameStart); }
inline bool IsNameChar(char16_t ch) { return ch >= 128 || (kChars.c[ch] & kName); }

// Offset of the first `ch` in s[from, n), or n.
inline uint32_t FindChar(const char16_t* s, uint32_t from, uint32_t n, char16_t ch) {
    uint32_t i = from;
#ifdef __SSE2__
    const __m128i needle = _mm_set1_epi16(static_cast<short>(ch));
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        int mask = _mm_movemask_epi8(_mm_cmpeq_epi16(v, needle));
        if (mask != 0) return i + (static_cast<uint32_t>(__builtin_ctz(mask)) >> 1);
    }
#endif
    for (; i < n; ++i)
        if (s[i] == ch) return i;
    return n;
}

// Offset of the first `a` or `b` in s[from, n), or n.
inline uint32_t FindEither(const char16_t* s, uint32_t from, uint32_t n, char16_t a, char16_t b) {
    uint32_t i = from;
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    for (; i + 8 <= n; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)));
        if (mask != 0) return i + (static_cast<uint32_t>(__builtin_ctz(mask)) >> 1);
    }
#endif
    for (; i < n; ++i)
        if (s[i] == a || s[i] == b) return i;
    return n;
}

// The same for a short stretch s[from, end) inside a longer text s[0, limit): blocks of eight
// may be read past `end` while they stay inside the text, so short stretches need no
// unit-by-unit tail.
inline uint32_t FindEitherWithin(const char16_t* s, uint32_t from, uint32_t end, uint32_t limit,
                                 char16_t a, char16_t b) {
#ifdef __SSE2__
    const __m128i va = _mm_set1_epi16(static_cast<short>(a));
    const __m128i vb = _mm_set1_epi16(static_cast<short>(b));
    uint32_t i = from;
    for (; i < end && i + 8 <= limit; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(v, va), _mm_cmpeq_epi16(v, vb)));
        if (mask != 0) {
            uint32_t at = i + (static_cast<uint32_t>(__builtin_ctz(mask)) >> 1);
            return at < end ? at : end;
        }
    }
    if (i >= end) return end;
    return FindEither(s, i, end, a, b);
#else
    (void)limit;
    return FindEither(s, from, end, a, b);
#endif
}

// Offset of the first occurrence of the ASCII text `what` in s[from, n), or n.
template <size_t N>
uint32_t FindText(const char16_t* s, uint32_t from, uint32_t n, const char (&what)[N]) {
    constexpr uint32_t len = N - 1;
    uint32_t i = from;
    while (true) {
        i = FindChar(s, i, n, static_cast<char16_t>(what[0]));
        if (i >= n || n - i < len) return n;
        uint32_t k = 1;
        while (k < len && s[i + k] == static_cast<char16_t>(what[k])) ++k;
        if (k == len) return i;
        ++i;
    }
}

template <size_t N>
bool StartsWith(const char16_t* s, uint32_t at, uint32_t n, const char (&what)[N]) {
    constexpr uint32_t len = N - 1;
    if (n - at < len) return false;
    for (uint32_t k = 0; k < len; ++k)
        if (s[at + k] != static_cast<char16_t>(what[k])) return false;
    return true;
}

// ---- the parser ---------------------------------------------------------------------------
//
// One pass over the text with an explicit stack of open elements, so nesting depth costs
// heap, never call stack. Each construct is scanned once; recovery after an error always
// moves forward, so the whole parse is linear in the text.

class Parser {
  public:
    Parser(const char16_t* s, uint32_t n, Index& index, std::vector<XmlError>& errors)
        : s_(s), n_(n), index_(index), errors_(errors) {}

    // Every '<' and '&' outside tags is visited with the element whose content holds it on
    // top of the stack, which is marked kDecode for anything to decode there. Text skipped
    // while recovering from a broken tag is either in a child's tag, in an ill-formed element
    // or marked where it is skipped.
    void Run() {
        stack_.push_back({0, 0, 0, 0});
        uint32_t i = (n_ > 0 && s_[0] == 0xFEFF) ? 1 : 0;  // byte order mark
        while (true) {
            i = FindEither(s_, i, n_, u'<', u'&');
            if (i >= n_) break;
            if (s_[i] == u'&') {
                MarkDecode();
                ++i;
                continue;
            }
            if (i + 1 >= n_) {
                Error(XmlErrorKind::FirstTagSyntax, i);
                break;
            }
            switch (s_[i + 1]) {
                case u'/':
                    i = EndTag(i);
                    break;
                case u'?':
                    MarkDecode();
                    i = ProcessingInstruction(i);
                    break;
                case u'!':
                    MarkDecode();
                    i = Exclamation(i);
                    break;
                default:
                    i = StartTag(i);
                    break;
            }
        }
        Finish();
    }

  private:
    struct Open {
        uint32_t pos;
        uint32_t last_child;
        uint32_t name_start;
        uint32_t name_len;
    };

    void Error(XmlErrorKind kind, uint32_t offset) { errors_.push_back({kind, offset}); }
    void MarkDecode() { index_[stack_.back().pos].flags |= kDecode; }

    std::u16string_view Name(uint32_t start, uint32_t len) const {
        return std::u16string_view(s_ + start, len);
    }

    uint32_t SkipSpace(uint32_t k) const {
        while (k < n_ && IsSpace(s_[k])) ++k;
        return k;
    }
    uint32_t SkipName(uint32_t k) const {
        while (k < n_ && IsNameChar(s_[k])) ++k;
        return k;
    }

    // After a syntax error inside a tag: the tag ends after the next '>' or before the next
    // '<', whichever comes first. False (and n) when neither comes.
    bool RecoverTagEnd(uint32_t& k) const {
        for (; k < n_; ++k) {
            if (s_[k] == u'>') {
                ++k;
                return true;
            }
            if (s_[k] == u'<') return true;
        }
        return false;
    }

    uint32_t StartTag(uint32_t i) {
        uint32_t k = i + 1;
        if (!IsNameStart(s_[k])) {
            Error(XmlErrorKind::FirstTagSyntax, i);
            return i + 1;  // the '<' stays as text
        }
        uint32_t name_start = k;
        k = SkipName(k);
        uint32_t name_len = k - name_start;

        bool ok = true;
        bool empty = false;
        while (true) {
            uint32_t before = k;
            k = SkipSpace(k);
            if (k >= n_) {
                ok = false;
                break;
            }
            char16_t ch = s_[k];
            if (ch == u'>') {
                ++k;
                break;
            }
            if (ch == u'/') {
                if (k + 1 < n_ && s_[k + 1] == u'>') {
                    empty = true;
                    k += 2;
                } else {
                    ok = false;
                }
                break;
            }
            // An attribute: blank, name, '=', quoted value without '<'.
            if (k == before || !IsNameStart(ch)) {
                ok = false;
                break;
            }
            k = SkipSpace(SkipName(k));
            if (k >= n_ || s_[k] != u'=') {
                ok = false;
                break;
            }
            k = SkipSpace(k + 1);
            if (k >= n_ || (s_[k] != u'"' && s_[k] != u'\'')) {
                ok = false;
                break;
            }
            char16_t quote = s_[k++];
            k = FindEither(s_, k, n_, quote, u'<');
            if (k >= n_ || s_[k] != quote) {
                ok = false;
                break;
            }
            ++k;
        }
        if (!ok) {
            Error(XmlErrorKind::UnterminatedTagSyntax, i);
            if (!RecoverTagEnd(k)) return n_;
            empty = k >= 2 && s_[k - 1] == u'>' && s_[k - 2] == u'/';
        }

        uint32_t pos = index_.Add();
        Open& top = stack_.back();
        ElemRecord& r = index_[pos];
        r.start = i;
        r.start_tag = k - i;
        r.length = empty ? k - i : 0;
        r.flags = (empty ? kEmptyTag : 0) | (ok ? 0 : kIllFormed);
        r.parent = top.pos;
        if (top.last_child != 0)
            index_[top.last_child].next = pos;
        else
            index_[top.pos].first_child = pos;
        top.last_child = pos;
        if (top.pos == 0) {
            if (root_ != 0)
                Error(XmlErrorKind::RootHasSibling, i);
            else
                root_ = pos;
        }
        if (!empty) {
            // Filled field by field: a whole record built aside and copied in costs a stall
            // on every start tag.
            Open& open = stack_.emplace_back();
            open.pos = pos;
            open.name_start = name_start;
            open.name_len = name_len;
            if (counting_) ++open_names_[Name(name_start, name_len)];
        }
        return k;
    }

    uint32_t EndTag(uint32_t i) {
        uint32_t k = i + 2;
        // Mostly the end tag of the innermost open element: its name is compared in place
        // rather than scanned character by character first.
        const Open& top = stack_.back();
        if (stack_.size() > 1 && n_ - k > top.name_len && s_[k + top.name_len] == u'>' &&
            std::char_traits<char16_t>::compare(s_ + k, s_ + top.name_start, top.name_len) == 0) {
            k += top.name_len + 1;
            Pop(i, k, true);
            return k;
        }
        // An end tag that closes nothing stays in the content of the element on top, and a
        // reference inside it is skipped here, not visited by Run.
        MarkDecode();
        if (k >= n_ || !IsNameStart(s_[k])) {
            Error(XmlErrorKind::FirstTagSyntax, i);
            return i + 1;
        }
        uint32_t name_start = k;
        k = SkipName(k);
        uint32_t name_len = k - name_start;
        k = SkipSpace(k);
        bool ok = k < n_ && s_[k] == u'>';
        if (ok) {
            ++k;
        } else {
            Error(XmlErrorKind::UnterminatedTagSyntax, i);
            if (!RecoverTagEnd(k)) return n_;
        }
        Close(i, k, Name(name_start, name_len), ok);
        return k;
    }

    // Closes the open element that the end tag s[i, k) names. Elements opened inside it and
    // still open were never closed. Once anything has gone wrong, a count of open elements
    // by name keeps the search for a match constant-time, so that a hostile run of
    // mismatched end tags stays linear.
    void Close(uint32_t i, uint32_t k, std::u16string_view name, bool ok) {
        if (stack_.size() > 1 && TopName() == name) {
            Pop(i, k, ok);
            return;
        }
        if (!counting_) {
            counting_ = true;
            for (size_t d = 1; d < stack_.size(); ++d)
                ++open_names_[Name(stack_[d].name_start, stack_[d].name_len)];
        }
        auto it = open_names_.find(name);
        if (it == open_names_.end() || it->second == 0) {
            Error(XmlErrorKind::LoneEndTag, i);
            return;
        }
        while (TopName() != name) Unended(i);
        Pop(i, k, ok);
    }

    std::u16string_view TopName() const {
        return Name(stack_.back().name_start, stack_.back().name_len);
    }

    void Pop(uint32_t i, uint32_t k, bool ok) {
        ElemRecord& r = index_[stack_.back().pos];
        r.length = k - r.start;
        r.end_tag = k - i;
        if (!ok) r.flags |= kIllFormed;
        Drop();
    }

    // The innermost open element ends at `end` without an end tag.
    void Unended(uint32_t end) {
        ElemRecord& r = index_[stack_.back().pos];
        Error(XmlErrorKind::UnendedStartTag, r.start);
        r.length = end - r.start;
        r.end_tag = 0;
        r.flags |= kIllFormed;
        Drop();
    }

    void Drop() {
        if (counting_) --open_names_[TopName()];
        stack_.pop_back();
    }

    uint32_t ProcessingInstruction(uint32_t i) {
        uint32_t k = i + 2;
        if (k >= n_ || !IsNameStart(s_[k])) {
            Error(XmlErrorKind::FirstTagSyntax, i);
            return i + 1;
        }
        uint32_t end = FindText(s_, k, n_, "?>");
        if (end >= n_) {
            Error(XmlErrorKind::UnterminatedTagSyntax, i);
            return n_;
        }
        return end + 2;
    }

    uint32_t Exclamation(uint32_t i) {
        if (StartsWith(s_, i, n_, "<!--")) return Comment(i);
        if (StartsWith(s_, i, n_, "<![CDATA[")) {
            uint32_t end = FindText(s_, i + 9, n_, "]]>");
            if (end >= n_) {
                Error(XmlErrorKind::CdataSectionSyntax, i);
                return n_;
            }
            if (stack_.size() == 1) Error(XmlErrorKind::CdataSectionSyntax, i);
            return end + 3;
        }
        if (StartsWith(s_, i, n_, "<!DOCTYPE")) return Doctype(i);
        Error(XmlErrorKind::ExclamationTagSyntax, i);
        return i + 1;
    }

    // "<!--" ... "-->", with no "--" inside.
    uint32_t Comment(uint32_t i) {
        uint32_t dashes = FindText(s_, i + 4, n_, "--");
        if (dashes >= n_) {
            Error(XmlErrorKind::CommentTagSyntax, i);
            return n_;
        }
        if (dashes + 2 < n_ && s_[dashes + 2] == u'>') return dashes + 3;
        Error(XmlErrorKind::CommentTagSyntax, i);
        uint32_t end = FindText(s_, dashes, n_, "-->");
        return end >= n_ ? n_ : end + 3;
    }

    // "<!DOCTYPE" ... ">" with quoted literals and an internal subset in brackets, whose
    // comments and processing instructions may hold any character.
    uint32_t Doctype(uint32_t i) {
        if (doctype_seen_ || root_ != 0 || stack_.size() > 1)
            Error(XmlErrorKind::DoctypeTagSyntax, i);
        doctype_seen_ = true;
        uint32_t k = i + 9;
        if (k >= n_ || !IsSpace(s_[k])) {
            Error(XmlErrorKind::DoctypeTagSyntax, i);
            RecoverTagEnd(k);
            return k;
        }
        bool subset = false;
        while (k < n_) {
            char16_t ch = s_[k];
            if (ch == u'"' || ch == u'\'') {
                uint32_t close = FindChar(s_, k + 1, n_, ch);
                if (close >= n_) break;
                k = close + 1;
            } else if (!subset) {
                if (ch == u'>') return k + 1;
                if (ch == u'[') subset = true;
                ++k;
            } else if (ch == u']') {
                subset = false;
                ++k;
            } else if (ch == u'<' && StartsWith(s_, k, n_, "<!--")) {
                uint32_t end = FindText(s_, k + 4, n_, "-->");
                if (end >= n_) break;
                k = end + 3;
            } else if (ch == u'<' && StartsWith(s_, k, n_, "<?")) {
                uint32_t end = FindText(s_, k + 2, n_, "?>");
                if (end >= n_) break;
                k = end + 2;
            } else {
                ++k;
            }
        }
        Error(XmlErrorKind::DoctypeTagSyntax, i);
        return n_;
    }

    void Finish() {
        while (stack_.size() > 1) Unended(n_);
        if (root_ == 0) Error(XmlErrorKind::NoRootElement, 0);
        index_[0].length = n_;
    }

    const char16_t* s_;
    uint32_t n_;
    Index& index_;
    std::vector<XmlError>& errors_;
    std::vector<Open> stack_;
    uint32_t root_ = 0;
    bool doctype_seen_ = false;
    bool counting_ = false;
    std::unordered_map<std::u16string_view, uint32_t> open_names_;
};

// ---- element text -------------------------------------------------------------------------

bool IsXmlChar(uint32_t c) {
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
           (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

void AppendCodePoint(std::u16string& out, uint32_t c) {
    if (c < 0x10000) {
        out.push_back(static_cast<char16_t>(c));
    } else {
        c -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
    }
}

int HexValue(char16_t ch) {
    if (ch >= u'0' && ch <= u'9') return ch - u'0';
    if (ch >= u'a' && ch <= u'f') return ch - u'a' + 10;
    if (ch >= u'A' && ch <= u'F') return ch - u'A' + 10;
    return -1;
}

// Decodes the reference at s[k] == '&' into `out` and returns the offset after it. A
// reference that is malformed, unknown or names no allowed character stays as written: the
// '&' is copied and the rest follows as ordinary text.
uint32_t DecodeReference(const char16_t* s, uint32_t k, uint32_t end, std::u16string& out) {
    uint32_t p = k + 1;
    if (p < end && s[p] == u'#') {
        ++p;
        bool hex = p < end && s[p] == u'x';
        if (hex) ++p;
        uint32_t digits_start = p;
        uint32_t value = 0;
        bool too_big = false;
        for (; p < end; ++p) {
            int d = hex ? HexValue(s[p]) : (s[p] >= u'0' && s[p] <= u'9' ? s[p] - u'0' : -1);
            if (d < 0) break;
            value = value * (hex ? 16 : 10) + static_cast<uint32_t>(d);
            if (value > 0x10FFFF) {
                too_big = true;
                value = 0x110000;  // keeps consuming digits without overflowing
            }
        }
        if (p > digits_start && p < end && s[p] == u';' && !too_big && IsXmlChar(value)) {
            AppendCodePoint(out, value);
            return p + 1;
        }
    } else {
        // The longest known name has 8 letters; look no further than that.
        constexpr uint32_t kLongestName = 8;
        while (p < end && p - (k + 1) <= kLongestName &&
               ((s[p] >= u'a' && s[p] <= u'z') || (s[p] >= u'A' && s[p] <= u'Z') ||
                (s[p] >= u'0' && s[p] <= u'9')))
            ++p;
        char16_t ch;
        if (p > k + 1 && p < end && s[p] == u';' &&
            xmldoc::LookupNamedEntity(std::u16string_view(s + k + 1, p - (k + 1)), ch)) {
            out.push_back(ch);
            return p + 1;
        }
    }
    out.push_back(u'&');
    return k + 1;
}

// Content s[b, e) of an element without child elements, as its text, into `out` (its former
// contents replaced, its storage reused); the document's text is s[0, limit).
void DecodeContent(const char16_t* s, uint32_t b, uint32_t e, uint32_t limit, std::u16string& out) {
    out.clear();
    out.reserve(e - b);
    uint32_t k = b;
    while (k < e) {
        const uint32_t run = FindEitherWithin(s, k, e, limit, u'&', u'<');
        out.append(s + k, run - k);
        k = run;
        if (k >= e) break;
        if (s[k] == u'&') {
            k = DecodeReference(s, k, e, out);
        } else if (StartsWith(s, k, e, "<![CDATA[")) {
            uint32_t close = FindText(s, k + 9, e, "]]>");
            out.append(s + k + 9, close - (k + 9));
            k = close >= e ? e : close + 3;
        } else if (StartsWith(s, k, e, "<!--")) {
            uint32_t close = FindText(s, k + 4, e, "-->");
            k = close >= e ? e : close + 3;
        } else if (StartsWith(s, k, e, "<?")) {
            uint32_t close = FindText(s, k + 2, e, "?>");
            k = close >= e ? e : close + 2;
        } else {
            out.push_back(u'<');  // a stray '<' of an ill-formed document
            ++k;
        }
    }
}

bool IsValidName(std::u16string_view name) {
    if (name.empty() || !IsNameStart(name[0])) return false;
    return std::all_of(name.begin() + 1, name.end(), IsNameChar);
}

}  // namespace

// ---- CXmlDoc ------------------------------------------------------------------------------

const char* XmlErrorName(XmlErrorKind kind) {
    switch (kind) {
        case XmlErrorKind::UnterminatedTagSyntax:
            return "unterminated_tag_syntax";
        case XmlErrorKind::FirstTagSyntax:
            return "first_tag_syntax";
        case XmlErrorKind::DoctypeTagSyntax:
            return "doctype_tag_syntax";
        case XmlErrorKind::ExclamationTagSyntax:
            return "exclamation_tag_syntax";
        case XmlErrorKind::CommentTagSyntax:
            return "comment_tag_syntax";
        case XmlErrorKind::CdataSectionSyntax:
            return "cdata_section_syntax";
        case XmlErrorKind::LoneEndTag:
            return "lone_end_tag";
        case XmlErrorKind::UnendedStartTag:
            return "unended_start_tag";
        case XmlErrorKind::RootHasSibling:
            return "root_has_sibling";
        case XmlErrorKind::NoRootElement:
            return "no_root_element";
        case XmlErrorKind::DocumentTooLarge:
            return "document_too_large";
    }
    return "unknown";
}

CXmlDoc::CXmlDoc() : index_(new Index) {
    index_->Reset(8);
    errors_.push_back({XmlErrorKind::NoRootElement, 0});
}

CXmlDoc::~CXmlDoc() = default;
CXmlDoc::CXmlDoc(CXmlDoc&&) noexcept = default;
CXmlDoc& CXmlDoc::operator=(CXmlDoc&&) noexcept = default;

bool CXmlDoc::SetDoc(std::u16string text) {
    text_ = std::move(text);
    errors_.clear();
    ResetPos();
    try {
        if (text_.size() > kMaxText) {
            index_->Reset(8);
            errors_.push_back({XmlErrorKind::DocumentTooLarge, 0});
            return false;
        }
        // About one element per 40 characters, as in typical documents: room for most
        // without growing (which copies the records made so far).
        index_->Reset(text_.size() / 40 + 8);
        Parser(text_.data(), static_cast<uint32_t>(text_.size()), *index_, errors_).Run();
    } catch (const std::bad_alloc&) {
        // Out of memory on a huge text: an empty index and a false result, never a throw.
        index_->Reset(8);
        errors_.clear();
        errors_.shrink_to_fit();
        errors_.push_back({XmlErrorKind::DocumentTooLarge, 0});
        return false;
    }
    return errors_.empty();
}

bool CXmlDoc::IsWellFormed() const { return errors_.empty(); }

std::u16string CXmlDoc::GetResult() const {
    std::u16string out;
    for (const XmlError& e : errors_) {
        if (!out.empty()) out += u'\n';
        for (const char* p = XmlErrorName(e.kind); *p; ++p) out += static_cast<char16_t>(*p);
        out += u" at ";
        std::string offset = std::to_string(e.offset);
        out.append(offset.begin(), offset.end());
    }
    return out;
}

void CXmlDoc::ResetPos() { parent_ = main_ = child_ = 0; }

std::u16string_view CXmlDoc::ElementName(uint32_t pos) const {
    if (pos == 0) return {};
    const ElemRecord& r = (*index_)[pos];
    uint32_t b = r.start + 1, e = b;
    uint32_t limit = r.start + r.start_tag;
    while (e < limit && IsNameChar(text_[e])) ++e;
    return std::u16string_view(text_.data() + b, e - b);
}

// ElementName(pos) == name, compared in place: the name's characters match and the tag's
// name ends after them.
bool CXmlDoc::NameIs(uint32_t pos, std::u16string_view name) const {
    const ElemRecord& r = (*index_)[pos];
    const uint32_t b = r.start + 1, limit = r.start + r.start_tag;
    if (limit - b < name.size()) return false;
    const char16_t* s = text_.data() + b;
    for (size_t k = 0; k < name.size(); ++k)
        if (s[k] != name[k] || !IsNameChar(name[k])) return false;
    const uint32_t after = b + static_cast<uint32_t>(name.size());
    return after == limit || !IsNameChar(text_[after]);
}

uint32_t CXmlDoc::FindSibling(uint32_t after, uint32_t parent, std::u16string_view name) const {
    const Index& index = *index_;
    uint32_t pos = after != 0 ? index[after].next : index[parent].first_child;
    if (name.empty()) return pos;
    for (; pos != 0; pos = index[pos].next)
        if (NameIs(pos, name)) return pos;
    return 0;
}

bool CXmlDoc::FindElem(std::u16string_view name) {
    uint32_t pos = FindSibling(main_, parent_, name);
    if (pos == 0) return false;
    main_ = pos;
    child_ = 0;
    return true;
}

bool CXmlDoc::IntoElem() {
    if (main_ == 0) return false;
    parent_ = main_;
    main_ = child_ = 0;
    return true;
}

bool CXmlDoc::OutOfElem() {
    if (parent_ == 0) return false;
    child_ = main_;
    main_ = parent_;
    parent_ = (*index_)[parent_].parent;
    return true;
}

bool CXmlDoc::FindChildElem(std::u16string_view name) {
    if (main_ == 0) {
        uint32_t first = FindSibling(0, parent_, {});
        if (first == 0) return false;
        main_ = first;
        child_ = 0;
    }
    uint32_t pos = FindSibling(child_, main_, name);
    if (pos == 0) return false;
    child_ = pos;
    return true;
}

std::u16string CXmlDoc::GetTagName() const { return std::u16string(ElementName(main_)); }
std::u16string CXmlDoc::GetChildTagName() const { return std::u16string(ElementName(child_)); }

void CXmlDoc::ReadElementText(uint32_t pos, std::u16string& out) const {
    out.clear();
    if (pos == 0) return;
    const ElemRecord& r = (*index_)[pos];
    if (r.first_child != 0 || (r.flags & kEmptyTag)) return;
    uint32_t b = r.start + r.start_tag;
    uint32_t e = r.start + r.length - r.end_tag;
    if (e <= b) return;
    if (r.flags & (kDecode | kIllFormed))
        DecodeContent(text_.data(), b, e, static_cast<uint32_t>(text_.size()), out);
    else
        out.assign(text_.data() + b, e - b);
}

std::u16string CXmlDoc::ElementText(uint32_t pos) const {
    std::u16string text;
    ReadElementText(pos, text);
    return text;
}

std::u16string CXmlDoc::GetData() const { return ElementText(main_); }
std::u16string CXmlDoc::GetChildData() const { return ElementText(child_); }
void CXmlDoc::ReadData(std::u16string& out) const { ReadElementText(main_, out); }
void CXmlDoc::ReadChildData(std::u16string& out) const { ReadElementText(child_, out); }

std::u16string CXmlDoc::GetDataByPath(std::u16string_view path, size_t index) const {
    // Walks the index directly; the cursor is never moved, which leaves it as it was.
    uint32_t level = 0;
    while (true) {
        size_t sep = path.find(u'\\');
        std::u16string_view name = path.substr(0, sep);
        if (name.empty()) return {};
        if (sep == std::u16string_view::npos) {
            size_t seen = 0;
            for (uint32_t pos = FindSibling(0, level, name); pos != 0;
                 pos = FindSibling(pos, level, name)) {
                if (seen++ == index) return ElementText(pos);
            }
            return {};
        }
        level = FindSibling(0, level, name);
        if (level == 0) return {};
        path.remove_prefix(sep + 1);
    }
}

// Moves every element that starts at or after `at` by `delta` code units.
void CXmlDoc::Shift(uint32_t at, int64_t delta) {
    Index& index = *index_;
    const uint32_t count = static_cast<uint32_t>(index.Count());
    for (uint32_t pos = 1; pos < count; ++pos) {
        ElemRecord& r = index[pos];
        if (r.start >= at) r.start = static_cast<uint32_t>(r.start + delta);
    }
}

bool CXmlDoc::AddElem(std::u16string_view name, std::u16string_view text) {
    if (!IsValidName(name)) return false;
    Index& index = *index_;

    std::u16string elem;
    elem.reserve(2 * name.size() + text.size() + 8);
    elem += u'<';
    elem += name;
    uint32_t start_tag, end_tag;
    if (text.empty()) {
        elem += u"/>";
        start_tag = static_cast<uint32_t>(elem.size());
        end_tag = 0;
    } else {
        elem += u'>';
        start_tag = static_cast<uint32_t>(elem.size());
        for (char16_t ch : text) {
            switch (ch) {
                case u'&':
                    elem += u"&amp;";
                    break;
                case u'<':
                    elem += u"&lt;";
                    break;
                case u'>':
                    elem += u"&gt;";
                    break;
                default:
                    elem += ch;
                    break;
            }
        }
        elem += u"</";
        elem += name;
        elem += u'>';
        end_tag = static_cast<uint32_t>(name.size() + 3);
    }
    const uint32_t elem_len = static_cast<uint32_t>(elem.size());
    elem += u"\r\n";

    auto after_line_end = [this](uint32_t p) {
        if (p + 1 < text_.size() && text_[p] == u'\r' && text_[p + 1] == u'\n') return p + 2;
        if (p < text_.size() && text_[p] == u'\n') return p + 1;
        return p;
    };
    auto end_of = [&index](uint32_t pos) { return index[pos].start + index[pos].length; };

    const uint32_t parent = parent_;
    uint32_t prev = main_;
    if (prev == 0)
        for (uint32_t pos = index[parent].first_child; pos != 0; pos = index[pos].next) prev = pos;

    // The text to insert, where, and where the new element starts within it.
    std::u16string insert;
    uint32_t at = 0;
    uint32_t lead = 0;
    bool open_parent = false;
    if (main_ != 0) {
        at = after_line_end(end_of(main_));
    } else if (parent == 0) {
        at = static_cast<uint32_t>(text_.size());
    } else if (prev != 0) {
        at = after_line_end(end_of(prev));
    } else if (index[parent].flags & kEmptyTag) {
        open_parent = true;
    } else {
        const ElemRecord& p = index[parent];
        at = p.start + p.length - p.end_tag;
        if (at == p.start + p.start_tag) lead = 2;  // empty content: the child on its own line
    }

    std::u16string parent_end;
    if (open_parent) {
        parent_end = u"</";
        parent_end += ElementName(parent);
        parent_end += u'>';
        lead = 2;
    }
    uint64_t growth = lead + elem.size() + parent_end.size();
    if (text_.size() + growth > kMaxText) return false;
    insert.reserve(static_cast<size_t>(growth));
    text_.reserve(text_.size() + static_cast<size_t>(growth));
    if (lead != 0) insert += u"\r\n";
    insert += elem;
    insert += parent_end;

    // Make room in the index before touching the text, so that running out of memory leaves
    // the document as it was.
    uint32_t pos = index.Add();

    if (open_parent) {
        // "<p/>" becomes "<p>": drop the slash, then the new content goes after the tag.
        ElemRecord& p = index[parent];
        uint32_t slash = p.start + p.start_tag - 2;
        text_.erase(slash, 1);
        Shift(slash + 1, -1);
        for (uint32_t a = parent; a != 0; a = index[a].parent) index[a].length -= 1;
        p.start_tag -= 1;
        p.flags &= ~kEmptyTag;
        at = p.start + p.length;
    }

    text_.insert(at, insert);
    Shift(at, static_cast<int64_t>(insert.size()));
    for (uint32_t a = parent; a != 0; a = index[a].parent)
        index[a].length += static_cast<uint32_t>(insert.size());
    if (open_parent) index[parent].end_tag = static_cast<uint32_t>(parent_end.size());
    index[0].length = static_cast<uint32_t>(text_.size());

    ElemRecord& r = index[pos];
    r.start = at + lead;
    r.length = elem_len;
    r.start_tag = start_tag;
    r.end_tag = end_tag;
    // The escaped text holds references exactly when the text held one of the three.
    r.flags = text.empty() ? kEmptyTag : 0;
    if (text.find_first_of(u"&<>") != std::u16string_view::npos) r.flags |= kDecode;
    r.parent = parent;
    r.next = prev != 0 ? index[prev].next : 0;
    if (prev != 0)
        index[prev].next = pos;
    else
        index[parent].first_child = pos;

    if (parent == 0) {
        if (prev != 0) {
            errors_.push_back({XmlErrorKind::RootHasSibling, r.start});
        } else {
            // The document now has its root.
            errors_.erase(std::remove_if(errors_.begin(), errors_.end(),
                                         [](const XmlError& e) {
                                             return e.kind == XmlErrorKind::NoRootElement;
                                         }),
                          errors_.end());
        }
    }
    main_ = pos;
    child_ = 0;
    return true;
}

size_t CXmlDoc::IndexedElements() const { return index_->Count(); }
size_t CXmlDoc::IndexBytes() const { return index_->Bytes(); }
