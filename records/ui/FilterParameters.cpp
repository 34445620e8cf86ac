#include "records/ui/FilterParameters.h"

#include "core/Prompt.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

FilterParameters::FilterParameters(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("TFilterParameters"));
    setWindowTitle(QStringLiteral("Установка параметров"));
    setMinimumSize(300, 100);
    resize(496, 125);

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    m_boxes = new QWidget(this);
    m_grid = new QGridLayout(m_boxes);
    m_grid->setContentsMargins(10, 10, 10, 10);
    m_grid->setVerticalSpacing(10);
    m_grid->setColumnStretch(0, 1);
    outer->addWidget(m_boxes);
    outer->addStretch(1);

    auto *panel = new QWidget(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFixedHeight(50);
    auto *buttons = new QHBoxLayout(panel);
    buttons->addStretch(1);
    auto *ok = new QPushButton(QStringLiteral("&Принять"), panel);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QStringLiteral("&Отменить"), panel);
    cancel->setObjectName(QStringLiteral("btnCancel"));
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    outer->addWidget(panel);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);  // Esc rejects as well
}

void FilterParameters::addParameter(const QString &prompt, const QString &value)
{
    QFont big = font();
    big.setPointSize(12);
    QFont bold = big;
    bold.setBold(true);

    const int row = m_edits.size();
    auto *label = new QLabel(prompt, m_boxes);
    label->setFont(bold);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setObjectName(QStringLiteral("Label%1").arg(row));
    auto *edit = new QLineEdit(value, m_boxes);
    edit->setFont(big);
    edit->setObjectName(QStringLiteral("Edit%1").arg(row));
    edit->setFixedWidth(160);
    label->setBuddy(edit);
    m_grid->addWidget(label, row, 0);
    m_grid->addWidget(edit, row, 1);
    m_edits.append(edit);
    if (row == 0)
        edit->setFocus();
    // Room for every box and the button panel.
    const int needed = 10 + (row + 1) * (edit->sizeHint().height() + 10) + 80;
    if (height() < needed)
        resize(width(), needed);
}

QStringList FilterParameters::values() const
{
    QStringList out;
    for (const QLineEdit *e : m_edits)
        out << e->text();
    return out;
}

void FilterParameters::setValue(int index, const QString &value)
{
    if (index >= 0 && index < m_edits.size())
        m_edits[index]->setText(value);
}

bool FilterParameters::ask(const QList<FilterParameter> &params, QStringList &values, QWidget *parent)
{
    FilterParameters window(parent);
    for (int i = 0; i < params.size(); ++i)
        window.addParameter(params[i].prompt, values.value(i, params[i].defaultValue));
    const int result = activePrompt().runModal(&window, [&window] { return window.exec(); });
    if (result != QDialog::Accepted)
        return false;
    values = window.values();
    return true;
}
