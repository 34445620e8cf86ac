#pragma once
// The parameter window "Установка параметров" (TFilterParameters): one
// labelled edit box per parameter of a stored filter, filled with the
// parameter's default; made for one application of a filter and destroyed
// afterwards.

#include "records/FilterTranslation.h"

#include <QDialog>
#include <QList>
#include <QStringList>

class QGridLayout;
class QLineEdit;

class FilterParameters : public QDialog {
    Q_OBJECT
public:
    explicit FilterParameters(QWidget *parent = nullptr);

    // A box labelled with the prompt (in bold) holding the value; the boxes
    // go down the window in the order they are added.
    void addParameter(const QString &prompt, const QString &value);
    int parameterCount() const { return m_edits.size(); }
    QStringList values() const;
    void setValue(int index, const QString &value);

    // Shows the window for the parameters (modal, through the prompt);
    // values gets what the operator accepted. False on Cancel.
    static bool ask(const QList<FilterParameter> &params, QStringList &values, QWidget *parent = nullptr);

private:
    QWidget *m_boxes = nullptr;
    QGridLayout *m_grid = nullptr;
    QList<QLineEdit *> m_edits;
};
