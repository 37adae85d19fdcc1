#include "icons.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <QStyle>

#include "commands.h"

namespace lumeno::app {

namespace {

constexpr int kSide = 32;

QPixmap Blank() {
    QPixmap pixmap(kSide, kSide);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A wireframe cube: loading a scene of meshes.
QPixmap SceneLoadIcon() {
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 60, 140), 2));
    QPointF front[4] = {{4, 12}, {20, 12}, {20, 28}, {4, 28}};
    QPointF back[4] = {{12, 4}, {28, 4}, {28, 20}, {12, 20}};
    p.drawPolygon(front, 4);
    p.drawPolygon(back, 4);
    for (int i = 0; i < 4; ++i) {
        p.drawLine(front[i], back[i]);
    }
    return pixmap;
}

// A shaded ball: rendering.
QPixmap RenderIcon() {
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient gradient(QPointF(12, 11), 18);
    gradient.setColorAt(0.0, QColor(255, 250, 210));
    gradient.setColorAt(0.45, QColor(240, 150, 40));
    gradient.setColorAt(1.0, QColor(110, 40, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    return pixmap;
}

// An eye with an arrow into (save) or out of (load) a tray.
QPixmap ViewpointIcon(bool save) {
    QPixmap pixmap = Blank();
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath eye;
    eye.moveTo(2, 10);
    eye.quadTo(16, -2, 30, 10);
    eye.quadTo(16, 22, 2, 10);
    p.setPen(QPen(QColor(20, 20, 20), 1.5));
    p.setBrush(Qt::white);
    p.drawPath(eye);
    p.setBrush(QColor(40, 110, 200));
    p.drawEllipse(QPointF(16, 10), 4.5, 4.5);

    p.setPen(QPen(QColor(30, 130, 40), 2.5));
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(5, 25), QPointF(5, 30));
    p.drawLine(QPointF(5, 30), QPointF(27, 30));
    p.drawLine(QPointF(27, 30), QPointF(27, 25));
    QPolygonF arrow;
    if (save) {
        arrow << QPointF(16, 29) << QPointF(11, 23) << QPointF(21, 23);
    } else {
        arrow << QPointF(16, 20) << QPointF(11, 26) << QPointF(21, 26);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 130, 40));
    p.drawPolygon(arrow);
    return pixmap;
}

}  // namespace

QIcon CommandIcon(int id) {
    switch (id) {
        case kIdFileOpen:
            return QApplication::style()->standardIcon(QStyle::SP_DialogOpenButton);
        case kIdFileSave:
            return QApplication::style()->standardIcon(QStyle::SP_DialogSaveButton);
        case kIdSceneLoad:
            return QIcon(SceneLoadIcon());
        case kIdRender:
            return QIcon(RenderIcon());
        case kIdSaveViewpoint:
            return QIcon(ViewpointIcon(true));
        case kIdLoadViewpoint:
            return QIcon(ViewpointIcon(false));
        default:
            return {};
    }
}

}  // namespace lumeno::app
