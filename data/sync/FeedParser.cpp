#include "data/sync/FeedParser.h"

#include "data/sync/DateParser.h"
#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <utility>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

namespace {

// A link written in a feed, or nothing. Surrounding white space and line breaks, common around
// link text and image addresses, are not part of the address.
std::optional<Url> linkFromText(const QString& text) { return Url::fromString(text.trimmed()); }

// Eight bytes at a time: feed text is mostly ASCII.
bool isAscii(QByteArrayView bytes)
{
    const char* p = bytes.data();
    const qsizetype n = bytes.size();
    qsizetype i = 0;
    for (; i + 8 <= n; i += 8) {
        quint64 word;
        std::memcpy(&word, p + i, sizeof word);
        if (word & 0x8080808080808080ULL)
            return false;
    }
    for (; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80)
            return false;
    }
    return true;
}

bool isAsciiSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Where `text` begins and ends without the units `isSpace` accepts at either end.
template <typename Text, typename IsSpace>
std::pair<qsizetype, qsizetype> trimmedBounds(const Text& text, IsSpace isSpace)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isSpace(text[begin]))
        ++begin;
    while (end > begin && isSpace(text[end - 1]))
        --end;
    return { begin, end };
}

// What QString::trimmed() keeps of these UTF-8 bytes, when that is ASCII: the white space
// QString trims within ASCII is exactly this. Nothing when a byte outside ASCII remains, as
// the text may then end in other white space.
std::optional<QLatin1StringView> trimmedAscii(QByteArrayView bytes)
{
    const auto [begin, end] = trimmedBounds(bytes, isAsciiSpace);
    if (!isAscii(bytes.sliced(begin, end - begin)))
        return std::nullopt;
    return QLatin1StringView(bytes.data() + begin, end - begin);
}

// A date written in a feed, or nothing.
std::optional<QDateTime> dateFromBytes(QByteArrayView bytes)
{
    // Nearly every date is ASCII in a shape read directly; the patterns take the rest.
    if (const auto ascii = trimmedAscii(bytes)) {
        if (auto date = DateParser::readCommonForm(*ascii))
            return date;
        return DateParser().parseDateWithPatterns(QString(*ascii));
    }
    return DateParser().parseDate(QString::fromUtf8(bytes).trimmed());
}

// FeedParser::fixText of UTF-8 text. Most headlines are plain text, which comes through
// unchanged: no markup, line feed or entity, and no space at either end (a byte outside ASCII
// there may be one).
QString fixedTitle(QByteArrayView bytes)
{
    const auto plainEnd
        = [](char c) { return static_cast<unsigned char>(c) < 0x80 && c != ' ' && c != '\t'; };
    const bool plain = !bytes.isEmpty() && plainEnd(bytes.front()) && plainEnd(bytes.back())
        && std::none_of(
            bytes.begin(), bytes.end(), [](char c) { return c == '<' || c == '\n' || c == '&'; });
    QString text = QString::fromUtf8(bytes);
    if (plain)
        return text;
    return FeedParser::fixText(text);
}

std::optional<Url> linkFromBytes(QByteArrayView bytes)
{
    if (const auto ascii = trimmedAscii(bytes))
        return Url::fromString(QString(*ascii));
    return linkFromText(QString::fromUtf8(bytes));
}

// Space, tab and the other space separators; line breaks are not trimmed.
bool isTrimmedSpace(QChar c)
{
    if (c.unicode() < 0x80)
        return c == u' ' || c == u'\t';
    return c.category() == QChar::Separator_Space;
}

QString trimmedSpaces(const QString& text)
{
    const auto [begin, end] = trimmedBounds(text, isTrimmedSpace);
    return text.mid(begin, end - begin);
}

// Below U+0300 every character but CR (which binds a following LF) is one cluster of one unit
// and breaks from what follows it; most bodies are cut in such text.
bool isSimpleCharacter(QChar c) { return c.unicode() < 0x300 && c != u'\r'; }

// Where the first `maxLength` characters (grapheme clusters, at least one) of a text end, judged
// by its first units `window`, all of it when `whole`: a boundary depends on no text beyond the
// character that follows it. Nothing when the window does not decide it.
std::optional<qsizetype> endOfCharacters(QStringView window, qsizetype maxLength, bool whole)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, window.data(), window.size());
    qsizetype at = 0;
    qsizetype clusters = 0;
    while (clusters < maxLength && (at = finder.toNextBoundary()) >= 0)
        ++clusters;
    if (whole)
        return clusters < maxLength ? window.size() : at;
    // A boundary is only sure with the whole character after it inside the window.
    if (clusters == maxLength && at + 2 <= window.size())
        return at;
    return std::nullopt;
}

