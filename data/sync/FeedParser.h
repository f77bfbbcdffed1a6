#pragma once

#include "data/Namespace.h"
#include "data/model/NewsStory.h"
#include "data/model/Source.h"
#include "platform/foundation/base/Url.h"
#include "platform/foundation/xml/XmlParser.h"

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Tickerly::Data {

// One feed document (RSS 2.0, RDF or Atom) read into the feed's title, site link, channel image
// address and stories. The whole document is parsed inside the constructor, on the calling
// thread; afterwards the object is a plain record of what was found. Element names are matched
// as written, prefixes included. A document that is not well-formed keeps what was read before
// the first error.
//
// Without a source, no story is made (discovery only wants the title and links).
class TICKERLYDATAMAC_EXPORT FeedParser : private Foundation::XmlParserDelegate {
public:
    FeedParser(const QByteArray& feedData, std::shared_ptr<Source> source);
    // A document read as it arrives: each piece given to push() as it comes, then finish(),
    // after which the object is the record the whole document would have given.
    explicit FeedParser(std::shared_ptr<Source> source);
    void push(QByteArrayView piece);
    void finish();
    ~FeedParser() override;
    FeedParser(const FeedParser&) = delete;
    FeedParser& operator=(const FeedParser&) = delete;

    const std::shared_ptr<Source>& source() const { return m_source; }

    // The feed's title exactly as written (not cleaned or trimmed).
    std::optional<QString> title;
    // The RSS channel image's address.
    std::optional<Foundation::Url> imageURL;
    // The feed's web-site link.
    std::optional<Foundation::Url> link;
    // The stories, in document order.
    QList<std::shared_ptr<NewsStory>> stories;

    // Whether the document's root element is that of a feed ("rss", "rdf:RDF" or "feed"), so an
    // error page or portal page can be told from a feed without items.
    bool isFeed() const { return m_isFeed; }

    // The longest story body, in characters.
    static constexpr qsizetype descriptionMaxLength = 100;

    // Feed text as a story shows it: tags and line feeds removed, spaces trimmed, HTML entities
    // decoded, cut to `maxLength` characters when given.
    static QString fixText(const QString& text, std::optional<qsizetype> maxLength = std::nullopt);
    // The same of UTF-8 text, cut to `maxLength`: of a long text only as much is read as the cut
    // needs.
    static QString fixText(QByteArrayView utf8, qsizetype maxLength);

private:
    // The element names the parser looks for; every other name is `Other`.
    enum class Name : unsigned char {
        Other,
        Rss,
        Channel,
        Item,
        Feed,
        Entry,
        RdfRoot,
        Title,
        Link,
        Image,
        Url,
        Content,
        Description,
        PubDate,
        DcDate,
        Published,
        Updated
    };
    static Name nameOf(QByteArrayView name);

    void didStartElementUtf8(QByteArrayView name, const char* const* attributes) override;
    void didEndElementUtf8(QByteArrayView name) override;
    void foundCharactersUtf8(QByteArrayView text) override;

    // Where the open elements are, among the places the parser reads.
    enum class Path : unsigned char {
        Other,
        Item,
        ChannelTitle,
        ChannelLink,
        ChannelImageUrl,
        FeedLink
    };
    Path pathOfOpenElements() const;
    Path currentPath() const
    {
        return elementStack.empty() ? Path::Other : elementStack.back().path;
    }
    std::optional<QString> currentString() const;

    std::shared_ptr<Source> m_source;
    // The document still arriving.
    std::unique_ptr<Foundation::XmlParser> m_arriving;
    bool m_isFeed = false;
    // Where this feed's stories are made; see FeedParser.cpp.
    struct StoryBlocksRelease {
        void operator()(class StoryBlocks* blocks) const;
    };
    std::unique_ptr<StoryBlocks, StoryBlocksRelease> m_storyBlocks;

    // Each open element with the path of the elements open up to it, and whether its end reads
    // the text before it.
    struct OpenElement {
        Name name;
        Path path;
        bool readsText;
    };
    std::vector<OpenElement> elementStack;
    // How many open elements read their text: text while there is none is never read.
    int openTextReaders = 0;
    // The text since the last start tag, in UTF-8; none when there was none.
    bool hasCurrentString = false;
    std::string currentBytes;
    std::optional<QString> currentTitle;
    std::optional<Foundation::Url> currentLink;
    std::optional<QString> currentDescription;
    std::optional<Foundation::Url> currentImageLink;
    // The item's date, as its last date element gives it.
    std::optional<QDateTime> currentDate;
    // The text of an Atom entry's last "updated", read only when the entry gives no other date.
    std::string currentUpdated;
};

} // namespace Tickerly::Data
