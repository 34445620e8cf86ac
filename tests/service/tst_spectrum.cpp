// The spectrum view against the simulated reader, its paging and summary
// formats, and the about box.

#include "ReaderLinkSetup.h"
#include "ScriptedPrompt.h"

#include "link/DeviceCommands.h"
#include "link/TarnCodes.h"
#include "link/ValueCodec.h"
#include "monitor/core/SyncEngine.h"
#include "service/core/SpectrumData.h"
#include "service/core/SpectrumReader.h"
#include "service/ui/AboutBox.h"
#include "service/ui/SpectrumDialog.h"

#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

using namespace TarnCodes;

namespace {

QList<QByteArray> spectrumRequests(const SimReader &sim, quint8 selector)
{
    QList<QByteArray> out;
    for (const QByteArray &r : sim.requestLog())
        if (r.size() > 7 && quint8(r[6]) == FnRead && quint8(r[7]) == selector)
            out.append(r);
    return out;
}

QPushButton *button(QWidget *w, const char *name)
{
    return w->findChild<QPushButton *>(QString::fromLatin1(name));
}

}  // namespace

class TestSpectrum : public QObject {
    Q_OBJECT
private slots:
    void pagingFloorAndDoseFormat();
    void readWithAndWithoutSummary();
    void failedBlockKeepsWhatWasRead();
    void secondReadAndCloseDuringRead();
    void aboutBox();
};

void TestSpectrum::pagingFloorAndDoseFormat()
{
    SpectrumData data;
    SpectrumPaging paging;
    data.begin();
    // Before a count was read the floor stays at 0, never at the 65535 a read starts from.
    paging.up(data);
    QCOMPARE(paging.axisMinimum(), 0);
    for (int b = 0; b < SpectrumData::Blocks; ++b)
        data.addBlock(QVector<quint16>(100, 7));
    QCOMPARE(data.pointCount(), 1502);
    QCOMPARE(data.minimum(), 7);
    paging.up(data);
    QCOMPARE(paging.axisMinimum(), 7);
    QVERIFY(!paging.paged());

    QCOMPARE(SpectrumPaging::pageCount(1502), 5);
    paging.left(1502);  // page 1: paging on, the page stays
    QVERIFY(paging.paged());
    QCOMPARE(paging.page(), 1);
    paging.right(1502);
    QCOMPARE(paging.pageText(1502), QStringLiteral("Страница 2 из 5"));
    double from = 0, to = 0;
    paging.xRange(data, from, to);
    QCOMPARE(from, 299.5);  // the page's 301 points: channels 300..600
    QCOMPARE(to, 600.5);
    for (int i = 0; i < 5; ++i)
        paging.right(1502);
    QCOMPARE(paging.page(), 5);
    paging.down();
    QVERIFY(!paging.paged());
    QCOMPARE(paging.axisMinimum(), 0);
    QCOMPARE(paging.pageText(1502), QString());

    QCOMPARE(formatSpectrumDose(1.5e-5), QStringLiteral("1.5E-005"));
    QCOMPARE(formatSpectrumDose(2.5e-6), QStringLiteral("2.5E-006"));
    QCOMPARE(formatSpectrumDose(123456.0), QStringLiteral("1.2E+005"));
    QCOMPARE(formatSpectrumDose(0.0), QStringLiteral("0.0E+000"));
}

