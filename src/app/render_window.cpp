#include "render_window.h"

#include <QCloseEvent>
#include <QMouseEvent>
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
}

CMainView::~CMainView() {
    session_.Cancel();
}

bool CMainView::ShowScene(int width, int height) {
    StopRendering();
    // For a top-level widget the size is the client area; the frame around
    // it is the window system's.
    setFixedSize(width, height);
    show();
    raise();
    return session_.SetImageSize(width, height);
}

bool CMainView::StopRendering() {
    bool wasOn = session_.Enabled() || session_.WorkerRunning();
    session_.Cancel();
    if (wasOn) {
        emit renderingStopped();
    }
    return wasOn;
}

void CMainView::ApplyCamera(const Camera& camera) {
    StopRendering();
    scene_.camera = camera;
    session_.DrawPreview();
}

void CMainView::TakeFrame() {
    frame_ = bridge_.TakeFrame();
    update();
}

void CMainView::TakeTitle() {
    setWindowTitle(bridge_.TakeTitle());
}

void CMainView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (frame_.isNull()) {
        painter.fillRect(rect(), Qt::black);
        return;
    }
    painter.drawImage(QPoint(0, 0), frame_);
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
    Camera camera = scene_.camera;
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
