#include "RecordsView.h"

#include "core/Prompt.h"
#include "records/DataTable.h"
#include "records/FilterLanguage.h"

#include <QDateTime>
#include <QRegularExpression>

QList<RecordsColumn> defaultRecordsColumns()
{
    // Field names and types come from the schema of Measures; text and date
    // columns take their filter values in quotes.
    const QList<FieldDef> fields = measuresSchema();
    const auto column = [&fields](MeasuresField field, const QString &title, int width, bool visible) {
        const FieldDef &f = fields.at(int(field));
        const bool quoted = f.type == FieldType::Text || f.type == FieldType::DateTime || f.type == FieldType::Date;
        return RecordsColumn{int(field), f.name, title, width, visible, quoted};
    };
    QList<RecordsColumn> c;
    // Date 130 and name 291 pixels at design: the labels above and below show
    // the full date and time, which needs a little more in the fonts of this
    // platform, and the name column gives it back.
    c.append(column(MeasuresField::DateTime, QStringLiteral("Дата"), 150, true));
    c.append(column(MeasuresField::ID, QStringLiteral("№"), 92, true));
    c.last().alignment = Qt::AlignCenter;
    c.last().titleAlignment = Qt::AlignCenter;
    c.append(column(MeasuresField::Name, QStringLiteral("Идентификатор"), 271, true));
    c.last().nameColumn = true;
    c.append(column(MeasuresField::FIO, QStringLiteral("ФИО (по журналу)"), 271, false));
    c.last().nameColumn = true;
    c.last().captionColour = true;
    c.append(column(MeasuresField::Dose, QStringLiteral("Доза, мкЗв"), 111, true));
    c.last().alignment = Qt::AlignRight | Qt::AlignVCenter;
    c.last().titleAlignment = Qt::AlignCenter;
    return c;
}

const RecordsColumn *recordsColumnOfField(const QString &field)
{
    static const QList<RecordsColumn> columns = defaultRecordsColumns();
    for (const RecordsColumn &c : columns)
        if (c.field == field)
            return &c;
    return nullptr;
}

QList<LabelPlace> layoutColumnLabels(QList<RecordsColumn> &columns, int clientWidth, int indicatorWidth, int gap,
                                     const ColumnFit &fit)
{
    int w = indicatorWidth;
    int last = -1;
    for (int i = 0; i < columns.size(); ++i) {
        if (!columns[i].visible)
            continue;
        w += columns[i].width + gap;
        last = i;
    }
    const int flex = fit.flexible;
    if (last >= 0 && flex >= 0 && flex < columns.size() && flex != last && columns[flex].visible) {
        // Everything but the flexible and the last column.
        const int others = w - columns[flex].width - columns[last].width;
        const int preferred = qMax(fit.preferred, fit.flexibleMin);
        const int lastMin = qMax(fit.lastMin, 1);
        if (others + preferred + lastMin <= clientWidth)
            columns[flex].width = preferred;
        else
            columns[flex].width = qMax(fit.flexibleMin, clientWidth - others - lastMin);
        if (others + columns[flex].width + columns[last].width > clientWidth)
            columns[last].width = qMax(lastMin, clientWidth - others - columns[flex].width);
        w = others + columns[flex].width + columns[last].width;
    }
    if (last >= 0 && w - columns[last].width < clientWidth)
        columns[last].width = clientWidth - (w - columns[last].width);

    QList<LabelPlace> places;
    int x = indicatorWidth;
    for (const RecordsColumn &c : columns) {
        LabelPlace p;
        p.x = x;
        p.width = c.width;
        p.placed = c.visible;
        places.append(p);
        if (c.visible)
            x += c.width + gap;
    }
    return places;
}

RecordsView::RecordsView(DataTable *measures) : columns(defaultRecordsColumns()), m_table(measures)
{
    minLabels.append(ColumnLabel{});
    maxLabels.append(ColumnLabel{});
}

