#pragma once
// The verified write of a dosimeter label: the plan and the verification.
// The dosimeter keeps its 16-byte label in four registers of four bytes
// (TarnCodes.h); the write sends only the groups that differ from what the
// dosimeter is known to hold, reads every group it sent back
// (writeLabelGroup, readLabelGroup), and tells whether the dosimeter now
// holds the label sent. The whole sequence runs in one LinkSession: the
// link's lock held and the link opened once around it.
//
// A group: the write, answered by an acknowledgement; then the read-back. A
// group whose acknowledgement is lost is read back all the same: the
// dosimeter may have taken the bytes. A read-back that does not come whole
// ends the sequence (not completed).

#include "link/TarnCodes.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

class SerialLink;

using TarnCodes::LabelGroups;
using TarnCodes::LabelGroupSize;

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
