#pragma once
// The main window's state square.

#include <QColor>
#include <QWidget>

// The 32 x 33 state square: a fill colour and one picture of the indicator strip.
class StateSquare : public QWidget {
    Q_OBJECT
public:
    explicit StateSquare(QWidget *parent = nullptr);
    void setColour(const QColor &colour);
    void setPicture(int index);
    QColor colour() const { return m_colour; }
    int picture() const { return m_picture; }
    int paintCount() const { return m_paints; }
    QSize sizeHint() const override { return QSize(32, 33); }

signals:
    void clicked();
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QColor m_colour;
    int m_picture = -1;
    int m_paints = 0;
};
