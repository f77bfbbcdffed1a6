#pragma once

#include "data/Namespace.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <QMetaType>
#include <QString>

#include <memory>
#include <optional>

namespace Tickerly::Data {

class FeedParser;

// One news source the user has chosen: a feed with a display title.
//
// Equal when title and link are equal; the hash follows the site link when there is one, so
// equal sources may hash apart (never key a hash container on it). Archived as "title", "link"
// and "noIcon". Objects are shared (std::shared_ptr); one thread changes one at a time.
class TICKERLYDATAMAC_EXPORT Source : public Foundation::Coding {
public:
    Source(const QString& title, const QString& link);

    // Decodes a source, or gives null when "title" or "link" is missing or no text. A legacy
    // "icon" image is handed to SourceIconData as the icon of the link first.
    static std::shared_ptr<Source> initWithCoder(const Foundation::KeyedUnarchiver& coder);
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    QString archivedClassName() const override;

    // Makes archives of sources readable, under this class's own name and the legacy
    // "TickerlyShared.Source". Cheap; stores call it before every read.
    static void registerArchiveClasses();

    const QString& title() const { return m_title; }
    const QString& link() const { return m_link; }

    std::optional<Foundation::Url> sourceLink;
    std::shared_ptr<FeedParser> feedParser;
    bool noIconFound = false;

    std::size_t hashValue() const;

private:
    QString m_title;
    QString m_link;
};

TICKERLYDATAMAC_EXPORT bool operator==(const Source& a, const Source& b);

} // namespace Tickerly::Data

Q_DECLARE_METATYPE(std::shared_ptr<Tickerly::Data::Source>)
