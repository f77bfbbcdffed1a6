#include "data/sync/FeedParser.h"

#include "data/sync/DateParser.h"
#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"

#include <QTextBoundaryFinder>

#include <algorithm>
#include <cstring>

using namespace Qt::Literals::StringLiterals;

namespace {

// A link written in a feed, or nothing. Surrounding white space and line breaks, common around
// link text and image addresses, are not part of the address.
std::optional<Url> linkFromText(const QString& text)
{
    return Url::fromString(text.trimmed());
}

bool isAsciiSpace(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// What QString::trimmed() keeps of these UTF-8 bytes, when that is ASCII: the white space
// QString trims within ASCII is exactly this. Nothing when a byte outside ASCII remains, as
// the text may then end in other white space.
std::optional<QLatin1StringView> trimmedAscii(QByteArrayView bytes)
{
    qsizetype begin = 0;
    qsizetype end = bytes.size();
    while (begin < end && isAsciiSpace(bytes[begin]))
        ++begin;
    while (end > begin && isAsciiSpace(bytes[end - 1]))
        --end;
    unsigned char all = 0;
    for (qsizetype i = begin; i < end; ++i)
        all |= static_cast<unsigned char>(bytes[i]);
    if (all >= 0x80)
        return std::nullopt;
    return QLatin1StringView(bytes.data() + begin, end - begin);
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
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QString trimmedSpaces(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmedSpace(text[begin]))
        ++begin;
    while (end > begin && isTrimmedSpace(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// The text cut to its first `maxLength` characters (grapheme clusters). Only a window past the
// cut is segmented: a boundary depends on no text beyond the character that follows it.
QString cutToCharacters(const QString& text, qsizetype maxLength)
{
    // A character is at least one unit long.
    if (text.size() <= maxLength)
        return text;
    if (maxLength <= 0)
        return QString();
    // Below U+0300 every character but CR (which binds a following LF) is one cluster of one
    // unit and breaks from what follows it; most bodies are cut in such text.
    const auto simple = [](QChar c) { return c.unicode() < 0x300 && c != u'\r'; };
    if (std::all_of(text.cbegin(), text.cbegin() + maxLength + 1, simple))
        return text.left(maxLength);
    for (qsizetype window = std::min(text.size(), 2 * maxLength + 16);; window = std::min(text.size(), 4 * window)) {
        const bool whole = window == text.size();
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text.constData(), window);
        qsizetype at = 0;
        qsizetype clusters = 0;
        while (clusters < maxLength && (at = finder.toNextBoundary()) >= 0)
            ++clusters;
        if (whole) {
            if (clusters < maxLength)
                return text;
            return at < text.size() ? text.left(at) : text;
        }
        // A boundary is only sure with the whole character after it inside the window.
        if (clusters == maxLength && at + 2 <= window)
            return text.left(at);
    }
}

// ASCII letters folded; nothing else folds onto the letters of "http://".
bool containsHttpScheme(QByteArrayView value)
{
    static constexpr char scheme[] = "http://";
    constexpr qsizetype n = sizeof(scheme) - 1;
    for (qsizetype i = 0; i + n <= value.size(); ++i) {
        qsizetype k = 0;
        while (k < n && (value[i + k] | (k < 4 ? 0x20 : 0)) == scheme[k])
            ++k;
        if (k == n)
            return true;
    }
    return false;
}

std::optional<Url> imageLinkIn(QByteArrayView value)
{
    // Most attribute values hold no address at all; skip the pattern search for them.
    if (!containsHttpScheme(value))
        return std::nullopt;
    return getImageLink(QString::fromUtf8(value).trimmed());
}

} // namespace

FeedParser::FeedParser(const QByteArray& feedData, std::shared_ptr<Source> source)
    : m_source(std::move(source))
{
    XmlParser parser(feedData);
    parser.setDelegate(this);
    (void)parser.parse();
}

FeedParser::~FeedParser() = default;

FeedParser::Name FeedParser::nameOf(QByteArrayView name)
{
    // Every start tag of a feed passes here; the length sorts out nearly all names at once, and
    // a comparison of known length compiles to a few loads.
    const auto is = [name]<std::size_t n>(const char (&text)[n]) { return std::memcmp(name.data(), text, n - 1) == 0; };
    switch (name.size()) {
    case 3:
        return is("rss") ? Name::Rss : is("url") ? Name::Url : Name::Other;
    case 4:
        return is("item") ? Name::Item : is("link") ? Name::Link : is("feed") ? Name::Feed : Name::Other;
    case 5:
        return is("title") ? Name::Title : is("entry") ? Name::Entry : is("image") ? Name::Image : Name::Other;
    case 7:
        if (is("pubDate"))
            return Name::PubDate;
        if (is("channel"))
            return Name::Channel;
        if (is("rdf:RDF"))
            return Name::RdfRoot;
        if (is("content"))
            return Name::Content;
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
    const auto is = [this](std::initializer_list<Name> path) {
        return std::equal(elementStack.begin(), elementStack.end(), path.begin(), path.end(),
            [](const OpenElement& open, Name name) { return open.name == name; });
    };
    switch (elementStack.size()) {
    case 2:
        if (is({ Name::Feed, Name::Entry }) || is({ Name::RdfRoot, Name::Item }))
            return Path::Item;
        return is({ Name::Feed, Name::Title }) ? Path::ChannelTitle : is({ Name::Feed, Name::Link }) ? Path::FeedLink : Path::Other;
    case 3:
        if (is({ Name::Rss, Name::Channel, Name::Item }))
            return Path::Item;
        if (is({ Name::Rss, Name::Channel, Name::Title }) || is({ Name::RdfRoot, Name::Channel, Name::Title }))
            return Path::ChannelTitle;
        return is({ Name::Rss, Name::Channel, Name::Link }) ? Path::ChannelLink : Path::Other;
    case 4:
        return is({ Name::Rss, Name::Channel, Name::Image, Name::Url }) ? Path::ChannelImageUrl : Path::Other;
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

std::optional<QDateTime> FeedParser::currentItemDate() const
{
    if (!hasCurrentDate)
        return std::nullopt;
    // Nearly every date is ASCII in a shape read directly; the patterns take the rest.
    if (const auto ascii = trimmedAscii(currentDate)) {
        if (auto date = DateParser::readCommonForm(*ascii))
            return date;
        return DateParser().parseDateWithPatterns(QString(*ascii));
    }
    return DateParser().parseDate(QString::fromUtf8(currentDate).trimmed());
}

void FeedParser::didStartElementUtf8(QByteArrayView nameBytes, const char* const* attributes)
{
    const Name name = nameOf(nameBytes);
    if (elementStack.empty())
        m_isFeed = name == Name::Rss || name == Name::Feed || name == Name::RdfRoot;
    elementStack.push_back({ name, Path::Other });
    elementStack.back().path = pathOfOpenElements();
    hasCurrentString = false;
    currentBytes.clear();
    currentImageLink.reset();
    for (int i = 0; attributes && attributes[i]; i += 2) {
        const QByteArrayView key(attributes[i]);
        const QByteArrayView value = attributes[i + 1] ? QByteArrayView(attributes[i + 1]) : QByteArrayView();
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
    currentBytes.append(text.data(), size_t(text.size()));
}

void FeedParser::didEndElementUtf8(QByteArrayView nameBytes)
{
    // An end tag always closes the innermost open element: libxml2 stops at any other.
    const Name name = elementStack.empty() ? nameOf(nameBytes) : elementStack.back().name;
    const Path path = currentPath();
    if (path == Path::Item && m_source) {
        auto story = std::make_shared<NewsStory>(currentTitle, currentDescription, std::move(currentLink),
            currentItemDate(), m_source);
        if (currentImageLink)
            story->setImageLink(currentImageLink);
        else if (currentDescription)
            story->setImageLink(getImageLink(fixHTMLEncodings(*currentDescription)));
        stories.append(std::move(story));
        currentTitle.reset();
        currentDescription.reset();
        currentLink.reset();
        hasCurrentDate = false;
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
    if (!elementStack.empty())
        elementStack.pop_back();

    if (!hasCurrentString || currentBytes.empty() || currentPath() != Path::Item)
        return;
    switch (name) {
    case Name::Title:
        currentTitle = fixText(*currentString());
        break;
    case Name::Link:
        if (auto url = linkFromBytes(currentBytes))
            currentLink = std::move(url);
        break;
    case Name::Content:
    case Name::Description:
        currentDescription = fixText(*currentString(), descriptionMaxLength);
        break;
    case Name::PubDate:
    case Name::DcDate:
    case Name::Published:
        hasCurrentDate = true;
        currentDate.assign(currentBytes);
        break;
    default:
        break;
    }
}

QString FeedParser::fixText(const QString& text, std::optional<qsizetype> maxLength)
{
    // Plain text, as most headlines are, comes through every step unchanged.
    const bool plain = std::none_of(text.cbegin(), text.cend(), [](QChar c) { return c == u'<' || c == u'\n' || c == u'&'; })
        && (text.isEmpty() || (!isTrimmedSpace(text.front()) && !isTrimmedSpace(text.back())));
    if (plain)
        return maxLength ? cutToCharacters(text, std::max<qsizetype>(*maxLength, 0)) : text;
    QString fixed = removingTags(text);
    fixed.remove(u'\n');
    fixed = gtm_stringByUnescapingFromHTML(trimmedSpaces(fixed));
    if (maxLength)
        fixed = cutToCharacters(fixed, std::max<qsizetype>(*maxLength, 0));
    return fixed;
}
