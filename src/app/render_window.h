// CMainView: the render window. One small captioned tool window, titled
// "frame" until the first preview, whose client area is exactly the camera's
// image size. It owns the render session (bitmap, accumulation and display
// planes, pass state), shows the session's picture 1 : 1 and its titles, and
// steers the camera with mouse drags. It refers to the form view's Scene
// without owning it.
//
// The session's worker reaches it only through the SessionBridge's signals.
// Before the camera changes, the window cancels a running pass and joins the
// worker, so the preview never draws into planes the worker is summing into;
// rendering is then off, and the next start begins a fresh image.
#pragma once

#include <QImage>
#include <QWidget>

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
    // Cancels and joins the worker before the session goes.
    ~CMainView() override;

    // After a scene load: sets the client area to width × height, shows the
    // window on top and sizes the session, which draws the preview. Returns
    // false when the session refused the size (nothing can be rendered then).
    bool ShowScene(int width, int height);

    // Replaces the scene's camera and draws the preview. A running pass is
    // cancelled first and rendering switched off (renderingStopped tells).
    void ApplyCamera(const Camera& camera);

    // Abandons the running pass and joins the worker; rendering is then off.
    // Returns whether rendering was on or a worker was running.
    bool StopRendering();

    RenderSession& Session() { return session_; }
    const DragState& Drag() const { return drag_; }
    // The picture the window paints: the last one the session showed.
    const QImage& Frame() const { return frame_; }

  signals:
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

    Scene& scene_;
    // Declared before the session so that it outlives it: the session's
    // destructor joins a worker that may still call the bridge.
    SessionBridge bridge_;
    RenderSession session_;
    DragState drag_;
    QImage frame_;
};

}  // namespace lumeno::app
