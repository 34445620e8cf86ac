// The verified label write against the simulated reader, and the rules of
// the two label editors.

#include "ServiceFixture.h"

#include "core/DeviceText.h"
#include "link/DeviceCommands.h"
#include "link/TarnCodes.h"
#include "service/core/LabelText.h"
#include "service/core/LabelWrite.h"

#include <QtTest>

using namespace TarnCodes;

namespace {

QByteArray groupWrite(int g, const QByteArray &code)
{
    return ServiceFixture::request(FnWrite, SelRegister, labelGroupWriteBody(g, code.mid(g * 4, 4)));
}

QByteArray groupRead(int g)
{
    return ServiceFixture::request(FnRead, SelRegister, labelGroupReadBody(g));
}

void putLabel(SimReader &sim, const QByteArray &code)
{
    SimDosimeter d = sim.dosimeter();
    d.labelCode = code;
    sim.setDosimeter(d);
}

} // namespace

class TestLabelWrite : public QObject {
    Q_OBJECT
private slots:
    void onlyChangedGroupsAreSentWithTheirBytes();
    void lostAcknowledgementIsReadBackWithoutShift();
    void brokenReadBackEndsTheSequence();
    void editorRules();
};

void TestLabelWrite::onlyChangedGroupsAreSentWithTheirBytes()
{
    ServiceFixture f;
    if (!f.start())
        QSKIP("no pseudo-terminal");
    const QByteArray old = textToDeviceCode(QStringLiteral("Петров П.П.     "));
    putLabel(f.sim(), old);

    // Nothing differs: the port opens and closes, nothing is sent.
    int steps = 0;
    LabelWriteResult r = writeDosimeterLabel(&f.setup.link, labelTargetCode(QStringLiteral("Петров П.П.")),
                                             KnownLabel::fromCode(old), [&steps] { ++steps; });
    QVERIFY(r.completed && r.verified);
    QCOMPARE(f.requests().size(), 0);
    QCOMPARE(r.readBackText, QStringLiteral("Петров П.П.     "));
    QCOMPARE(steps, 4);

    // Only group 2 differs: one write (F5 FF, four bytes, 00) and its read-back.
    const QByteArray target = labelTargetCode(QStringLiteral("Петров П.Х."));
    steps = 0;
    r = writeDosimeterLabel(&f.setup.link, target, KnownLabel::fromCode(old), [&steps] { ++steps; });
    QCOMPARE(f.requests(), (QList<QByteArray>{groupWrite(2, target), groupRead(2)}));
    QCOMPARE(groupWrite(2, target).mid(14, 7), QByteArray("\xF5\xFF", 2) + target.mid(8, 4) + QByteArray(1, '\0'));
    QVERIFY(r.completed && r.verified);
    QCOMPARE(steps, 5);
    QCOMPARE(f.sim().dosimeter().labelCode, target);

    // Nothing known (the label read was ignored): all four groups, padded with blanks.
    f.clearLog();
    const QByteArray shortLabel = labelTargetCode(QStringLiteral("Ли"));
    QCOMPARE(shortLabel, textToDeviceCode(QStringLiteral("Ли              ")));
    r = writeDosimeterLabel(&f.setup.link, shortLabel, KnownLabel(), {});
    QList<QByteArray> expected;
    for (int g = 0; g < 4; ++g)
        expected << groupWrite(g, shortLabel) << groupRead(g);
    QCOMPARE(f.requests(), expected);
    QVERIFY(r.completed && r.verified);
    QCOMPARE(r.known.code(), shortLabel);
}

void TestLabelWrite::lostAcknowledgementIsReadBackWithoutShift()
{
    ServiceFixture f;
    if (!f.start())
        QSKIP("no pseudo-terminal");
    const QByteArray old = textToDeviceCode(QStringLiteral("AAAABBBBCCCCDDDD"));
    const QByteArray target = textToDeviceCode(QStringLiteral("EEEEFFFFGGGGHHHH"));

    // The acknowledgement of group 1 is lost but the dosimeter took the
    // bytes: the read-back shows them, and the label is verified.
    putLabel(f.sim(), old);
    f.sim().injectFault(SimReader::Fault::NoReply, 1, 0, 2);
    int steps = 0;
    LabelWriteResult r = writeDosimeterLabel(&f.setup.link, target, KnownLabel::fromCode(old), [&steps] { ++steps; });
    QCOMPARE(f.requests().size(), 8);
    QCOMPARE(f.requests().at(3), groupRead(1));
    QVERIFY(r.completed);
    QVERIFY(r.verified);
    QCOMPARE(steps, 7);  // the unacknowledged group moves one step

    // The write of group 1 never arrives: the read-back shows the old bytes
    // in their place, the other groups keep theirs, nothing is verified.
    putLabel(f.sim(), old);
    f.clearLog();
    f.sim().injectFault(SimReader::Fault::Unheard, 1, 0, 2);
    r = writeDosimeterLabel(&f.setup.link, target, KnownLabel::fromCode(old), {});
    QVERIFY(r.completed);
    QVERIFY(!r.verified);
    QCOMPARE(r.readBackCode, target.left(4) + old.mid(4, 4) + target.mid(8, 8));
    QCOMPARE(r.written, (QVector<int>{0, 2, 3}));
    QCOMPARE(r.known.code(), r.readBackCode);  // the next write compares against what is there

    // Written again against what was read back: only group 1 goes.
    f.clearLog();
    r = writeDosimeterLabel(&f.setup.link, target, r.known, {});
    QCOMPARE(f.requests(), (QList<QByteArray>{groupWrite(1, target), groupRead(1)}));
    QVERIFY(r.verified);
}

