#pragma once
// A label of the main window that answers clicks (the connection status, the
// caption "фильтр max:" and the value labels of the label rows).

#include <QLabel>

class ClickLabel : public QLabel {
    Q_OBJECT
public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};
