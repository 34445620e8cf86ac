// The "Дозиметр" command: the service session, the insertion prompt and the
// options dialog against the simulated reader, with scripted answers and
// real widgets.

#include "ServiceFixture.h"

#include "core/DeviceText.h"
#include "link/DeviceCommands.h"
#include "link/TarnCodes.h"
#include "service/core/DosimeterOptions.h"
#include "service/core/LabelWrite.h"
#include "service/core/ServiceSession.h"
#include "service/ui/InsertionPrompt.h"
#include "service/ui/DosimeterDialog.h"
#include "core/IniFile.h"
#include "core/Settings.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <cstring>

using namespace TarnCodes;

namespace {

int labelRequests(const QList<QByteArray> &log)
{
    int n = 0;
    for (const QByteArray &r : log) {
        const QByteArray body = frameBody(r);
        if (body.size() >= 2 && quint8(body.at(0)) >= RegLabelFirst && quint8(body.at(0)) <= RegLabelLast
            && r.size() > 20)
            ++n;
    }
    return n;
}

bool isNumberWrite(const QByteArray &r)
{
    const QByteArray body = frameBody(r);
    return quint8(r.at(6)) == FnWrite && body.size() > 2 && quint8(body.at(0)) == RegDosimeterNumber;
}

struct Recorded {
    QList<LabelWriteOutcome> reports;
    DosimeterDialogContext context()
    {
        DosimeterDialogContext c;
        c.labelReport = [this](QWidget *, const LabelWriteOutcome &o) { reports << o; };
        return c;
    }
};

} // namespace

class TestServiceOptions : public QObject {
    Q_OBJECT
private slots:
    void promptClosesOnDosimeterAndStopsPolling();
    void cancelledPromptRestoresTheModeOrMarksItPending();
    void writeRequestsWithAndWithoutModeSwitching();
    void untouchedLabelIsSentBackAsItsBytes();
    void otherDosimeterIsNotRenumbered();
    void unverifiedLabelIsReportedSo();
    void doseTabClearAndNotANumber();
};

void TestServiceOptions::promptClosesOnDosimeterAndStopsPolling()
{
    ServiceFixture f(true);
    if (!f.start())
        QSKIP("no pseudo-terminal");
    f.prompt.dialogs[InsertionPrompt::ObjectName] = [](QObject *d) { return static_cast<QDialog *>(d)->exec(); };
    ServiceSession session(f.engine);
    QVERIFY(session.begin(0));
    QVERIFY(f.engine.snapshot().paused);
    QElapsedTimer t;
    t.start();
    QVERIFY(InsertionPrompt::waitForDosimeter(session, f.prompt, nullptr));
    QVERIFY(t.elapsed() < 2000);
    // Nothing polls after the prompt has closed: the writes that follow
    // must not meet a configuration request between them.
    const int configs = ServiceFixture::countOf(f.requests(), ServiceFixture::configRequest());
    QVERIFY(configs >= 1);
    QTest::qWait(1000);
    QCOMPARE(ServiceFixture::countOf(f.requests(), ServiceFixture::configRequest()), configs);

    // No dosimeter: the prompt stays, polling, until it is cancelled.
    f.sim().setInserted(false);
    f.prompt.dialogs[InsertionPrompt::ObjectName] = [](QObject *d) {
        auto *dlg = static_cast<InsertionPrompt *>(d);
        QTimer::singleShot(1000, dlg, [dlg] { dlg->findChild<QPushButton *>(QStringLiteral("btnCancel"))->click(); });
        const int r = dlg->exec();
        return dlg->pollsSent() >= 2 && !dlg->polling() ? r : -1;
    };
    QCOMPARE(InsertionPrompt::waitForDosimeter(session, f.prompt, nullptr), false);
    QVERIFY(!f.prompt.dialogsShown.isEmpty());
    session.end();
    QVERIFY(!f.engine.snapshot().paused);
    QVERIFY(f.engine.waitForWorkers(5000));
    QVERIFY(!f.engine.snapshot().readerModeRestorePending);
    QCOMPARE(f.requests().last(), ServiceFixture::modeRequest(0));

    // A port that cannot be opened: the error is shown once, the polls go on.
    f.setup.link.setPortName(QStringLiteral("/nonexistent/tty-reader"));
    int polls = 0;
    f.prompt.dialogs[InsertionPrompt::ObjectName] = [&polls](QObject *d) {
        auto *dlg = static_cast<InsertionPrompt *>(d);
        QTimer::singleShot(1500, dlg, [dlg, &polls] {
            polls = dlg->pollsSent();
            dlg->reject();
        });
        return dlg->exec();
    };
    f.prompt.asked.clear();
    ServiceSession failing(f.engine);
    failing.begin(0);
    f.setup.link.resetReportConnectFailure();  // the switch to mode 1 took the first report
    QVERIFY(!InsertionPrompt::waitForDosimeter(failing, f.prompt, nullptr));
    QCOMPARE(f.prompt.asked.size(), 1);
    QCOMPARE(f.prompt.asked.first().kind, MsgKind::Error);
    QVERIFY(polls >= 3);
}

