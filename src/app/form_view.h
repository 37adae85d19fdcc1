// CLumeno_wndView: the form view, the main frame's central widget. It holds
// the whole scene for the application's life: the scene file and OBJ readers
// (and through them the material and texture tables) and the Scene itself.
// It handles the application's commands: Scene load, Render (a toggle,
// checked while rendering), Save viewpoint and Load viewpoint. The render
// window is created at the first Scene load and reused afterwards.
//
// Whatever a load ignored or refused, and whatever the render session
// reports, is kept as a list of messages the user can open; the latest
// reaches the status bar.
#pragma once

#include <QAction>
#include <QPointer>
#include <QStringList>
#include <QWidget>

#include "scene/camera.h"
#include "scene/scene.h"
#include "scene/working_scene.h"
#include "scene_folder.h"
#include "shell_options.h"

namespace lumeno::app {

class CMainView;

class CLumeno_wndView : public QWidget {
    Q_OBJECT

  public:
    // Messages kept at most; older ones make way for newer ones.
    static constexpr int kMaxMessages = 2000;

    explicit CLumeno_wndView(const ShellOptions& options, QWidget* parent = nullptr);
    // Stops the worker before the scene and the readers it uses go.
    ~CLumeno_wndView() override;

    // The command actions of this view (kIdSceneLoad, kIdRender,
    // kIdSaveViewpoint, kIdLoadViewpoint); null for any other id.
    QAction* Command(int id) const;

    Scene& GetScene() { return working_.scene; }
    // Null until the first Scene load.
    CMainView* RenderWindow() const { return renderWindow_; }
    const QStringList& Messages() const { return messages_; }
    // The status-bar text for the render state: mode and thread count while
    // rendering, empty otherwise.
    QString RenderStatus() const;

    // Cancels a running pass and joins the worker: before quitting, and
    // before the working folder changes.
    void Shutdown();

  public slots:
    void OnSceneLoad();
    void OnRender();
    void OnSaveViewpoint();
    void OnLoadViewpoint();

  signals:
    // A one-line report for the status bar.
    void statusMessage(const QString& text);
    void messagesChanged();
    void renderStatusChanged(const QString& text);

  private:
    void UpdateRenderCommand();
    void AddMessage(const QString& text);
    void AddMessages(const QStringList& texts);

    ShellOptions options_;
    WorkingScene working_;
    // A child widget; deleted explicitly first thing in the destructor.
    CMainView* renderWindow_ = nullptr;
    bool sceneUsable_ = false;
    QStringList messages_;

    QAction* sceneLoadAction_ = nullptr;
    QAction* renderAction_ = nullptr;
    QAction* saveViewpointAction_ = nullptr;
    QAction* loadViewpointAction_ = nullptr;
};

}  // namespace lumeno::app
