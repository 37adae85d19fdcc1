#include "scene_folder.h"

#include <QDir>
#include <QFileInfo>

#include "base/working_folder.h"

namespace lumeno::app {

FolderProblem CheckSceneFolder(const QString& folder) {
    QFileInfo info(folder);
    if (folder.isEmpty() || !info.isDir()) {
        return FolderProblem::NotAFolder;
    }
    if (!QFileInfo(QDir(folder).filePath(QString::fromLatin1(kScenePath))).isFile()) {
        return FolderProblem::NoScene;
    }
    if (!info.isExecutable()) {
        return FolderProblem::CannotEnter;
    }
    return FolderProblem::None;
}

FolderProblem EnterSceneFolder(const QString& folder) {
    FolderProblem problem = CheckSceneFolder(folder);
    if (problem != FolderProblem::None) {
        return problem;
    }
    return QDir::setCurrent(folder) ? FolderProblem::None : FolderProblem::CannotEnter;
}

}  // namespace lumeno::app