void TestSpectrum::readWithAndWithoutSummary()
{
    for (const bool switching : {true, false}) {
        ReaderLinkSetup setup(1);
        if (!setup.startReader())
            QSKIP("no pseudo-terminal");
        QVector<quint16> channels(1500);
        for (int i = 0; i < 1500; ++i)
            channels[i] = quint16(20 + (i * 7) % 300);
        SimSpectrumHeader header;
        header.doseWord = encodeDecimalWord(1.5e-5);
        header.doseCounts = 48213;
        header.delta = 44;
        header.maxChannel = 777;
        header.comparatorChannel = 12;
        setup.sim.withModel([&](SimReaderModel &m) {
            m.setSpectrum(channels);
            m.setSpectrumHeader(header);
        });
        // Replies paced at the line rate, so the read lasts long enough to be watched.
        setup.sim.setPaced(true, 115200);
        SyncEngine engine;
        engine.setLink(&setup.link);
        engine.setReaderFindings(false, false, switching);
        ScriptedPrompt prompt;

        {
            SpectrumDialog view(engine, prompt, QString());
            QList<int> progressSeen;
            bool pausedWhileReading = true;
            connect(view.findChild<QProgressBar *>(QStringLiteral("ProgressBar")), &QProgressBar::valueChanged,
                    [&](int v) {
                        progressSeen.append(v);
                        pausedWhileReading = pausedWhileReading && engine.snapshot().paused;
                    });
            int ticks = 0;
            QTimer tick;
            connect(&tick, &QTimer::timeout, [&] { ++ticks; });
            tick.start(10);
            view.show();  // the first showing reads
            QTRY_VERIFY(view.reading());
            QVERIFY(view.reader().waitUntilDone(20000));
            tick.stop();

            QCOMPARE(view.data().counts(), channels);
            QCOMPARE(view.data().minimum(), 20);
            QCOMPARE(spectrumRequests(setup.sim, SelSpectrumBlock).size(), 15);
            QCOMPARE(spectrumRequests(setup.sim, SelSpectrumHeader).size(), switching ? 1 : 0);
            // The main thread went on during the read (its timer ticked, the
            // bar moved block by block) with the cycle kept off the link; the
            // bar is hidden at the end.
            QVERIFY2(ticks >= 5, qPrintable(QString::number(ticks)));
            QCOMPARE(progressSeen.last(), 15);
            QVERIFY(progressSeen.size() >= 15);
            QVERIFY(pausedWhileReading);
            QVERIFY(view.findChild<QProgressBar *>(QStringLiteral("ProgressBar"))->isHidden());
            QWidget *panel = view.findChild<QWidget *>(QStringLiteral("PanelExtendedInfo"));
            QCOMPARE(panel->isVisible(), switching);
            if (switching) {
                QCOMPARE(view.findChild<QLineEdit *>(QStringLiteral("Edit_Dose"))->text(), QStringLiteral("1.5E-005"));
                QCOMPARE(view.findChild<QLineEdit *>(QStringLiteral("Edit_DoseInt"))->text(), QStringLiteral("48213"));
                QCOMPARE(view.findChild<QLineEdit *>(QStringLiteral("Edit_iMax"))->text(), QStringLiteral("777"));
            }
            QVERIFY(prompt.asked.isEmpty());

            // The chart pages through what was read and raises its floor.
            button(&view, "BtnRight")->click();
            QCOMPARE(view.pageText(), QStringLiteral("Страница 2 из 5"));
            double x0, x1, y0, y1;
            view.shownRange(x0, x1, y0, y1);
            QCOMPARE(x0, 299.5);
            button(&view, "BtnUp")->click();
            view.shownRange(x0, x1, y0, y1);
            QCOMPARE(y0, 20.0);
            QVERIFY(y1 > 319.0);
            QCOMPARE(x1, 1500.0);

            // A double click on the chart edits its looks only: nothing is read.
            const int requests = setup.sim.requestsServed();
            prompt.dialogs[QStringLiteral("ChartEditor")] = [](QObject *editor) {
                editor->findChild<QCheckBox *>(QStringLiteral("CB_Grid"))->setChecked(false);
                return int(QDialog::Accepted);
            };
            QTest::mouseDClick(view.chartView()->viewport(), Qt::LeftButton);
            QCOMPARE(prompt.dialogsShown, QList<QString>{QStringLiteral("ChartEditor")});
            QVERIFY(!view.chartView()->chart()->axes(Qt::Vertical).first()->isGridLineVisible());
            QCOMPARE(setup.sim.requestsServed(), requests);
            view.close();
        }
        QVERIFY(!engine.snapshot().paused);
    }
}

