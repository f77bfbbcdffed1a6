#include "data/model/UserInfo.h"

#include "data/model/KeptKind.h"
#include "data/model/Shared.h"
#include "platform/foundation/base/PreferredLanguages.h"

#include <QTextBoundaryFinder>
#include <QUuid>

#include <mutex>
#include <optional>

namespace Tickerly::Data {

using namespace Tickerly::Foundation;
using namespace Qt::Literals::StringLiterals;

QString UserInfo::language()
{
    const QStringList languages = preferredLanguages();
    if (languages.isEmpty())
        return u"na"_s;
    const QString& first = languages.first();
    // Characters as the user sees them, so a combining mark stays with its letter.
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, first);
    graphemes.toNextBoundary();
    const qsizetype end = graphemes.toNextBoundary();
    if (end < 0)
        return first;
    return first.left(end);
}

namespace {

// Whether a stored value reads as text (as UserDefaults::string reads it): it is then the
// identifier, whatever it says.
bool readsAsText(const std::optional<QVariant>& value)
{
    if (!value)
        return false;
    switch (value->typeId()) {
    case QMetaType::QString:
    case QMetaType::LongLong:
    case QMetaType::Double:
    case QMetaType::Bool:
        return true;
    default:
        return false;
    }
}

// Stores `made` unless the store holds an identifier: the other program may have just stored one.
UserDefaults::Updater storing(const QString& made)
{
    return [made](const std::optional<QVariant>& current) -> std::optional<QVariant> {
        if (readsAsText(current))
            return std::nullopt;
        return QVariant(made);
    };
}

// A report may have carried it already: kept like a person's change, so that a program that ends
// before the store frees leaves it for the next opening rather than giving it up.
const KeptKind<QString, UserDefaults::Updater> storeKind { u"user id"_s,
    [](const QString& key) { return key == QString::fromUtf16(userDefaultsUUIDKey); },
    [](const QString& made) { return QVariant(made); },
    [](const QVariant& made) -> std::optional<QString> {
        // The identifiers made here are 36 characters long; a journal's arguments are stored
        // data.
        constexpr qsizetype longestId = 256;
        if (made.typeId() != QMetaType::QString || made.toString().isEmpty()
            || made.toString().size() > longestId)
            return std::nullopt;
        return made.toString();
    },
    [](const QString&, const QString& made) { return storing(made); } };

const bool replayerRegistered
    = storeKind.registerReplayer([](const QString&, const QString&, UserDefaults::Updater update) {
          return UserDefaults::Replayed { std::move(update), {}, {}, {} };
      });

// The identifier this process made: it stands until the store holds one, also while its write
// is kept for later or was refused, so no report carries a second one.
class MadeUserId {
public:
    static MadeUserId& instance()
    {
        static auto& made = *new MadeUserId; // never destroyed: workers may still ask
        return made;
    }
    QString get()
    {
        std::lock_guard lock(m_mutex);
        if (m_id.isEmpty())
            m_id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
        return m_id;
    }
    // The store holds an identifier now; it is the one from here on.
    void stored(const QString& made)
    {
        std::lock_guard lock(m_mutex);
        if (m_id == made)
            m_id.clear();
    }

private:
    std::mutex m_mutex;
    QString m_id;
};

} // namespace

QString UserInfo::userId()
{
    const QString key = QString::fromUtf16(userDefaultsUUIDKey);
    const auto store = sharedDefaults();
    if (auto stored = store->string(key))
        return *stored;

    // Written only when none is stored inside the write: the other program may have just stored
    // one. The person's click waits for no other program: the write is kept for later then.
    const QString made = MadeUserId::instance().get();
    const auto outcome = store->updateOrKeep(
        key, storeKind.change(store->suiteName(), made),
        [made](bool written) {
            if (written)
                MadeUserId::instance().stored(made);
        },
        storeKind.replay(made));
    store->synchronize();
    if (outcome != UserDefaults::Outcome::Done)
        return made;
    MadeUserId::instance().stored(made);
    return store->string(key).value_or(made);
}

} // namespace Tickerly::Data
