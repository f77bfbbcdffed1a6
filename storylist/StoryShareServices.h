#pragma once

#include "storylist/Namespace.h"

#include <QImage>
#include <QString>

namespace Tickerly::StoryList {

// Registers, once per process, the sharing services the story list offers: a mail, and the
// share pages of the two social services. Main thread only.
void registerStoryShareServices();

// A row glyph (white on transparent) recoloured for menus, which may be light or dark.
QImage menuGlyph(const QString& name);

} // namespace Tickerly::StoryList
