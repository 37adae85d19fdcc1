// CMainView: the render window. One small captioned tool window, titled
// "frame" until the first preview, whose client area is exactly the camera's
// image size. It owns the render session (bitmap, accumulation and display
// planes, pass state), shows the session's picture 1 : 1 and its titles, and
// steers the camera with mouse drags. It refers to the form view's Scene
// without owning it.
//
// The session's worker reaches it only through the SessionBridge's signals.
// Whatever has to wait for the worker, or may take long on a large scene,
// runs on the window's BackgroundTask, one thing at a time, so the user
// interface never waits: a camera change first abandons the running pass and
// joins the worker there (so the preview never draws into planes the worker
// is summing into; rendering is then off, and the next start begins a fresh
// image), then sets the scene's camera and draws the preview; a scene load
// (the form view's) likewise stops the worker first. Until the task is idle
// again nothing else may touch the scene or the session: the form view's
// commands wait for it.
#pragma once

#include <QImage>
#include <QWidget>
#include <functional>

#include "background_task.h"
#include "render/mouse_control.h"
#include "render/render_session.h"
#include "scene/scene.h"
#include "session_bridge.h"

namespace lumeno::app {

class CMainView : public QWidget {
    Q_OBJECT

  public:
    // A hidden tool window owned by owner, at screen position (300, 300).
    CMainView(Scene& scene, QWidget* owner);
    // Waits for the background task, then cancels and joins the worker
    // before the session goes.
    ~CMainView() override;

    // Changes the scene in the background: stops the worker, then runs work
    // (which may replace the scene and size the session), all on the task's
    // thread; followUp runs afterwards on this one. Camera changes asked for
    // before are dropped and those asked for meanwhile ignored: the new scene
    // brings its own camera. False (nothing done) while the task is busy.
    bool ChangeScene(std::function<void()> work, BackgroundTask::FollowUp followUp);

    // After a scene load: sets the client area to width × height and shows
    // the window on top.
    void ShowScene(int width, int height);

    // Asks for a new camera. It is the view camera at once; in the
    // background a running pass is abandoned, the worker joined (rendering is
    // then off), the scene's camera set and the preview drawn. Cameras asked
    // for while that runs are gathered: only the latest follows.
    void ApplyCamera(const Camera& camera);

    // The camera the user sees or asked for last: the scene's once idle.
    const Camera& ViewCamera() const { return task_.Busy() ? viewCamera_ : scene_.camera; }

    // Something runs in the background (a scene load, a camera change, a
    // worker being stopped); the scene and the session are its until
    // busyChanged(false).
    bool Busy() const { return task_.Busy(); }

    // Starts stopping the worker in the background, for closing: camera
    // changes are ignored from then on. Returns whether anything is left to
    // wait for (then busyChanged(false) follows).
    bool StopInBackground();

    // Waits for the background task, then abandons the running pass and
    // joins the worker; rendering is then off. For quitting: the user
    // interface waits. Returns whether rendering was on or a worker was
    // running.
    bool StopRendering();

    RenderSession& Session() { return session_; }
    const DragState& Drag() const { return drag_; }
    // The picture the window paints: the last one the session showed.
    const QImage& Frame() const { return frame_; }

  signals:
    void busyChanged(bool busy);
    // Progress within the pass under way: rows traced of height.
    void rowsTraced(int rows, int height);
    // The worker ended (complete or switched off), or a camera change
    // switched rendering off: the Render command's check mark may change.
    void renderingStopped();
    // A pass finished; passCounter is the number of the next pass.
    void passFinished(int passCounter);
    // Something the session wants the user to know (failed saves, probe).
    void sessionMessage(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void TakeFrame();
    void TakeTitle();
    void StartCameraChange();
    // After a camera change or a stop: the latest camera asked for meanwhile
    // comes next.
    void TaskDone();

    Scene& scene_;
    // Declared before the session so that it outlives it: the session's
    // destructor joins a worker that may still call the bridge.
    SessionBridge bridge_;
    RenderSession session_;
    // Declared after the session: its work uses the session, so it is
    // waited for first.
    BackgroundTask task_;
    DragState drag_;
    QImage frame_;
    // The latest camera asked for; the scene's own is set in the background.
    Camera viewCamera_;
    // A camera was asked for that the task has not taken up yet.
    bool cameraWanted_ = false;
    // A ChangeScene is under way: camera changes are ignored.
    bool sceneChanging_ = false;
    // StopInBackground was called (the application is closing): camera
    // changes are ignored from then on.
    bool windingDown_ = false;
};

}  // namespace lumeno::app
