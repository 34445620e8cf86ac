#include "records/ui/DetailMeasureRecord.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "core/SettingsKeys.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "records/DataTable.h"
#include "records/RowEditing.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <optional>

const QString DetailMeasureRecord::SectionName = SettingsKeys::TDetailMeasureRecord::Section;

namespace {

struct ValueRow {
    const char *group;
    const char *caption;
    MeasuresField field;
    const char *hint;
};

// Groups top to bottom, each value under its caption.
const ValueRow Rows[] = {
    {"База данных", "Номер записи в базе данных", MeasuresField::Index, ""},
    {"Считыватель", "Считыватель (TARN адрес)", MeasuresField::TarnAddress, "TARN-адрес считывателя (сетевой адрес прибора)"},
    {"Считыватель", "Время считывания в базу данных", MeasuresField::RecoveryTime,
     "Время проведения процедуры считывания данных с дозой из считывателя"},
    {"Считыватель", "Номер записи в считывателе", MeasuresField::RecNumber, "Номер записи в считывателе (присваивается считывателем)"},
    {"Дозиметр", "Номер дозиметра", MeasuresField::ID, "Заводской номер дозиметра"},
    {"Дозиметр", "Идентификатор дозиметра", MeasuresField::Name, "Идентификатор дозиметра (на момент считывания)"},
    {"Дозиметр", "Время считывания дозы", MeasuresField::DateTime, "Время проведения процедуры считывания из дозиметра"},
    {"Дозиметр", "Доза, мкЗв", MeasuresField::Dose, "Считанная из дозиметра доза"},
    {"Запись из журнала", "Фамилия, Имя, Отчество", MeasuresField::FIO, "Соотнесённая с журналом запись"},
};

} // namespace

DetailMeasureRecord::DetailMeasureRecord(DataTable &measures, const QString &settingsPath, QWidget *parent)
    : QDialog(parent), m_measures(measures), m_placement(this, SectionName, true)
{
    setObjectName(SectionName);
    setWindowTitle(QStringLiteral("Детальная информация об измерении"));
    setModal(false);
    m_placement.setFile(settingsPath);

    auto *layout = new QVBoxLayout(this);
    QHash<QString, QGridLayout *> groups;
    auto groupLayout = [&](const QString &title) {
        if (QGridLayout *g = groups.value(title))
            return g;
        auto *box = new QGroupBox(title, this);
        auto *g = new QGridLayout(box);
        g->setVerticalSpacing(2);
        groups.insert(title, g);
        layout->addWidget(box);
        return g;
    };

    // "Запись помечена": the caption is the check box's own text, so a click
    // on it flips the box as a click on the box does.
    QGridLayout *db = groupLayout(QStringLiteral("База данных"));
    m_check = new QCheckBox(QStringLiteral("Запись помечена"), this);
    m_check->setObjectName(QStringLiteral("DBCheckBox1"));
    db->addWidget(m_check, 0, 0);
    connect(m_check, &QCheckBox::clicked, this, [this](bool checked) { setMark(checked); });

    for (const ValueRow &r : Rows) {
        QGridLayout *g = groupLayout(QString::fromUtf8(r.group));
        const int row = g->rowCount();
        auto *value = new QLineEdit(this);
        value->setObjectName(fieldName(r.field));
        value->setReadOnly(true);
        value->setToolTip(QString::fromUtf8(r.hint));
        auto *caption = new QLabel(QString::fromUtf8(r.caption), this);
        caption->setToolTip(value->toolTip());
        caption->setBuddy(value);
        g->addWidget(caption, row, 0);
        g->addWidget(value, row + 1, 0);
        m_values.insert(fieldName(r.field), value);
    }

    m_prior = new QToolButton(this);
    m_prior->setObjectName(QStringLiteral("PriorRecord"));
    m_prior->setIcon(style()->standardIcon(QStyle::SP_ArrowLeft));
    m_prior->setToolTip(QStringLiteral("Предыдущая запись"));
    m_prior->setAccessibleName(m_prior->toolTip());
    m_next = new QToolButton(this);
    m_next->setObjectName(QStringLiteral("NextRecord"));
    m_next->setIcon(style()->standardIcon(QStyle::SP_ArrowRight));
    m_next->setToolTip(QStringLiteral("Следующая запись"));
    m_next->setAccessibleName(m_next->toolTip());
    connect(m_prior, &QToolButton::clicked, this, &DetailMeasureRecord::priorRecord);
    connect(m_next, &QToolButton::clicked, this, &DetailMeasureRecord::nextRecord);
    auto *ok = new QPushButton(QStringLiteral("&Принять"), this);
    ok->setObjectName(QStringLiteral("btnOk"));
    ok->setToolTip(QStringLiteral("Принять изменения"));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &DetailMeasureRecord::accept);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_prior);
    buttons->addWidget(m_next);
    buttons->addStretch(1);
    buttons->addWidget(ok);
    layout->addStretch(1);
    layout->addLayout(buttons);
    resize(360, sizeHint().height());

    connect(&m_measures, &DataTable::currentChanged, this, &DetailMeasureRecord::refresh);
    connect(&m_measures, &DataTable::dataSetReset, this, &DetailMeasureRecord::refresh);
    connect(&m_measures, &DataTable::stateChanged, this, &DetailMeasureRecord::refresh);
    refresh();
}