// The text cut to its first `maxLength` characters. Only a window past the cut is segmented.
QString cutToCharacters(const QString& text, qsizetype maxLength)
{
    // A character is at least one unit long.
    if (text.size() <= maxLength)
        return text;
    if (maxLength <= 0)
        return QString();
    if (std::all_of(text.cbegin(), text.cbegin() + maxLength + 1, isSimpleCharacter))
        return text.left(maxLength);
    for (qsizetype window = std::min(text.size(), 2 * maxLength + 16);;
         window = std::min(text.size(), 4 * window)) {
        const bool whole = window == text.size();
        if (const auto end = endOfCharacters(QStringView(text).first(window), maxLength, whole))
            return *end < text.size() ? text.left(*end) : text;
    }
}

// FeedParser::fixText(text, maxLength) of every longer text that begins with `start`, when
// `start` decides it; nothing otherwise.
std::optional<QString> fixedFromStart(const QString& start, qsizetype maxLength)
{
    QString visible = removingTagsFromStart(start);
    visible.remove(u'\n');
    // Nothing is trimmed off the end before the last character that is no space, and an entity
    // is read only with the nine units after its '&' at hand.
    auto [begin, end] = trimmedBounds(visible, isTrimmedSpace);
    while (end > begin) {
        // Only an '&' among the last nine units can be cut short.
        const qsizetype from = std::max(begin, end - 9);
        const qsizetype amp = QStringView(visible).sliced(from, end - from).lastIndexOf(u'&');
        if (amp < 0)
            break;
        end = from + amp;
    }
    if (end - begin <= maxLength)
        return std::nullopt;
    const QString fixed = gtm_stringByUnescapingFromHTML(visible.mid(begin, end - begin));
    if (fixed.size() <= maxLength)
        return std::nullopt;
    if (maxLength <= 0)
        return QString();
    if (std::all_of(fixed.cbegin(), fixed.cbegin() + maxLength + 1, isSimpleCharacter))
        return fixed.left(maxLength);
    if (const auto cut = endOfCharacters(fixed, maxLength, false))
        return fixed.left(*cut);
    return std::nullopt;
}

std::optional<Url> imageLinkIn(QByteArrayView value)
{
    // Most attribute values hold no address at all; skip the pattern search for them.
    if (indexOfHttpScheme(value) < 0)
        return std::nullopt;
    return getImageLink(QString::fromUtf8(value).trimmed());
}

// Whether the markup has a script, a style or a comment: text that shows nothing.
bool holdsHiddenMarkup(QByteArrayView bytes)
{
    const auto opens = [](QByteArrayView tag, QByteArrayView name) {
        return tag.size() >= name.size()
            && tag.first(name.size()).compare(name, Qt::CaseInsensitive) == 0;
    };
    for (qsizetype at = bytes.indexOf('<'); at >= 0; at = bytes.indexOf('<', at + 1)) {
        const QByteArrayView tag = bytes.sliced(at + 1);
        if (tag.startsWith("!--") || opens(tag, "script") || opens(tag, "style"))
            return true;
    }
    return false;
}

// The story's picture in its cleaned description, as markup again once its entities are read;
// neither a script's address nor a comment's is one.
std::optional<Url> pictureLink(const QString& description)
{
    QString text = fixHTMLEncodings(description);
    if (text.contains(u'<'))
        text = markupOutsideScripts(text);
    return getImageLink(text);
}

} // namespace

// The stories of one feed are made in blocks of memory of their own, each story beside its
// reference count, and the blocks are given back whole once the last of the feed's stories is
// gone. Made one by one, the stories of a feed of thousands of short items cost the allocator
// a tenth of the reading, most of it freeing them again.
class StoryBlocks {
public:
    // Held by its parser and by each story made in it; gone with the last of them.
    static StoryBlocks* create() { return new StoryBlocks; }
    void release() { release(1); }
    // The parser's own hold, with what it took ahead for stories it did not make.
    void releaseParser() { release(1 + m_heldAhead); }

