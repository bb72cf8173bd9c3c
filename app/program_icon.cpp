#include <QIcon>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "app/qt_ui.h"

namespace app {

namespace {

// One database drum: an ellipse on top of a body with a rounded bottom.
void drawDrum(QPainter& p, QRectF body, const QColor& colour) {
    const qreal lid = body.width() * 0.32;
    QPainterPath side;
    side.moveTo(body.left(), body.top() + lid / 2);
    side.lineTo(body.left(), body.bottom() - lid / 2);
    side.arcTo(QRectF(body.left(), body.bottom() - lid, body.width(), lid), 180, 180);
    side.lineTo(body.right(), body.top() + lid / 2);
    side.closeSubpath();
    p.setBrush(colour);
    p.drawPath(side);
    p.setBrush(colour.lighter(135));
    p.drawEllipse(QRectF(body.left(), body.top(), body.width(), lid));
}

// The arrow between the drums, pointing right when dir is 1, left when -1.
void drawArrow(QPainter& p, qreal y, int dir) {
    const qreal x0 = 112, x1 = 144, head = 12;
    QPainterPath arrow;
    const qreal from = dir > 0 ? x0 : x1, to = dir > 0 ? x1 : x0;
    arrow.moveTo(from, y - 5);
    arrow.lineTo(to - dir * head, y - 5);
    arrow.lineTo(to - dir * head, y - 13);
    arrow.lineTo(to, y);
    arrow.lineTo(to - dir * head, y + 13);
    arrow.lineTo(to - dir * head, y + 5);
    arrow.lineTo(from, y + 5);
    arrow.closeSubpath();
    p.setBrush(QColor(0xff, 0xd5, 0x4f));
    p.drawPath(arrow);
}

QPixmap drawIcon() {
    QPixmap pixmap(256, 256);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    QLinearGradient background(0, 0, 0, 256);
    background.setColorAt(0, QColor(0x2e, 0x6f, 0x8e));
    background.setColorAt(1, QColor(0x1b, 0x41, 0x5e));
    p.setBrush(background);
    p.drawRoundedRect(QRectF(8, 8, 240, 240), 44, 44);
    p.setPen(QPen(QColor(0, 0, 0, 60), 3));
    drawDrum(p, QRectF(30, 64, 76, 128), QColor(0xa4, 0x37, 0x3a));  // the Access file
    drawDrum(p, QRectF(150, 64, 76, 128), QColor(0x33, 0x67, 0x91)); // the PostgreSQL server
    drawArrow(p, 108, 1);
    drawArrow(p, 150, -1);
    return pixmap;
}

} // namespace

QIcon programIcon() {
    static const QPixmap picture = drawIcon();
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(picture.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    return icon;
}

} // namespace app
