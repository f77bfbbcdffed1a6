#include "platform/foundation/xml/XmlMarkupScan_p.h"

#include <QtAlgorithms>
#include <QtEndian>

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Tickerly::Foundation {

namespace {

template <int Width> struct UnitsOf : XmlUnits {
    explicit UnitsOf(const XmlUnits& units)
        : XmlUnits(units)
    {
    }
    char16_t operator[](qsizetype i) const { return unit<Width>(i); }
    bool startsWith(qsizetype at, const char* ascii) const
    {
        return XmlUnits::startsWith<Width>(at, ascii);
    }
};

struct Markup {
    qsizetype oversizedStartTag = -1;
    qsizetype cdataUnits = 0;
    qsizetype resumeAt = 0; // see XmlMarkup
};

// 64 bytes of a document, in which bit k of a mask stands for byte k.
class Block {
public:
    explicit Block(const uchar* p)
    {
#if defined(__SSE2__)
        for (int k = 0; k < 4; ++k)
            m_parts[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
#else
        for (int k = 0; k < 8; ++k) {
            std::memcpy(&m_parts[k], p + 8 * k, sizeof m_parts[k]);
            if constexpr (Q_BYTE_ORDER == Q_BIG_ENDIAN)
                m_parts[k] = qbswap(m_parts[k]);
        }
#endif
    }

    // Where the bytes equal to `c` are.
    Q_ALWAYS_INLINE quint64 equalTo(char c) const
    {
#if defined(__SSE2__)
        const __m128i pattern = _mm_set1_epi8(c);
        const auto bits = [&](int k) {
            return quint64(uint(_mm_movemask_epi8(_mm_cmpeq_epi8(m_parts[k], pattern))))
                << (16 * k);
        };
        return bits(0) | bits(1) | bits(2) | bits(3);
#else
        // A byte equal to `c` is a zero byte of the word xor-ed with it, flagged exactly in its
        // top bit, and the eight flags are gathered by one multiplication.
        const quint64 low7 = 0x7F7F7F7F7F7F7F7FULL;
        quint64 mask = 0;
        for (int k = 0; k < 8; ++k) {
            const quint64 x = m_parts[k] ^ (0x0101010101010101ULL * uchar(c));
            const quint64 zero = ~(((x & low7) + low7) | x | low7);
            mask |= (((zero >> 7) * 0x0102040810204080ULL) >> 56) << (8 * k);
        }
        return mask;
#endif
    }

    // Whether any byte is one of `cs`.
    template <typename... Chars> Q_ALWAYS_INLINE bool holdsAnyOf(Chars... cs) const
    {
#if defined(__SSE2__)
        __m128i any = _mm_setzero_si128();
        for (const __m128i& part : m_parts)
            any = _mm_or_si128(any, (_mm_cmpeq_epi8(part, _mm_set1_epi8(cs)) | ...));
        return _mm_movemask_epi8(any) != 0;
#else
        return (equalTo(cs) | ...) != 0;
#endif
    }

private:
#if defined(__SSE2__)
    __m128i m_parts[4];
#else
    quint64 m_parts[8];
#endif
};

// Where in 64 bytes the characters of start tags are.
struct TagBytes {
    quint64 open; // '<'
    quint64 close; // '>'
    quint64 doubleQuote;
    quint64 singleQuote;
};

TagBytes tagBytesOf(const Block& block)
{
    return { block.equalTo('<'), block.equalTo('>'), block.equalTo('"'), block.equalTo('\'') };
}

// The highest set bit of a mask that has one.
int highestBit(quint64 mask) { return 63 - qCountLeadingZeroBits(mask); }

// The bits of `mask` from bit `from` up.
quint64 bitsFrom(quint64 mask, int from) { return from >= 64 ? 0 : mask & (~quint64(0) << from); }

// One pass, constant work per unit. Comments, CDATA sections, processing instructions and the
// DOCTYPE (with its internal subset and quoted literals) are stepped over, so a '<' or quote
// inside them is not taken for markup. The scan ends at an oversized start tag.
template <int Width> class MarkupScan {
public:
    explicit MarkupScan(const UnitsOf<Width>& units)
        : u(units)
        , maxTagUnits(xmlMaxStartTagBytes / units.width)
    {
    }

    Markup run(bool byBlocks);

private:
    // Skipping runs to the end of a comment, CDATA section or instruction, then resumes.
    enum class State { Text, StartTag, Skipping, Doctype, Subset, SubsetDeclaration };

    void skip(const char* end, State then)
    {
        state = State::Skipping;
        skipTo = end;
        resume = then;
    }

    void openStartTag(qsizetype at)
    {
        markupStart = at;
        state = State::StartTag;
        quote = 0;
        tagStart = at;
        attributes = 0;
    }

    qsizetype nextByte(qsizetype from, char byte) const;
    qsizetype stepOver(qsizetype i, bool byBlocks);
    qsizetype byBlock(qsizetype i);
    bool plainBlock(qsizetype i, const Block& block);
    int markedBlock(qsizetype i, const Block& block);
    qsizetype inText(qsizetype i);
    bool inStartTag(qsizetype i, char16_t c);
    qsizetype inSkipped(qsizetype i);
    void inDeclaration(char16_t c);
    qsizetype inSubset(qsizetype i, char16_t c);

    const UnitsOf<Width>& u;
    const qsizetype maxTagUnits;
    Markup markup;
    qsizetype cdataStart = -1;
    State state = State::Text;
    const char* skipTo = "";
    State resume = State::Text;
    char16_t quote = 0;
    qsizetype tagStart = 0;
    qsizetype attributes = 0;
    // The '<' at which the scan last left plain text.
    qsizetype markupStart = 0;
};

template <int Width> Markup MarkupScan<Width>::run(bool byBlocks)
{
    for (qsizetype i = 0; i < u.size; ++i) {
        if constexpr (Width == 1) {
            i = stepOver(i, byBlocks);
            if (i < 0) {
                markup.oversizedStartTag = tagStart;
                return markup;
            }
            if (i == u.size)
                break;
        }
        const char16_t c = u[i];
        switch (state) {
        case State::Text:
            if (c == u'<')
                i = inText(i);
            break;
        case State::StartTag:
            if (!inStartTag(i, c)) {
                markup.oversizedStartTag = tagStart * u.width;
                return markup;
            }
            break;
        case State::Skipping:
            i = inSkipped(i);
            break;
        case State::Doctype:
        case State::SubsetDeclaration:
            inDeclaration(c);
            break;
        case State::Subset:
            i = inSubset(i, c);
            break;
        }
    }
    markup.resumeAt = state == State::Text ? u.size : markupStart;
    return markup;
}

// In single-byte documents, runs that cannot change the state are stepped over at once.
// Most runs between two pieces of markup are a few bytes long, found sooner by looking
// than by a library call.
template <int Width>
Q_ALWAYS_INLINE qsizetype MarkupScan<Width>::nextByte(qsizetype from, char byte) const
{
    // Eight bytes at a time: a byte equal to `byte` is a zero byte of the word xor-ed with it.
    const quint64 ones = 0x0101010101010101ULL;
    const quint64 pattern = ones * uchar(byte);
    qsizetype i = from;
    for (const qsizetype near = std::min(u.size, from + 32); i + 8 <= near; i += 8) {
        quint64 word;
        std::memcpy(&word, u.data + i, sizeof word);
        word ^= pattern;
        if (const quint64 zero = (word - ones) & ~word & (ones << 7)) {
            // The lowest flagged byte is exact; only bytes above a match can be flagged falsely.
            if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
                return i + qCountTrailingZeroBits(zero) / 8;
            break;
        }
    }
    const void* at = std::memchr(u.data + i, byte, size_t(u.size - i));
    return at ? static_cast<const uchar*>(at) - u.data : u.size;
}

// Where the unit after `i` that can change the state is, -1 at an oversized start tag.
template <int Width>
Q_ALWAYS_INLINE qsizetype MarkupScan<Width>::stepOver(qsizetype i, bool byBlocks)
{
    if (byBlocks && (state == State::Text || state == State::StartTag)) {
        i = byBlock(i);
        if (i < 0)
            return -1;
    }
    if (state == State::Text)
        i = nextByte(i, '<');
    else if (state == State::StartTag && quote)
        i = std::min(nextByte(i, char(quote)), tagStart + maxTagUnits + 1);
    else if (state == State::StartTag)
        for (const qsizetype bound = std::min(u.size, tagStart + maxTagUnits + 1);
             i < bound && u.data[i] != '"' && u.data[i] != '\'' && u.data[i] != '>'; ++i) { }
    else if (state == State::Skipping)
        i = nextByte(i, *skipTo);
    return i;
}

// Text and start tags in single-byte documents go 64 bytes at a time: where the tag
// characters are is found for all 64 at once, and the state steps from one to the next.
// From `i` on, while there are 64 bytes ahead; returns where the unit-by-unit loop takes
// over, at the latest at the first comment, CDATA section, instruction or declaration, or
// -1 at an oversized start tag.
template <int Width> qsizetype MarkupScan<Width>::byBlock(qsizetype i)
{
    for (; i + 64 <= u.size; i += 64) {
        const Block block(u.data + i);
        if (!quote && !block.holdsAnyOf('"', '\'', '!', '?')
            && (i + 64 == u.size || (u.data[i + 64] != '!' && u.data[i + 64] != '?'))) {
            if (!plainBlock(i, block))
                return -1;
        } else {
            const int stop = markedBlock(i, block);
            if (stop < 0)
                return -1;
            if (stop < 64)
                return i + stop;
        }
        // A start tag still open takes in the rest of the block.
        if (state == State::StartTag && i + 63 - tagStart > maxTagUnits)
            return -1;
    }
    return i;
}

// Most blocks hold no quote and no comment, section, instruction or declaration: every '>'
// then leaves the state Text, and the first start tag opened after the last '>' is left open.
// False at an oversized start tag.
template <int Width>
Q_ALWAYS_INLINE bool MarkupScan<Width>::plainBlock(qsizetype i, const Block& block)
{
    const quint64 close = block.equalTo('>');
    if (close) {
        if (state == State::StartTag && i + qCountTrailingZeroBits(close) - tagStart > maxTagUnits)
            return false;
        state = State::Text;
    }
    for (quint64 open = bitsFrom(block.equalTo('<'), close ? highestBit(close) + 1 : 0);
         state == State::Text && open; open &= open - 1) {
        const qsizetype tag = i + qCountTrailingZeroBits(open);
        if (tag + 1 == u.size || u.data[tag + 1] != '/')
            openStartTag(tag);
    }
    return true;
}

// The state steps from one tag character of the block to the next. Returns -1 at an oversized
// start tag, the offset of a comment, section, instruction or declaration, where the unit loop
// takes over, or 64 when the block is done.
template <int Width> int MarkupScan<Width>::markedBlock(qsizetype i, const Block& block)
{
    const TagBytes b = tagBytesOf(block);
    int at = 0;
    for (;;) {
        if (state == State::Text) {
            const quint64 open = bitsFrom(b.open, at);
            if (!open)
                return 64;
            const int tag = qCountTrailingZeroBits(open);
            const qsizetype next = i + tag + 1 < u.size ? u.data[i + tag + 1] : 0;
            if (next == '!' || next == '?')
                return tag;
            at = tag + 1;
            if (next != '/')
                openStartTag(i + tag);
        } else if (quote) {
            const quint64 end = bitsFrom(quote == u'"' ? b.doubleQuote : b.singleQuote, at);
            if (!end)
                return 64;
            at = qCountTrailingZeroBits(end);
            if (i + at - tagStart > maxTagUnits)
                return -1;
            quote = 0;
            ++at;
        } else {
            const quint64 mark = bitsFrom(b.close | b.doubleQuote | b.singleQuote, at);
            if (!mark)
                return 64;
            at = qCountTrailingZeroBits(mark);
            if (i + at - tagStart > maxTagUnits)
                return -1;
            if (u.data[i + at] == '>') {
                state = State::Text;
            } else {
                // Every attribute has exactly one quoted value.
                quote = u.data[i + at];
                if (++attributes > xmlMaxAttributes)
                    return -1;
            }
            ++at;
        }
    }
}

// At a '<' in text; returns where the scan goes on from.
template <int Width> Q_ALWAYS_INLINE qsizetype MarkupScan<Width>::inText(qsizetype i)
{
    // Most markup is a start or end tag: one look at the next unit tells them.
    markupStart = i;
    switch (i + 1 < u.size ? u[i + 1] : 0) {
    case u'!':
        if (u.startsWith(i + 1, "!--")) {
            skip("-->", State::Text);
            i += 3;
        } else if (u.startsWith(i + 1, "![CDATA[")) {
            skip("]]>", State::Text);
            cdataStart = i;
            i += 8;
        } else {
            state = State::Doctype;
            quote = 0;
        }
        break;
    case u'?':
        skip("?>", State::Text);
        break;
    case u'/':
        break;
    default:
        openStartTag(i);
        break;
    }
    return i;
}

// False at an oversized start tag.
template <int Width> Q_ALWAYS_INLINE bool MarkupScan<Width>::inStartTag(qsizetype i, char16_t c)
{
    if (i - tagStart > maxTagUnits)
        return false;
    if (quote) {
        if (c == quote)
            quote = 0;
    } else if (c == u'"' || c == u'\'') {
        // Every attribute has exactly one quoted value.
        quote = c;
        if (++attributes > xmlMaxAttributes)
            return false;
    } else if (c == u'>') {
        state = State::Text;
    }
    return true;
}

template <int Width> Q_ALWAYS_INLINE qsizetype MarkupScan<Width>::inSkipped(qsizetype i)
{
    if (u.startsWith(i, skipTo)) {
        i += qsizetype(std::strlen(skipTo)) - 1;
        state = resume;
        if (cdataStart >= 0)
            markup.cdataUnits += i + 1 - cdataStart;
        cdataStart = -1;
    }
    return i;
}

template <int Width> Q_ALWAYS_INLINE void MarkupScan<Width>::inDeclaration(char16_t c)
{
    if (quote) {
        if (c == quote)
            quote = 0;
    } else if (c == u'"' || c == u'\'') {
        quote = c;
    } else if (state == State::Doctype && c == u'[') {
        state = State::Subset;
    } else if (c == u'>') {
        state = state == State::Doctype ? State::Text : State::Subset;
    }
}

template <int Width> Q_ALWAYS_INLINE qsizetype MarkupScan<Width>::inSubset(qsizetype i, char16_t c)
{
    if (c == u']') {
        state = State::Doctype;
    } else if (c == u'<') {
        quote = 0;
        if (u.startsWith(i + 1, "!--")) {
            skip("-->", State::Subset);
            i += 3;
        } else if (u.startsWith(i + 1, "?")) {
            skip("?>", State::Subset);
        } else {
            state = State::SubsetDeclaration;
        }
    }
    return i;
}

XmlMarkup scan(const QByteArray& bytes, bool byBlocks)
{
    const XmlUnits u(bytes);
    const Markup markup = u.width == 1 ? MarkupScan<1>(UnitsOf<1>(u)).run(byBlocks)
                                       : MarkupScan<2>(UnitsOf<2>(u)).run(byBlocks);
    return { markup.oversizedStartTag, markup.cdataUnits * u.width, markup.resumeAt * u.width };
}

} // namespace

XmlMarkup scanXmlMarkup(const QByteArray& bytes) { return scan(bytes, true); }

XmlMarkup scanXmlMarkupUnitByUnit(const QByteArray& bytes) { return scan(bytes, false); }

} // namespace Tickerly::Foundation