void TestLabelWrite::brokenReadBackEndsTheSequence()
{
    ServiceFixture f;
    if (!f.start())
        QSKIP("no pseudo-terminal");
    const QByteArray target = textToDeviceCode(QStringLiteral("EEEEFFFFGGGGHHHH"));
    // The read-back of group 0 is a 19-byte refusal: groups 1 to 3 are not touched.
    f.sim().injectFault(SimReader::Fault::Refuse, 1, 0, 1);
    const LabelWriteResult r = writeDosimeterLabel(&f.setup.link, target, KnownLabel(), {});
    QVERIFY(!r.completed);
    QCOMPARE(f.requests().size(), 2);
    QVERIFY(r.written.isEmpty());
    // Without a link nothing is attempted.
    QVERIFY(!writeDosimeterLabel(nullptr, target, KnownLabel(), {}).completed);
}

void TestLabelWrite::editorRules()
{
    bool beep = false;
    QCOMPARE(fitLabelText(QStringLiteral("12345678901234567"), &beep), QStringLiteral("1234567890123456"));
    QVERIFY(beep);
    QCOMPARE(fitLabelText(QStringLiteral("1234567890123456   "), &beep), QStringLiteral("1234567890123456"));
    QVERIFY(!beep);
    // Characters the device's table lacks never enter the label, a cut keeps
    // whole characters, and the target is always the four whole groups.
    const QString foreign = QStringLiteral("Łódź 😀 O'Brien;");
    QCOMPARE(fitLabelText(foreign, &beep), QStringLiteral("d  O'Brien;"));
    QVERIFY(beep);
    QCOMPARE(fitLabelText(QString(16, QLatin1Char('A')) + QStringLiteral("😀"), &beep), QString(16, QLatin1Char('A')));
    QCOMPARE(labelTargetCode(foreign), textToDeviceCode(QStringLiteral("d  O'Brien;     ")));
    QCOMPARE(labelTargetCode(QString(20, QChar(u'Ж'))), textToDeviceCode(QString(16, QChar(u'Ж'))));

    QCOMPARE(labelHexView(QStringLiteral("AB")),
             QStringLiteral("41 42 20 20  20 20 20 20  20 20 20 20  20 20 20 20"));

    int beeps = 0;
    QCOMPARE(parseLabelHex(QStringLiteral("41 42 43"), &beeps), QStringLiteral("ABC"));
    QCOMPARE(beeps, 0);
    QCOMPARE(parseLabelHex(QStringLiteral("41 1FF 42"), &beeps), QStringLiteral("A B"));
    QCOMPARE(beeps, 1);
    QCOMPARE(parseLabelHex(QStringLiteral("41 00 42"), &beeps), QStringLiteral("A B"));
    QCOMPARE(beeps, 1);
    QCOMPARE(parseLabelHex(QStringLiteral("41 80 A4 42"), &beeps), QStringLiteral("A  B"));  // Ђ, ¤
    QCOMPARE(beeps, 1);
    // Lower-case digits are digits; a long word does not wrap round into a byte.
    QCOMPARE(parseLabelHex(QStringLiteral("6a 6B"), &beeps), QStringLiteral("jk"));
    QCOMPARE(beeps, 0);
    QCOMPARE(parseLabelHex(QStringLiteral("41 10000000041 42"), &beeps), QStringLiteral("A B"));
    QCOMPARE(beeps, 1);
    QCOMPARE(parseLabelHex(QStringLiteral("41 G1 42"), &beeps), QStringLiteral("A B"));
    QCOMPARE(beeps, 1);
    // Five blanks end the words; the result over 16 characters is kept with a beep.
    QCOMPARE(parseLabelHex(QStringLiteral("41     42")), QStringLiteral("A"));
    QCOMPARE(parseLabelHex(QStringLiteral("41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41 41"), &beeps),
             QString(17, QLatin1Char('A')));
    QCOMPARE(beeps, 1);
}

QTEST_MAIN(TestLabelWrite)
#include "tst_label_write.moc"
