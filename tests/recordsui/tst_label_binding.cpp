// Binding a dosimeter from its label (the label report): real SQLite files in a
// temporary program directory, real widgets offscreen, scripted answers.

#include "RecordsFixture.h"

#include "core/AppState.h"
#include "core/TextCode.h"
#include "records/CardIndex.h"
#include "records/DataModule.h"
#include "records/Journal.h"
#include "records/LabelBinding.h"
#include "core/IniFile.h"
#include "records/ui/LabelReport.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

namespace {

const QDateTime Now(QDate(2026, 12, 9), QTime(14, 30, 15));

} // namespace

class TestLabelBinding : public QObject {
    Q_OBJECT

private:
    RecordsFixture m_f;
    bool m_flag = false;
    int m_maxCards = 0;

    DataTable &notes() { return m_f.dm->notes(); }

    LabelBindingHooks hooks()
    {
        LabelBindingHooks h;
        h.namesOutOfStep = [this] { m_flag = true; };
        h.maxCardsIndex = [this] { return m_maxCards; };
        h.setMaxCardsIndex = [this](int n) { m_maxCards = n; };
        h.now = [] { return Now; };
        return h;
    }

    QVariant addRow(int id, const QString &fio, const QDateTime &from, const QDateTime &to = QDateTime())
    {
        return m_f.addNote(id, fio, from, to);
    }

    int rowCount() { return int(notes().totalRows()); }

    QVariant addCard(int id, const QString &fio, const QString &label)
    {
        CardData c;
        c.id = id;
        c.fio = fio;
        c.label = label;
        return CardIndex(*m_f.dm).createCard(c).value;
    }

private slots:
    void init()
    {
        QVERIFY(m_f.open());
        m_flag = false;
        m_maxCards = 0;
    }

    void cleanup()
    {
        m_f.close();
    }

    // The label binding: the old binding closed and the new one opened
    // together, the name asked first, the same person left alone.
    void labelBinding()
    {
        const QDateTime t0 = Now.addSecs(3600);  // a binding "later" than the clock
        addCard(12, QStringLiteral("Петров Пётр Петрович"), QStringLiteral("ПЕТРОВ П.П."));
        const QVariant old = addRow(55, QStringLiteral("Сидоров С.С."), t0);
        LabelWriteOutcome out{QStringLiteral("55"), QStringLiteral("ПЕТРОВ П.П.     "), {}, true, QString()};

        // A name cancelled (choice 0) changes nothing, the window stays open.
        {
            LabelReport report(out, {m_f.dm.get(), QString(), hooks()});
            QVERIFY(!report.choiceShown());
            report.setChoice(LabelCardChoice::Nothing);
            m_f.prompt->inputs = {QString()};
            report.accept();
            QVERIFY(report.result() != QDialog::Accepted);
            QCOMPARE(m_f.prompt->inputCaptions, QStringList{QStringLiteral("Привязка дозиметра|Введите ФИО|ПЕТРОВ П.П.")});
            QCOMPARE(rowCount(), 1);
            QVERIFY(!m_flag);
        }

        // A name the code page cannot hold is refused, naming it, and asked again.
        m_f.prompt->inputs = {QStringLiteral("Łukasz"), QString()};
        {
            LabelReport report(out, {m_f.dm.get(), QString(), hooks()});
            report.setChoice(LabelCardChoice::Nothing);
            report.accept();
            QVERIFY(report.result() != QDialog::Accepted);
        }
        QCOMPARE(m_f.prompt->inputCaptions.size(), 3);
        QCOMPARE(m_f.prompt->texts().last(), refusedCharactersText(QStringLiteral("ФИО"), QStringLiteral("Ł")));
        QCOMPARE(rowCount(), 1);

        // A failed append leaves the old binding open.
        notes().exec(QStringLiteral("CREATE TEMP TRIGGER refuse BEFORE INSERT ON %1 BEGIN SELECT RAISE(ABORT, 'refused'); END")
                         .arg(notes().sqlName()));
        LabelBinding binding(*m_f.dm, hooks());
        QVERIFY(binding.findCard(out.label));
        // A label typed with Latin look-alikes is the label the dosimeter reads back.
        const QVariant latin = addCard(13, QStringLiteral("Семенов Олег"), QStringLiteral("CEMEHOB O."));
        QCOMPARE(binding.findCard(QStringLiteral("СЕМЕНОВ О.  ")), std::optional<QVariant>(latin));
        binding.findCard(out.label);
        const Result<> failed = binding.accept(out, LabelCardChoice::Create, true, true, {});
        QCOMPARE(failed.kind(), ErrorKind::Store);
        QCOMPARE(failed.errorText(), Journal::AddFailedText);
        Journal journal(*m_f.dm, {});
        QVERIFY(journal.row(old)->to.isNull());
        QCOMPARE(rowCount(), 1);
        notes().exec(QStringLiteral("DROP TRIGGER temp.refuse"));

        // Issued to someone else: closed (never before its TimeFrom) and bound anew.
        QVERIFY(binding.accept(out, LabelCardChoice::Create, true, true, {}).ok());
        QCOMPARE(journal.row(old)->to, t0);
        QCOMPARE(journal.openBinding(55)->fio, QStringLiteral("Петров Пётр Петрович"));
        QVERIFY(m_flag);

        // A row holding the card's label is the same person: nothing changes.
        m_flag = false;
        notes().findKey(journal.openBinding(55)->key);
        notes().edit();
        notes().setFieldValue(QStringLiteral("FIO"), QStringLiteral("ПЕТРОВ П.П."));
        notes().post();
        QVERIFY(binding.accept(out, LabelCardChoice::Create, true, true, {}).ok());
        QCOMPARE(rowCount(), 2);
        QVERIFY(!m_flag);
    }