    // Only the parsing thread makes stories; they may be let go on any thread.
    void* allocate(std::size_t size, std::size_t alignment)
    {
        std::size_t pad = padding(alignment);
        if (pad + size > m_left) {
            // Blocks grow with the feed, from a typical feed's twenty stories to a bounded size.
            const std::size_t blockSize = std::max(size + alignment,
                m_blocks.empty() ? std::size_t(8 * 1024)
                                 : std::min<std::size_t>(m_lastBlockSize * 2, 64 * 1024));
            m_blocks.push_back(::operator new(blockSize));
            m_lastBlockSize = blockSize;
            m_next = static_cast<char*>(m_blocks.back());
            m_left = blockSize;
            pad = padding(alignment);
        }
        void* at = m_next + pad;
        m_next += pad + size;
        m_left -= pad + size;
        // Stories are let go one by one on any thread, but made one after another on this one:
        // their holds are taken a batch at a time.
        if (m_heldAhead == 0) {
            m_holders.fetch_add(storiesHeldAhead, std::memory_order_relaxed);
            m_heldAhead = storiesHeldAhead;
        }
        --m_heldAhead;
        return at;
    }

private:
    StoryBlocks() = default;
    ~StoryBlocks()
    {
        for (void* block : m_blocks)
            ::operator delete(block);
    }
    void release(std::size_t holds)
    {
        if (m_holders.fetch_sub(holds, std::memory_order_acq_rel) == holds)
            delete this;
    }
    std::size_t padding(std::size_t alignment) const
    {
        return (alignment - reinterpret_cast<std::uintptr_t>(m_next) % alignment) % alignment;
    }

    static constexpr std::size_t storiesHeldAhead = 64;
    std::atomic<std::size_t> m_holders = 1;
    // Holds taken for stories not yet made; only the parsing thread touches it.
    std::size_t m_heldAhead = 0;
    std::vector<void*> m_blocks;
    char* m_next = nullptr;
    std::size_t m_left = 0;
    std::size_t m_lastBlockSize = 0;
};

void FeedParser::StoryBlocksRelease::operator()(StoryBlocks* blocks) const
{
    blocks->releaseParser();
}

namespace {

// Hands out a StoryBlocks' memory; each story made holds the blocks until it is freed.
template <typename T> struct InStoryBlocks {
    using value_type = T;
    StoryBlocks* blocks;

    explicit InStoryBlocks(StoryBlocks* b)
        : blocks(b)
    {
    }
    template <typename U>
    InStoryBlocks(const InStoryBlocks<U>& other)
        : blocks(other.blocks)
    {
    }
    T* allocate(std::size_t n)
    {
        return static_cast<T*>(blocks->allocate(n * sizeof(T), alignof(T)));
    }
    void deallocate(T*, std::size_t) noexcept { blocks->release(); }
    template <typename U> bool operator==(const InStoryBlocks<U>& other) const
    {
        return blocks == other.blocks;
    }
};

} // namespace

FeedParser::FeedParser(const QByteArray& feedData, std::shared_ptr<Source> source)
    : m_source(std::move(source))
{
    XmlParser parser(feedData);
    parser.setDelegate(this);
    (void)parser.parse();
}

FeedParser::FeedParser(std::shared_ptr<Source> source)
    : m_source(std::move(source))
    , m_arriving(std::make_unique<XmlParser>())
{
    m_arriving->setDelegate(this);
}

void FeedParser::push(QByteArrayView piece)
{
    if (m_arriving)
        m_arriving->push(piece);
}

void FeedParser::finish()
{
    if (m_arriving)
        (void)m_arriving->finish();
    m_arriving.reset();
}

FeedParser::~FeedParser() = default;