int RecordsView::columnOfField(int fieldIndex) const
{
    for (int i = 0; i < columns.size(); ++i)
        if (columns[i].fieldIndex == fieldIndex)
            return i;
    return -1;
}

void RecordsView::onlyNewToggled()
{
    clearQuickFilters();
    if (m_table) {
        try {
            if (extOnlyNewDown) {
                m_table->setFilter(fieldName(MeasuresField::Index) + QLatin1Char('>') + QString::number(lastCheckedIndex));
                m_table->setFiltered(true);
            }
        } catch (const ERuvoError &) {
            // the table keeps its former filter; the labels below show what it shows
        }
    }
    if (extOnlyNewDown)
        statusText = QStringLiteral("Только новые");
    else
        applyModeFilter();  // a stored filter still switched on is in force again
    rebuildColumnLabels();
}

void RecordsView::applyModeFilter()
{
    statusText.clear();
    QString text;
    if (extOnlyNewDown) {
        text = fieldName(MeasuresField::Index) + QLatin1Char('>') + QString::number(lastCheckedIndex);
        statusText = QStringLiteral("Только новые");
    } else if (extFiltrDown && !m_storedExpression.isEmpty()) {
        text = m_storedExpression;
        statusText = m_storedName;
    }
    if (!m_table)
        return;
    try {
        if (text.isEmpty()) {
            m_table->setFiltered(false);  // the filter text stays for the next time
        } else {
            m_table->setFilter(text);
            m_table->setFiltered(true);
        }
    } catch (const ERuvoError &) {
    }
}

bool RecordsView::applyStoredFilter(const QString &expression, const QString &name)
{
    if (!m_table)
        return false;
    // Checked before anything changes: a refused expression leaves the quick
    // filters and the filter in force as they are.
    try {
        compileFilter(expression, m_table->filterFields());
    } catch (const ERuvoError &) {
        return false;
    }
    clearQuickFilters();
    try {
        m_table->setFilter(expression);
        m_table->setFiltered(true);
    } catch (const ERuvoError &) {
        return false;
    }
    extFiltrDown = true;
    m_storedExpression = expression;
    m_storedName = name;
    statusText = name;
    rebuildColumnLabels();
    return true;
}

void RecordsView::notesToggled()
{
    if (askNameSync)
        askNameSync(extNotesDown);
    const int fio = columnOfField(int(MeasuresField::FIO));
    const int name = columnOfField(int(MeasuresField::Name));
    if (fio >= 0 && name >= 0) {
        if (extNotesDown) {
            columns[fio].width = columns[name].width;
            columns[fio].visible = true;
            columns[name].visible = false;
        } else {
            columns[name].width = columns[fio].width;
            columns[name].visible = true;
            columns[fio].visible = false;
        }
    }
    rebuildColumnLabels();
}

void RecordsView::extFiltrUp()
{
    clearQuickFilters();
    m_storedExpression.clear();
    m_storedName.clear();
    applyModeFilter();  // only-new, when it is down, is in force again
    rebuildColumnLabels();
}

void RecordsView::sortByTitle(int fieldIndex)
{
    sortFieldIndex = fieldIndex;
    if (!m_table)
        return;
    try {
        if (fieldIndex < 0 || fieldIndex >= m_table->fieldCount())
            throw EGeneralError(QStringLiteral("Нет поля с номером ") + QString::number(fieldIndex));
        m_table->setIndexFieldNames(m_table->fields().at(fieldIndex).name);
    } catch (const ERuvoError &) {
        try {
            m_table->setIndexFieldNames(QString());
        } catch (const ERuvoError &) {
        }
        if (rebuildIndexes)
            rebuildIndexes();
    }
}

