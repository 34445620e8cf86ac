#include "records/CardIndex.h"

#include "records/DoseAlerts.h"

#include "core/Errors.h"
#include "records/AuditLog.h"
#include "core/TextCode.h"
#include "core/DeviceText.h"
#include "records/DataModule.h"
#include "records/DataTable.h"
#include "records/RowEditing.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QSqlQuery>
#include <functional>
#include <optional>
#include <limits>
#include <sqlite3.h>
#include <vector>

namespace {

QString sqlField(CardsField field)
{
    return RecordsSql::quoted(fieldName(field));
}

QVariant textOrNull(const QString &s)
{
    return s.isEmpty() ? QVariant() : QVariant(s);
}

// The device byte of every UTF-16 unit: through Windows-1251 (a character it
// lacks becomes "?") and the device table. Built once; a label's key is then
// a table look-up per character, cheap enough to run over every stored label.
const quint8 *deviceBytes()
{
    static const std::vector<quint8> table = [] {
        std::vector<quint8> t(0x10000, ToDeviceTable[quint8('?')]);
        for (int b = 0; b < 256; ++b) {
            const QString s = fromCp1251(QByteArray(1, char(b)));
            if (s.size() == 1 && s[0] != QChar::ReplacementCharacter)
                t[s[0].unicode()] = ToDeviceTable[b];
        }
        return t;
    }();
    return table.data();
}

QByteArray keyOf(const char16_t *text, qsizetype size)
{
    qsizetype from = 0;
    qsizetype to = qMin<qsizetype>(size, CardIndex::LabelSize);
    while (from < to && text[from] <= 0x20)
        ++from;
    while (to > from && text[to - 1] <= 0x20)
        --to;
    const quint8 *table = deviceBytes();
    QByteArray key(to - from, Qt::Uninitialized);
    for (qsizetype i = from; i < to; ++i)
        key[i - from] = char(table[text[i]]);
    return key;
}

// The SQL function giving a stored label's key, for scans over the labels.
const char *const LabelKeyFunction = "ruvo_label_key";

void labelKeyFunction(sqlite3_context *ctx, int, sqlite3_value **argv)
{
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto *text = static_cast<const char16_t *>(sqlite3_value_text16(argv[0]));
    const int bytes = sqlite3_value_bytes16(argv[0]);
    const QByteArray key = text ? keyOf(text, bytes / 2) : QByteArray();
    sqlite3_result_blob(ctx, key.constData(), int(key.size()), SQLITE_TRANSIENT);
}

// On the server the stored labels pass once, in key order, through a
// forward-only query and get their keys here, the same keys the SQL
// function gives on SQLite; `take` returns false to stop.
void forEachLabel(const DataTable &lookup, const std::function<bool(const QVariant &, const QByteArray &)> &take)
{
    QSqlQuery q = lookup.exec(QStringLiteral("SELECT %2, %3 FROM %1 WHERE %3 IS NOT NULL ORDER BY %2")
                                  .arg(lookup.sqlName(), sqlField(CardsField::Index), sqlField(CardsField::Label)));
    while (q.next()) {
        if (!take(q.value(0), CardIndex::labelKey(q.value(1).toString())))
            return;
    }
}

} // namespace

CardIndex::CardIndex(DataModule &dm) : m_dm(&dm), m_cards(&dm.cards()), m_lookup(&dm.cardsFind()) {}

// ---------------------------------------------------------------- labels

QByteArray CardIndex::labelKey(const QString &label)
{
    return keyOf(reinterpret_cast<const char16_t *>(label.utf16()), label.size());
}

QString CardIndex::collapseBlanks(const QString &name)
{
    return name.simplified();
}

QString CardIndex::labelFromName(const QString &rawName)
{
    // Only what the dosimeter can hold, whole characters: an initial is the
    // first character of a word, never half of one.
    const QString name = collapseBlanks(keepHeldCharacters(rawName, deviceTextHolds));
    const qsizetype p = name.indexOf(QLatin1Char(' '));
    if (p < 0)
        return name.left(ProposalCut);
    QString label = name.left(p);
    QString rest = name.mid(p + 1);
    if (rest.isEmpty())
        return label;
    label += rest[0];
    const qsizetype q = rest.indexOf(QLatin1Char(' '));
    if (q < 0)
        return label;
    rest = rest.mid(q + 1);
    if (rest.isEmpty())
        return label;
    label += rest[0];
    return label;
}

QString CardIndex::proposeLabel(const QString &name, const QSet<QByteArray> &taken)
{
    const QString label = labelFromName(name).left(LabelSize);
    if (label.isEmpty() || !taken.contains(labelKey(label)))
        return label;
    const QString base = label.left(LabelSize - 1);
    for (int n = 0; n <= 9; ++n) {
        const QString candidate = base + QString::number(n);
        if (!taken.contains(labelKey(candidate)))
            return candidate;
    }
    return base;
}

