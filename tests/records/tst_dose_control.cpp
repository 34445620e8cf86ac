// Dose control: persons' doses through the journal, control levels, alerts
// raised on the store path, withdrawn after the journal changes, and
// acknowledged only by an operator.

#include "DoseSite.h"

#include "core/AppState.h"
#include "records/CardIndex.h"
#include "records/DataChecks.h"
#include "records/AuditLog.h"
#include "records/DoseAlerts.h"
#include "records/NameSync.h"
#include "records/ReadingStore.h"
#include "records/StoredDateTime.h"

#include "records/MonthSums.h"

#include <QFile>
#include <QProcess>
#include <QSqlQuery>
#include <QTest>

namespace {

struct Site : DoseSite {
    QString personOf(const QString &name) { return PersonDirectory::of(*dm).refresh(), PersonDirectory::of(*dm).personOf(name); }
};

} // namespace

class TestDoseControl : public QObject {
    Q_OBJECT
private slots:
    void attributionIdentityAndPeriodSums();
    void alertsOncePerLevelAndPeriod();
    void withdrawalOnReattribution();
    void fiveYearsGroupBAndPregnancy();
    void refusedLevelChangesNothing();
    void levelAndPersonChangesReviewAlerts();
    void dataChecksFindUnreadAndUnattributed();
    void nameSyncOneRunOneAuditRow();
    void monthSumsFollowEveryWrite();
};

void TestDoseControl::attributionIdentityAndPeriodSums()
{
    Site s;
    CardIndex cards(*s.dm);
    CardData card;
    card.fio = QStringLiteral("Иванов  Иван Иванович");
    card.label = QStringLiteral("IVANOV II");
    card.subDiv = QStringLiteral("Цех 1");
    const QVariant cardKey = cards.createCard(card).value;
    // Dosimeter 5: Иванов by name (case and blanks differ), then by label;
    // Петров's binding begins inside the first and wins what they share.
    s.bind(5, QStringLiteral("иванов иван   иванович"), at(2025, 1, 10, 8), at(2025, 3, 5, 12));
    s.bind(5, QStringLiteral("Петров"), at(2025, 2, 1, 0), at(2025, 2, 28, 23, 59, 59));
    s.bind(6, QStringLiteral("IVANOV II"), at(2025, 3, 5, 12));  // the label, another dosimeter
    s.read(5, at(2025, 1, 10, 7, 59, 59), 1);    // before any binding: nobody's
    s.read(5, at(2025, 1, 10, 8), 2);             // Иванов's first second
    s.read(5, at(2025, 1, 31, 23, 59, 59), 4);    // January's last second
    s.read(5, at(2025, 2, 1, 0), 8);              // Петров's first second: his
    s.read(5, at(2025, 2, 28, 23, 59, 59), 16);   // his last
    s.read(5, at(2025, 3, 1, 0), 32);             // back to Иванов
    s.read(5, at(2025, 3, 5, 12), 64);            // Иванов's last second
    s.read(5, at(2025, 3, 5, 12, 0, 1), 128);     // nobody's
    s.read(6, at(2025, 3, 5, 12), 256);           // Иванов through his label
    s.read(6, at(2026, 1, 1, 0), 512);            // next year

    const QString ivanov = s.personOf(QStringLiteral("Иванов Иван Иванович"));
    QCOMPARE(ivanov, PersonDirectory::cardPersonKey(cardKey));
    QCOMPARE(s.personOf(QStringLiteral(" IVANOV   II ")), ivanov);
    const QString petrov = s.personOf(QStringLiteral("петров"));
    QCOMPARE(petrov, PersonDirectory::namePersonKey(QStringLiteral("Петров")));

    PersonDoses doses(*s.dm);
    const PeriodRange y2025 = DosePeriods::holding(DosePeriod::Year, QDate(2025, 6, 1));
    QCOMPARE(doses.dose(ivanov, y2025).dose, 2.0 + 4 + 32 + 64 + 256);
    QCOMPARE(doses.dose(petrov, y2025).dose, 24.0);
    QCOMPARE(doses.monthly(ivanov, 2025).mid(0, 4), (QList<double>{6, 0, 352, 0}));
    QCOMPARE(doses.dose(ivanov, DosePeriods::fiveYears(2022)).dose, 358.0 + 512);

    // Every month and quarter: the persons' doses and the unattributed ones
    // add up to the plain SQL sum of the same rows.
    for (DosePeriod kind : {DosePeriod::Month, DosePeriod::Quarter, DosePeriod::Year}) {
        for (const PeriodRange &p : DosePeriods::overlapping(kind, QDate(2025, 1, 1), QDate(2026, 1, 31))) {
            const double nobody =
                s.sqlSum(QStringLiteral("\"DateTime\" IN (?, ?) AND \"DateTime\" >= ? AND \"DateTime\" <= ?"),
                         {dateTimeToStored(at(2025, 1, 10, 7, 59, 59)), dateTimeToStored(at(2025, 3, 5, 12, 0, 1)),
                          p.fromText(), p.toText()});
            const double all = s.sqlSum(QStringLiteral("\"DateTime\" >= ? AND \"DateTime\" <= ?"),
                                        {p.fromText(), p.toText()});
            QCOMPARE(doses.dose(ivanov, p).dose + doses.dose(petrov, p).dose + nobody, all);
        }
    }
    // The all-at-once path agrees with the per-person one.
    const auto rows = doses.everyone(y2025.from, y2025.to);
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].person.key, ivanov);
    QCOMPARE(rows[0].dose.dose, 358.0);
    QCOMPARE(rows[1].dose.dose, 24.0);
}