void TestServiceOptions::cancelledPromptRestoresTheModeOrMarksItPending()
{
    // Four attempts a request: a switch back that is not answered takes
    // four windows, which the window does not wait for.
    ServiceFixture f(true, 3);
    if (!f.start())
        QSKIP("no pseudo-terminal");
    Recorded rec;
    f.engine.view().setStatusText(QStringLiteral("before"));
    f.prompt.dialogs[InsertionPrompt::ObjectName] = [&f](QObject *) {
        f.sim().injectFault(SimReader::Fault::NoReply, 4);
        return int(QDialog::Rejected);
    };
    QElapsedTimer t;
    t.start();
    DosimeterDialog::run(f.engine, f.prompt, nullptr, rec.context());
    QVERIFY2(t.elapsed() < 900, qPrintable(QString::number(t.elapsed())));
    QVERIFY(f.engine.snapshot().readerModeRestorePending);
    QVERIFY(!f.engine.snapshot().paused);
    QVERIFY(!f.prompt.dialogsShown.contains(DosimeterDialog::ObjectName));
    // One switch back, its attempts lost: the cycle is left to retry it.
    QVERIFY(f.engine.waitForWorkers(10000));
    QCOMPARE(f.requests(), (QList<QByteArray>{ServiceFixture::modeRequest(1), ServiceFixture::modeRequest(0),
                                               ServiceFixture::modeRequest(0), ServiceFixture::modeRequest(0),
                                               ServiceFixture::modeRequest(0)}));
    QVERIFY(f.engine.snapshot().readerModeRestorePending);

    // Cancelled with the reader answering: one switch back, nothing pending.
    f.clearLog();
    f.prompt.dialogs[InsertionPrompt::ObjectName] = [](QObject *) { return int(QDialog::Rejected); };
    DosimeterDialog::run(f.engine, f.prompt, nullptr, rec.context());
    QVERIFY(f.engine.waitForWorkers(5000));
    QCOMPARE(ServiceFixture::countOf(f.requests(), ServiceFixture::modeRequest(0)), 1);
    QVERIFY(!f.engine.snapshot().readerModeRestorePending);
    QCOMPARE(f.sim().readModel<int>([](const SimReaderModel &m) { return m.mode(); }), 0);
}