QString CardIndex::proposeLabel(const QString &name) const
{
    const QString label = labelFromName(name).left(LabelSize);
    if (label.isEmpty())
        return label;
    QList<QByteArray> candidates{labelKey(label)};
    const QString base = label.left(LabelSize - 1);
    for (int n = 0; n <= 9; ++n)
        candidates.append(labelKey(base + QString::number(n)));
    return proposeLabel(name, takenAmong(candidates));
}

QSet<QByteArray> CardIndex::takenAmong(const QList<QByteArray> &keys) const
{
    QSet<QByteArray> taken;
    QList<QByteArray> wanted;
    for (const QByteArray &k : keys) {
        if (!k.isEmpty())
            wanted << k;
    }
    if (wanted.isEmpty())
        return taken;
    if (!m_dm->dialect().sqlite()) {
        const QSet<QByteArray> wantedSet(wanted.cbegin(), wanted.cend());
        forEachLabel(*m_lookup, [&](const QVariant &, const QByteArray &key) {
            if (wantedSet.contains(key))
                taken.insert(key);
            return taken.size() < wantedSet.size();
        });
        return taken;
    }
    QVariantList params;
    QStringList marks;
    for (const QByteArray &k : wanted) {
        marks << QStringLiteral("?");
        params << k;
    }
    m_dm->withFunction(LabelKeyFunction, 1, labelKeyFunction, [&] {
        QSqlQuery q = m_lookup->exec(QStringLiteral("SELECT DISTINCT \"k\" FROM (SELECT %1(%4) AS \"k\" "
                                                    "FROM %2 WHERE %4 IS NOT NULL) WHERE \"k\" IN (%3)")
                                         .arg(QLatin1String(LabelKeyFunction), m_lookup->sqlName(),
                                              marks.join(QLatin1Char(',')), sqlField(CardsField::Label)),
                                     params);
        while (q.next())
            taken.insert(q.value(0).toByteArray());
    });
    return taken;
}

QSet<QByteArray> CardIndex::labelKeys() const
{
    QSet<QByteArray> keys;
    if (!m_dm->dialect().sqlite()) {
        forEachLabel(*m_lookup, [&](const QVariant &, const QByteArray &key) {
            if (!key.isEmpty())
                keys.insert(key);
            return true;
        });
        return keys;
    }
    m_dm->withFunction(LabelKeyFunction, 1, labelKeyFunction, [&] {
        QSqlQuery q = m_lookup->exec(QStringLiteral("SELECT DISTINCT %1(%3) FROM %2 WHERE %3 IS NOT NULL")
                                         .arg(QLatin1String(LabelKeyFunction), m_lookup->sqlName(),
                                              sqlField(CardsField::Label)));
        while (q.next()) {
            const QByteArray key = q.value(0).toByteArray();
            if (!key.isEmpty())
                keys.insert(key);
        }
    });
    return keys;
}

QVariant CardIndex::firstWithLabel(const QByteArray &key, const QVariant &except) const
{
    QVariant found;
    if (key.isEmpty())
        return found;
    if (!m_dm->dialect().sqlite()) {
        forEachLabel(*m_lookup, [&](const QVariant &index, const QByteArray &k) {
            if (k != key || (!except.isNull() && index.toLongLong() == except.toLongLong()))
                return true;
            found = index;
            return false;
        });
        return found;
    }
    QVariantList params{key};
    const QString index = sqlField(CardsField::Index);
    QString sql = QStringLiteral("SELECT %3 FROM %1 WHERE %4 IS NOT NULL AND %2(%4) = ?")
                      .arg(m_lookup->sqlName(), QLatin1String(LabelKeyFunction), index, sqlField(CardsField::Label));
    if (!except.isNull()) {
        sql += QStringLiteral(" AND %1 <> ?").arg(index);
        params << except;
    }
    sql += QStringLiteral(" ORDER BY %1 LIMIT 1").arg(index);
    m_dm->withFunction(LabelKeyFunction, 1, labelKeyFunction, [&] {
        QSqlQuery q = m_lookup->exec(sql, params);
        if (q.next())
            found = q.value(0);
    });
    return found;
}

bool CardIndex::labelTaken(const QString &label, const QVariant &except) const
{
    return !firstWithLabel(labelKey(label), except).isNull();
}

std::optional<CardData> CardIndex::findCardByLabel(const QString &label) const
{
    const QVariant key = firstWithLabel(labelKey(label), QVariant());
    if (key.isNull())
        return std::nullopt;
    return card(key);
}

// ---------------------------------------------------------------- cards

