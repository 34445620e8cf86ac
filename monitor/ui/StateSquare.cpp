#include "StateSquare.h"

#include "StateStrip.h"

#include <QMouseEvent>
#include <QPainter>

StateSquare::StateSquare(QWidget *parent) : QWidget(parent)
{
    setFixedSize(32, 33);
    setCursor(Qt::PointingHandCursor);
    m_colour = palette().color(QPalette::Button);
}

void StateSquare::setColour(const QColor &colour)
{
    m_colour = colour;
    update();
}

void StateSquare::setPicture(int index)
{
    m_picture = index;
    update();
}

void StateSquare::paintEvent(QPaintEvent *)
{
    ++m_paints;
    QPainter p(this);
    p.fillRect(rect(), m_colour);
    if (m_picture >= 0)
        p.drawPixmap(0, 0, stateStripPicture(m_picture));
}

void StateSquare::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

void StateSquare::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}
