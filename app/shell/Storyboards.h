#pragma once

// Registers the program's storyboards: "Sources", "Stories" and "Preferences".
void registerApplicationStoryboards();
