#include "records/CsvExport.h"

#include "core/Errors.h"
#include "records/DataTable.h"
#include "records/StoreError.h"

#include <QFileInfo>
#include <QSaveFile>

namespace {

constexpr int kPageRows = 4000;          // rows read per query
constexpr int kFlushChars = 1 << 20;     // characters buffered before a write
constexpr int kRowsPerTick = 4000;       // rows between two progress calls

bool needsQuotes(const QString &cell, QChar separator)
{
    if (cell.isEmpty())
        return false;
    if (cell.front().isSpace() || cell.back().isSpace())
        return true;
    for (const QChar c : cell)
        if (c == separator || c == QLatin1Char('"') || c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            return true;
    return false;
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// A negative number as the export writes one: -digits, a decimal point or
// comma with digits, an exponent.
bool isNegativeNumber(const QString &cell)
{
    qsizetype i = 1;
    const qsizetype n = cell.size();
    auto digits = [&] {
        const qsizetype from = i;
        while (i < n && isDigit(cell.at(i)))
            ++i;
        return i > from;
    };
    if (!digits())
        return false;
    if (i < n && (cell.at(i) == QLatin1Char('.') || cell.at(i) == QLatin1Char(','))) {
        ++i;
        if (!digits())
            return false;
    }
    if (i < n && (cell.at(i) == QLatin1Char('e') || cell.at(i) == QLatin1Char('E'))) {
        ++i;
        if (i < n && (cell.at(i) == QLatin1Char('+') || cell.at(i) == QLatin1Char('-')))
            ++i;
        if (!digits())
            return false;
    }
    return i == n;
}

// A cell a spreadsheet would evaluate: it begins with a formula sign.
bool formulaLike(const QString &cell)
{
    if (cell.isEmpty())
        return false;
    switch (cell.front().unicode()) {
    case '=':
    case '+':
    case '@':
    case '\t':
    case '\r':
        return true;
    case '-':
        return !isNegativeNumber(cell);
    default:
        return false;
    }
}

void appendCell(QString &out, const QString &cell, QChar separator)
{
    const bool guard = formulaLike(cell);
    if (!needsQuotes(cell, separator)) {
        if (guard)
            out += QLatin1Char('\'');
        out += cell;
        return;
    }
    out += QLatin1Char('"');
    if (guard)
        out += QLatin1Char('\'');
    for (const QChar c : cell) {
        if (c == QLatin1Char('"'))
            out += QLatin1Char('"');
        out += c;
    }
    out += QLatin1Char('"');
}

// "yyyy-MM-dd HH:mm:ss.zzz" to "dd.MM.yyyy HH:mm:ss" by moving characters:
// a million readings are written without a date parse each.
QString storedDateTimeText(const QString &s)
{
    if (s.size() < 10 || s.at(4) != QLatin1Char('-') || s.at(7) != QLatin1Char('-'))
        return s;
    QString out;
    out.reserve(19);
    out += QStringView(s).mid(8, 2);
    out += QLatin1Char('.');
    out += QStringView(s).mid(5, 2);
    out += QLatin1Char('.');
    out += QStringView(s).left(4);
    out += QLatin1Char(' ');
    if (s.size() >= 19)
        out += QStringView(s).mid(11, 8);
    else
        out += QLatin1String("00:00:00");
    return out;
}

} // namespace

CsvFormat CsvFormat::withSeparator(QChar separator)
{
    return separator == QLatin1Char(';') ? CsvFormat{separator, QLatin1Char(',')} : CsvFormat{separator, QLatin1Char('.')};
}

CsvFormat CsvFormat::forLocale(const QLocale &locale)
{
    return withSeparator(locale.language() == QLocale::Russian ? QLatin1Char(';') : QLatin1Char(','));
}

CsvWriter::CsvWriter(const QString &path, const CsvFormat &format) : m_path(path), m_separator(format.separator) {}

CsvWriter::~CsvWriter()
{
    cancel();
}

bool CsvWriter::open()
{
    m_file = std::make_unique<QSaveFile>(m_path);
    if (!m_file->open(QIODevice::WriteOnly)) {
        m_error = m_file->errorString();
        m_file.reset();
        return false;
    }
    m_pending.clear();
    m_pending.reserve(kFlushChars + 4096);
    m_pending += QChar(0xFEFF);  // the byte-order mark: EF BB BF in UTF-8
    m_failed = false;
    return true;
}

QString CsvWriter::line(const QStringList &cells, QChar separator)
{
    QString out;
    for (int i = 0; i < cells.size(); ++i) {
        if (i)
            out += separator;
        appendCell(out, cells.at(i), separator);
    }
    return out;
}

QString CsvWriter::cell(const QString &text, QChar separator)
{
    QString out;
    appendCell(out, text, separator);
    return out;
}

void CsvWriter::writeRow(const QStringList &cells)
{
    if (!m_file || m_failed)
        return;
    for (int i = 0; i < cells.size(); ++i) {
        if (i)
            m_pending += m_separator;
        appendCell(m_pending, cells.at(i), m_separator);
    }
    m_pending += QLatin1String("\r\n");
    if (m_pending.size() >= kFlushChars)
        flush();
}

bool CsvWriter::flush()
{
    if (!m_file || m_failed)
        return false;
    const QByteArray bytes = m_pending.toUtf8();
    m_pending.clear();
    if (m_file->write(bytes) != bytes.size()) {
        m_error = m_file->errorString();
        m_failed = true;
        return false;
    }
    return true;
}

Result<> CsvWriter::writeAll(const QString &path, const CsvFormat &format, const QList<QStringList> &rows)
{
    CsvWriter writer(path, format);
    bool written = writer.open();
    if (written) {
        for (const QStringList &row : rows)
            writer.writeRow(row);
        written = writer.commit();
    }
    if (!written)
        return Error{ErrorKind::Io, QStringLiteral("Не удалось записать файл ") + path + QStringLiteral("\r\n") + writer.errorString()};
    return {};
}

bool CsvWriter::commit()
{
    if (!m_file)
        return false;
    if (!flush()) {
        cancel();
        return false;
    }
    const bool ok = m_file->commit();
    if (!ok)
        m_error = m_file->errorString();
    m_file.reset();
    return ok;
}

void CsvWriter::cancel()
{
    if (m_file) {
        m_file->cancelWriting();
        m_file->commit();  // with the writing cancelled this only removes the side file
        m_file.reset();
    }
    m_pending.clear();
}

QString csvNumberText(double value, QChar decimal)
{
    QString s = QString::number(value, 'g', 15);
    if (decimal != QLatin1Char('.'))
        s.replace(QLatin1Char('.'), decimal);
    return s;
}

QString csvCellText(const FieldDef &field, const QVariant &stored, QChar decimal)
{
    if (!stored.isValid() || stored.isNull())
        return QString();
    switch (field.type) {
    case FieldType::DateTime:
        return storedDateTimeText(stored.toString());
    case FieldType::Date: {
        const QString s = stored.toString();
        return s.size() == 10 ? storedDateTimeText(s).left(10) : s;
    }
    case FieldType::Boolean: {
        const bool on = stored.toLongLong() != 0;
        const QStringList parts = field.displayFormat.split(QLatin1Char(';'));
        if (parts.size() >= 2)
            return on ? parts[0] : parts[1];
        return on ? QStringLiteral("True") : QStringLiteral("False");
    }
    case FieldType::Float:
        return csvNumberText(stored.toDouble(), decimal);
    case FieldType::AutoInc:
    case FieldType::Integer:
        return QString::number(stored.toLongLong());
    case FieldType::Text:
        return stored.toString();
    }
    return stored.toString();
}

namespace {

CsvResult finish(CsvWriter &writer, CsvResult r)
{
    if (r.kind() == ErrorKind::Cancelled) {
        writer.cancel();
        return r;
    }
    if (!writer.commit()) {
        r.error = Error{ErrorKind::Failed, writer.errorString()};
        return r;
    }
    return r;
}

} // namespace

CsvResult exportTableToCsv(const DataTable &table, const QList<CsvColumn> &columns, const QString &path,
                           const CsvProgress &progress, const CsvFormat &format)
{
    CsvResult r(0);
    QVector<int> fields;
    QList<FieldDef> defs;
    QStringList titles;
    for (const CsvColumn &c : columns) {
        const int f = table.fieldIndex(c.field);
        if (f < 0) {
            r.error = Error{ErrorKind::Failed, QStringLiteral("Нет поля %1 в таблице %2").arg(c.field, table.tableName())};
            return r;
        }
        fields.append(f);
        defs.append(table.fields().at(f));
        titles.append(c.title);
    }
    CsvWriter writer(path, format);
    if (!writer.open()) {
        r.error = Error{ErrorKind::Failed, writer.errorString()};
        return r;
    }
    writer.writeRow(titles);
    try {
        const qint64 total = table.recordCount();
        if (progress && !progress(0, total)) {
            r.error = Error{ErrorKind::Cancelled, QString()};
            return finish(writer, r);
        }
        // Page after page in the table's order, each page going on from the
        // last row of the one before: rows stored meanwhile neither repeat
        // nor shift the pages.
        RowData boundary;
        bool haveBoundary = false;
        qint64 nextTick = kRowsPerTick;
        QStringList cells;
        cells.reserve(fields.size());
        for (;;) {
            const QVector<RowData> page =
                table.fetchRows(fields, true, haveBoundary ? &boundary : nullptr, kPageRows);
            for (const RowData &row : page) {
                cells.clear();
                for (int i = 0; i < defs.size(); ++i)
                    cells.append(csvCellText(defs.at(i), row.values.value(i), format.decimal));
                writer.writeRow(cells);
            }
            r.value += page.size();
            if (page.size() < kPageRows)
                break;
            boundary = page.last();
            haveBoundary = true;
            if (r.value >= nextTick) {
                nextTick = r.value + kRowsPerTick;
                if (progress && !progress(r.value, qMax(total, r.value))) {
                    r.error = Error{ErrorKind::Cancelled, QString()};
                    return finish(writer, r);
                }
            }
        }
        if (progress)
            progress(r.value, qMax(total, r.value));
    } catch (const ERuvoError &e) {
        writer.cancel();
        r.error = storeError(e);
        return r;
    }
    return finish(writer, r);
}

CsvResult exportRowsToCsv(const QStringList &titles, const QList<QStringList> &rows, const QString &path,
                          const CsvProgress &progress, const CsvFormat &format)
{
    CsvResult r(0);
    CsvWriter writer(path, format);
    if (!writer.open()) {
        r.error = Error{ErrorKind::Failed, writer.errorString()};
        return r;
    }
    writer.writeRow(titles);
    const qint64 total = rows.size();
    if (progress && !progress(0, total)) {
        r.error = Error{ErrorKind::Cancelled, QString()};
        return finish(writer, r);
    }
    for (const QStringList &row : rows) {
        writer.writeRow(row);
        ++r.value;
        if (progress && r.value % kRowsPerTick == 0 && !progress(r.value, total)) {
            r.error = Error{ErrorKind::Cancelled, QString()};
            return finish(writer, r);
        }
    }
    if (progress)
        progress(r.value, total);
    return finish(writer, r);
}