DetailMeasureRecord::~DetailMeasureRecord() = default;

void DetailMeasureRecord::showView()
{
    refresh();
    show();
    raise();
    activateWindow();
}

void DetailMeasureRecord::setMarksAllowed(bool allowed)
{
    m_marksAllowed = allowed;
    refresh();
}

bool DetailMeasureRecord::canMark() const
{
    return m_marksAllowed && m_measures.active() && m_measures.hasCurrent() && m_measures.state() == TableState::Browse;
}

void DetailMeasureRecord::refresh()
{
    if (m_refreshing)
        return;
    m_refreshing = true;
    const bool current = m_measures.active() && m_measures.hasCurrent() && m_measures.state() != TableState::Insert;
    for (auto it = m_values.cbegin(); it != m_values.cend(); ++it) {
        QString text;
        if (current) {
            try {
                text = m_measures.displayText(it.key());
            } catch (const ERuvoError &) {
            }
        }
        it.value()->setText(text);
        it.value()->setCursorPosition(0);
    }
    bool marked = false;
    if (current) {
        try {
            marked = m_measures.asBoolean(fieldName(MeasuresField::Check));
        } catch (const ERuvoError &) {
        }
    }
    m_check->setChecked(marked);
    m_check->setEnabled(canMark());
    m_refreshing = false;
}

QString DetailMeasureRecord::valueText(const QString &field) const
{
    QLineEdit *e = m_values.value(field);
    return e ? e->text() : QString();
}

bool DetailMeasureRecord::markShown() const
{
    return m_check->isChecked();
}

void DetailMeasureRecord::setMark(bool checked)
{
    // Without a current row an edit would start a new, blank reading.
    if (!canMark()) {
        refresh();
        return;
    }
    try {
        if (m_measures.asBoolean(fieldName(MeasuresField::Check)) != checked || m_measures.isNull(fieldName(MeasuresField::Check))) {
            // The mark and its audit row go in one transaction.
            DataModule &dm = dynamic_cast<DataModule &>(*m_measures.module());
            std::optional<Transaction> tx;
            if (!dm.inTransaction())
                tx.emplace(dm);
            // Another monitor may have changed the mark since it was shown:
            // the last one set stands, and the audit row says what it replaced.
            const QString check = fieldName(MeasuresField::Check);
            const QVariant key = m_measures.getBookmark();
            holdRow(m_measures, key);
            QSqlQuery stored = m_measures.exec(QStringLiteral("SELECT %1 FROM %2 WHERE %3 = ?")
                                                   .arg(RecordsSql::quoted(check), m_measures.sqlName(),
                                                        RecordsSql::quoted(m_measures.keyField())),
                                               {key});
            const QVariant before = stored.next() ? DataTable::fromStorage(m_measures.fieldDef(check), stored.value(0))
                                                  : m_measures.fieldValue(check);
            stored.finish();
            m_measures.edit();
            m_measures.setFieldValue(fieldName(MeasuresField::Check), checked);
            m_measures.post();
            AuditLog(dm)
                .write({m_measures.tableName(), m_measures.fieldValue(m_measures.keyField()).toString(),
                        AuditLog::UpdateAction, AuditLog::valuesText({{fieldName(MeasuresField::Check), before}}),
                        AuditLog::valuesText({{fieldName(MeasuresField::Check), checked}})});
            if (tx)
                tx->commit();
        }
    } catch (const ERuvoError &e) {
        try {
            if (m_measures.state() != TableState::Browse)
                m_measures.cancel();
        } catch (const ERuvoError &) {
        }
        activePrompt().message(MsgKind::Error, e.message(), PromptButton::Ok);
    }
    refresh();
}

void DetailMeasureRecord::toggleMark()
{
    setMark(!m_check->isChecked());
}

void DetailMeasureRecord::priorRecord()
{
    try {
        if (m_measures.active() && m_measures.hasCurrent())
            m_measures.prior();
    } catch (const ERuvoError &) {
    }
}

void DetailMeasureRecord::nextRecord()
{
    try {
        if (m_measures.active() && m_measures.hasCurrent())
            m_measures.next();
    } catch (const ERuvoError &) {
    }
}

void DetailMeasureRecord::done(int result)
{
    m_placement.save();
    QDialog::done(result);
}

void DetailMeasureRecord::showEvent(QShowEvent *event)
{
    m_placement.restore();
    QDialog::showEvent(event);
}
