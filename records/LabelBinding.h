#pragma once
// Binding a dosimeter to its holder from the label just written into it:
// the headless part of the label report. The report shows which dosimeter
// carries which label and whether a card has that label; on acceptance a
// card can be created for an unknown label, and the journal records that
// the dosimeter is now issued to the label's owner, closing the dosimeter's
// open binding when it belonged to somebody else.
//
// Labels are compared with cards as the dosimeter holds them (through the
// device text tables, so Latin look-alikes and Ь/ь compare equal).

#include "core/Result.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVariant>
#include <functional>
#include <optional>

class DataModule;

// What a finished label write hands over to the report.
struct LabelWriteOutcome {
    QString number;        // the dosimeter number as text
    QString label;         // the label read back from the dosimeter, as text
    QByteArray labelCode;  // the label bytes as the dosimeter holds them (may be empty)
    bool verified = false; // every group read back as it was meant to be written
    QString info;          // the report text shown to the operator
};

// What the operator may do about a label no card has.
enum class LabelCardChoice : int {
    Nothing = 0,        // "Ничего не делать"
    Create = 1,         // "Создать карточку"
    CreateAndEdit = 2,  // "Создать карточку и открыть её для редактирования"
    CreateAndShow = 3,  // "Создать карточку и открыть её в списке"
};

// What the binding needs from the program besides the tables.
struct LabelBindingHooks {
    std::function<void()> namesOutOfStep;       // the engine's namesOutOfStep := true
    std::function<int()> maxCardsIndex;         // the largest card number given so far
    std::function<void(int)> setMaxCardsIndex;
    // Opens the card editor, or the card list, on the current card (modal).
    std::function<void()> editCurrentCard;
    std::function<void()> showCardList;
    // Clock of the bindings (tests set it); the computer's clock by default.
    std::function<QDateTime()> now;
};

class LabelBinding {
public:
    LabelBinding(DataModule &dm, LabelBindingHooks hooks);

    // The label text: the label without leading and trailing blanks and
    // control characters.
    static QString labelText(const QString &label);
    // Whether two texts are the same label as the dosimeter holds it
    // (trimmed, each through the device code).
    static bool sameLabel(const QString &a, const QString &b);

    // Makes the card holding the label the current card of the card table
    // and returns its key; none when no card has it.
    std::optional<QVariant> findCard(const QString &label);

    // The holder's name when no card gives it: asked of the operator with
    // the label proposed; none when the operator cancelled.
    using AskName = std::function<std::optional<QString>(const QString &proposed)>;

    // The report's acceptance. choice: the operator's (or stored) choice;
    // cardKnown: a card holds the label (it is the current card);
    // record2Note: "Автоматическая запись в журнале". An unverified label
    // leaves the journal alone whatever record2Note says. Ok when the card
    // and journal steps ran (or had nothing to do). Errors: the name was
    // cancelled (Cancelled, no text: nothing changed); creating the card
    // failed (its cause, CardFailedText: the journal untouched); the journal
    // could not be changed (its cause, Journal::AddFailedText: nothing
    // changed there); the dosimeter was bound or released on another
    // monitor since its binding was read (Conflict,
    // Journal::changedElsewhereText: their change stands, nothing written).
    Result<> accept(const LabelWriteOutcome &outcome, LabelCardChoice choice, bool cardKnown, bool record2Note,
                    const AskName &askName);

    static QString cardFailedText(const QString &label);

private:
    Result<> createCard(const QString &label);
    Result<> bindInJournal(const LabelWriteOutcome &outcome, LabelCardChoice choice, bool haveCard,
                           const AskName &askName);
    QDateTime now() const;

    DataModule &m_dm;
    LabelBindingHooks m_hooks;
};
