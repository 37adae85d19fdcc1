// CLumeno_wndView: the form view, the main frame's central widget. It holds
// the whole scene for the application's life: the scene file and OBJ readers
// (and through them the material and texture tables) and the Scene itself.
// It handles the application's commands: Scene load, Render (a toggle,
// checked while rendering), Save viewpoint and Load viewpoint. The render
// window is created at the first Scene load and reused afterwards.
//
// A load runs in the background, on the render window's task, after the
// render worker has stopped there; the user interface goes on meanwhile.
// While the task is busy (a load, a camera change, a worker being stopped)
// the commands that touch the scene are disabled and ignored: they wait for
// the scene, rather than queue behind it.
//
// Whatever a load ignored or refused, and whatever the render session
// reports, is kept as a list of messages the user can open; the latest
// reaches the status bar.
#pragma once

#include <atomic>

#include <QAction>
#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <functional>

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

    // The scene; only while not Busy() may the caller look at it.
    Scene& GetScene() { return working_.scene; }
    // Null until the first Scene load.
    CMainView* RenderWindow() const { return renderWindow_; }
    const QStringList& Messages() const { return messages_; }
    // The status-bar text for the render state: mode and thread count while
    // rendering, empty otherwise.
    QString RenderStatus() const;

    // The scene or the session is being changed in the background.
    bool Busy() const;
    // A scene load is under way (part of being busy).
    bool Loading() const { return loading_; }

    // Loads "./scene/scene.txt" in the background, after making folder the
    // working folder when one is given (the worker is stopped first, since
    // it saves into the working folder). entered, when given, is told
    // afterwards whether the folder could be entered; nothing is loaded when
    // it could not. False (nothing done) while busy.
    using FolderEntered = std::function<void(FolderProblem)>;
    bool LoadScene(const QString& folder = {}, FolderEntered entered = {});

    // Before the application ends: starts stopping the worker in the
    // background. Returns whether anything runs still; busyChanged(false)
    // then tells when nothing does.
    bool WindDown();

    // Waits for a load or camera change under way, cancels a running pass
    // and joins the worker: the last thing before quitting.
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
    void busyChanged(bool busy);
    void loadingChanged(bool loading);
    // How far the pass under way has come ("Rows traced …"); empty when no
    // pass runs.
    void passProgressChanged(const QString& text);

  private:
    struct LoadOutcome;

    void UpdateRenderCommand();
    void FinishLoad(const LoadOutcome& outcome, const QString& failure);
    void AddMessage(const QString& text);
    void AddMessages(const QStringList& texts);

    ShellOptions options_;
    WorkingScene working_;
    // Calls off a scene load under way when the application closes.
    std::atomic<bool> loadCancel_{false};
    // A child widget; deleted explicitly first thing in the destructor.
    CMainView* renderWindow_ = nullptr;
    bool sceneUsable_ = false;
    bool loading_ = false;
    QStringList messages_;

    QAction* sceneLoadAction_ = nullptr;
    QAction* renderAction_ = nullptr;
    QAction* saveViewpointAction_ = nullptr;
    QAction* loadViewpointAction_ = nullptr;
};

}  // namespace lumeno::app
