#pragma once
// The metrology coefficients A and B and the number of the inserted
// dosimeter: how they are shown, what a press of "Записать" may write and the
// writes themselves. Headless; the dialog only holds the texts.
//
// Every field is checked before anything is written: B from -32768 to 65535
// (a negative B goes out as B + 65536), the number from 0 to 16777215, A a
// finite 0 or from 1e-32 up to below 1e32. A whose text is still the one
// shown at opening goes back as the word read, never re-encoded from its text
// (the text of a word need not encode to that word again).

#include "link/DeviceCommands.h"

#include <QString>
#include "core/Result.h"

#include <QtGlobal>
#include <optional>

class ServiceSession;

// What the opening read found; a part whose read was ignored is absent.
struct MetrologyReading {
    std::optional<quint16> aWord;  // with b: the coefficients register
    quint16 b = 0;
    std::optional<quint32> number;  // with accumulation: the number register
    bool accumulation = false;
};

// A in the general format: up to 15 significant digits, no trailing zeros,
// "." as separator.
QString formatCoefficientA(double a);
// B as a signed 16-bit integer (a word of 0x8000 or more less 65536).
QString formatCoefficientB(quint16 b);

// The coefficients' word A and word B from a register reply.
bool metrologyWordsOfReply(const QByteArray &reply, quint16 &aWord, quint16 &b);

// The opening reads, each in a session step; false when the read failed (the
// part stays absent). A link error is raised.
bool readMetrologyCoefficientWords(SerialLink *link, MetrologyReading &reading);
bool readMetrologyNumber(SerialLink *link, MetrologyReading &reading);

// The texts and change flags of the dialog at a press of "Записать".
struct MetrologyInput {
    QString aText, bText, numberText;
    QString aTextShown;  // the text A was shown with at opening ("" when unread)
    bool coefficientsChanged = false;
    bool numberChanged = false;
    bool accumulation = false;  // the hidden accumulation flag of the dialog
};

enum class MetrologyInputCheck {
    Ok,
    BadB,      // B outside -32768..65535
    BadValue,  // a field that is not a number, or outside its range
};

// What a press writes.
struct MetrologyPlan {
    bool writeCoefficients = false;
    quint16 aWord = 0;
    quint16 b = 0;
    bool writeNumber = false;
    quint32 number = 0;
    // The accumulation flag to write with the number; absent when the number
    // was not read at opening: it is then read again just before the write.
    std::optional<bool> accumulation;
    // The number the dialog showed at opening: the dosimeter in the reader
    // must still carry it when the writes begin (absent: not read, not checked).
    std::optional<quint32> shownNumber;
};

// Checks every field and plans the writes; nothing is planned unless Ok.
MetrologyInputCheck planMetrologyWrite(const MetrologyInput &input, const MetrologyReading &opened,
                                       MetrologyPlan &plan);

// The writes of a plan, coefficients first (run in a session step; raises
// what the link raises): the number read again first, and nothing written
// when it is not the one shown; each write read back, and the message tells
// the values read back. `message` is the text of the box that follows,
// `failed` whether a write failed or the dosimeter is another one (the box is
// then an error and the dialog stays open).
struct MetrologyWriteOutcome {
    QString message;
    bool failed = false;
    int failures = 0;  // each failed write is preceded by the system beep
    bool coefficientsWritten = false;
    bool numberWritten = false;
    // What was sent and what the dosimeter read back afterwards (parts not
    // sent or not read stay absent), for the audit trail.
    bool coefficientsSent = false;
    bool numberSent = false;
    bool accumulationSent = false;
    MetrologyReading readBack;
};
MetrologyWriteOutcome runMetrologyWrite(SerialLink *link, const MetrologyPlan &plan, const MetrologyInput &input,
                                        bool modeSwitching);

// Writes the audit row of the writes of a plan, once they were read back:
// the values read at opening, those written and those read back. Nothing
// when nothing was sent.
class DataModule;
Result<> auditMetrologyWrite(DataModule &dm, const MetrologyReading &opened, const MetrologyPlan &plan,
                             const MetrologyWriteOutcome &outcome);

// The box texts.
extern const QString MetrologyReadCoefficientsFailedText;
extern const QString MetrologyReadNumberFailedText;
extern const QString MetrologyBadBText;
extern const QString MetrologyWriteErrorText;
