// The metrology flow against the simulated reader: what a press of
// "Записать" writes, the exact request, and what it refuses to write.

#include "ReaderLinkSetup.h"
#include "ScriptedPrompt.h"

#include "link/DeviceCommands.h"
#include "link/TarnCodes.h"
#include "link/TarnFrame.h"
#include "link/ValueCodec.h"
#include "monitor/core/SyncEngine.h"
#include "service/core/MetrologyWrite.h"
#include "service/ui/MetrologyDialog.h"

#include <QLineEdit>
#include <QPushButton>
#include <QtTest>
#include <functional>

using namespace TarnCodes;

namespace {

QList<QByteArray> registerWrites(const SimReader &sim, quint8 reg)
{
    QList<QByteArray> out;
    for (const QByteArray &r : sim.requestLog()) {
        const QByteArray body = frameBody(r);
        if (r.size() > 7 && quint8(r[6]) == FnWrite && quint8(r[7]) == SelRegister && body.size() > 2 &&
            quint8(body[0]) == reg)
            out.append(r);
    }
    return out;
}

void setText(QObject *dialog, const char *edit, const QString &text)
{
    dialog->findChild<QLineEdit *>(QString::fromLatin1(edit))->setText(text);
}

void pressWrite(QObject *dialog)
{
    dialog->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
}

// Runs the flow with `fill` acting on the shown dialog; returns the dialog's result.
int runFlow(SyncEngine &engine, ScriptedPrompt &prompt, const std::function<void(MetrologyDialog *)> &fill)
{
    int result = -1;
    prompt.dialogs[QStringLiteral("TInsertDosimetr")] = [](QObject *) { return int(QDialog::Accepted); };
    prompt.dialogs[MetrologyDialog::ObjectName] = [&](QObject *o) {
        auto *d = qobject_cast<MetrologyDialog *>(o);
        d->show();  // the first showing clears the change flags
        fill(d);
        result = d->isVisible() ? int(QDialog::Rejected) : d->result();
        d->hide();
        return result;
    };
    MetrologyDialog::runService(engine, prompt, nullptr);
    return result;
}

}  // namespace

class TestMetrology : public QObject {
    Q_OBJECT
private slots:
    void checksAndPlan();
    void writeRequestWithAndWithoutModeSwitching();
    void invalidFieldWritesNothing();
    void ignoredNumberKeepsAccumulation();
    void unreadAccumulationWritesNoNumber();
    void otherDosimeterGetsNothingAndReportsReadBack();
};

