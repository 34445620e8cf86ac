#pragma once
// Small widgets of the main window: the state square and a label that
// answers clicks.

#include <QColor>
#include <QLabel>
#include <QWidget>

// The 32 x 33 state square: a fill colour and one picture of the indicator strip.
class TStateSquare : public QWidget {
    Q_OBJECT
public:
    explicit TStateSquare(QWidget *parent = nullptr);
    void SetColour(const QColor &colour);
    void SetPicture(int index);
    QColor Colour() const { return m_colour; }
    int Picture() const { return m_picture; }
    int PaintCount() const { return m_paints; }
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

class TClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};
