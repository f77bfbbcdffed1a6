#pragma once

#include "data/Namespace.h"
#include "platform/foundation/serialization/KeyedArchive.h"
#include "platform/foundation/base/Url.h"

#include "tickerlydatamac_export.h"

#include <memory>

namespace Tickerly::Data {

// A story the product's server counts as hot: its canonical URL and its hit count.
//
// No equality of its own. Archived as "canonicalUrl" and "hits". Immutable once made; shared
// through std::shared_ptr, safe to read from any thread.
class TICKERLYDATAMAC_EXPORT HotStory : public Foundation::Coding {
public:
    HotStory(Foundation::Url canonicalUrl, qint64 hits);

    // Decodes a record, or gives null when "canonicalUrl" is missing or no URL (damaged stored
    // data costs that record only). A missing hit count reads as 0.
    static std::shared_ptr<HotStory> initWithCoder(const Foundation::KeyedUnarchiver& coder);
    void encodeWithCoder(Foundation::KeyedArchiver& coder) const override;
    QString archivedClassName() const override;

    // Makes archives of hot stories readable. Cheap; stores call it before every read.
    static void registerArchiveClasses();

    const Foundation::Url& canonicalUrl() const { return m_canonicalUrl; }
    qint64 hits() const { return m_hits; }

private:
    Foundation::Url m_canonicalUrl;
    qint64 m_hits;
};

} // namespace Tickerly::Data