void TestServiceOptions::writeRequestsWithAndWithoutModeSwitching()
{
    // A write that ended early counts its groups against those that differed.
    const KnownLabel ivanov = KnownLabel::fromCode(textToDeviceCode(QStringLiteral("Иванов И.И.     ")));
    QCOMPARE(changedLabelGroups(labelTargetCode(QStringLiteral("Иванов П.П.")), ivanov), 2);
    QVERIFY(labelWriteFailedText(QStringLiteral("Иванов П.П."), {1}, 2, QString())
                .endsWith(QStringLiteral("Записаны группы метки: 2 (из 2 изменяемых)")));

    for (const bool switching : {false, true}) {
        ServiceFixture f(switching);
        if (!f.start())
            QSKIP("no pseudo-terminal");
        SimDosimeter d;
        d.setLabel(QStringLiteral("Иванов"));
        d.number = 4711;
        f.sim().setDosimeter(d);
        Recorded rec;
        QList<QByteArray> opening;
        bool idleHidden = false, shownWhileWriting = false;
        f.prompt.dialogs[InsertionPrompt::ObjectName] = [](QObject *) { return int(QDialog::Accepted); };
        f.prompt.dialogs[DosimeterDialog::ObjectName] = [&](QObject *o) {
            auto *dlg = static_cast<DosimeterDialog *>(o);
            dlg->show();
            opening = f.requests();
            f.clearLog();
            // The progress shows only while a write is under way, and says so.
            auto *bar = dlg->findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
            idleHidden = !bar->isVisible();
            QTimer::singleShot(0, dlg, [&] { shownWhileWriting = bar->isVisible() && bar->isTextVisible(); });
            dlg->findChild<QLineEdit *>(QStringLiteral("LabString"))->setText(QStringLiteral("Иванов И."));
            dlg->findChild<QCheckBox *>(QStringLiteral("CB_AccMode"))->click();
            dlg->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
            return dlg->result();
        };
        DosimeterDialog::run(f.engine, f.prompt, nullptr, rec.context());
        QVERIFY(idleHidden && shownWhileWriting);
        QVERIFY(f.engine.waitForWorkers(5000));

        // Opening: service mode where the reader needs it, the four label
        // groups, the number; nothing else.
        QList<QByteArray> expectedOpening;
        if (switching)
            expectedOpening << ServiceFixture::modeRequest(1);
        for (quint8 reg = RegLabelFirst; reg <= RegLabelLast; ++reg)
            expectedOpening << ServiceFixture::request(FnRead, SelRegister, dosimeterRegisterReadBody(reg));
        expectedOpening << ServiceFixture::request(FnRead, SelRegister, dosimeterRegisterReadBody(RegDosimeterNumber));
        QCOMPARE(opening, expectedOpening);

        // The number read again before the first write and before the
        // number and mode, the mode read back after its write.
        const QByteArray target = textToDeviceCode(QStringLiteral("Иванов И.       "));
        const QByteArray numberRead = ServiceFixture::request(FnRead, SelRegister, dosimeterRegisterReadBody(RegDosimeterNumber));
        QList<QByteArray> expected{
            numberRead,
            ServiceFixture::request(FnWrite, SelRegister, labelGroupWriteBody(1, target.mid(4, 4))),
            ServiceFixture::request(FnRead, SelRegister, labelGroupReadBody(1)),
            ServiceFixture::request(FnWrite, SelRegister, labelGroupWriteBody(2, target.mid(8, 4))),
            ServiceFixture::request(FnRead, SelRegister, labelGroupReadBody(2)),
            numberRead,
            ServiceFixture::request(FnWrite, SelRegister, dosimeterNumberWriteBody(4711, true)),
            numberRead,
        };
        if (switching)
            expected << ServiceFixture::modeRequest(0);
        QCOMPARE(f.requests(), expected);
        QCOMPARE(f.sim().dosimeter().label(), QStringLiteral("Иванов И.       "));
        QVERIFY(f.sim().dosimeter().accumulation);
        QCOMPARE(rec.reports.size(), 1);
        QVERIFY(rec.reports.first().verified);
        QCOMPARE(rec.reports.first().number, QStringLiteral("4711"));
        QCOMPARE(rec.reports.first().info, QStringLiteral("Идентификатор\r\nИванов И.       \r\nуспешно записан в "
                                                          "дозиметр\r\nрежим (1) успешно записан в дозиметр"));
        QVERIFY(!f.engine.snapshot().paused);
        QCOMPARE(f.engine.snapshot().state, SyncState::Offline);
    }
}

void TestServiceOptions::untouchedLabelIsSentBackAsItsBytes()
{
    ServiceFixture f;
    if (!f.start())
        QSKIP("no pseudo-terminal");
    // A label padded with zero bytes: its text does not map back onto them.
    SimDosimeter d;
    d.labelCode = textToDeviceCode(QStringLiteral("Петров")) + QByteArray(10, '\0');
    d.number = 12;
    f.sim().setDosimeter(d);
    Recorded rec;
    bool flagKept = false;
    QString shown, typed;
    f.prompt.dialogs[DosimeterDialog::ObjectName] = [&](QObject *o) {
        auto *dlg = static_cast<DosimeterDialog *>(o);
        dlg->show();
        // Shown as read (¤ for the zero bytes); typed characters the device's
        // table lacks never enter the box.
        auto *box = dlg->findChild<QLineEdit *>(QStringLiteral("LabString"));
        shown = box->text();
        box->setText(QStringLiteral("Łódź 😀 O'Brien;"));
        typed = box->text();
        box->setText(shown);
        f.clearLog();
        dlg->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        // Shown again after a message box: the change flag stays as it was.
        dlg->findChild<QCheckBox *>(QStringLiteral("CB_AccMode"))->click();
        dlg->hide();
        dlg->show();
        flagKept = dlg->accModeChanged();
        return dlg->result();
    };
    DosimeterDialog::run(f.engine, f.prompt, nullptr, rec.context());
    QCOMPARE(labelRequests(f.requests()), 0);
    QCOMPARE(f.sim().dosimeter().labelCode, d.labelCode);
    QCOMPARE(rec.reports.size(), 1);
    QVERIFY(rec.reports.first().verified);
    QCOMPARE(rec.reports.first().labelCode, d.labelCode);
    QVERIFY(flagKept);
    QCOMPARE(shown, deviceCodeToText(d.labelCode));
    QCOMPARE(typed, QStringLiteral("d  O'Brien;"));
}

