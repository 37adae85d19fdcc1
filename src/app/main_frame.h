// CMainFrame: the main window. Menus File, Edit, View and Help, the tool bar
// with the six commands (Open, Save | Scene load, Render | Save viewpoint,
// Load viewpoint), a status bar with the render mode while rendering, and
// the form view as its central widget. The document holds no data, so the
// standard document commands change nothing.
#pragma once

#include <QLabel>
#include <QMainWindow>
#include <QPointer>

#include "form_view.h"
#include "shell_options.h"

class QListWidget;
class QDialog;

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

  public slots:
    void ShowMessages();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void CreateMenus();
    void CreateToolBar();
    void ShowAbout();
    void ShowDocumentNote();
    void RefreshMessages();

    CLumeno_wndView* view_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    QMenu* viewMenu_ = nullptr;
    QLabel* renderStatus_ = nullptr;
    QList<QAction*> commands_;
    QPointer<QDialog> messagesDialog_;
    QListWidget* messagesList_ = nullptr;
};

}  // namespace lumeno::app