bool RecordsView::rebuildColumnLabels()
{
    if (!m_table)
        return false;
    try {
        if (!m_table->active() || m_table->isEmpty())
            return false;
    } catch (const ERuvoError &) {
        return false;
    }
    clearQuickFilters();
    labelTexts(minLabels, maxLabels);
    labelsBuilt = true;
    return true;
}

void RecordsView::labelTexts(QList<ColumnLabel> &los, QList<ColumnLabel> &his) const
{
    los.clear();
    his.clear();
    for (const RecordsColumn &c : columns) {
        ColumnLabel lo, hi;
        lo.visible = hi.visible = c.visible;
        try {
            // The smallest and largest value under the filter in force, found
            // by the database; the current row and sort order stay.
            const QPair<QVariant, QVariant> range = m_table->firstAndLastValue(c.field);
            const FieldDef &def = m_table->fieldDef(c.field);
            lo.text = range.first.isNull() ? QString() : DataTable::plainText(def, range.first);
            hi.text = range.second.isNull() ? QString() : DataTable::plainText(def, range.second);
        } catch (const ERuvoError &) {
            lo.text.clear();
            hi.text.clear();
        }
        los.append(lo);
        his.append(hi);
    }
}

bool RecordsView::refreshColumnLabels()
{
    if (!labelsBuilt || minLabels.size() != columns.size() || maxLabels.size() != columns.size())
        return rebuildColumnLabels();
    if (!m_table)
        return false;
    try {
        if (!m_table->active() || m_table->isEmpty())
            return false;
    } catch (const ERuvoError &) {
        return false;
    }
    QList<ColumnLabel> los, his;
    labelTexts(los, his);
    for (int i = 0; i < columns.size(); ++i) {
        if (!minLabels[i].active)
            minLabels[i].text = los[i].text;
        if (!maxLabels[i].active)
            maxLabels[i].text = his[i].text;
    }
    return true;
}

QString RecordsView::quickCondition(const RecordsColumn &column, const QString &value, bool minimum)
{
    const QString op = minimum ? QStringLiteral(">=") : QStringLiteral("<=");
    if (!column.quoted) {
        // A number column takes exactly one number, with a decimal point or
        // comma; anything else would become part of the condition itself.
        static const QRegularExpression number(QStringLiteral("^[+-]?(?:[0-9]+(?:[.,][0-9]*)?|[.,][0-9]+)$"));
        QString n = value.trimmed();
        if (!number.match(n).hasMatch())
            return QString();
        n.replace(QLatin1Char(','), QLatin1Char('.'));
        if (n.startsWith(QLatin1Char('+')))
            n.remove(0, 1);
        return column.field + op + n;
    }
    // A quote inside the value is doubled, so the value stays one text constant.
    return column.field + op + quoteFilterText(value);
}

IPrompt &RecordsView::prompt() const
{
    return m_prompt ? *m_prompt : unattendedPrompt();
}

bool RecordsView::setQuickMinFilter(int column, const AskFunction &ask)
{
    return setQuickFilter(column, ask, true);
}

bool RecordsView::setQuickMaxFilter(int column, const AskFunction &ask)
{
    return setQuickFilter(column, ask, false);
}