CardData CardIndex::readCurrent(const DataTable &t) const
{
    CardData c;
    c.key = t.fieldValue(fieldName(CardsField::Index));
    c.id = t.fieldValue(fieldName(CardsField::ID));
    c.fio = t.asString(fieldName(CardsField::FIO));
    c.label = t.asString(fieldName(CardsField::Label));
    const QVariant birth = t.fieldValue(fieldName(CardsField::BirthDay));
    if (!birth.isNull() && !isMissingDate(birth.toDate()))
        c.birthDay = birth.toDate();
    const QVariant male = t.fieldValue(fieldName(CardsField::IsMale));
    if (!male.isNull())
        c.isMale = male.toBool();
    c.vacancy = t.asString(fieldName(CardsField::Vacancy));
    c.subDiv = t.asString(fieldName(CardsField::SubDiv));
    c.address = t.asString(fieldName(CardsField::Address));
    c.telephone = t.asString(fieldName(CardsField::Telephone));
    c.comment = t.asString(fieldName(CardsField::Comment));
    return c;
}

std::optional<CardData> CardIndex::card(const QVariant &key) const
{
    if (key.isNull() || !m_lookup->findKey(key))
        return std::nullopt;
    return readCurrent(*m_lookup);
}

std::optional<CardData> CardIndex::currentCard() const
{
    if (!m_cards->active() || !m_cards->hasCurrent() || m_cards->state() == TableState::Insert)
        return std::nullopt;
    return readCurrent(*m_cards);
}

void CardIndex::writeFields(const CardData &c, bool keepSexWhenUnset)
{
    DataTable &t = *m_cards;
    t.setFieldValue(fieldName(CardsField::ID), c.id.isNull() ? QVariant() : QVariant(c.id.toInt()));
    t.setFieldValue(fieldName(CardsField::FIO), textOrNull(c.fio));
    t.setFieldValue(fieldName(CardsField::Label), textOrNull(c.label));
    t.setFieldValue(fieldName(CardsField::Vacancy), textOrNull(c.vacancy));
    t.setFieldValue(fieldName(CardsField::SubDiv), textOrNull(c.subDiv));
    t.setFieldValue(fieldName(CardsField::Telephone), textOrNull(c.telephone));
    t.setFieldValue(fieldName(CardsField::Address), textOrNull(c.address));
    t.setFieldValue(fieldName(CardsField::Comment), textOrNull(c.comment));
    if (c.isMale)
        t.setFieldValue(fieldName(CardsField::IsMale), *c.isMale);
    else if (!keepSexWhenUnset)
        t.setFieldValue(fieldName(CardsField::IsMale), QVariant());
    t.setFieldValue(fieldName(CardsField::BirthDay), isMissingDate(c.birthDay) ? missingDate() : c.birthDay);
}

namespace {

std::optional<Error> numberOutOfRange(const CardData &c)
{
    if (CardIndex::numberInRange(c.id))
        return std::nullopt;
    return Error{ErrorKind::Invalid, QStringLiteral("Табельный номер %1 не допускается: номер должен быть от %2 до %3.")
                                .arg(c.id.toString())
                                .arg(CardIndex::SmallestNumber)
                                .arg(CardIndex::LargestNumber)};
}

} // namespace

