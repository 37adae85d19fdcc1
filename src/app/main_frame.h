// CMainFrame: the main window. Menus File, Edit, View and Help, the tool bar
// with the six commands (Open, Save | Scene load, Render | Save viewpoint,
// Load viewpoint), a status bar, and the form view as its central widget.
// The status bar shows the render mode while rendering and how many rows
// of a long pass are traced, and a busy indicator with the time spent while
// a scene loads. The document holds no data, so New and Save change
// nothing.
//
// Open chooses the working folder: a folder that holds a scene becomes
// current for the whole program, as -C does at start, and its scene is
// loaded at once. The File menu lists the last four folders opened, and a
// folder dropped on the window opens too. Like the view's commands, opening
// waits (is disabled) while the view is busy, and closing the window while
// it is busy stops the render worker and then closes once all is idle.
#pragma once

#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include "form_view.h"
#include "recent_folders.h"
#include "scene_folder.h"
#include "shell_options.h"

class QListWidget;
class QDialog;
class QMessageBox;
class QProgressBar;

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
    // The status bar's progress: rows traced of a long pass, or the load
    // under way with its time so far; empty when neither.
    QString ProgressText() const;
    const RecentFolders& Recent() const { return recent_; }
    // The actions of the recent-folder entries in the File menu, newest
    // first (a disabled placeholder while the list is empty).
    QList<QAction*> RecentFolderActions() const { return recentActions_; }

    // Makes folder the working folder and loads its scene in the
    // background, stopping a running render first. A folder without a scene
    // is refused with a message box, and the working folder stays as it
    // was. Returns whether the folder is being opened: false for a refused
    // folder, and while the view is busy.
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
    void FolderEntered(const QString& folder, FolderProblem problem);
    void UpdateBusy(bool busy);
    void UpdateLoadProgress();

    CLumeno_wndView* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* fileMenu_ = nullptr;
    QAction* recentSeparator_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QLabel* renderStatus_ = nullptr;
    QLabel* passProgress_ = nullptr;
    QLabel* loadProgress_ = nullptr;
    QProgressBar* busyIndicator_ = nullptr;
    QTimer loadTimer_;
    QElapsedTimer loadClock_;
    // Exit came while the view was busy: close once it is idle.
    bool closeWhenIdle_ = false;
    QList<QAction*> commands_;
    QList<QAction*> recentActions_;
    RecentFolders recent_;
    QPointer<QDialog> messagesDialog_;
    QListWidget* messagesList_ = nullptr;
};

}  // namespace lumeno::app