void TestServiceOptions::otherDosimeterIsNotRenumbered()
{
    ServiceFixture f;
    if (!f.start())
        QSKIP("no pseudo-terminal");
    SimDosimeter d;
    d.setLabel(QStringLiteral("Иванов И.И."));
    d.number = 1193046;
    f.sim().setDosimeter(d);
    // Another dosimeter goes in while the dialog is open; only its last
    // label group is the one read at opening.
    SimDosimeter other;
    other.labelCode = textToDeviceCode(QStringLiteral("Сидорова Н.")) + d.labelCode.mid(12);
    other.number = 777;
    other.totalDose = 5.0f;
    Recorded rec;
    bool stayedOpen = false;
    f.prompt.dialogs[DosimeterDialog::ObjectName] = [&](QObject *o) {
        auto *dlg = static_cast<DosimeterDialog *>(o);
        dlg->show();
        f.sim().setDosimeter(other);
        f.clearLog();
        dlg->findChild<QLineEdit *>(QStringLiteral("LabString"))->setText(QStringLiteral("Петров П.П."));
        dlg->findChild<QCheckBox *>(QStringLiteral("CB_AccMode"))->click();
        dlg->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        dlg->findChild<QPushButton *>(QStringLiteral("BtnDoseClear"))->click();
        stayedOpen = dlg->result() != QDialog::Accepted;
        return dlg->result();
    };
    DosimeterDialog::run(f.engine, f.prompt, nullptr, rec.context());
    // Nothing is written to it, nothing is reported to the journal.
    QCOMPARE(f.sim().dosimeter().labelCode, other.labelCode);
    QCOMPARE(f.sim().dosimeter().number, 777u);
    QVERIFY(!f.sim().dosimeter().accumulation);
    QCOMPARE(f.sim().dosimeter().totalDose, 5.0f);
    for (const QByteArray &r : f.requests())
        QVERIFY(quint8(r.at(6)) != FnWrite);
    QVERIFY(stayedOpen);
    QVERIFY(rec.reports.isEmpty());
    const QString refused = QStringLiteral("В считывателе другой дозиметр (777).\r\nЗапись не произведена.");
    QCOMPARE(f.prompt.texts(),
             (QStringList{refused, QStringLiteral("Очистить накопленую дозу дозиметра 1193046?"), refused}));
    QVERIFY(f.prompt.beeps >= 2);
}

void TestServiceOptions::unverifiedLabelIsReportedSo()
{
    ServiceFixture f;
    if (!f.start())
        QSKIP("no pseudo-terminal");
    SimDosimeter d;
    d.setLabel(QStringLiteral("Иванов"));
    d.number = 4711;
    f.sim().setDosimeter(d);
    Recorded rec;
    f.prompt.dialogs[DosimeterDialog::ObjectName] = [&](QObject *o) {
        auto *dlg = static_cast<DosimeterDialog *>(o);
        dlg->show();
        // The write of the first changed group never reaches the dosimeter.
        f.sim().injectFault(SimReader::Fault::Unheard, 1, 0, 1);
        dlg->findChild<QLineEdit *>(QStringLiteral("LabString"))->setText(QStringLiteral("Иванов И."));
        dlg->findChild<QPushButton *>(QStringLiteral("btnOk"))->click();
        return dlg->result();
    };
    DosimeterDialog::run(f.engine, f.prompt, nullptr, rec.context());
    // The report has it unverified, so the journal binds nobody on it.
    QCOMPARE(rec.reports.size(), 1);
    QVERIFY(!rec.reports.first().verified);
    QCOMPARE(rec.reports.first().label, f.sim().dosimeter().label());
}

