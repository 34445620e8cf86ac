// Binding a dosimeter from its label; see LabelBinding.h.

#include "records/LabelBinding.h"

#include "core/Errors.h"
#include "core/LogFiles.h"
#include "core/TextCode.h"
#include "records/CardIndex.h"
#include "records/AuditLog.h"
#include "records/DataModule.h"
#include "records/DoseAlerts.h"
#include "records/Journal.h"
#include "records/RowEditing.h"
#include "records/StoreError.h"

#include <QSqlQuery>

LabelBinding::LabelBinding(DataModule &dm, LabelBindingHooks hooks) : m_dm(dm), m_hooks(std::move(hooks))
{
}

QString LabelBinding::labelText(const QString &label)
{
    auto junk = [](QChar c) { return c.isSpace() || c.unicode() < 0x20 || c.unicode() == 0x7f; };
    int b = 0;
    int e = label.size();
    while (b < e && junk(label.at(b)))
        ++b;
    while (e > b && junk(label.at(e - 1)))
        --e;
    return label.mid(b, e - b);
}

bool LabelBinding::sameLabel(const QString &a, const QString &b)
{
    return CardIndex::sameLabel(labelText(a), labelText(b));
}

QDateTime LabelBinding::now() const
{
    return m_hooks.now ? m_hooks.now() : QDateTime::currentDateTime();
}

std::optional<QVariant> LabelBinding::findCard(const QString &label)
{
    CardIndex index(m_dm);
    const std::optional<CardData> card = index.findCardByLabel(labelText(label));
    if (!card)
        return std::nullopt;
    m_dm.cards().findKey(card->key);
    return card->key;
}

QString LabelBinding::cardFailedText(const QString &label)
{
    return QStringLiteral("Не удалось создать карточку ") + labelText(label)
        + QStringLiteral(",\r\nзапись в журнале не сделана");
}

Result<> LabelBinding::createCard(const QString &label)
{
    Result<QVariant> created;
    try {
        CardIndex index(m_dm);
        // The settings file may be lost or older than the table: the new
        // number is above both.
        const Result<int> n = index.nextNumber(m_hooks.maxCardsIndex ? m_hooks.maxCardsIndex() : 0);
        if (!n)
            return Error{n.kind(), cardFailedText(label)};
        CardData card;
        card.id = n.value;
        card.fio = labelText(label);
        card.label = card.fio;
        created = index.createCard(card);
        if (created && m_hooks.setMaxCardsIndex)
            m_hooks.setMaxCardsIndex(n.value);
    } catch (const ERuvoError &e) {
        return storeError(e, cardFailedText(label));
    }
    if (!created) {
        // A refusal keeps the store's own words (the server's, naming the table).
        const bool refused = created.kind() == ErrorKind::ReadOnly;
        return Error{created.kind(), cardFailedText(label) + (refused ? QStringLiteral("\r\n") + created.errorText() : QString())};
    }
    return {};
}

Result<> LabelBinding::accept(const LabelWriteOutcome &outcome, LabelCardChoice choice, bool cardKnown,
                              bool record2Note, const AskName &askName)
{
    bool haveCard = cardKnown;
    if (!cardKnown && choice != LabelCardChoice::Nothing) {
        if (const Result<> created = createCard(outcome.label); !created) {
            logEvent(QStringLiteral("Ошибка при поиске/добавлении/редактировании карточки ") + outcome.label
                     + QStringLiteral(" в DBCards4Find"));
            return created;
        }
        haveCard = true;
        if (choice == LabelCardChoice::CreateAndEdit && m_hooks.editCurrentCard)
            m_hooks.editCurrentCard();
        else if (choice == LabelCardChoice::CreateAndShow && m_hooks.showCardList)
            m_hooks.showCardList();
    }
    if (!record2Note || !outcome.verified)
        return {};
    return bindInJournal(outcome, choice, haveCard, askName);
}

