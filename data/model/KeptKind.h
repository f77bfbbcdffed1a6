#pragma once

#include "data/Namespace.h"
#include "platform/foundation/store/UserDefaults.h"

#include <QString>
#include <QVariant>

#include <functional>
#include <optional>
#include <utility>

namespace Tickerly::Data {

// One kind of change to a stored value that the store may keep for later and journal (see
// Foundation::UserDefaults::Replay): the name the journal knows it by, the keys it changes, the
// property-list value the journal holds of its arguments and how that reads back, and the change
// the arguments make. The change a caller runs now and the one a later run makes again from the
// journal are both made here from the arguments, so the two cannot drift apart. `Change` is what
// the user of the kind runs on the store (an updater, or a change of a held list). Immutable once
// made; any thread.
template <typename Arguments, typename Change> struct KeptKind {
    using Replayed = Foundation::UserDefaults::Replayed;

    QString name;
    // Whether the kind changes `key`; an entry of a journal naming any other makes no change.
    std::function<bool(const QString& key)> changes;
    std::function<QVariant(const Arguments&)> journalled;
    // Nothing when a journal's value, which may be damaged, holds no such arguments.
    std::function<std::optional<Arguments>(const QVariant& journalled)> read;
    std::function<Change(const QString& suite, const Arguments&)> change;

    // How the change `arguments` make is journalled, should it be kept: the value is made only
    // then, on the caller's thread.
    Foundation::UserDefaults::Replay replay(Arguments arguments) const
    {
        return { name, [journalled = journalled, arguments = std::move(arguments)] {
                    return journalled(arguments);
                } };
    }

    // Lets a change of this kind that another run kept when it ended be made again from its
    // journal, as `change` makes it from the arguments read back; `replayed` gives what the store
    // runs of that change, and what learns how it went. True, for a static's initialiser.
    bool registerReplayer(
        std::function<Replayed(const QString& suite, const Arguments&, Change)> replayed) const
    {
        Foundation::UserDefaults::registerReplayer(name,
            [kind = *this, replayed = std::move(replayed)](const QString& suite, const QString& key,
                const QVariant& stored) -> std::optional<Replayed> {
                if (!kind.changes(key))
                    return std::nullopt;
                const std::optional<Arguments> arguments = kind.read(stored);
                if (!arguments)
                    return std::nullopt;
                return replayed(suite, *arguments, kind.change(suite, *arguments));
            });
        return true;
    }
};

} // namespace Tickerly::Data
