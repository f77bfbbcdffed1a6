#include "data/sync/FeedParser.h"

#include "data/sync/HTMLEntities.h"
#include "data/sync/StringExtensions.h"

#include <QTextBoundaryFinder>

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

// The text cut to its first `maxLength` characters (grapheme clusters), in one pass over it.
QString cutToCharacters(const QString& text, qsizetype maxLength)
{
    // A character is at least one unit long.
    if (text.size() <= maxLength)
        return text;
    if (maxLength <= 0)
        return QString();
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype at = 0;
    for (qsizetype clusters = 0; clusters < maxLength; ++clusters) {
        at = finder.toNextBoundary();
        if (at < 0)
            return text;
    }
    return at < text.size() ? text.left(at) : text;
}

std::optional<Url> imageLinkIn(const QString& value)
{
    // Most attribute values hold no address at all; skip the pattern search for them.
    if (!value.contains(u"http://"_s, Qt::CaseInsensitive))
        return std::nullopt;
    return getImageLink(value.trimmed());
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

bool FeedParser::isPath(std::initializer_list<QStringView> path) const
{
    if (elementStack.size() != qsizetype(path.size()))
        return false;
    qsizetype i = 0;
    for (const QStringView name : path) {
        if (elementStack[i++] != name)
            return false;
    }
    return true;
}

bool FeedParser::isItemPath() const
{
    return isPath({ u"rss", u"channel", u"item" }) || isPath({ u"feed", u"entry" }) || isPath({ u"rdf:RDF", u"item" });
}

void FeedParser::didStartElement(const QString& name, const XmlAttributes& attributes)
{
    if (elementStack.isEmpty())
        m_isFeed = name == u"rss"_s || name == u"feed"_s || name == u"rdf:RDF"_s;
    elementStack.append(name);
    currentString.reset();
    currentImageLink.reset();
    for (const auto& [key, value] : attributes) {
        if (auto image = imageLinkIn(value))
            currentImageLink = std::move(image);
        if (name == u"link"_s && key == u"href"_s) {
            if (auto url = Url::fromString(value)) {
                if (isPath({ u"feed", u"link" }))
                    link = std::move(url);
                else
                    currentLink = std::move(url);
            }
        }
    }
}

void FeedParser::foundCharacters(const QString& text)
{
    if (currentString)
        currentString->append(text);
    else
        currentString = text;
}

void FeedParser::didEndElement(const QString& name)
{
    if (isItemPath() && m_source) {
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
    if (isPath({ u"rss", u"channel", u"title" }) || isPath({ u"feed", u"title" }) || isPath({ u"rdf:RDF", u"channel", u"title" }))
        title = currentString;
    if (currentString && isPath({ u"rss", u"channel", u"link" })) {
        if (auto url = linkFromText(*currentString))
            link = std::move(url);
    }
    if (currentString && isPath({ u"rss", u"channel", u"image", u"url" })) {
        if (auto url = linkFromText(*currentString))
            imageURL = std::move(url);
    }
    if (!elementStack.isEmpty())
        elementStack.removeLast();

    if (!currentString || currentString->isEmpty() || !isItemPath())
        return;
    if (name == u"title"_s) {
        currentTitle = fixText(*currentString);
    } else if (name == u"link"_s) {
        if (auto url = linkFromText(*currentString))
            currentLink = std::move(url);
    } else if (name == u"content"_s || name == u"description"_s) {
        currentDescription = fixText(*currentString, descriptionMaxLength);
    } else if (name == u"pubDate"_s || name == u"dc:date"_s || name == u"published"_s) {
        currentDate = currentString->trimmed();
    }
}

QString FeedParser::fixText(const QString& text, std::optional<qsizetype> maxLength)
{
    QString fixed = removingTags(text);
    fixed.remove(u'\n');
    fixed = gtm_stringByUnescapingFromHTML(trimmedSpaces(fixed));
    if (maxLength)
        fixed = cutToCharacters(fixed, std::max<qsizetype>(*maxLength, 0));
    return fixed;
}
