#pragma once
// The card index: one card per person in the table Cards (personnel number,
// full name, the label that identifies the person inside a dosimeter, birth
// date, sex, position, department, address, telephone, remark).
//
// What the card windows and the label binding need of it, headless: the card
// search, the label proposal for a new card, label look-ups with labels
// compared as the dosimeter holds them, the next personnel number, the age,
// and creating, changing and deleting a card.
//
// Labels. A dosimeter holds 16 bytes of its own character code, padded with
// blanks. Two labels are the same label when the dosimeter would hold the
// same bytes: each is cut to the 16 characters the field keeps, stripped of
// blanks at both ends and converted through the device text tables, so a
// Latin letter and the Cyrillic letter that travels as it, or Ь and ь, make
// the same label.
//
// Writes go through the card table object (the one the card grid shows), so
// the written card becomes the current card; look-ups never move it.
// Failures of the store raise EGeneralError (core/Errors.h).

#include "core/Result.h"

#include <QByteArray>
#include <QList>
#include <QDate>
#include <QSet>
#include <QString>
#include <QVariant>
#include <optional>

class DataModule;
class DataTable;

// One card as the windows edit it. A blank number is null; an empty birth
// date is a null QDate; a sex never chosen is an empty optional.
struct CardData {
    QVariant key;        // Cards.Index; null for a card not stored yet
    QVariant id;         // personnel number (int) or null
    QString fio;
    QString label;       // FIO_RFID
    QDate birthDay;
    std::optional<bool> isMale;
    QString vacancy;
    QString subDiv;
    QString address;
    QString telephone;
    QString comment;
};

class CardIndex {
public:
    // The field sizes of the texts a proposal must respect.
    static constexpr int LabelSize = 16;   // FIO_RFID
    static constexpr int ProposalCut = 14; // a name without blanks is cut to this

    // Works on the module's card table (writes, current card) and on its
    // second object on the same file (look-ups).
    explicit CardIndex(DataModule &dm);

    DataTable &cards() const { return *m_cards; }

    // ---- labels
    // The bytes a dosimeter holds for a label, without the padding blanks:
    // cut to 16 characters, blanks at both ends removed, in the device code.
    static QByteArray labelKey(const QString &label);
    static bool sameLabel(const QString &a, const QString &b) { return labelKey(a) == labelKey(b); }

    // The name with blanks at both ends removed and every run of blanks made
    // one blank.
    static QString collapseBlanks(const QString &name);
    // The label built from a name, before any uniqueness check: the surname
    // followed by the initials of the first name and the patronymic, or the
    // first 14 characters of a name without blanks (blanks collapsed first,
    // characters the dosimeter's table lacks left out: deviceTextHolds).
    static QString labelFromName(const QString &name);
    // The proposal for a new card: labelFromName cut to the 16 characters the
    // field keeps; when a card already has that label (compared as the
    // dosimeter holds it), the first of the label cut to 15 characters plus a
    // digit 0..9 that no card has; the cut label when all ten are taken.
    // `taken` holds the labelKey of every stored label (see labelKeys()).
    static QString proposeLabel(const QString &name, const QSet<QByteArray> &taken);
    // The same against the labels stored now.
    QString proposeLabel(const QString &name) const;

    // The labelKey of every label stored (blank labels left out).
    QSet<QByteArray> labelKeys() const;
    // Which of these label keys a stored label has.
    QSet<QByteArray> takenAmong(const QList<QByteArray> &keys) const;
    // Whether a card other than the one with key `except` has this label
    // (compared as the dosimeter holds it). A blank label is never taken.
    bool labelTaken(const QString &label, const QVariant &except = QVariant()) const;
    // The first card (in key order) holding this label, compared as the
    // dosimeter holds it; nothing for a blank label or when none has it.
    std::optional<CardData> findCardByLabel(const QString &label) const;

    // ---- cards
    // The card with this key; nothing when there is none.
    std::optional<CardData> card(const QVariant &key) const;
    // The current card of the card table; nothing when it has none.
    std::optional<CardData> currentCard() const;
    // Stores a new card (texts cut to the field sizes) and makes it the
    // current card; returns its key. On failure nothing is stored: a
    // number out of range gives Invalid, a store failure its cause, each
    // with the text the operator is shown.
    Result<QVariant> createCard(const CardData &card);
    // Writes the card with card.key (every field, a sex never chosen leaves
    // isMale as stored) and makes it current; a card without a key is
    // created instead. asRead is the card as the editor read it: a card
    // changed or deleted by someone else since, up to the very write, gives
    // Conflict (ChangedElsewhereText, DeletedElsewhereText) and nothing is
    // written; their change stands and the card table shows it. Returns the
    // key written; other errors as createCard.
    Result<QVariant> updateCard(const CardData &card, const CardData &asRead);
    // Deletes the card as the operator was shown it (asRead): a card changed
    // or gone since gives Conflict as updateCard, nothing deleted.
    Result<> deleteCard(const CardData &asRead);
    static bool sameCard(const CardData &a, const CardData &b);
    static const QString ChangedElsewhereText;
    static const QString DeletedElsewhereText;

    // ---- numbers
    // The personnel numbers a card may have: nine digits at most. The
    // editor's number box, the number offered for a new card and the width
    // of the list's number column all follow this range; a card with a
    // number outside it is not stored.
    static constexpr int SmallestNumber = 0;
    static constexpr int LargestNumber = 999999999;
    static bool numberInRange(const QVariant &id);  // null counts as in range
    // The largest personnel number stored (0 without any).
    int largestNumber() const;
    // The number a new card is offered: one more than the larger of the
    // number remembered in the settings and the largest one stored. An
    // error for the operator (Conflict) when that is past LargestNumber.
    Result<int> nextNumber(int maxCardsIndex) const;

    // ---- search in the card list (moves the card table's current card)
    // The first card, in the table's order, with this personnel number; the
    // text is a whole number or nothing is found.
    bool locateNumber(const QString &text);
    // The first card whose name begins with the text, letter case ignored.
    bool locateName(const QString &text);

    // ---- age
    // Whole years between the birth date and `today` (the calendar age: one
    // more on each birthday; a 29 February birthday counts from 1 March in
    // other years); nothing for a null date or the day-0 date that stands
    // for a missing one.
    static std::optional<int> fullYears(const QDate &birthDay, const QDate &today);
    // "(Число полных лет - N )", with "?" for N when there is no age.
    static QString ageText(const QDate &birthDay, const QDate &today);

    // The date that stands for a missing birth date in the table (day 0,
    // 30.12.1899): an empty date box is stored as it.
    static QDate missingDate() { return QDate(1899, 12, 30); }
    static bool isMissingDate(const QDate &d) { return !d.isValid() || d == missingDate(); }

private:
    void cardsChanged();
    CardData readCurrent(const DataTable &table) const;
    QVariant firstWithLabel(const QByteArray &key, const QVariant &except) const;
    void writeFields(const CardData &card, bool keepSexWhenUnset);
    // Inside the write's transaction: none when the stored card is still
    // asRead (it is then the card table's current card), else the Conflict.
    std::optional<Error> changedSince(const CardData &asRead);

    DataModule *m_dm;
    DataTable *m_cards;
    DataTable *m_lookup;
};