void TestMetrology::checksAndPlan()
{
    QCOMPARE(formatCoefficientB(0x8000), QStringLiteral("-32768"));
    QCOMPARE(formatCoefficientA(decodeDecimalWord(113)), QStringLiteral("1.13"));
    QCOMPARE(formatCoefficientA(1e-7), QStringLiteral("1E-7"));

    MetrologyReading opened;
    opened.aWord = quint16(1023);  // 10.23: its text would encode to 10.2
    opened.b = 5;
    opened.number = 42;
    MetrologyInput in;
    in.aTextShown = formatCoefficientA(decodeDecimalWord(1023));
    in.aText = in.aTextShown;
    in.bText = QStringLiteral("-1");
    in.numberText = QStringLiteral("42");
    in.coefficientsChanged = true;
    MetrologyPlan plan;
    QCOMPARE(planMetrologyWrite(in, opened, plan), MetrologyInputCheck::Ok);
    QCOMPARE(plan.aWord, quint16(1023));  // the word read goes back unchanged
    QCOMPARE(plan.b, quint16(0xFFFF));
    in.aText = QStringLiteral("10.23 ");
    QCOMPARE(planMetrologyWrite(in, opened, plan), MetrologyInputCheck::Ok);
    QCOMPARE(plan.aWord, quint16(1023));
    in.aText = QStringLiteral("1.13");
    QCOMPARE(planMetrologyWrite(in, opened, plan), MetrologyInputCheck::Ok);
    QCOMPARE(plan.aWord, encodeDecimalWord(1.13));
    in.bText = QStringLiteral("-32768");
    QCOMPARE(planMetrologyWrite(in, opened, plan), MetrologyInputCheck::Ok);
    QCOMPARE(plan.b, quint16(0x8000));

    // Every field is checked: nothing is planned for a value the dosimeter cannot take.
    const struct {
        const char *a, *b, *number;
        MetrologyInputCheck check;
    } bad[] = {
        {"1", "-32769", "1", MetrologyInputCheck::BadB},    {"1", "65536", "1", MetrologyInputCheck::BadB},
        {"1", "0", "-1", MetrologyInputCheck::BadValue},    {"1", "0", "16777216", MetrologyInputCheck::BadValue},
        {"1e-40", "0", "1", MetrologyInputCheck::BadValue}, {"1e32", "0", "1", MetrologyInputCheck::BadValue},
        {"inf", "0", "1", MetrologyInputCheck::BadValue},   {"nan", "0", "1", MetrologyInputCheck::BadValue},
        {"-2", "0", "1", MetrologyInputCheck::BadValue},    {"", "0", "1", MetrologyInputCheck::BadValue},
        {"1", "x", "1", MetrologyInputCheck::BadValue},     {"1", "0", "", MetrologyInputCheck::BadValue},
    };
    for (const auto &c : bad) {
        in.aText = QString::fromLatin1(c.a);
        in.bText = QString::fromLatin1(c.b);
        in.numberText = QString::fromLatin1(c.number);
        plan.writeCoefficients = true;
        QCOMPARE(planMetrologyWrite(in, opened, plan), c.check);
        QVERIFY(!plan.writeCoefficients && !plan.writeNumber);
    }
    in.aText = QStringLiteral("0");
    in.bText = QStringLiteral("65535");
    in.numberText = QStringLiteral("16777215");
    QCOMPARE(planMetrologyWrite(in, opened, plan), MetrologyInputCheck::Ok);
    in.aText = QStringLiteral("1e-32");
    QCOMPARE(planMetrologyWrite(in, opened, plan), MetrologyInputCheck::Ok);
}

void TestMetrology::writeRequestWithAndWithoutModeSwitching()
{
    for (const bool switching : {false, true}) {
        ReaderLinkSetup setup(1);
        if (!setup.startReader())
            QSKIP("no pseudo-terminal");
        SimDosimeter d;
        d.aWord = 1023;  // 10.23
        d.b = 0x8000;
        d.number = 4711;
        d.accumulation = true;
        setup.sim.setDosimeter(d);
        setup.sim.setInserted(true);
        setup.sim.setModeSwitching(switching);
        SyncEngine engine;
        engine.setLink(&setup.link);
        engine.setReaderFindings(false, false, switching);
        ScriptedPrompt prompt;

        const int result = runFlow(engine, prompt, [](MetrologyDialog *dlg) {
            QCOMPARE(dlg->findChild<QLineEdit *>(QStringLiteral("LE_A"))->text(), QStringLiteral("10.23"));
            QCOMPARE(dlg->findChild<QLineEdit *>(QStringLiteral("LE_B"))->text(), QStringLiteral("-32768"));
            QVERIFY(!dlg->coefficientsChanged() && !dlg->numberChanged());
            setText(dlg, "LE_B", QStringLiteral("-1"));
            // Shown again (after a message box): the edit still counts.
            dlg->hide();
            dlg->show();
            QVERIFY(dlg->coefficientsChanged());
            pressWrite(dlg);
        });
        QCOMPARE(result, int(QDialog::Accepted));

        // A unchanged goes back as the word read; B -1 as FF FF; a reader that
        // switches modes takes one more zero byte.
        QByteArray body = QByteArray::fromHex("F2FF" "FF03" "FFFF");
        if (switching)
            body.append('\0');
        const QList<QByteArray> writes = registerWrites(setup.sim, RegMetrology);
        QCOMPARE(writes.size(), 1);
        QCOMPARE(writes[0].toHex(' '),
                 buildPacket(BroadcastAddress, MonitorAddress, FnWrite, SelRegister, body).toHex(' '));
        QCOMPARE(setup.sim.dosimeter().aWord, quint16(1023));
        QCOMPARE(setup.sim.dosimeter().b, quint16(0xFFFF));
        QVERIFY(registerWrites(setup.sim, RegDosimeterNumber).isEmpty());
        QCOMPARE(prompt.texts(),
                 QStringList{QStringLiteral("Обновлённые коффициенты (10.23,-1) успешно записаны в дозиметр")});
        QCOMPARE(prompt.asked[0].kind, MsgKind::Information);
        QVERIFY(!engine.snapshot().paused);
        QVERIFY(engine.waitForWorkers(5000));  // the switch back is not waited for
        if (switching)
            QCOMPARE(setup.sim.readModel<int>([](const SimReaderModel &m) { return m.mode(); }), 0);
    }
}