void TestDoseControl::alertsOncePerLevelAndPeriod()
{
    Site s;
    appState().eventsLogEnabled = true;
    const qsizetype startUpMessages = s.prompt.asked.size();
    s.bind(3, QStringLiteral("Сидоров"), at(2026, 1, 1, 0));
    DoseAlerts alerts(*s.dm);
    s.read(3, at(2026, 2, 1), 900);        // under everything
    QCOMPARE(alerts.alerts().size(), 0);
    s.read(3, at(2026, 2, 2), 1500);       // one reading over 1 000
    s.read(3, at(2026, 2, 3), 4000);       // and another; the year now 6 400 > 6 000
    QList<DoseAlert> all = alerts.alerts();
    QCOMPARE(all.size(), 3);
    int readingAlerts = 0, yearInvestigation = 0;
    for (const DoseAlert &a : all) {
        readingAlerts += a.period.kind == DosePeriod::Reading;
        if (a.period.kind == DosePeriod::Year && a.kind == LevelKind::Investigation) {
            ++yearInvestigation;
            QCOMPARE(a.dose, 6400.0);
            QCOMPARE(a.readingTime, at(2026, 2, 3));
        }
    }
    QCOMPARE(readingAlerts, 2);
    QCOMPARE(yearInvestigation, 1);
    s.read(3, at(2026, 3, 1), 500);        // still over 6 000: no second alert
    QCOMPARE(alerts.alerts().size(), 3);
    s.read(3, at(2026, 4, 1), 45000);      // over the limit: a new alert
    all = alerts.alerts();
    QCOMPARE(all.size(), 5);                // the limit and the reading
    QCOMPARE(all.first().kind, LevelKind::Limit);
    QCOMPARE(all.first().period.kind, DosePeriod::Year);
    QCOMPARE(alerts.unacknowledgedCount(), 5);

    // Only an operator acknowledges, once; the alert stays.
    QVERIFY(!alerts.acknowledge(all.first().index, QStringLiteral("  "), {}).ok());
    QVERIFY(alerts.acknowledge(all.first().index, QStringLiteral("Оператор"), QStringLiteral("Проверено")).ok());
    QVERIFY(!alerts.acknowledge(all.first().index, QStringLiteral("Другой"), {}).ok());
    QCOMPARE(alerts.unacknowledgedCount(), 4);
    QCOMPARE(alerts.alert(all.first().index)->ackBy, QStringLiteral("Оператор"));
    QCOMPARE(alerts.alerts().size(), 5);

    // Unattended: nothing asked, everything in Events.log.
    QCOMPARE(s.prompt.asked.size(), startUpMessages);
    QFile log(s.dir.programDir() + QStringLiteral("Events.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QCOMPARE(log.readAll().count("\r\n"), 5);
    appState().eventsLogEnabled = false;
}

void TestDoseControl::withdrawalOnReattribution()
{
    Site s;
    const QVariant entry = s.bind(7, QStringLiteral("Козлов"), at(2026, 1, 1, 0));
    s.read(7, at(2026, 5, 1), 700);
    s.read(7, at(2026, 6, 1), 5800);      // 6 500 in the year
    DoseAlerts alerts(*s.dm);
    QCOMPARE(alerts.alerts().size(), 2);  // the reading and the year
    // The dosimeter was Лебедев's all along: the journal row is corrected.
    DataTable &n = s.dm->notes();
    QVERIFY(n.findKey(entry));
    n.edit();
    n.setFieldValue(fieldName(NotesField::FIO), QStringLiteral("Лебедев"));
    n.post();
    DoseAlerts::bindingsChanged(*s.dm);
    const QList<DoseAlert> all = alerts.alerts();
    QCOMPARE(all.size(), 4);  // none deleted
    for (const DoseAlert &a : all) {
        if (a.fio == QStringLiteral("Козлов")) {
            QVERIFY(!a.standing());
            QVERIFY2(a.withdrawReason.contains(QStringLiteral("дозиметр 7")), qPrintable(a.withdrawReason));
        } else {
            QCOMPARE(a.fio, QStringLiteral("Лебедев"));
            QVERIFY(a.standing());
        }
    }
    // The year alert raised anew names the reading that crossed the level.
    bool found = false;
    for (const DoseAlert &a : all)
        found = found || (a.fio == QStringLiteral("Лебедев") && a.period.kind == DosePeriod::Year
                          && a.readingTime == at(2026, 6, 1) && a.dose == 6500);
    QVERIFY(found);
    // Looking again changes nothing more.
    QCOMPARE(alerts.reevaluate(7, QString(), DoseAttribution::openEnd()).raised, 0);
    QCOMPARE(alerts.alerts().size(), 4);

    // A card made for him later: the doses are his card's from then on, so
    // the alerts under his bare name give way to his card's at once.
    CardData card;
    card.id = 12;
    card.fio = QStringLiteral("лебедев");
    QVERIFY(CardIndex(*s.dm).createCard(card).ok());
    int cardStanding = 0;
    for (const DoseAlert &a : alerts.alerts()) {
        if (a.personKey.startsWith(QStringLiteral("card:")))
            cardStanding += a.standing() ? 1 : 0;
        else
            QVERIFY(!a.standing());
    }
    QCOMPARE(cardStanding, 2);
}

void TestDoseControl::fiveYearsGroupBAndPregnancy()
{
    Site s;
    DoseLevels levels(*s.dm);
    s.bind(9, QStringLiteral("Морозова"), at(2020, 1, 1, 0));
    const QString person = s.personOf(QStringLiteral("Морозова"));
    PersonSettings settings{person, WorkerGroup::B, QDate(2026, 3, 1), QDate(2026, 11, 30)};
    QVERIFY(levels.setPerson(settings, QStringLiteral("Оператор")).ok());
    // Five years of 5 500 in readings of at most 1 000: each year under
    // group B's 12 500, the five together over its 25 000.
    for (int y = 2021; y <= 2025; ++y) {
        for (int i = 1; i <= 6; ++i)
            s.read(9, at(y, 6, i), i < 6 ? 1000 : 500);
    }
    DoseAlerts alerts(*s.dm);
    QList<DoseAlert> all = alerts.alerts();
    QCOMPARE(all.size(), 1);
    QCOMPARE(all[0].period.kind, DosePeriod::FiveYears);
    QCOMPARE(all[0].period.from.date(), QDate(2021, 1, 1));
    QCOMPARE(all[0].dose, 26000.0);  // when it crossed
    QCOMPARE(all[0].level, 25000.0);
    QCOMPARE(all[0].readingTime, at(2025, 6, 4));
    // Before the declared pregnancy nothing counts towards its level.
    s.read(9, at(2026, 2, 27), 800);
    s.read(9, at(2026, 3, 1, 0), 600);
    QCOMPARE(alerts.alerts().size(), 1);
    s.read(9, at(2026, 11, 30, 23, 59, 59), 600);   // its last second: 1 200 > 1 000
    all = alerts.alerts();
    QCOMPARE(all.size(), 2);
    QCOMPARE(all[0].period.kind, DosePeriod::Pregnancy);
    QCOMPARE(all[0].dose, 1200.0);
    // Group B's year limit: 2 000 so far in 2026, then 900 a day.
    for (int d = 1; d <= 11; ++d)
        s.read(9, at(2026, 12, d), 900);
    const auto yearLimits = [&] {
        int n = 0;
        for (const DoseAlert &a : alerts.alerts())
            n += a.period.kind == DosePeriod::Year && a.kind == LevelKind::Limit;
        return n;
    };
    QCOMPARE(yearLimits(), 0);  // 11 900: not yet over 12 500
    s.read(9, at(2026, 12, 12), 900);
    all = alerts.alerts();
    QCOMPARE(all.first().kind, LevelKind::Limit);
    QCOMPARE(all.first().period.kind, DosePeriod::Year);
    QCOMPARE(all.first().level, 12500.0);
    QCOMPARE(all.first().dose, 12800.0);
    QCOMPARE(yearLimits(), 1);
}

void TestDoseControl::levelAndPersonChangesReviewAlerts()
{
    // The current periods are those of the computer's day.
    Site s;
    DoseLevels levels(*s.dm);
    DoseAlerts alerts(*s.dm);
    const QDate today = QDate::currentDate();
    s.bind(5, QStringLiteral("Иванов"), QDateTime(QDate(today.year(), 1, 1), QTime(0, 0)));
    s.bind(6, QStringLiteral("Петров"), QDateTime(QDate(today.year(), 1, 1), QTime(0, 0)));
    for (int i = 0; i < 8; ++i) {
        s.read(5, QDateTime(today, QTime(0, 0, i)), 900);  // 7 200 this year
        s.read(6, QDateTime(today, QTime(0, 1, i)), 500);  // 4 000
    }
    const QString ivanov = s.personOf(QStringLiteral("Иванов"));
    const QString petrov = s.personOf(QStringLiteral("Петров"));
    const auto standing = [&](const QString &person) {
        QList<DoseAlert> list;
        for (const DoseAlert &a : alerts.alertsOf(person))
            if (a.standing())
                list.append(a);
        return list;
    };
    QCOMPARE(standing(ivanov).size(), 1);  // the year's investigation level, 6 000
    QVERIFY(standing(petrov).isEmpty());

    // Everyone's year investigation level raised over Иванов's dose: his
    // alert is withdrawn with the reason, and kept. Lowered under
    // Петров's: his is raised.
    const LevelKey yearInvestigation{LevelScope::All, {}, {}, DosePeriod::Year, LevelKind::Investigation};
    QVERIFY(levels.setLevel(yearInvestigation, 8000, QStringLiteral("Оператор")).ok());
    QVERIFY(standing(ivanov).isEmpty());
    QCOMPARE(alerts.alertsOf(ivanov).size(), 1);
    QVERIFY(alerts.alertsOf(ivanov).first().withdrawReason.startsWith(QStringLiteral("после изменения контрольного уровня")));
    QVERIFY(levels.setLevel(yearInvestigation, 3000, QStringLiteral("Оператор")).ok());
    QCOMPARE(levels.stored().size(), 1);  // the everyone level replaced, not added
    QCOMPARE(standing(petrov).size(), 1);
    QCOMPARE(standing(petrov).first().dose, 4000.0);
    QCOMPARE(standing(ivanov).size(), 1);
    QCOMPARE(standing(ivanov).first().readingTime, QDateTime(today, QTime(0, 0, 3)));  // where the sum went over
    QVERIFY(levels.setLevel(yearInvestigation, std::nullopt, QStringLiteral("Оператор")).ok());
    QVERIFY(standing(petrov).isEmpty());
    QCOMPARE(standing(ivanov).size(), 1);  // 7 200 is over the default 6 000 too

    // A level for one person: only theirs is looked at.
    QVERIFY(levels.setLevel({LevelScope::Person, petrov, {}, DosePeriod::Month, LevelKind::Investigation}, 3500,
                            QStringLiteral("Оператор")).ok());
    QCOMPARE(standing(petrov).size(), 1);
    QCOMPARE(standing(petrov).first().period.kind, DosePeriod::Month);

    // A declared pregnancy: its level applies; declared no more: withdrawn.
    PersonSettings settings{ivanov, WorkerGroup::A, QDate(today.year(), 1, 1), {}};
    QVERIFY(levels.setPerson(settings, QStringLiteral("Оператор")).ok());
    QList<DoseAlert> now = standing(ivanov);
    QCOMPARE(now.size(), 2);
    QCOMPARE(now.first().period.kind, DosePeriod::Pregnancy);
    settings.pregnantFrom = QDate();
    QVERIFY(levels.setPerson(settings, QStringLiteral("Оператор")).ok());
    now = standing(ivanov);
    QCOMPARE(now.size(), 1);
    QCOMPARE(now.first().period.kind, DosePeriod::Year);
    QCOMPARE(alerts.alertsOf(ivanov).first().withdrawReason,
             QStringLiteral("после изменения группы или беременности лица: беременность не заявлена"));
}

void TestDoseControl::refusedLevelChangesNothing()
{
    Site s;
    DoseLevels levels(*s.dm);
    CardIndex cards(*s.dm);
    CardData card;
    card.fio = QStringLiteral("Орлов");
    card.subDiv = QStringLiteral("Цех 1");
    const QString orlov = PersonDirectory::cardPersonKey(cards.createCard(card).value);
    const LevelKey subdivYearLimit{LevelScope::SubDiv, QStringLiteral("Цех 1"), {}, DosePeriod::Year, LevelKind::Limit};
    const LevelKey subdivYearInv{LevelScope::SubDiv, QStringLiteral("Цех 1"), {}, DosePeriod::Year,
                                 LevelKind::Investigation};
    const QByteArray before = fileBytes(s.dir.tablePath(QStringLiteral("DoseLevels.db")));
    const auto refused = [&](const LevelKey &key, std::optional<double> value) {
        const Result<> c = levels.setLevel(key, value, QStringLiteral("Оператор"));
        QVERIFY2(c.kind() == ErrorKind::Invalid && !c.errorText().isEmpty(), qPrintable(c.errorText()));
        QCOMPARE(levels.stored().size(), 0);
        QCOMPARE(fileBytes(s.dir.tablePath(QStringLiteral("DoseLevels.db"))), before);
    };
    refused(subdivYearLimit, 5000);    // the 6 000 investigation level is not below it
    refused(subdivYearLimit, -1);
    refused(subdivYearLimit, 0);
    refused({LevelScope::All, {}, {}, DosePeriod::Year, LevelKind::Investigation}, 50000);
    refused({LevelScope::All, {}, WorkerGroup::B, DosePeriod::Year, LevelKind::Investigation}, 13000);
    refused({LevelScope::Person, {}, {}, DosePeriod::Month, LevelKind::Limit}, 100);

    // The other order is accepted, and the most specific level applies.
    QVERIFY(levels.setLevel(subdivYearInv, 4000, QStringLiteral("Оператор")).ok());
    QVERIFY(levels.setLevel(subdivYearLimit, 5000, QStringLiteral("Оператор")).ok());
    QVERIFY(levels.setLevel({LevelScope::Person, orlov, {}, DosePeriod::Year, LevelKind::Limit}, 7000, {}).ok());
    double limit = 0, investigation = 0;
    for (const AppliedLevel &l : levels.applying(orlov)) {
        if (l.period == DosePeriod::Year)
            (l.kind == LevelKind::Limit ? limit : investigation) = l.value;
    }
    QCOMPARE(limit, 7000.0);
    QCOMPARE(investigation, 4000.0);
    // Removing the subdivision's investigation level would leave the
    // default 6 000 over its 5 000 limit: refused, still three levels.
    QVERIFY(!levels.setLevel(subdivYearInv, std::nullopt, {}).ok());
    QCOMPARE(levels.stored().size(), 3);
}

void TestDoseControl::dataChecksFindUnreadAndUnattributed()
{
    Site s;
    const QDateTime now = at(2026, 6, 30);
    s.bind(1, QStringLiteral("Read recently"), at(2026, 1, 1, 0));
    s.read(1, at(2026, 6, 10), 10);
    s.bind(2, QStringLiteral("Not read for long"), at(2026, 1, 1, 0));
    s.read(2, at(2026, 5, 29, 11), 10);                             // 32 days before
    s.bind(3, QStringLiteral("Never read"), at(2026, 5, 1, 0));
    s.bind(4, QStringLiteral("Issued lately"), at(2026, 6, 15, 0)); // not yet due
    s.bind(5, QStringLiteral("Released"), at(2026, 1, 1, 0), at(2026, 2, 1, 0));
    s.read(5, at(2026, 2, 1, 0, 0, 1), 70);                         // a second after the release
    s.read(9, at(2026, 3, 1), 80);                                  // never issued
    s.read(1, at(2025, 12, 31, 23, 59, 59), 90);                    // before its binding, outside the period

    const auto unread = DataChecks::unreadDosimeters(*s.dm, DataChecks::DefaultUnreadDays, now);
    QVERIFY(unread.ok());
    QCOMPARE(unread.value.size(), 2);
    QCOMPARE(unread.value[0].id, 2);
    QCOMPARE(unread.value[0].lastRead, at(2026, 5, 29, 11));
    QCOMPARE(unread.value[1].id, 3);
    QVERIFY(unread.value[1].lastRead.isNull());
    QCOMPARE(DataChecks::unreadDosimeters(*s.dm, 40, now).value.size(), 1);

    const auto loose = DataChecks::unattributedReadings(*s.dm, at(2026, 1, 1, 0), now);
    QVERIFY(loose.ok());
    QCOMPARE(loose.value.size(), 2);
    QCOMPARE(loose.value[0].id, 5);
    QCOMPARE(loose.value[1].id, 9);
    QCOMPARE(loose.value[1].dose, 80.0);
    QCOMPARE(DataChecks::unattributedReadings(*s.dm, now, at(2026, 1, 1, 0)).kind(), ErrorKind::Invalid);
}

void TestDoseControl::nameSyncOneRunOneAuditRow()
{
    Site s;
    const QVariant ivanov = s.bind(5, QStringLiteral("Иванов"), at(2025, 1, 10, 8), at(2025, 3, 5, 12));
    s.bind(5, QStringLiteral("Петров"), at(2025, 2, 1, 0), at(2025, 2, 28, 23, 59, 59));
    s.bind(6, QStringLiteral("Сидоров"), at(2025, 3, 5, 12));  // still issued
    const int early = s.read(5, at(2025, 1, 10, 7, 59, 59), 1);
    const int first = s.read(5, at(2025, 1, 10, 8), 2);
    const int shared = s.read(5, at(2025, 2, 1, 0), 4);
    const int last = s.read(5, at(2025, 3, 5, 12), 8);
    const int open = s.read(6, at(2026, 1, 1), 16);
    s.dm->measures().exec(QStringLiteral("UPDATE %1 SET \"FIO\" = 'Старое' WHERE \"Index\" = ?")
                              .arg(s.dm->measures().sqlName()), {early});
    const auto fio = [&](int index) {
        QSqlQuery q = s.dm->measures().exec(
            QStringLiteral("SELECT \"FIO\" FROM %1 WHERE \"Index\" = ?").arg(s.dm->measures().sqlName()), {index});
        return q.next() ? q.value(0).toString() : QStringLiteral("?");
    };
    const auto syncRows = [&] {
        const auto rows = AuditLog(*s.dm).query({}, {}, QString());
        QStringList out;
        for (const AuditRecord &r : rows.value)
            if (r.entry.action == AuditLog::SyncAction)
                out << r.entry.after;
        return out;
    };

    QVERIFY(NameSync(*s.dm).run());
    QCOMPARE(fio(early), QString());
    QCOMPARE(fio(first), QStringLiteral("Иванов"));
    QCOMPARE(fio(shared), QStringLiteral("Петров"));
    QCOMPARE(fio(last), QStringLiteral("Иванов"));
    QCOMPARE(fio(open), QStringLiteral("Сидоров"));
    QVERIFY(s.dm->notes().gotoBookmark(ivanov));
    QCOMPARE(s.dm->notes().fieldValue(QStringLiteral("Dose")).toDouble(), 14.0);  // its whole period
    QCOMPARE(syncRows(), QStringList{QStringLiteral("Notes=3; Measures=5")});
    QVERIFY(NameSync(*s.dm).run());  // nothing left to change, still one row
    QCOMPARE(syncRows().value(1), QStringLiteral("Notes=3; Measures=0"));

    if (testOnServer()) {
        // A write that fails late undoes the names already written and
        // leaves no audit row.
        s.bind(5, QStringLiteral("Козлов"), at(2025, 1, 1, 0), at(2025, 1, 10, 7, 59, 59));
        s.dm->notes().exec(QStringLiteral("ALTER TABLE %1 ADD CHECK (\"Dose\" < 1) NOT VALID").arg(s.dm->notes().sqlName()));
        QVERIFY(!NameSync(*s.dm).run());
        QCOMPARE(fio(early), QString());
        QCOMPARE(syncRows().size(), 2);
    }
}

// The sums the database keeps for one dosimeter against a plain SUM of
// Measures, and a person's months through them against the same.
void compareMonthSums(Site &s, const QString &person)
{
    DataTable &m = s.dm->measures();
    QMap<QString, QPair<double, qint64>> kept, direct;
    for (QSqlQuery q = m.exec(QStringLiteral("SELECT \"ID\" || ':' || \"Month\", \"Dose\", \"Readings\" FROM %1")
                                  .arg(MonthSums::sqlName(s.dm->dialect())));
         q.next();)
        kept.insert(q.value(0).toString(), {q.value(1).toDouble(), q.value(2).toLongLong()});
    for (QSqlQuery q = m.exec(QStringLiteral("SELECT \"ID\" || ':' || SUBSTR(\"DateTime\", 1, 7), SUM(\"Dose\"), COUNT(*) FROM %1 "
                                             "GROUP BY \"ID\", SUBSTR(\"DateTime\", 1, 7)")
                                  .arg(m.sqlName()));
         q.next();)
        direct.insert(q.value(0).toString(), {q.value(1).toDouble(), q.value(2).toLongLong()});
    QCOMPARE(kept.keys(), direct.keys());
    for (auto it = kept.cbegin(); it != kept.cend(); ++it) {
        QVERIFY2(qAbs(it->first - direct[it.key()].first) < 1e-9, qPrintable(it.key()));
        QCOMPARE(it->second, direct[it.key()].second);
    }
    // Held from 15 January 2024 08:00 on: January is partial.
    const QMap<QString, PeriodDose> months = PersonDoses(*s.dm).byMonth(person, at(2023, 1, 1, 0), at(2025, 12, 31, 23, 59, 59));
    QMap<QString, QPair<double, qint64>> expected;
    for (QSqlQuery q = m.exec(QStringLiteral("SELECT SUBSTR(\"DateTime\", 1, 7), SUM(\"Dose\"), COUNT(*) FROM %1 "
                                             "WHERE \"ID\" = 5 AND \"DateTime\" >= ? GROUP BY SUBSTR(\"DateTime\", 1, 7)")
                                  .arg(m.sqlName()),
                              {dateTimeToStored(at(2024, 1, 15, 8))});
         q.next();)
        expected.insert(q.value(0).toString(), {q.value(1).toDouble(), q.value(2).toLongLong()});
    QCOMPARE(months.keys(), expected.keys());
    for (auto it = months.cbegin(); it != months.cend(); ++it) {
        QVERIFY2(qAbs(it->dose - expected[it.key()].first) < 1e-9, qPrintable(it.key()));
        QCOMPARE(it->readings, expected[it.key()].second);
    }
}

void TestDoseControl::monthSumsFollowEveryWrite()
{
    Site s;
    QVERIFY(s.dm->monthSumsKept());
    s.bind(5, QStringLiteral("Сидоров"), at(2024, 1, 15, 8));
    s.read(5, at(2024, 1, 15, 7), 1);  // before the binding
    s.read(5, at(2024, 1, 20), 2);
    s.read(5, at(2024, 2, 1, 0), 4);
    s.read(5, at(2024, 2, 29, 23, 59, 59), 8);
    s.read(5, at(2024, 3, 10), 16);
    const int changed = s.read(5, at(2024, 4, 2), 32);
    s.read(5, at(2024, 12, 31, 23, 59, 59), 0.125);
    s.read(7, at(2024, 3, 10), 1000);
    const QString person = s.personOf(QStringLiteral("Сидоров"));
    compareMonthSums(s, person);

    DataTable &m = s.dm->measures();
    m.exec(QStringLiteral("UPDATE %1 SET \"Dose\" = 48.5 WHERE \"Index\" = ?").arg(m.sqlName()), {changed});
    m.exec(QStringLiteral("UPDATE %1 SET \"DateTime\" = ?, \"ID\" = 5 WHERE \"ID\" = 7").arg(m.sqlName()),
           {dateTimeToStored(at(2024, 5, 5))});
    m.exec(QStringLiteral("DELETE FROM %1 WHERE \"Dose\" = 8").arg(m.sqlName()));
    compareMonthSums(s, person);
    QCOMPARE(PersonDoses(*s.dm).byMonth(person, at(2024, 2, 1, 0), at(2024, 2, 29, 23, 59, 59)).value(QStringLiteral("2024-02")).dose,
             4.0);

    if (!testOnServer()) {
        // Written by the stock shell, which knows nothing of the program.
        QProcess shell;
        shell.start(QStringLiteral("sqlite3"),
                    {QStringLiteral("-bail"), QStringLiteral("-cmd"), QStringLiteral(".timeout 5000"),
                     s.dir.tablePath(s.dm->measures().fileName()),
                     QStringLiteral("INSERT INTO Measures (TarnAddress, RecNumber, DateTime, ID, Dose) "
                                    "VALUES (1, 900, '2024-06-01 10:00:00.000', 5, 0.25)")});
        QVERIFY(shell.waitForFinished(20000));
        QVERIFY2(shell.exitCode() == 0, shell.readAllStandardError().constData());
        compareMonthSums(s, person);
    }

    // A store of an older version: no sums yet. The start-up counts them.
    if (s.dm->dialect().sqlite()) {
        for (const char *trigger : {"DoseMonths_insert", "DoseMonths_delete", "DoseMonths_update_old", "DoseMonths_update_new"})
            m.exec(QStringLiteral("DROP TRIGGER \"Measures\".\"%1\"").arg(QLatin1String(trigger)));
        m.exec(QStringLiteral("DROP TABLE \"Measures\".\"DoseMonths\""));
    } else {
        m.exec(QStringLiteral("DROP TABLE \"DoseMonths\""));
        m.exec(QStringLiteral("DROP TRIGGER \"DoseMonths_keep\" ON \"Measures\""));
    }
    s.read(5, at(2024, 7, 7), 3);
    s.dm->dataModuleDestroy();
    s.dm = s.dir.start();
    QVERIFY(s.dm->monthSumsKept());
    compareMonthSums(s, person);
}

QTEST_GUILESS_MAIN(TestDoseControl)
#include "tst_dose_control.moc"