Result<> LabelBinding::bindInJournal(const LabelWriteOutcome &outcome, LabelCardChoice choice, bool haveCard,
                                     const AskName &askName)
{
    const std::optional<int> number = Journal::dosimeterNumber(outcome.number);
    if (!number)
        return {};  // nothing to bind: the journal stays as it is
    const QString label = labelText(outcome.label);
    QString cardFio;
    QString cardLabel;
    DataTable &cards = m_dm.cards();
    DataTable &notes = m_dm.notes();
    Journal journal(m_dm, {});
    std::optional<Journal::Row> open;
    try {
        if (haveCard && cards.hasCurrent()) {
            cardFio = cards.asString(fieldName(CardsField::FIO)).trimmed();
            cardLabel = cards.asString(fieldName(CardsField::Label));
        }
        open = journal.openBinding(*number);
    } catch (const ERuvoError &) {
        return {};  // a failed look-up leaves the journal alone
    }
    const bool byCard = haveCard && choice != LabelCardChoice::Nothing;
    auto samePerson = [&](const QString &name) {
        const QString held = name.trimmed();
        if (haveCard && ((!cardFio.isEmpty() && held == cardFio) || (!cardLabel.isEmpty() && sameLabel(held, cardLabel))))
            return true;
        return !byCard && !label.isEmpty() && sameLabel(held, label);
    };
    if (open && samePerson(open->fio))
        return {};

    // The holder's name before anything changes.
    QString name;
    if (byCard) {
        name = cardFio;
    } else {
        const std::optional<QString> asked = askName ? askName(label) : std::nullopt;
        if (!asked)
            return Error{ErrorKind::Cancelled, QString()};
        name = *asked;
        if (open && open->fio.trimmed() == name.trimmed() && !name.trimmed().isEmpty())
            return {};
    }

    // The old binding closes and the new one opens together, or neither.
    const QDateTime t = now();
    try {
        Transaction tr(m_dm);
        // Another monitor may have bound or released this dosimeter while
        // the operator was asked: the journal is held against other writers
        // (as Journal::bind does) and its binding read again; one that
        // changed meanwhile stands, and nothing of this one is written.
        if (m_dm.onServer())
            notes.exec(QStringLiteral("LOCK TABLE %1 IN SHARE ROW EXCLUSIVE MODE").arg(notes.sqlName()));
        const std::optional<Journal::Row> openNow = journal.openBinding(*number);
        if (open.has_value() != openNow.has_value() || (open && !Journal::sameRow(*open, *openNow))
            || (open && !notes.findKey(open->key))) {
            const std::optional<Journal::Row> now = open ? journal.row(open->key) : openNow;
            notes.refresh();
            return Error{ErrorKind::Conflict, Journal::changedElsewhereText(now)};
        }
        AuditLog audit(m_dm);
        if (open) {
            const QDateTime end = open->from.isValid() && t < open->from ? open->from : t;
            const QString before = AuditLog::rowText(notes);
            editingRow(notes, [&] {
                notes.edit();
                notes.setFieldValue(fieldName(NotesField::TimeTo), end);
                notes.post();
            });
            audit.write({notes.tableName(), open->key.toString(), AuditLog::UpdateAction, before, AuditLog::rowText(notes)});
        }
        editingRow(notes, [&] {
            notes.append();
            notes.setFieldValue(fieldName(NotesField::ID), *number);
            notes.setFieldValue(fieldName(NotesField::FIO), name);
            notes.setFieldValue(fieldName(NotesField::TimeFrom), t);
            notes.post();
        });
        audit.write({notes.tableName(), notes.fieldValue(notes.keyField()).toString(), AuditLog::InsertAction, QString(),
                     AuditLog::rowText(notes)});
        tr.commit();
    } catch (const ERuvoError &e) {
        try {
            notes.refresh();
        } catch (...) {
        }
        return storeError(e, Journal::AddFailedText);
    }
    DoseAlerts::bindingsChanged(m_dm);
    if (m_hooks.namesOutOfStep)
        m_hooks.namesOutOfStep();
    return {};
}
