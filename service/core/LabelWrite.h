#pragma once
// The verified write of a dosimeter label. The dosimeter keeps its 16-byte
// label in four registers of four bytes (F3 FF .. F6 FF); the write sends
// only the groups that differ from what the dosimeter is known to hold, reads
// every group it sent back, and tells whether the dosimeter now holds the
// label sent. It builds its frames itself and runs under the link's lock
// with the link opened once around the whole sequence.
//
// A group: write (function 8, selector 1, body F3+k FF, the 4 bytes, 00),
// answered by a 14-byte acknowledgement; then the read-back (function 6,
// selector 1, body F3+k FF), answered by a 25-byte register reply. A group
// whose acknowledgement is lost is read back all the same: the dosimeter may
// have taken the bytes. A read-back that does not come whole ends the
// sequence (not completed).

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

class SerialLink;

constexpr int LabelGroups = 4;
constexpr int LabelGroupSize = 4;

// What the dosimeter is known to hold, group by group (an empty group is not
// known). Made from the code read when the dialog opened; every read-back of
// a write updates its group.
struct KnownLabel {
    QVector<QByteArray> groups = QVector<QByteArray>(LabelGroups);

    // 16 bytes: every group known; shorter or empty: the groups it covers whole.
    static KnownLabel fromCode(const QByteArray &code);
    // The 16 bytes when every group is known, else empty.
    QByteArray code() const;
    bool complete() const;
};

struct LabelWriteResult {
    bool completed = false;   // the sequence ran to its end
    bool verified = false;    // every group reads back as the label sent
    QByteArray readBackCode;  // 16 bytes when completed: what the dosimeter holds
    QString readBackText;     // readBackCode as text
    QVector<int> written;     // groups (0..3) sent whose read-back shows the bytes sent
    QVector<int> sent;        // groups whose write was sent
    KnownLabel known;         // the known label after the write (read-backs applied)
    bool noLink = false;      // there was no link object
};

// The target code of a label text: always 16 bytes, the four groups whole.
// Characters the device's table does not hold are left out, the rest cut to
// 16 characters, padded with blanks and converted to the device code.
QByteArray labelTargetCode(const QString &text);

// Pause between the packets of the write (the wall clock's tick).
constexpr int LabelPacketPauseMs = 15;

// Runs the write. `step` is called once per progress step (two for a group
// written and read back, one for an unchanged group), from the calling
// thread. Raises what the link raises (the port cannot be opened).
LabelWriteResult writeDosimeterLabel(SerialLink *link, const QByteArray &target, const KnownLabel &known,
                                     const std::function<void()> &step = {});

// The request bodies of one group (also for the tests).
QByteArray labelGroupWriteBody(int group, const QByteArray &fourBytes);  // F3+k FF b b b b 00
QByteArray labelGroupReadBody(int group);                               // F3+k FF