void TestMetrology::invalidFieldWritesNothing()
{
    ReaderLinkSetup setup(1);
    if (!setup.startReader())
        QSKIP("no pseudo-terminal");
    SimDosimeter d;
    d.number = 4711;
    setup.sim.setDosimeter(d);
    setup.sim.setInserted(true);
    SyncEngine engine;
    engine.setLink(&setup.link);
    ScriptedPrompt prompt;

    int writesAfterBadPresses = -1;
    const int result = runFlow(engine, prompt, [&](MetrologyDialog *dlg) {
        setText(dlg, "LE_A", QStringLiteral("1.5"));
        setText(dlg, "LE_Number", QStringLiteral("-1"));  // would renumber the dosimeter to 16777215
        pressWrite(dlg);
        QVERIFY(dlg->isVisible());
        setText(dlg, "LE_Number", QStringLiteral("4711"));
        setText(dlg, "LE_A", QStringLiteral("1e-40"));  // would be written as 1e24
        pressWrite(dlg);
        QVERIFY(dlg->isVisible());
        setText(dlg, "LE_A", QStringLiteral("1.5"));
        setText(dlg, "LE_B", QStringLiteral("-40000"));
        pressWrite(dlg);
        QVERIFY(dlg->isVisible());
        writesAfterBadPresses = registerWrites(setup.sim, RegMetrology).size() +
                                registerWrites(setup.sim, RegDosimeterNumber).size();
        setText(dlg, "LE_B", QStringLiteral("7"));
        pressWrite(dlg);
    });
    QCOMPARE(writesAfterBadPresses, 0);
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(prompt.texts().mid(0, 3), (QStringList{MetrologyWriteErrorText, MetrologyWriteErrorText, MetrologyBadBText}));
    QCOMPARE(setup.sim.dosimeter().a(), 1.5);
    QCOMPARE(setup.sim.dosimeter().b, quint16(7));
    QCOMPARE(setup.sim.dosimeter().number, quint32(4711));
}

