#pragma once

#include "data/Namespace.h"
#include "data/model/Source.h"
#include "platform/foundation/store/UserDefaults.h"

#include "tickerlydatamac_export.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace Tickerly::Data {

// The user's list of sources, kept as one keyed archive in a settings suite (the shared one
// unless another is given), so the application and the widget see one list.
//
// A light object: nothing is cached, every call reads the suite afresh, and every change is one
// atomic read-modify-write of the stored list, so a change made at the same time by another
// thread or the other program is never lost. After a change the change notification is posted
// on the main queue, on a later turn, with this object (an identity only) as its object and the
// changed positions (QList<int>) in its user info. A change kept while another process holds the
// store is part of what sources() gives in this process at once, announced at once, and again
// when it is written (positions as stored) or refused in the end (refusedChangeKey, no
// positions: it is undone). Any thread.
class TICKERLYDATAMAC_EXPORT SourcesData {
public:
    explicit SourcesData(std::shared_ptr<Foundation::UserDefaults> localStore = nullptr);

    static QString changeNotification();
    static QString addedSourcesKey();
    static QString removedSourcesKey();
    static QString updatedSourcesKey();
    // True in the notification of a kept change that the store refused in the end.
    static QString refusedChangeKey();

    const std::shared_ptr<Foundation::UserDefaults>& localStore() const { return m_localStore; }

    // The stored list, with this process's kept changes made to it; empty when nothing usable
    // is stored. Elements that cannot be read are left out.
    QList<std::shared_ptr<Source>> sources() const;
    // The changes below are never dropped: while another process keeps the store locked, a
    // change is kept and written (and announced) later. Each says how it ended: Done once stored
    // (or with nothing to change), Kept, HeldInMemory (kept, but lost should this program end
    // before the store frees), or Failed when the store refused it. What a change
    // stores is copied from `source` when it is asked for: the caller's object may change on.

    // Appends the source unless one with its link is stored (equal or titled otherwise): one
    // feed is never stored twice.
    Foundation::UserDefaults::Outcome addSource(const std::shared_ptr<Source>& source);
    // Removes the first stored source equal to `source`.
    Foundation::UserDefaults::Outcome removeSource(const Source& source);
    // Puts `source` in place of every stored source with the same link.
    Foundation::UserDefaults::Outcome updateSource(const std::shared_ptr<Source>& source);
    // Marks every stored source whose link is one of `links` as having no icon, in one write
    // announced once with every position it changed. Touches nothing else of a source, so a
    // source changed or removed since its link was taken stays as that change left it.
    Foundation::UserDefaults::Outcome markSourcesWithoutIcon(const QStringList& links);
    // Stores an empty list.
    Foundation::UserDefaults::Outcome resetSources();
    void updateLocalStore();
    bool isSourceAdded(const Source& source) const;
    // The first stored source whose link is `link`, whatever its title; null when none is.
    std::shared_ptr<Source> sourceWithLink(const QString& link) const;

private:
    using SourceList = QList<std::shared_ptr<Source>>;
    // Runs `change` on the stored list as one transaction; it returns the positions to announce,
    // or nothing to leave the list as it is. `announce` gets them once they are stored.
    // `replay` journals it, should it be kept and this process end before it is written.
    Foundation::UserDefaults::Outcome changeSources(
        std::function<std::optional<QList<int>>(SourceList&)> change,
        std::function<void(const QList<int>&)> announce, Foundation::UserDefaults::Replay replay);
    // The changes above made again from another run's journal, announced as a change of the
    // whole list once written.
    static bool registerReplayers();
    static const bool s_replayersRegistered;
    // The list `data` holds, as reading it gives it.
    static SourceList sourcesFromData(const QString& suite, const std::optional<QByteArray>& data);
    static std::shared_ptr<const Foundation::UserDefaults::Form> listForm(const QString& suite);
    Foundation::UserDefaults::Outcome setSources(const SourceList& sources);
    const void* identity() const { return this; }
    // A refused change is announced with refusedChangeKey.
    enum class Change { Made, Refused };
    static void sendDataChangeNotification(const void* sender,
        std::optional<QList<int>> added = std::nullopt,
        std::optional<QList<int>> removed = std::nullopt,
        std::optional<QList<int>> updated = std::nullopt, Change change = Change::Made);

    std::shared_ptr<Foundation::UserDefaults> m_localStore;
};

} // namespace Tickerly::Data
