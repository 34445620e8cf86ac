#pragma once
// The issue journal (table Notes) as the journal window and its dialogs use
// it: binding a dosimeter to a person, releasing it, deleting a row, the
// checks before each, and the dose per person over a period. The operations
// ask nothing and show nothing: each returns a Result whose error carries the
// text the window shows (ErrorKind::Invalid as a warning, Conflict as
// information, any other kind as an error; see tell() in core/Prompt.h).
//
// Rules kept: a dosimeter number (a whole number 0..16777215) has at most one
// open binding (a row whose TimeTo is blank); a row is released at most once
// and only when it has a TimeFrom; TimeTo is never earlier than the stored
// TimeFrom. Every change of the journal (bind, release, delete) tells the
// program that the names in Measures no longer follow the journal.

#include "core/Result.h"
#include "records/DoseAttribution.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>
#include <QVariant>
#include <functional>
#include <optional>

class DataModule;
class DataTable;

class Journal {
public:
    static constexpr int MaxDosimeterNumber = 16777215;

    // namesOutOfStep: sets the names-out-of-step flag (the engine's namesOutOfStep).
    Journal(DataModule &dm, std::function<void()> namesOutOfStep);

    DataTable &notes() const;
    DataModule &dataModule() const { return m_dm; }

    // A dosimeter number typed by the operator: blanks around it are
    // dropped; anything but a whole number 0..16777215 gives none.
    static std::optional<int> dosimeterNumber(const QString &text);
    // The moment of a date box and a time picker (a null day gives none).
    static QDateTime moment(const QDate &day, const QTime &time);
    // A release time as the message names it: "dd.MM.yyyy HH:mm:ss", the
    // date alone at exactly midnight.
    static QString momentText(const QDateTime &moment);

    // One journal row.
    struct Row {
        QVariant key;
        QVariant id;        // blank or the dosimeter number
        QString fio;
        QDateTime from;     // null when blank
        QDateTime to;       // null while the dosimeter is issued
        QVariant dose;
    };
    // The current row of the journal (none when it has none).
    std::optional<Row> currentRow() const;
    std::optional<Row> row(const QVariant &key) const;

    // The first open row of this number in the journal's current order
    // (over every row, whatever the filter shows).
    std::optional<Row> openBinding(int number) const;

    // The bind dialog's "Привязать": adds an open row. Errors: a bad number
    // (Failed, AddFailedText), no date (Invalid, NoDateText), a number that
    // is issued (Conflict, issuedText; the conflicting row becomes current),
    // a store failure (its cause, AddFailedText; nothing added).
    Result<> bind(const QString &numberText, const QString &fio, const QDate &day, const QTime &time);

    // Whether the current row can be released: Conflict with the reason
    // (NotReleasableText, releasedAlreadyText) when it cannot.
    Result<> checkRelease() const;

    // Releases the row at the moment given (the release dialog's date and
    // time, whole seconds). A moment in the very second of the stored
    // TimeFrom releases at TimeFrom, so the row never ends before it begins.
    // Errors: the row cannot be released (Conflict, NotReleasableText), a
    // moment before the stored TimeFrom (Invalid, TooEarlyText; the row stays
    // open), the row released or deleted by someone else since the dialog
    // read it, up to the very write (Conflict, changedElsewhereText; their
    // change stands, the views show it), a store failure (its cause,
    // ChangeFailedText).
    Result<> release(const QVariant &key, const QDateTime &to);

    // Deletes the row the operator was shown (Ctrl+Delete, after the
    // window's DeleteQuestion). A row changed (its number, name or times) or
    // deleted by someone else since, up to the very write, gives Conflict
    // with changedElsewhereText: their change stands, nothing is deleted. A
    // store failure gives its cause and the store's text.
    Result<> remove(const Row &shown);
    // Whether two rows are the same row with the same number, name and times.
    static bool sameRow(const Row &a, const Row &b);

    // The dose per person over a period, from the readings themselves (see
    // DoseAttribution). A period that ends before it begins is refused
    // (Invalid, ReversedPeriodText); a store failure gives its cause and text.
    Result<DoseAttribution> totals(const QDateTime &from, const QDateTime &to) const;

    // The message texts.
    static QString issuedText(const QString &fio);
    static const QString AddFailedText;
    static const QString NoDateText;
    static const QString NotReleasableText;
    static QString releasedAlreadyText(const QDateTime &to);
    // The row as it is now, after another operator's change won.
    static QString changedElsewhereText(const std::optional<Row> &now);
    static const QString TooEarlyText;
    static const QString ChangeFailedText;
    static const QString DeleteQuestion;
    static const QString ReversedPeriodText;

private:
    Row rowFromTable() const;
    void outOfStep();

    DataModule &m_dm;
    std::function<void()> m_namesOutOfStep;
};