void TestServiceOptions::doseTabClearAndNotANumber()
{
    // The value decides, not its text: a NaN with the sign bit set.
    float negativeNan = -std::nanf("");
    QVERIFY(std::signbit(negativeNan));
    QCOMPARE(totalDoseDisplay(negativeNan), QStringLiteral("Не определено"));
    QCOMPARE(totalDoseDisplay(1234.56f), QStringLiteral("1.235E+03"));

    ServiceFixture f;
    if (!f.start())
        QSKIP("no pseudo-terminal");
    SimDosimeter d;
    d.number = 7;
    d.totalDose = 12.5f;
    f.sim().setDosimeter(d);
    Recorded rec;
    QTemporaryDir dir;
    DosimeterDialogContext context = rec.context();
    context.settingsPath = dir.filePath(QStringLiteral("settings.ini"));
    QString shownFirst, shownAfterClear;
    QRect closedAt;
    int doseReads = 0;
    f.prompt.dialogs[DosimeterDialog::ObjectName] = [&](QObject *o) {
        auto *dlg = static_cast<DosimeterDialog *>(o);
        dlg->show();
        f.clearLog();
        auto *tabs = dlg->findChild<QTabWidget *>(QStringLiteral("PC"));
        tabs->setCurrentIndex(1);
        tabs->setCurrentIndex(0);
        tabs->setCurrentIndex(1);  // read once only
        doseReads = f.requests().size();
        shownFirst = dlg->findChild<QLabel *>(QStringLiteral("Label_SumDoseReaded"))->text();
        auto *clear = dlg->findChild<QPushButton *>(QStringLiteral("BtnDoseClear"));
        clear->click();  // answered Cancel: nothing is cleared
        clear->click();  // answered OK
        shownAfterClear = dlg->findChild<QLabel *>(QStringLiteral("Label_SumDoseReaded"))->text();
        // The clear's acknowledgement lost (after the number and the dose
        // read before it): the dose reads back as zero, so it was cleared.
        SimDosimeter again = f.sim().dosimeter();
        again.totalDose = 3.0f;
        f.sim().setDosimeter(again);
        f.sim().injectFault(SimReader::Fault::NoReply, 1, 0, 2);
        clear->click();  // answered OK
        dlg->move(140, 90);
        closedAt = dlg->geometry();
        dlg->reject();
        return int(QDialog::Rejected);
    };
    f.prompt.answers << PromptButton::Cancel << PromptButton::Ok << PromptButton::Ok << PromptButton::Ok
                     << PromptButton::Ok;
    DosimeterDialog::run(f.engine, f.prompt, nullptr, context);
    QCOMPARE(doseReads, 1);
    QCOMPARE(shownFirst, QStringLiteral("1.250E+01"));
    QCOMPARE(f.sim().dosimeter().totalDose, 0.0f);
    QCOMPARE(shownAfterClear, QStringLiteral("0.000E+00"));
    QCOMPARE(f.prompt.asked.at(0).buttons, PromptButtons(PromptButton::Ok | PromptButton::Cancel));
    QCOMPARE(f.prompt.asked.at(0).unattended, PromptButton::Cancel);
    QCOMPARE(f.prompt.asked.at(2).text, QStringLiteral("Суммарная доза: 0\r\nуспешно записана в дозиметр"));
    QCOMPARE(f.prompt.asked.size(), 5);
    QCOMPARE(f.prompt.asked.at(4).text, f.prompt.asked.at(2).text);
    const QStringList events = f.setup.eventLines();
    QVERIFY(!events.filter(QStringLiteral("1.250E+01")).isEmpty());

    // Closing the dialog keeps where it stood in the settings file.
    FormPlacement kept;
    QVERIFY(readPlacement(IniFile(context.settingsPath), DosimeterDialog::ObjectName, kept));
    QCOMPARE(QRect(kept.normPos[0], kept.normPos[1], kept.width(), kept.height()), closedAt);
}

QTEST_MAIN(TestServiceOptions)
#include "tst_service_options.moc"
