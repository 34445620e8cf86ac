#include "StateStrip.h"

#include "monitor/core/StateIndicator.h"

#include <QPainter>
#include <QPainterPath>
#include <QVector>
#include <cmath>

namespace {

// The reader: a small box with a slot, and the link as an arc of dots that
// travel from the computer to the reader during an exchange.
QPixmap drawPicture(int index)
{
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);

    const bool idle = index == StateStripIdle;
    const QColor body = idle ? QColor(0x80, 0x80, 0x80) : QColor(0x20, 0x40, 0x90);
    // reader body
    p.setPen(QPen(body.darker(140), 1));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(17.5, 6.5, 12, 20), 2, 2);
    p.setBrush(idle ? QColor(0xC0, 0xC0, 0xC0) : QColor(0x40, 0xE0, 0x40));
    p.drawRect(QRectF(20.5, 9.5, 6, 3));  // display
    p.setBrush(Qt::black);
    p.drawRect(QRectF(22.5, 16.5, 2, 7));  // dosimeter slot
    // computer plug
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
    p.setBrush(QColor(0xE0, 0xE0, 0xE0));
    p.drawRect(QRectF(2.5, 12.5, 6, 8));

    if (idle) {
        // a broken line between the two
        p.setPen(QPen(QColor(0x90, 0x20, 0x20), 2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(9, 16.5), QPointF(12, 16.5));
        p.drawLine(QPointF(14, 16.5), QPointF(17, 16.5));
        p.drawLine(QPointF(11.5, 13), QPointF(14.5, 20));
        return pm;
    }
    // the line
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
    p.drawLine(QPointF(9, 16.5), QPointF(17, 16.5));
    // a pulse running along the line; picture 0 shows it resting at the reader
    const double phase = double(index % StateStripAnimation) / StateStripAnimation;
    const double x = 9 + 8 * phase;
    const double wave = std::sin(phase * 2 * M_PI);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0x80, 0x00));
    p.drawEllipse(QPointF(x, 16.5), 2.0, 2.0);
    // the sign above the reader grows and shrinks with the animation
    p.setBrush(QColor(0x00, 0xA0, 0x00));
    const double r = index == StateStripConnected ? 2.5 : 1.5 + std::fabs(wave);
    p.drawEllipse(QPointF(23.5, 3.5), r, r);
    return pm;
}

} // namespace

const QPixmap &stateStripPicture(int index)
{
    static QVector<QPixmap> strip;
    if (strip.isEmpty()) {
        strip.reserve(StateStripCount);
        for (int i = 0; i < StateStripCount; ++i)
            strip.append(drawPicture(i));
    }
    if (index < 0 || index >= StateStripCount)
        index = StateStripIdle;
    return strip[index];
}
