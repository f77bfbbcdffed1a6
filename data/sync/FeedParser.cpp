#include "data/sync/FeedParser.h"

#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"

#include <QTextBoundaryFinder>

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

// A link written in a feed, or nothing. Surrounding white space and line breaks, common around
// link text and image addresses, are not part of the address.
std::optional<Url> linkFromText(const QString& text)
{
    return Url::fromString(text.trimmed());
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
    // Every tag of a feed passes here twice; the length sorts out nearly all names at once.
    const auto is = [name](QByteArrayView text, Name id) { return name == text ? id : Name::Other; };
    switch (name.size()) {
    case 3:
        return name == "rss" ? Name::Rss : is("url", Name::Url);
    case 4:
        return name == "item" ? Name::Item : name == "feed" ? Name::Feed : is("link", Name::Link);
    case 5:
        return name == "title" ? Name::Title : name == "entry" ? Name::Entry : is("image", Name::Image);
    case 7:
        if (name == "channel")
            return Name::Channel;
        if (name == "rdf:RDF")
            return Name::RdfRoot;
        if (name == "content")
            return Name::Content;
        return name == "pubDate" ? Name::PubDate : is("dc:date", Name::DcDate);
    case 9:
        return is("published", Name::Published);
    case 11:
        return is("description", Name::Description);
    default:
        return Name::Other;
    }
}

FeedParser::Path FeedParser::currentPath() const
{
    const auto is = [this](std::initializer_list<Name> path) {
        return std::equal(elementStack.begin(), elementStack.end(), path.begin(), path.end());
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

void FeedParser::didStartElementUtf8(QByteArrayView nameBytes, const char* const* attributes)
{
    const Name name = nameOf(nameBytes);
    if (elementStack.empty())
        m_isFeed = name == Name::Rss || name == Name::Feed || name == Name::RdfRoot;
    elementStack.push_back(name);
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
    const Name name = nameOf(nameBytes);
    const Path path = currentPath();
    if (path == Path::Item && m_source) {
        auto story = std::make_shared<NewsStory>(currentTitle, currentDescription, currentLink,
            NewsStory::AbsoluteDate { currentDate }, m_source);
        if (currentImageLink)
            story->setImageLink(currentImageLink);
        else if (currentDescription)
            story->setImageLink(getImageLink(fixHTMLEncodings(*currentDescription)));
        stories.append(std::move(story));
        currentTitle.reset();
        currentDescription.reset();
        currentLink.reset();
        currentDate.reset();
        currentImageLink.reset();
    }
    if (path == Path::ChannelTitle)
        title = currentString();
    if (hasCurrentString && path == Path::ChannelLink) {
        if (auto url = linkFromText(*currentString()))
            link = std::move(url);
    }
    if (hasCurrentString && path == Path::ChannelImageUrl) {
        if (auto url = linkFromText(*currentString()))
            imageURL = std::move(url);
    }
    if (!elementStack.empty())
        elementStack.pop_back();

    if (!hasCurrentString || currentBytes.empty() || currentPath() != Path::Item)
        return;
    if (name == Name::Title) {
        currentTitle = fixText(*currentString());
    } else if (name == Name::Link) {
        if (auto url = linkFromText(*currentString()))
            currentLink = std::move(url);
    } else if (name == Name::Content || name == Name::Description) {
        currentDescription = fixText(*currentString(), descriptionMaxLength);
    } else if (name == Name::PubDate || name == Name::DcDate || name == Name::Published) {
        currentDate = currentString()->trimmed();
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