FeedParser::Name FeedParser::nameOf(QByteArrayView name)
{
    // Every start tag of a feed passes here; the length sorts out nearly all names at once, and
    // a comparison of known length compiles to a few loads.
    const auto is = [name]<std::size_t n>(const char(&text)[n]) {
        return std::memcmp(name.data(), text, n - 1) == 0;
    };
    switch (name.size()) {
    case 3:
        return is("rss") ? Name::Rss : is("url") ? Name::Url : Name::Other;
    case 4:
        return is("item") ? Name::Item
            : is("link")  ? Name::Link
            : is("feed")  ? Name::Feed
                          : Name::Other;
    case 5:
        return is("title") ? Name::Title
            : is("entry")  ? Name::Entry
            : is("image")  ? Name::Image
                           : Name::Other;
    case 7:
        if (is("pubDate"))
            return Name::PubDate;
        if (is("channel"))
            return Name::Channel;
        if (is("rdf:RDF"))
            return Name::RdfRoot;
        if (is("content"))
            return Name::Content;
        if (is("updated"))
            return Name::Updated;
        return is("dc:date") ? Name::DcDate : Name::Other;
    case 9:
        return is("published") ? Name::Published : Name::Other;
    case 11:
        return is("description") ? Name::Description : Name::Other;
    default:
        return Name::Other;
    }
}

FeedParser::Path FeedParser::pathOfOpenElements() const
{
    const auto at = [this](std::size_t depth) { return elementStack[depth].name; };
    switch (elementStack.size()) {
    case 2:
        if (at(0) == Name::Feed)
            return at(1) == Name::Entry ? Path::Item
                : at(1) == Name::Title  ? Path::ChannelTitle
                : at(1) == Name::Link   ? Path::FeedLink
                                        : Path::Other;
        return at(0) == Name::RdfRoot && at(1) == Name::Item ? Path::Item : Path::Other;
    case 3:
        if (at(1) != Name::Channel)
            return Path::Other;
        if (at(0) == Name::Rss)
            return at(2) == Name::Item ? Path::Item
                : at(2) == Name::Title ? Path::ChannelTitle
                : at(2) == Name::Link  ? Path::ChannelLink
                                       : Path::Other;
        return at(0) == Name::RdfRoot && at(2) == Name::Title ? Path::ChannelTitle : Path::Other;
    case 4:
        return at(0) == Name::Rss && at(1) == Name::Channel && at(2) == Name::Image
                && at(3) == Name::Url
            ? Path::ChannelImageUrl
            : Path::Other;
    default:
        return Path::Other;
    }
}

std::optional<QString> FeedParser::currentString() const
{
    if (!hasCurrentString)
        return std::nullopt;
    return QString::fromUtf8(currentBytes);
}

void FeedParser::didStartElementUtf8(QByteArrayView nameBytes, const char* const* attributes)
{
    const Name name = nameOf(nameBytes);
    if (elementStack.empty())
        m_isFeed = name == Name::Rss || name == Name::Feed || name == Name::RdfRoot;
    const bool inItem = currentPath() == Path::Item;
    elementStack.push_back({ name, Path::Other, false });
    OpenElement& open = elementStack.back();
    open.path = pathOfOpenElements();
    switch (name) {
    case Name::Title:
    case Name::Link:
    case Name::Content:
    case Name::Description:
    case Name::PubDate:
    case Name::DcDate:
    case Name::Published:
        open.readsText = inItem;
        break;
    case Name::Updated:
        open.readsText = inItem && elementStack.front().name == Name::Feed;
        break;
    default:
        break;
    }
    if (open.path == Path::ChannelTitle || open.path == Path::ChannelLink
        || open.path == Path::ChannelImageUrl)
        open.readsText = true;
    openTextReaders += open.readsText ? 1 : 0;
    hasCurrentString = false;
    currentBytes.clear();
    currentImageLink.reset();
    for (int i = 0; attributes && attributes[i]; i += 2) {
        const QByteArrayView key(attributes[i]);
        const QByteArrayView value
            = attributes[i + 1] ? QByteArrayView(attributes[i + 1]) : QByteArrayView();
        if (auto image = imageLinkIn(value))
            currentImageLink = std::move(image);
        if (name == Name::Link && key == "href") {
            if (auto url = Url::fromString(QString::fromUtf8(value))) {
                if (currentPath() == Path::FeedLink)
                    link = std::move(url);
                else
                    currentLink = std::move(url);
            }
        }
    }
}

void FeedParser::foundCharactersUtf8(QByteArrayView text)
{
    hasCurrentString = true;
    if (openTextReaders > 0)
        currentBytes.append(text.data(), size_t(text.size()));
}

