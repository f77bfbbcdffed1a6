#pragma once

#include "data/Namespace.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QMap>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace Tickerly::Data {

// The display names of feeds: a table from a feed's link, exactly as the server sent it, to the
// name under which a new source of that feed is shown. Kept as a plain dictionary of text in a
// settings suite (the shared one unless another is given).
//
// A light object: nothing is cached and every call reads the suite afresh. Any thread.
class TICKERLYDATAMAC_EXPORT SourceNames {
public:
    using NameTable = QMap<QString, QString>;

    explicit SourceNames(std::shared_ptr<Foundation::UserDefaults> localStore = nullptr);

    const std::shared_ptr<Foundation::UserDefaults>& localStore() const { return m_localStore; }

    // The stored table; empty when nothing is stored or the stored value is not a dictionary
    // whose values are all text.
    NameTable names() const;
    // Stores `names` in place of the whole table.
    Foundation::UserDefaults::Outcome setNames(const NameTable& names);
    // Lets `change` edit the stored table and stores the result, as one atomic step. While
    // another process holds the store the change is kept and made later, on whichever thread
    // next writes it: `change` must own what it uses.
    Foundation::UserDefaults::Outcome modifyNames(std::function<void(NameTable&)> change);

    // The name stored for exactly `link` (no case folding, no trailing-slash tolerance).
    std::optional<QString> nameForLink(const QString& link) const;

private:
    std::shared_ptr<Foundation::UserDefaults> m_localStore;
};

} // namespace Tickerly::Data
