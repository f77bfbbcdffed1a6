#pragma once

#include "platform/foundation/Namespace.h"
#include "tickerlyfoundation_export.h"

#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <optional>

namespace Tickerly::Foundation {

// A deliverable's bundle: its information dictionary, its resources and its localisation
// tables, all compiled in through the Qt resource system under one resource root.
//
// Layout under the root (":/bundle" for the program's own bundle):
//   Info.json                  the information dictionary, a JSON object
//   <language>/<table>.json    a localisation table, a JSON object from key to text
//   anything else              resources, found with pathForResource
//
// The main bundle is the running program's: each program compiles its own bundle in under
// ":/bundle"; a plug-in, which shares its host's process, names its own root with
// setMainBundle when it is loaded.
//
// A plain value, safe to use from any thread. Bundles are read-only, so what is read is kept
// for the life of the process.
class TICKERLYFOUNDATION_EXPORT Bundle {
public:
    explicit Bundle(const QString& resourceRoot);

    static Bundle mainBundle();
    static void setMainBundle(const Bundle& bundle);

    // The table of localizedString when none is named.
    static QString defaultTable();

    const QString& resourceRoot() const { return m_root; }

    // The information dictionary; nothing when the bundle has none or it is no JSON object.
    std::optional<QVariantMap> infoDictionary() const;

    // The resource path of "name.type" (or of "name" when `type` is empty); empty when the
    // bundle holds no such resource.
    QString pathForResource(const QString& name, const QString& type = {}) const;

    // The languages of the bundle's tables to try, most preferred first: the user's
    // preferred languages (each also without its region), then the development language "en".
    static QStringList preferredLanguages();

    // The text for `key` in `table` (the default table when empty) of the first preferred
    // language that has that table. When the table has no entry: `value` when it is not
    // empty, else the key itself.
    QString localizedString(const QString& key, const QString& value, const QString& table) const;

private:
    QString m_root;
};

} // namespace Tickerly::Foundation