void FeedParser::didEndElementUtf8(QByteArrayView nameBytes)
{
    // An end tag always closes the innermost open element: libxml2 stops at any other.
    const Name name = elementStack.empty() ? nameOf(nameBytes) : elementStack.back().name;
    const Path path = currentPath();
    if (path == Path::Item && m_source) {
        if (!m_storyBlocks)
            m_storyBlocks.reset(StoryBlocks::create());
        // Many Atom feeds date their entries only by "updated", which Atom requires and
        // "published" does not.
        if (!currentDate && !currentUpdated.empty())
            currentDate = dateFromBytes(currentUpdated);
        auto story = std::allocate_shared<NewsStory>(InStoryBlocks<NewsStory>(m_storyBlocks.get()),
            std::move(currentTitle), currentDescription, std::move(currentLink),
            std::move(currentDate), m_source);
        if (currentImageLink)
            story->setImageLink(currentImageLink);
        else if (currentDescription)
            story->setImageLink(pictureLink(*currentDescription));
        stories.append(std::move(story));
        currentTitle.reset();
        currentDescription.reset();
        currentLink.reset();
        currentDate.reset();
        currentUpdated.clear();
        currentImageLink.reset();
    }
    if (path == Path::ChannelTitle)
        title = currentString();
    if (hasCurrentString && path == Path::ChannelLink) {
        if (auto url = linkFromBytes(currentBytes))
            link = std::move(url);
    }
    if (hasCurrentString && path == Path::ChannelImageUrl) {
        if (auto url = linkFromBytes(currentBytes))
            imageURL = std::move(url);
    }
    if (!elementStack.empty()) {
        openTextReaders -= elementStack.back().readsText ? 1 : 0;
        elementStack.pop_back();
    }

    if (!hasCurrentString || currentBytes.empty() || currentPath() != Path::Item)
        return;
    switch (name) {
    case Name::Title:
        currentTitle = fixedTitle(currentBytes);
        break;
    case Name::Link:
        if (auto url = linkFromBytes(currentBytes))
            currentLink = std::move(url);
        break;
    case Name::Content:
    case Name::Description:
        // A browser shows nothing of scripts, styles and comments, so neither does the body.
        if (holdsHiddenMarkup(QByteArrayView(currentBytes)))
            currentDescription
                = fixText(markupOutsideScripts(QString::fromUtf8(QByteArrayView(currentBytes))),
                    descriptionMaxLength);
        else
            currentDescription = fixText(QByteArrayView(currentBytes), descriptionMaxLength);
        break;
    case Name::PubDate:
    case Name::DcDate:
    case Name::Published:
        currentDate = dateFromBytes(currentBytes);
        break;
    case Name::Updated:
        // Kept without a copy: nothing reads this element's text after its end.
        if (elementStack.front().name == Name::Feed) {
            currentUpdated.swap(currentBytes);
            currentBytes.clear();
        }
        break;
    default:
        break;
    }
}

QString FeedParser::fixText(QByteArrayView utf8, qsizetype maxLength)
{
    // A body is often kilobytes of markup of which a story keeps a hundred characters. Growing
    // starts of it are read until one decides the result, the first a little over twice the
    // cut, which decides most plain paragraphs; each ends with an ASCII byte, so its text is the
    // start of the whole text.
    maxLength = std::max<qsizetype>(maxLength, 0);
    for (qsizetype size = 2 * maxLength + 64; 3 * size < 2 * utf8.size(); size *= 4) {
        qsizetype end = size;
        while (end < utf8.size() && static_cast<unsigned char>(utf8[end - 1]) >= 0x80)
            ++end;
        if (auto fixed = fixedFromStart(QString::fromUtf8(utf8.first(end)), maxLength))
            return *fixed;
    }
    return fixText(QString::fromUtf8(utf8), maxLength);
}

QString FeedParser::fixText(const QString& text, std::optional<qsizetype> maxLength)
{
    // Plain text, as most headlines are, comes through every step unchanged.
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) {
        return c == u'<' || c == u'\n' || c == u'&';
    }) && (text.isEmpty() || (!isTrimmedSpace(text.front()) && !isTrimmedSpace(text.back())));
    if (plain)
        return maxLength ? cutToCharacters(text, std::max<qsizetype>(*maxLength, 0)) : text;
    QString fixed = removingTags(text);
    fixed.remove(u'\n');
    fixed = gtm_stringByUnescapingFromHTML(trimmedSpaces(fixed));
    if (maxLength)
        fixed = cutToCharacters(fixed, std::max<qsizetype>(*maxLength, 0));
    return fixed;
}

} // namespace Tickerly::Data