Result<QVariant> CardIndex::createCard(const CardData &c)
{
    if (const std::optional<Error> refused = numberOutOfRange(c))
        return *refused;
    DataTable &t = *m_cards;
    try {
        std::optional<Transaction> tx;
        if (!m_dm->inTransaction())
            tx.emplace(*m_dm);
        t.append();
        editingRow(t, [&] {
            writeFields(c, false);
            t.post();
        });
        const QVariant key = t.fieldValue(fieldName(CardsField::Index));
        AuditLog(*m_dm).write({t.tableName(), key.toString(), AuditLog::InsertAction, QString(), AuditLog::rowText(t)});
        if (tx)
            tx->commit();
        cardsChanged();
        return key;
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
}

void CardIndex::cardsChanged()
{
    // A card's name or label decides whose journal entries are whose: the
    // dose alerts of the entries it moves are looked at again.
    DoseAlerts::bindingsChanged(*m_dm);
}

const QString CardIndex::ChangedElsewhereText =
    QStringLiteral("Карточка изменена на другом рабочем месте, ваше изменение не сохранено.\r\n"
                   "Проверьте карточку и повторите действие.");
const QString CardIndex::DeletedElsewhereText =
    QStringLiteral("Карточка удалена на другом рабочем месте, ваше изменение не сохранено.");

bool CardIndex::sameCard(const CardData &a, const CardData &b)
{
    return a.key == b.key && a.id == b.id && a.fio == b.fio && a.label == b.label && a.birthDay == b.birthDay
        && a.isMale == b.isMale && a.vacancy == b.vacancy && a.subDiv == b.subDiv && a.address == b.address
        && a.telephone == b.telephone && a.comment == b.comment;
}

std::optional<Error> CardIndex::changedSince(const CardData &asRead)
{
    // Another monitor may have changed or deleted the card since it was
    // read: their change stands, this one is told and writes nothing.
    holdRow(*m_cards, asRead.key);
    const std::optional<CardData> now = card(asRead.key);
    if (now && sameCard(*now, asRead) && m_cards->findKey(asRead.key))
        return std::nullopt;
    m_cards->refresh();
    return Error{ErrorKind::Conflict, now ? ChangedElsewhereText : DeletedElsewhereText};
}

Result<QVariant> CardIndex::updateCard(const CardData &c, const CardData &asRead)
{
    if (const std::optional<Error> refused = numberOutOfRange(c))
        return *refused;
    if (c.key.isNull())
        return createCard(c);
    DataTable &t = *m_cards;
    try {
        std::optional<Transaction> tx;
        if (!m_dm->inTransaction())
            tx.emplace(*m_dm);
        if (const std::optional<Error> conflict = changedSince(asRead))
            return *conflict;
        const QString before = AuditLog::rowText(t);
        t.edit();
        editingRow(t, [&] {
            writeFields(c, true);
            t.post();
        });
        const QVariant key = t.fieldValue(fieldName(CardsField::Index));
        AuditLog(*m_dm).write({t.tableName(), key.toString(), AuditLog::UpdateAction, before, AuditLog::rowText(t)});
        if (tx)
            tx->commit();
        cardsChanged();
        return key;
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
}

Result<> CardIndex::deleteCard(const CardData &asRead)
{
    DataTable &t = *m_cards;
    try {
        if (asRead.key.isNull())
            return Error{ErrorKind::Conflict, DeletedElsewhereText};
        std::optional<Transaction> tx;
        if (!m_dm->inTransaction())
            tx.emplace(*m_dm);
        if (const std::optional<Error> conflict = changedSince(asRead))
            return *conflict;
        const QString before = AuditLog::rowText(t);
        t.remove();
        AuditLog(*m_dm).write({t.tableName(), asRead.key.toString(), AuditLog::DeleteAction, before, QString()});
        if (tx)
            tx->commit();
        cardsChanged();
        return {};
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
}

// ---------------------------------------------------------------- numbers

int CardIndex::largestNumber() const
{
    QSqlQuery q = m_lookup->exec(QStringLiteral("SELECT MAX(%2) FROM %1").arg(m_lookup->sqlName(), sqlField(CardsField::ID)));
    if (!q.next() || q.value(0).isNull())
        return 0;
    return int(qBound<qint64>(0, q.value(0).toLongLong(), qint64(std::numeric_limits<int>::max())));
}

bool CardIndex::numberInRange(const QVariant &id)
{
    if (id.isNull())
        return true;
    bool ok = false;
    const qlonglong n = id.toLongLong(&ok);
    return ok && n >= SmallestNumber && n <= LargestNumber;
}

Result<int> CardIndex::nextNumber(int maxCardsIndex) const
{
    int largest = 0;
    try {
        largest = qMax(maxCardsIndex, largestNumber());
    } catch (const ERuvoError &e) {
        return storeError(e);
    }
    if (largest >= LargestNumber)
        return Error{ErrorKind::Conflict,
                     QStringLiteral("Нет свободного табельного номера: номера больше %1 не допускаются.").arg(LargestNumber)};
    return largest + 1;
}

// ---------------------------------------------------------------- search

bool CardIndex::locateNumber(const QString &text)
{
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok)
        return false;
    try {
        return m_cards->locate(fieldName(CardsField::ID), number);
    } catch (const ERuvoError &) {
        return false;
    }
}

bool CardIndex::locateName(const QString &text)
{
    if (text.isEmpty())
        return false;
    try {
        return m_cards->locate(fieldName(CardsField::FIO), text, LocateOption::CaseInsensitive | LocateOption::PartialKey);
    } catch (const ERuvoError &) {
        return false;
    }
}

// ---------------------------------------------------------------- age

std::optional<int> CardIndex::fullYears(const QDate &birthDay, const QDate &today)
{
    if (isMissingDate(birthDay) || !today.isValid())
        return std::nullopt;
    const QDate from = qMin(birthDay, today);
    const QDate to = qMax(birthDay, today);
    int years = to.year() - from.year();
    if (to.month() < from.month() || (to.month() == from.month() && to.day() < from.day()))
        --years;
    return years;
}

QString CardIndex::ageText(const QDate &birthDay, const QDate &today)
{
    const std::optional<int> years = fullYears(birthDay, today);
    return QStringLiteral("(Число полных лет - %1 )")
        .arg(years ? QString::number(*years) : QStringLiteral("?"));
}
