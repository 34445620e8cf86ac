// The dose card window and the annual summary window: opened from the card
// index and "Дозы по людям" on the right person, the PDF written whole (a
// PDF file, not empty), the CSV written. With RUVO_DOSE_SHOTS set to a
// folder, also leaves there the screenshots of both windows and the card's
// PDF.

#include "RecordsFixture.h"

#include "core/Prompt.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/DoseLevels.h"
#include "records/Journal.h"
#include "records/ReadingStore.h"
#include "records/ui/AnnualSummaryWindow.h"
#include "records/ui/Cards.h"
#include "records/ui/DoseCardWindow.h"
#include "records/ui/JournalTotals.h"

#include <QChartView>
#include <QDir>
#include <QFile>
#include <QTableWidget>
#include <QTest>
#include <QTextBrowser>

namespace {

QByteArray head(const QString &path, qint64 n)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(n) : QByteArray();
}

} // namespace

class TestDoseCard : public QObject {
    Q_OBJECT

    RecordsFixture m_f;
    QVariant m_cardKey;

private slots:
    void init()
    {
        QVERIFY(m_f.open());
        CardData card;
        card.id = 17;
        card.fio = QStringLiteral("Смирнова Ольга Петровна");
        card.label = QStringLiteral("СМИРНОВА ОП");
        card.vacancy = QStringLiteral("дефектоскопист");
        card.subDiv = QStringLiteral("Лаборатория НК");
        m_cardKey = CardIndex(*m_f.dm).createCard(card).value;
        CardData other;
        other.fio = QStringLiteral("Кузнецов Иван");
        other.subDiv = QStringLiteral("Лаборатория НК");
        CardIndex(*m_f.dm).createCard(other);
        m_f.addNote(11, QStringLiteral("Смирнова Ольга Петровна"), QDateTime(QDate(2024, 1, 9), QTime(8, 0)),
                    QDateTime(QDate(2025, 3, 31), QTime(17, 0)));
        m_f.addNote(12, QStringLiteral("СМИРНОВА ОП"), QDateTime(QDate(2025, 4, 1), QTime(8, 0)));
        m_f.addNote(13, QStringLiteral("Кузнецов Иван"), QDateTime(QDate(2024, 1, 9), QTime(8, 0)));
        ReadingStore store(*m_f.dm);
        int n = 0;
        for (QDate d(2024, 1, 10); d <= QDate(2026, 6, 30); d = d.addDays(3)) {
            const int id = d < QDate(2025, 4, 1) ? 11 : 12;
            const double dose = 20 + (d.dayOfYear() * 37 % 90) + (d.year() == 2025 && d.month() >= 8 ? 90 : 0);
            store.storeReading({QDateTime(d, QTime(16, 0)), 1, ++n, id, QStringLiteral("Д"), dose});
            store.storeReading({QDateTime(d, QTime(16, 5)), 1, ++n, 13, QStringLiteral("Д"), dose / 4});
        }
    }
    void cleanup() { m_f.close(); }

    void opensFromCardIndexAndTotals()
    {
        QStringList opened;
        m_f.prompt->dialogs[QStringLiteral("TDoseCard")] = [&opened](QObject *d) {
            opened.append(static_cast<DoseCardWindow *>(d)->card().person.key);
            return 0;
        };
        const QString smirnova = PersonDirectory::cardPersonKey(m_cardKey);
        int maxIndex = 0;
        Cards list(*m_f.dm, maxIndex);
        QVERIFY(CardIndex(*m_f.dm).cards().findKey(m_cardKey));
        list.showDoseCard();
        QCOMPARE(opened, QStringList{smirnova});

        Journal journal(*m_f.dm, [] {});
        JournalTotals totals(activePrompt(), journal, QDateTime(QDate(2025, 12, 31), QTime(12, 0)));
        totals.setPeriod(QDate(2025, 1, 1), QDate(2025, 12, 31));
        auto *grid = totals.findChild<QTableWidget *>(QStringLiteral("GridTotals"));
        QCOMPARE(grid->rowCount(), 3);  // Кузнецов; Смирнова by her name and by her label
        for (int r = 0; r < grid->rowCount(); ++r) {
            grid->setCurrentCell(r, 0);
            totals.showDoseCard();
        }
        QCOMPARE(opened.size(), 4);
        QCOMPARE(opened.count(smirnova), 3);
    }

    void pdfAndCsvWritten()
    {
        const QString shots = qEnvironmentVariable("RUVO_DOSE_SHOTS");
        const QString out = shots.isEmpty() ? m_f.dir->path() : shots;
        const Result<DoseCard> card = DoseCard::compute(*m_f.dm, PersonDirectory::cardPersonKey(m_cardKey), QDate(2025, 12, 31));
        QVERIFY(card.ok());
        DoseCardWindow window(activePrompt(), card.value);
        QCOMPARE(window.chartYear(), 2025);
        QVERIFY(!window.chartView()->chart()->series().isEmpty());
        const QString pdf = out + QStringLiteral("/dose-card.pdf");
        QVERIFY(window.savePdf(pdf).ok());
        QVERIFY(QFileInfo(pdf).size() > 10000);  // the chart is in it
        QCOMPARE(head(pdf, 5), QByteArray("%PDF-"));
        const QString csv = out + QStringLiteral("/dose-card.csv");
        QVERIFY(window.exportCsv(csv, CsvFormat::withSeparator(QLatin1Char(';'))).ok());
        QVERIFY(QString::fromUtf8(head(csv, 100000)).contains(QStringLiteral("2025;12;")));
        // A file that cannot be written is refused and says so.
        const Result<> refused = window.savePdf(m_f.dir->path() + QStringLiteral("/no/such/folder/card.pdf"));
        QVERIFY(!refused.ok() && !refused.errorText().isEmpty());

        AnnualSummaryWindow summary(activePrompt(), *m_f.dm, 2025);
        QCOMPARE(summary.summary().everyone.persons.size(), 2);
        const QString summaryPdf = out + QStringLiteral("/annual-summary.pdf");
        QVERIFY(summary.savePdf(summaryPdf).ok());
        QCOMPARE(head(summaryPdf, 5), QByteArray("%PDF-"));

        if (!shots.isEmpty()) {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QTest::qWait(200);
            window.grab().save(shots + QStringLiteral("/dose-card.png"));
            summary.show();
            QVERIFY(QTest::qWaitForWindowExposed(&summary));
            QTest::qWait(200);
            summary.grab().save(shots + QStringLiteral("/annual-summary.png"));
        }
    }
};

QTEST_MAIN(TestDoseCard)
#include "tst_dose_card.moc"
