#include "records/ui/DoseAlertList.h"

#include "core/LogFiles.h"
#include "core/Prompt.h"
#include "records/StoreError.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString timeText(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QString();
}

QString amountText(double v)
{
    return QString::number(v, 'f', 3).remove(QRegularExpression(QStringLiteral("\\.?0+$")));
}

} // namespace

const QString DoseAlertList::Caption = QStringLiteral("Оповещения о дозах");

DoseAlertList::DoseAlertList(IPrompt &prompt, DataModule &dm, QWidget *parent)
    : QDialog(parent), m_prompt(prompt), m_dm(dm)
{
    setObjectName(QStringLiteral("TDoseAlerts"));
    setWindowTitle(Caption);
    resize(980, 440);

    m_onlyOpen = new QCheckBox(QStringLiteral("Только неквитированные"), this);
    m_onlyOpen->setObjectName(QStringLiteral("CB_OnlyOpen"));
    connect(m_onlyOpen, &QCheckBox::toggled, this, &DoseAlertList::refresh);

    m_table = new QTableWidget(0, titles().size(), this);
    m_table->setObjectName(QStringLiteral("GridAlerts"));
    m_table->setHorizontalHeaderLabels(titles());
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->verticalHeader()->hide();
    m_table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    connect(m_table, &QTableWidget::currentCellChanged, this, &DoseAlertList::updateButtons);
    connect(m_table, &QTableWidget::cellDoubleClicked, this, &DoseAlertList::acknowledgeCurrent);

    auto *buttons = new QDialogButtonBox(this);
    m_ack = buttons->addButton(QStringLiteral("&Квитировать..."), QDialogButtonBox::ActionRole);
    m_ack->setObjectName(QStringLiteral("BtnAcknowledge"));
    connect(m_ack, &QPushButton::clicked, this, &DoseAlertList::acknowledgeCurrent);
    QPushButton *close = buttons->addButton(QStringLiteral("&Закрыть"), QDialogButtonBox::RejectRole);
    close->setObjectName(QStringLiteral("btnOk"));
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_onlyOpen);
    layout->addWidget(m_table, 1);
    layout->addWidget(buttons);
    refresh();
}

QStringList DoseAlertList::titles()
{
    return {QStringLiteral("ФИО"), QStringLiteral("Подразделение"), QStringLiteral("Уровень"), QStringLiteral("Период"),
            QStringLiteral("Доза, мкЗв"), QStringLiteral("Показание"), QStringLiteral("Когда"),
            QStringLiteral("Состояние")};
}

QString DoseAlertList::stateText(const DoseAlert &a)
{
    QString t;
    if (a.acknowledged()) {
        t = QStringLiteral("квитировано: %1, %2").arg(a.ackBy, timeText(a.ackTime));
        if (!a.ackComment.isEmpty())
            t += QStringLiteral(" (%1)").arg(a.ackComment);
    }
    if (!a.standing()) {
        const QString w = QStringLiteral("снято %1: %2").arg(timeText(a.withdrawn), a.withdrawReason);
        t = t.isEmpty() ? w : t + QStringLiteral("; ") + w;
    }
    return t.isEmpty() ? QStringLiteral("новое") : t;
}

void DoseAlertList::refresh()
{
    const qint64 current = m_table->currentRow() >= 0 && m_table->currentRow() < m_alerts.size()
        ? m_alerts[m_table->currentRow()].index
        : 0;
    try {
        m_alerts = DoseAlerts(m_dm).alerts(m_onlyOpen->isChecked());
    } catch (const std::exception &e) {
        m_alerts.clear();
        tell(m_prompt, storeError(e));
    }
    m_table->setRowCount(m_alerts.size());
    int currentRow = m_alerts.isEmpty() ? -1 : 0;
    for (int r = 0; r < m_alerts.size(); ++r) {
        const DoseAlert &a = m_alerts[r];
        if (a.index == current)
            currentRow = r;
        const QString reading = a.readingIndex > 0
            ? QStringLiteral("дозиметр %1, %2").arg(a.readingId).arg(timeText(a.readingTime))
            : QString();
        const QStringList cells{a.fio,
                                a.subDiv,
                                QStringLiteral("%1 %2").arg(DoseLevels::kindTitle(a.kind), amountText(a.level)),
                                QStringLiteral("%1: %2").arg(DosePeriods::title(a.period.kind),
                                                             DosePeriods::describe(a.period)),
                                amountText(a.dose),
                                reading,
                                timeText(a.raised),
                                stateText(a)};
        const bool open = a.standing() && !a.acknowledged();
        for (int c = 0; c < cells.size(); ++c) {
            auto *item = new QTableWidgetItem(cells[c]);
            if (c == 4)
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            if (open) {
                QFont bold = item->font();
                bold.setBold(true);
                item->setFont(bold);
                if (c == 7)
                    item->setForeground(QColor(0xC0, 0x00, 0x00));
            } else if (!a.standing()) {
                item->setForeground(Qt::gray);
            }
            m_table->setItem(r, c, item);
        }
    }
    if (currentRow >= 0)
        m_table->setCurrentCell(currentRow, 0);
    updateButtons();
}

void DoseAlertList::updateButtons()
{
    const int row = m_table->currentRow();
    m_ack->setEnabled(row >= 0 && row < m_alerts.size() && !m_alerts[row].acknowledged());
}

void DoseAlertList::acknowledgeCurrent()
{
    const int row = m_table->currentRow();
    if (row < 0 || row >= m_alerts.size())
        return;
    const DoseAlert alert = m_alerts[row];
    if (alert.acknowledged())
        return;

    QDialog ask(this);
    ask.setObjectName(QStringLiteral("TDoseAlertAck"));
    ask.setWindowTitle(QStringLiteral("Квитирование оповещения"));
    auto *text = new QLabel(alert.text(), &ask);
    text->setWordWrap(true);
    auto *name = new QLineEdit(&ask);
    name->setObjectName(QStringLiteral("EditOperator"));
    auto *comment = new QLineEdit(&ask);
    comment->setObjectName(QStringLiteral("EditComment"));
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("Кто квитирует:"), name);
    form->addRow(QStringLiteral("Комментарий:"), comment);
    auto *buttons = new QDialogButtonBox(&ask);
    QPushButton *ok = buttons->addButton(QStringLiteral("&Квитировать"), QDialogButtonBox::AcceptRole);
    ok->setObjectName(QStringLiteral("btnOk"));
    buttons->addButton(QStringLiteral("&Отмена"), QDialogButtonBox::RejectRole)->setObjectName(QStringLiteral("btnCancel"));
    connect(buttons, &QDialogButtonBox::accepted, &ask, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    auto *layout = new QVBoxLayout(&ask);
    layout->addWidget(text);
    layout->addLayout(form);
    layout->addWidget(buttons);
    ask.resize(460, ask.sizeHint().height());
    if (m_prompt.runModal(&ask, [&ask] { return ask.exec(); }) != QDialog::Accepted)
        return;

    Result<> done;
    try {
        done = DoseAlerts(m_dm).acknowledge(alert.index, name->text(), comment->text());
    } catch (const std::exception &e) {
        done = storeError(e);
    }
    if (!done)
        tell(m_prompt, *done.error);
    refresh();
}
