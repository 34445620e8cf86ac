#include "FaceWidgets.h"

#include "StateStrip.h"

#include <QMouseEvent>
#include <QPainter>

TStateSquare::TStateSquare(QWidget *parent) : QWidget(parent)
{
    setFixedSize(32, 33);
    setCursor(Qt::PointingHandCursor);
    m_colour = palette().color(QPalette::Button);
}

void TStateSquare::SetColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void TStateSquare::SetPicture(int index)
{
    m_picture = index;
    update();
}

void TStateSquare::paintEvent(QPaintEvent *)
{
    ++m_paints;
    QPainter p(this);
    p.fillRect(rect(), m_colour);
    if (m_picture >= 0)
        p.drawPixmap(0, 0, StateStripPicture(m_picture));
}

void TStateSquare::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void TStateSquare::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

void TClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}
