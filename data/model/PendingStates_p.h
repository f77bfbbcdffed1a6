#pragma once

#include "data/model/StoryState.h"

#include <QString>

#include <optional>

// The story states this process set while another process kept the store locked, until each is
// written or refused: what this process reads of a state list shows them at once. Process-wide,
// any thread.
namespace statelist {

// Sent on the main queue when a kept state was written or refused in the end (by every list of
// states: StoryStateData and ArchivedStoriesData); the user info holds the list's key (keyKey),
// the story's link (linkKey) and, for a refused one, refusedKey (true).
QString keptStateNotification();
QString keyKey();
QString linkKey();
QString refusedKey();

// Notes `state` (None: no record) for `link` in the list under `key`; gives the note's number.
quint64 notePending(
    const QString& suite, const QString& key, const QString& link, StoryState state);
// Forgets note `id`, and when `announce`, posts keptStateNotification for it.
void endPending(const QString& suite, const QString& key, const QString& link, quint64 id,
    bool announce, bool written);
// The newest noted state of `link`, or nothing.
std::optional<StoryState> pendingState(
    const QString& suite, const QString& key, const QString& link);

} // namespace statelist
