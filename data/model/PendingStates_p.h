#pragma once

#include "data/Namespace.h"
#include "data/model/StoryState.h"

#include <QString>

#include <optional>

namespace Tickerly::Data {

// The story states this process set while another process kept the store locked, until each is
// written or refused: what this process reads of a state list shows them at once. Process-wide,
// any thread.
namespace StateLists {

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
// How a note ends: quietly, or announced with keptStateNotification as written or as refused.
enum class NoteEnd { Quiet, AnnounceWritten, AnnounceRefused };
// Forgets note `id`, and posts keptStateNotification for it unless the end is quiet.
void endPending(
    const QString& suite, const QString& key, const QString& link, quint64 id, NoteEnd end);
// The newest noted state of `link`, or nothing.
std::optional<StoryState> pendingState(
    const QString& suite, const QString& key, const QString& link);

} // namespace StateLists

} // namespace Tickerly::Data
