// Every Back Up Module... and Save Patch As... is added to the sound library as
// well, unless the user turned that off (a setting, on by default).
#pragma once

#include <QString>

namespace quorvane::ui {

// The setting's key and its value now.
inline constexpr const char* kAddSavedFilesKey = "library/addSavedFiles";
bool AddSavedFilesToLibrary();
void SetAddSavedFilesToLibrary(bool on);

// The library file the windows use: the same default as the command line.
QString WindowLibraryPath();

// Imports the file just saved into the library when the setting is on. Empty
// when done or not wanted; else why it could not be added.
QString AddSavedFileToLibrary(const QString& path);

}  // namespace quorvane::ui
