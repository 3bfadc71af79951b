#include "ui/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace vexil {

namespace {

QPixmap Draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    // The card: a green board with gold contacts along its lower edge.
    p.setPen(QPen(QColor(20, 70, 40), 1));
    p.setBrush(QColor(40, 140, 80));
    p.drawRoundedRect(QRectF(3, 9, 26, 16), 2, 2);
    p.setBrush(QColor(230, 190, 60));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        p.drawRect(QRectF(6 + 3.6 * i, 25, 2, 3));
    }
    // A chip.
    p.setBrush(QColor(30, 30, 30));
    p.drawRect(QRectF(7, 13, 9, 8));
    // The arrow: firmware coming down into the card.
    QPainterPath arrow;
    arrow.moveTo(22, 2);
    arrow.lineTo(26, 2);
    arrow.lineTo(26, 12);
    arrow.lineTo(29, 12);
    arrow.lineTo(24, 19);
    arrow.lineTo(19, 12);
    arrow.lineTo(22, 12);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(20, 40, 120), 1));
    p.setBrush(QColor(60, 110, 230));
    p.drawPath(arrow);
    return pixmap;
}

}  // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64}) {
        icon.addPixmap(Draw(size));
    }
    return icon;
}

}  // namespace vexil
