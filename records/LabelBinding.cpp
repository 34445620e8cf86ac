// Binding a dosimeter from its label; see LabelBinding.h.

#include "records/LabelBinding.h"

#include "core/Errors.h"
#include "core/LogFiles.h"
#include "core/Prompt.h"
#include "core/TextCode.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/DoseAlerts.h"
#include "records/Journal.h"
#include "records/RowEditing.h"

#include <QSqlQuery>

namespace {

const QString NameCaption = QStringLiteral("Привязка дозиметра");
const QString NamePrompt = QStringLiteral("Введите ФИО");

} // namespace

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

bool LabelBinding::createCard(const QString &label)
{
    try {
        CardIndex index(m_dm);
        // The settings file may be lost or older than the table: the new
        // number is above both.
        CardData card;
        const int n = index.nextNumber(m_hooks.maxCardsIndex ? m_hooks.maxCardsIndex() : 0);
        card.id = n;
        card.fio = labelText(label);
        card.label = card.fio;
        index.createCard(card);
        if (m_hooks.setMaxCardsIndex)
            m_hooks.setMaxCardsIndex(n);
        return true;
    } catch (const ERuvoError &) {
        return false;
    }
}

LabelBinding::Outcome LabelBinding::accept(const LabelWriteOutcome &outcome, LabelCardChoice choice, bool cardKnown,
                                           bool record2Note)
{
    bool haveCard = cardKnown;
    if (!cardKnown && choice != LabelCardChoice::Nothing) {
        if (!createCard(outcome.label)) {
            logEvent(QStringLiteral("Ошибка при поиске/добавлении/редактировании карточки ") + outcome.label
                     + QStringLiteral(" в DBCards4Find"));
            activePrompt().message(MsgKind::Error,
                                   QStringLiteral("Не удалось создать карточку ") + labelText(outcome.label)
                                       + QStringLiteral(",\r\nзапись в журнале не сделана"),
                                   PromptButton::Ok);
            return Outcome::CardFailed;
        }
        haveCard = true;
        if (choice == LabelCardChoice::CreateAndEdit && m_hooks.editCurrentCard)
            m_hooks.editCurrentCard();
        else if (choice == LabelCardChoice::CreateAndShow && m_hooks.showCardList)
            m_hooks.showCardList();
    }
    if (!record2Note || !outcome.verified)
        return Outcome::Done;
    return bindInJournal(outcome, choice, haveCard);
}

LabelBinding::Outcome LabelBinding::bindInJournal(const LabelWriteOutcome &outcome, LabelCardChoice choice,
                                                  bool haveCard)
{
    const std::optional<int> number = Journal::dosimeterNumber(outcome.number);
    if (!number)
        return Outcome::Done;  // nothing to bind: the journal stays as it is
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
        return Outcome::Done;  // a failed look-up leaves the journal alone
    }
    const bool byCard = haveCard && choice != LabelCardChoice::Nothing;
    auto samePerson = [&](const QString &name) {
        const QString held = name.trimmed();
        if (haveCard && ((!cardFio.isEmpty() && held == cardFio) || (!cardLabel.isEmpty() && sameLabel(held, cardLabel))))
            return true;
        return !byCard && !label.isEmpty() && sameLabel(held, label);
    };
    if (open && samePerson(open->fio))
        return Outcome::Done;

    // The holder's name before anything changes.
    QString name;
    if (byCard) {
        name = cardFio;
    } else {
        name = label;
        // A name the stored code page cannot hold is refused and asked again.
        for (;;) {
            if (!activePrompt().input(NameCaption, NamePrompt, name))
                return Outcome::NameCancelled;
            const QString missing = charactersNotHeld(name, cp1251Holds);
            if (missing.isEmpty())
                break;
            activePrompt().message(MsgKind::Warning, refusedCharactersText(QStringLiteral("ФИО"), missing),
                                   PromptButton::Ok);
        }
        if (open && open->fio.trimmed() == name.trimmed() && !name.trimmed().isEmpty())
            return Outcome::Done;
    }

    // The old binding closes and the new one opens together, or neither.
    const QDateTime t = now();
    try {
        Transaction tr(m_dm);
        if (open) {
            if (!notes.findKey(open->key))
                throw EGeneralError(QStringLiteral("row gone"));
            const QDateTime end = open->from.isValid() && t < open->from ? open->from : t;
            editingRow(notes, [&] {
                notes.edit();
                notes.setFieldValue(fieldName(NotesField::TimeTo), end);
                notes.post();
            });
        }
        editingRow(notes, [&] {
            notes.append();
            notes.setFieldValue(fieldName(NotesField::ID), *number);
            notes.setFieldValue(fieldName(NotesField::FIO), name);
            notes.setFieldValue(fieldName(NotesField::TimeFrom), t);
            notes.post();
        });
        tr.commit();
    } catch (const ERuvoError &) {
        try {
            notes.refresh();
        } catch (...) {
        }
        activePrompt().message(MsgKind::Error, Journal::AddFailedText, PromptButton::Ok);
        return Outcome::JournalFailed;
    }
    DoseAlerts::bindingsChanged(m_dm);
    if (m_hooks.namesOutOfStep)
        m_hooks.namesOutOfStep();
    return Outcome::Done;
}
