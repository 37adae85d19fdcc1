// CMainFrame: the main window. Menus File, Edit, View and Help, the tool bar
// with the six commands (Open, Save | Scene load, Render | Save viewpoint,
// Load viewpoint), a status bar with the render mode while rendering, and
// the form view as its central widget. The document holds no data, so New
// and Save change nothing.
//
// Open chooses the working folder: a folder that holds a scene becomes
// current for the whole program, as -C does at start, and its scene is
// loaded at once. The File menu lists the last four folders opened, and a
// folder dropped on the window opens too.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>

#include "form_view.h"
#include "recent_folders.h"
#include "scene_folder.h"
#include "shell_options.h"

class QListWidget;
class QDialog;
class QMessageBox;

namespace lumeno::app {

inline constexpr const char* kApplicationTitle = "lumeno_wnd";

class CMainFrame : public QMainWindow {
    Q_OBJECT

  public:
    explicit CMainFrame(const ShellOptions& options = {}, QWidget* parent = nullptr);
    ~CMainFrame() override;

    CLumeno_wndView* View() const { return view_; }
    // The action of a command id, from the menus or the tool bar.
    QAction* Command(int id) const;
    QToolBar* ToolBar() const { return toolBar_; }
    // The permanent status-bar text (render mode while rendering).
    QString RenderStatusText() const { return renderStatus_->text(); }
    const RecentFolders& Recent() const { return recent_; }
    // The actions of the recent-folder entries in the File menu, newest
    // first (a disabled placeholder while the list is empty).
    QList<QAction*> RecentFolderActions() const { return recentActions_; }

    // Makes folder the working folder and loads its scene, stopping a
    // running render first. A folder without a scene is refused with a
    // message box, and the working folder stays as it was.
    bool OpenFolder(const QString& folder);

  public slots:
    void ShowMessages();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    void CreateMenus();
    void CreateToolBar();
    void OnFileOpen();
    void ShowAbout();
    void ShowDocumentNote();
    void RefreshMessages();
    void RefreshRecentFolders();
    void RefuseFolder(const QString& folder, FolderProblem problem);

    CLumeno_wndView* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentSeparator_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QLabel* renderStatus_ = nullptr;
    QList<QAction*> commands_;
    QList<QAction*> recentActions_;
    RecentFolders recent_;
    QPointer<QDialog> messagesDialog_;
    QListWidget* messagesList_ = nullptr;
};

}  // namespace lumeno::app