bool RecordsView::setQuickFilter(int column, const AskFunction &ask, bool minimum)
{
    if (column < 0 || column >= columns.size())
        return false;
    dropModeFilters();  // may rebuild the labels: the column's label is looked up afresh below

    QList<ColumnLabel> &labels = minimum ? minLabels : maxLabels;
    QString value = column < labels.size() ? labels[column].text : QString();
    if (!ask(QStringLiteral("Фильтр по значениям"),
             minimum ? QStringLiteral("Ввод значения для фильтра по минимальному значению:")
                     : QStringLiteral("Ввод значения для фильтра по максимальному значению:"),
             value))
        return false;

    QString &own = minimum ? minFilterExpr : maxFilterExpr;
    const QString &other = minimum ? maxFilterExpr : minFilterExpr;
    const QString ownCondition = quickCondition(columns[column], value, minimum);
    QString condition = ownCondition;
    if (!other.isEmpty())
        condition = QLatin1Char('(') + condition + QStringLiteral(") AND (") + other + QLatin1Char(')');

    // A refused value (not one number for a number column, or one the filter
    // language refuses): the filter in force, the labels and the clear
    // buttons stay as they are.
    bool refused = ownCondition.isEmpty();
    try {
        if (!refused && m_table) {
            m_table->setFilter(condition);
            m_table->setFiltered(true);
        }
    } catch (const ERuvoError &) {
        refused = true;
    }
    if (refused) {
        prompt().message(MsgKind::Warning, refusedValueText(columns[column], value), PromptButton::Ok);
        return false;
    }

    QString &saved = minimum ? minLabelSavedText : maxLabelSavedText;
    for (ColumnLabel &l : labels) {
        if (l.active) {
            l.active = false;
            l.text = saved;
        }
    }
    own = ownCondition;
    if (column < labels.size()) {
        saved = labels[column].text;
        labels[column].text = value;
        labels[column].active = true;
    }
    statusText = condition;
    m_quickStatus = condition;
    (minimum ? clearMinVisible : clearMaxVisible) = true;
    return true;
}

QString RecordsView::refusedValueText(const RecordsColumn &column, const QString &value)
{
    QString need;
    if (column.fieldIndex == int(MeasuresField::DateTime))
        need = QStringLiteral("нужны дата и время, например 01.12.2026 08:00:00");
    else if (!column.quoted)
        need = QStringLiteral("нужно число, например 0.5");
    else
        need = QStringLiteral("значение не подходит для фильтра");
    return QStringLiteral("Значение \"%1\" для столбца \"%2\" не принято: %3.\rФильтр не изменён.")
        .arg(value, column.title, need);
}

void RecordsView::clearQuickFilters()
{
    bool anyActive = false;
    for (ColumnLabel &l : maxLabels) {
        if (l.active) {
            l.active = false;
            l.text = maxLabelSavedText;
            anyActive = true;
        }
    }
    for (ColumnLabel &l : minLabels) {
        if (l.active) {
            l.active = false;
            l.text = minLabelSavedText;
            anyActive = true;
        }
    }
    // The table's filter text is emptied only when a quick filter was in
    // force: the modes' filters are left alone.
    if (anyActive && m_table) {
        try {
            m_table->setFilter(QString());
        } catch (const ERuvoError &) {
        }
    }
    if (anyActive && !m_quickStatus.isEmpty() && statusText == m_quickStatus)
        statusText.clear();
    m_quickStatus.clear();
    minFilterExpr.clear();
    maxFilterExpr.clear();
    clearMinVisible = false;
    clearMaxVisible = false;
}

void RecordsView::dropModeFilters()
{
    if (extFiltrDown) {
        extFiltrDown = false;
        if (storedFilterOff)
            storedFilterOff();
        else
            extFiltrUp();
    }
    if (extOnlyNewDown) {
        extOnlyNewDown = false;
        onlyNewToggled();
    }
}

QString rewindReaderPosition(DataTable &devices, DataTable &measures, int records, int &lastRecNumber,
                             QDateTime &lastRecTime)
{
    const int current = devices.hasCurrent() ? devices.asInteger(fieldName(DevicesField::LastRecNumber)) : 0;
    const int n = current - records;
    if (!measures.locate(fieldName(MeasuresField::RecNumber), n))
        return QStringLiteral("Не удалось найти запись ") + QString::number(n);
    const QDateTime time = measures.asDateTime(fieldName(MeasuresField::DateTime));
    devices.edit();
    devices.setFieldValue(fieldName(DevicesField::LastRecNumber), n);
    devices.setFieldValue(fieldName(DevicesField::LastRecTime), time);
    devices.post();
    lastRecNumber = n;
    lastRecTime = time;
    return QString();
}