void TestSpectrum::failedBlockKeepsWhatWasRead()
{
    ReaderLinkSetup setup(0);
    if (!setup.startReader())
        QSKIP("no pseudo-terminal");
    setup.sim.injectFault(SimReader::Fault::SpectrumWrongSize, 20, 0, 3);
    SyncEngine engine;
    engine.setLink(&setup.link);
    ScriptedPrompt prompt;
    SpectrumDialog view(engine, prompt, QString());
    view.show();
    QTRY_VERIFY(view.reading());
    QVERIFY(view.reader().waitUntilDone(20000));

    QCOMPARE(view.data().countsRead(), 300);
    QCOMPARE(view.data().pointCount(), 302);
    QCOMPARE(prompt.asked.size(), 1);
    QCOMPARE(prompt.asked[0].kind, MsgKind::Error);
    QCOMPARE(prompt.asked[0].text, QStringLiteral("При чтении спектрометрической информации произошла ошибка"));
    QCOMPARE(prompt.asked[0].buttons, PromptButton::Ok | PromptButton::Cancel);
    auto *bar = view.findChild<QProgressBar *>(QStringLiteral("ProgressBar"));
    QVERIFY(bar->isVisible());
    QCOMPARE(bar->value(), 3);
}

void TestSpectrum::secondReadAndCloseDuringRead()
{
    ReaderLinkSetup setup(1);
    if (!setup.startReader())
        QSKIP("no pseudo-terminal");
    setup.sim.setPaced(true, 9600);  // about 0.25 s a block
    SyncEngine engine;
    engine.setLink(&setup.link);
    ScriptedPrompt prompt;

    {
        SpectrumDialog view(engine, prompt, QString());
        view.show();
        QTRY_VERIFY(view.reading());
        QVERIFY(setup.sim.waitForRequests(2, 5000));
        // A second press while reading starts no read of its own.
        button(&view, "BtnReadSpectrum")->setEnabled(true);
        button(&view, "BtnReadSpectrum")->click();
        view.readSpectrum();
        // "Закрыть" during the read: the view stays until the read has stopped.
        button(&view, "btnOk")->click();
        QVERIFY(view.isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(!view.isVisible(), 10000);
        QVERIFY(!view.reading());
        const int blocks = spectrumRequests(setup.sim, SelSpectrumBlock).size();
        QVERIFY2(blocks < 15, qPrintable(QString::number(blocks)));
        // One read only: no block was asked for twice.
        QList<quint8> asked;
        for (const QByteArray &r : spectrumRequests(setup.sim, SelSpectrumBlock))
            asked.append(quint8(frameBody(r).at(0)));
        for (int i = 0; i < asked.size(); ++i)
            QCOMPARE(int(asked[i]), i);
        QVERIFY(prompt.asked.isEmpty());
    }

    // A view destroyed in the middle of a read: the read ends, nothing reaches it.
    setup.sim.clearLogs();
    auto *view = new SpectrumDialog(engine, prompt, QString());
    view->show();
    QVERIFY(setup.sim.waitForRequests(1, 5000));
    delete view;
    QTest::qWait(300);
    QVERIFY(spectrumRequests(setup.sim, SelSpectrumBlock).size() < 15);
    QVERIFY(!engine.snapshot().paused);
    QVERIFY(setup.link.lock().tryLock());
    setup.link.lock().unlock();
}

void TestSpectrum::aboutBox()
{
    QCOMPARE(AboutBox::builtVersion(), QStringLiteral("1.2.0.72"));
    const QString before = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(AboutBox::builtVersion());
    {
        AboutBox box;
        QCOMPARE(box.windowTitle(), QStringLiteral("О программе"));
        QCOMPARE(box.versionText(), QStringLiteral("1.2.0.72"));
        const QString memo = box.findChild<QPlainTextEdit *>(QStringLiteral("Memo1"))->toPlainText();
        QVERIFY(memo.startsWith(QStringLiteral("Программа «RUVO - Монитор»\n")));
        QVERIFY(memo.contains(QStringLiteral("\nнастройки,  анализа данных.\nПрограмма работает с прибором\n")));
        QVERIFY(memo.endsWith(QStringLiteral("\nТРЕМ-01.")));
        auto *ok = button(&box, "btnOk");
        QCOMPARE(ok->text(), QStringLiteral("&Закрыть"));
        QVERIFY(ok->isDefault());
        box.show();
        QTest::keyClick(&box, Qt::Key_Escape);
        QVERIFY(!box.isVisible());
    }
    QCoreApplication::setApplicationVersion(QString());
    AboutBox unversioned;
    QCOMPARE(unversioned.versionText(), QString());
    QCoreApplication::setApplicationVersion(before);
}

QTEST_MAIN(TestSpectrum)
#include "tst_spectrum.moc"
