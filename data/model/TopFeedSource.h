#pragma once

#include "data/Namespace.h"
#include "data/model/Source.h"
#include "platform/foundation/serialization/KeyedArchive.h"

#include "tickerlydatamac_export.h"

#include <memory>

namespace Tickerly::Data {

// One popular feed offered to the user: a source and the hit count the server reported for it.
//
// Equal when the sources are equal (title and link); the hit count is not compared. The source
// object is shared with whoever else holds it and may be changed in place (its no-icon flag).
// Archived as "hits" and "source". Shared through std::shared_ptr; one thread at a time.
class TICKERLYDATAMAC_EXPORT TopFeedSource : public Foundation::Coding {
public:
    // `source` is never null.
    TopFeedSource(qint64 hits, std::shared_ptr<Source> source);

    // Decodes a record, or gives null when "source" is missing or no source (damaged stored
    // data costs that record only). A missing hit count reads as 0.
    static std::shared_ptr<TopFeedSource> initWithCoder(const Foundation::KeyedUnarchiver& coder);
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    QString archivedClassName() const override;

    // Makes archives of records (and their sources) readable. Cheap; stores call it before
    // every read.
    static void registerArchiveClasses();

    qint64 hits() const { return m_hits; }
    const std::shared_ptr<Source>& source() const { return m_source; }

private:
    qint64 m_hits;
    std::shared_ptr<Source> m_source;
};

TICKERLYDATAMAC_EXPORT bool operator==(const TopFeedSource& a, const TopFeedSource& b);

} // namespace Tickerly::Data

Q_DECLARE_METATYPE(std::shared_ptr<Tickerly::Data::TopFeedSource>)