    // An unknown label: a card numbered past both the settings and the
    // table; an unverified label binds nobody; a failed card skips the journal.
    void labelReport()
    {
        addCard(40, QStringLiteral("Старый"), QStringLiteral("СТАРЫЙ"));
        m_maxCards = 7;
        const QString ini = m_f.dir->filePath(QStringLiteral("RUVO.INI"));
        LabelWriteOutcome out{QStringLiteral("77"), QStringLiteral("НОВИКОВ Н.Н."), {}, false, QString()};
        {
            IniFile f(ini);
            f.writeInteger(LabelReport::SectionName, QStringLiteral("RG_ItemIndex"), 1);
            f.save();
        }
        {
            LabelReport report(out, {m_f.dm.get(), ini, hooks()});
            QVERIFY(report.choiceShown());
            QCOMPARE(report.choice(), LabelCardChoice::Nothing);
            QVERIFY(!report.record2Note());
            report.setChoice(LabelCardChoice::Create);
            report.accept();
        }
        QCOMPARE(rowCount(), 0);
        // Nor does the binding itself, whatever it is asked.
        QVERIFY(LabelBinding(*m_f.dm, hooks()).accept(out, LabelCardChoice::Nothing, true, true, {}).ok());
        QCOMPARE(rowCount(), 0);
        QCOMPARE(m_maxCards, 41);
        QCOMPARE(CardIndex(*m_f.dm).findCardByLabel(QStringLiteral("НОВИКОВ Н.Н."))->id.toInt(), 41);
        QCOMPARE(IniFile(ini).readInteger(LabelReport::SectionName, QStringLiteral("RG_ItemIndex"), -1), 1);

        // A verified unknown label with "...открыть её для редактирования":
        // the editor opens on the new card, which the journal row is named after.
        out.verified = true;
        out.label = QStringLiteral("ЛЕБЕДЕВА Л.Л.");
        LabelBindingHooks h = hooks();
        QString edited;
        h.editCurrentCard = [&] { edited = m_f.dm->cards().asString(QStringLiteral("FIO_RFID")); };
        h.showCardList = [] { QFAIL("the card list is not asked for"); };
        QVERIFY(LabelBinding(*m_f.dm, h).accept(out, LabelCardChoice::CreateAndEdit, false, true, {}).ok());
        QCOMPARE(edited, QStringLiteral("ЛЕБЕДЕВА Л.Л."));
        QCOMPARE(Journal(*m_f.dm, {}).openBinding(77)->fio, QStringLiteral("ЛЕБЕДЕВА Л.Л."));
        QCOMPARE(m_maxCards, 42);
        QVERIFY(m_flag);
        m_flag = false;

        out.label = QStringLiteral("ЗАЙЦЕВ З.З.");
        m_f.dm->cards().close();
        LabelBinding binding(*m_f.dm, hooks());
        const Result<> noCard = binding.accept(out, LabelCardChoice::Create, false, true, {});
        QVERIFY(!noCard);
        QVERIFY(noCard.errorText().startsWith(QStringLiteral("Не удалось создать карточку ЗАЙЦЕВ З.З.")));
        QCOMPARE(rowCount(), 1);
        QVERIFY(!m_flag);
    }

};

QTEST_MAIN(TestLabelBinding)
#include "tst_label_binding.moc"