void TestMetrology::ignoredNumberKeepsAccumulation()
{
    ReaderLinkSetup setup(0);
    if (!setup.startReader())
        QSKIP("no pseudo-terminal");
    SimDosimeter d;
    d.number = 4711;
    d.accumulation = true;
    setup.sim.setDosimeter(d);
    setup.sim.setInserted(true);
    // The coefficients are read, the number read is refused.
    setup.sim.injectFault(SimReader::Fault::Refuse, 1, 2, 1);
    SyncEngine engine;
    engine.setLink(&setup.link);
    ScriptedPrompt prompt;
    prompt.answers = {PromptButton::Ignore};

    const int result = runFlow(engine, prompt, [](MetrologyDialog *dlg) {
        QCOMPARE(dlg->findChild<QLineEdit *>(QStringLiteral("LE_Number"))->text(), QString());
        setText(dlg, "LE_Number", QStringLiteral("77"));
        pressWrite(dlg);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(prompt.asked[0].text, MetrologyReadNumberFailedText);
    QCOMPARE(prompt.asked[0].buttons, PromptButton::Abort | PromptButton::Ignore);
    QCOMPARE(setup.sim.dosimeter().number, quint32(77));
    QVERIFY(setup.sim.dosimeter().accumulation);
    QCOMPARE(prompt.asked[1].text, QStringLiteral("\rРежим (1) и номер дозиметра (77)\rуспешно записаны в дозиметр"));
    QVERIFY(registerWrites(setup.sim, RegMetrology).isEmpty());
}

void TestMetrology::unreadAccumulationWritesNoNumber()
{
    ReaderLinkSetup setup(0);
    if (!setup.startReader())
        QSKIP("no pseudo-terminal");
    SimDosimeter d;
    d.number = 4711;
    d.accumulation = true;
    setup.sim.setDosimeter(d);
    setup.sim.setInserted(true);
    // The number is refused at opening and again when the write reads its
    // accumulation flag.
    setup.sim.injectFault(SimReader::Fault::Refuse, 2, 2, 1);
    SyncEngine engine;
    engine.setLink(&setup.link);
    ScriptedPrompt prompt;
    prompt.answers = {PromptButton::Ignore};

    runFlow(engine, prompt, [](MetrologyDialog *dlg) {
        setText(dlg, "LE_Number", QStringLiteral("77"));
        pressWrite(dlg);
    });
    QVERIFY(registerWrites(setup.sim, RegDosimeterNumber).isEmpty());
    QCOMPARE(setup.sim.dosimeter().number, quint32(4711));
    QVERIFY(setup.sim.dosimeter().accumulation);
    QCOMPARE(prompt.asked[1].text, QStringLiteral("\rНе удалось записать номер дозиметра и режим"));
}

void TestMetrology::otherDosimeterGetsNothingAndReportsReadBack()
{
    ReaderLinkSetup setup(0);
    if (!setup.startReader())
        QSKIP("no pseudo-terminal");
    SimDosimeter first;
    first.setA(1.23);
    first.b = quint16(-2);
    first.number = 1193046;
    setup.sim.setDosimeter(first);
    setup.sim.setInserted(true);
    SimDosimeter other;
    other.setA(5);
    other.b = 7;
    other.number = 4242;
    SyncEngine engine;
    engine.setLink(&setup.link);
    ScriptedPrompt prompt;

    bool stayedOpen = false;
    const int result = runFlow(engine, prompt, [&](MetrologyDialog *dlg) {
        setup.sim.setDosimeter(other);
        setText(dlg, "LE_A", QStringLiteral("2.5"));
        pressWrite(dlg);
        stayedOpen = dlg->isVisible();
        // The first one back in, its write's acknowledgement lost: the values
        // read back tell.
        setup.sim.setDosimeter(first);
        setup.sim.injectFault(SimReader::Fault::NoReply, 1, 0, 1);
        pressWrite(dlg);
    });
    QVERIFY(stayedOpen);
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(prompt.texts(), (QStringList{QStringLiteral("В считывателе другой дозиметр (4242).\r\nЗапись не произведена."),
                                          QStringLiteral("Обновлённые коффициенты (2.5,-2) успешно записаны в дозиметр")}));
    QCOMPARE(prompt.asked[0].kind, MsgKind::Error);
    QCOMPARE(registerWrites(setup.sim, RegMetrology).size(), 1);
    QCOMPARE(setup.sim.dosimeter().a(), 2.5);
    QCOMPARE(setup.sim.dosimeter().b, quint16(-2));
}

QTEST_MAIN(TestMetrology)
#include "tst_metrology.moc"
