// Choosing the working folder: every path the program reads or writes
// ("./scene/", "./ibl/", "./out/", named in base/working_folder.h) is
// relative to it, for the whole process and all its
// threads. The shell starts in the folder -C names (or the one it was started
// in); File → Open and a folder dropped on the main window make another one
// current, but only one that holds a scene.
#pragma once

#include <QString>

namespace lumeno::app {

enum class FolderProblem {
    None,
    NotAFolder,   // missing, or not a directory
    NoScene,      // no "scene/scene.txt" file in it
    CannotEnter,  // the system refused to make it current (permissions)
};

// What keeps folder from being opened as a working folder.
FolderProblem CheckSceneFolder(const QString& folder);

// Makes folder the process's working directory when CheckSceneFolder finds
// nothing against it; otherwise the working directory stays as it was. A
// render worker must not be running: its saves resolve against the folder.
FolderProblem EnterSceneFolder(const QString& folder);

}  // namespace lumeno::app
