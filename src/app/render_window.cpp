#include "render_window.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

namespace lumeno::app {

namespace {

// A captioned tool window without a close button: it lives as long as the
// application, and closing it would leave nowhere to show the render.
constexpr Qt::WindowFlags kWindowFlags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;

}  // namespace

CMainView::CMainView(Scene& scene, QWidget* owner)
    : QWidget(owner, kWindowFlags), scene_(scene), session_(scene, bridge_, &bridge_) {
    setWindowTitle(QStringLiteral("frame"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    // Moves without a button reach the window too, so a drag whose release
    // went elsewhere ends at the next move.
    setMouseTracking(true);
    move(300, 300);
    connect(&bridge_, &SessionBridge::frameReady, this, &CMainView::TakeFrame);
    connect(&bridge_, &SessionBridge::titleReady, this, &CMainView::TakeTitle);
    connect(&bridge_, &SessionBridge::passFinished, this, &CMainView::passFinished);
    connect(&bridge_, &SessionBridge::workerStopped, this, &CMainView::renderingStopped);
    connect(&bridge_, &SessionBridge::message, this, &CMainView::sessionMessage);
    connect(&bridge_, &SessionBridge::rowsReady, this, [this] {
        auto [rows, height] = bridge_.TakeRows();
        emit rowsTraced(rows, height);
    });
    connect(&task_, &BackgroundTask::busyChanged, this, &CMainView::busyChanged);
}

CMainView::~CMainView() {
    task_.Wait();
    session_.Cancel();
}

bool CMainView::ChangeScene(std::function<void()> work, BackgroundTask::FollowUp followUp) {
    if (task_.Busy()) {
        return false;
    }
    sceneChanging_ = true;
    cameraWanted_ = false;
    return task_.Start(
        [this, work = std::move(work)] {
            session_.Cancel();
            work();
        },
        [this, followUp = std::move(followUp)](const QString& failure) {
            sceneChanging_ = false;
            emit renderingStopped();
            if (followUp) {
                followUp(failure);
            }
        });
}

void CMainView::ShowScene(int width, int height) {
    // For a top-level widget the size is the client area; the frame around
    // it is the window system's.
    setFixedSize(width, height);
    show();
    raise();
}

bool CMainView::StopInBackground() {
    // The application is closing: a camera change asked for now, or still
    // waiting its turn, would only throw away what the stop saves.
    windingDown_ = true;
    cameraWanted_ = false;
    if (task_.Busy()) {
        return true;
    }
    if (!session_.Enabled() && !session_.WorkerRunning()) {
        return false;
    }
    return task_.Start([this] { session_.Cancel(); }, [this](const QString&) { TaskDone(); });
}

bool CMainView::StopRendering() {
    task_.Wait();
    sceneChanging_ = false;
    cameraWanted_ = false;
    bool wasOn = session_.Enabled() || session_.WorkerRunning();
    session_.Cancel();
    if (wasOn) {
        emit renderingStopped();
    }
    return wasOn;
}

void CMainView::ApplyCamera(const Camera& camera) {
    if (sceneChanging_ || windingDown_) {
        return;
    }
    viewCamera_ = camera;
    cameraWanted_ = true;
    if (!task_.Busy()) {
        StartCameraChange();
    }
}

void CMainView::StartCameraChange() {
    cameraWanted_ = false;
    task_.Start(
        [this, camera = viewCamera_] {
            // The pass under way is abandoned within a few hundred pixels;
            // an octree being built is waited for, here rather than in the
            // user interface.
            session_.Cancel();
            scene_.camera = camera;
            session_.DrawPreview();
        },
        [this](const QString&) { TaskDone(); });
}

void CMainView::TaskDone() {
    emit renderingStopped();
    if (cameraWanted_) {
        StartCameraChange();
    }
}

void CMainView::TakeFrame() {
    frame_ = bridge_.TakeFrame();
    update();
}

void CMainView::TakeTitle() {
    setWindowTitle(bridge_.TakeTitle());
}

void CMainView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (frame_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    // Only what was exposed: a large picture is not drawn whole for a
    // sliver uncovered by another window. Between a resize and the next
    // picture the window may be larger than the picture.
    const QRect exposed = event->rect();
    const QRect shown = exposed & frame_.rect();
    if (shown != exposed) {
        painter.fillRect(exposed, Qt::black);
    }
    if (!shown.isEmpty()) {
        painter.drawImage(shown.topLeft(), frame_, shown);
    }
}

void CMainView::mousePressEvent(QMouseEvent* event) {
    // While a button is held, Qt delivers the moves and the release to this
    // window even outside it, so a release anywhere ends the drag.
    QPoint p = event->position().toPoint();
    if (event->button() == Qt::LeftButton) {
        OnLeftButtonDown(drag_, p.x(), p.y());
    } else if (event->button() == Qt::RightButton) {
        OnRightButtonDown(drag_, p.x(), p.y());
    }
    QWidget::mousePressEvent(event);
}

void CMainView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
        OnButtonUp(drag_);
    }
    QWidget::mouseReleaseEvent(event);
}

void CMainView::mouseMoveEvent(QMouseEvent* event) {
    // A release the window never saw (focus taken away mid-drag) must not
    // leave a drag running.
    Qt::MouseButton held = drag_.dragMode == kDragLeft    ? Qt::LeftButton
                           : drag_.dragMode == kDragRight ? Qt::RightButton
                                                          : Qt::NoButton;
    if (held != Qt::NoButton && !(event->buttons() & held)) {
        OnButtonUp(drag_);
    }
    QPoint p = event->position().toPoint();
    // The moves of one drag build on each other even while the background
    // task has not caught up with them.
    Camera camera = ViewCamera();
    bool control = (event->modifiers() & Qt::ControlModifier) != 0;
    if (OnMouseMove(drag_, camera, p.x(), p.y(), control)) {
        ApplyCamera(camera);
    }
    QWidget::mouseMoveEvent(event);
}

void CMainView::closeEvent(QCloseEvent* event) {
    event->ignore();
}

}  // namespace lumeno::app
