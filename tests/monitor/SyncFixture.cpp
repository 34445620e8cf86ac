#include "SyncFixture.h"

#include "core/Prompt.h"
#include "core/TextCode.h"
#include "link/DeviceCommands.h"

#include <QFile>
#include <QSqlQuery>

void RecordingView::updateStateIndicator()
{
    ++indicatorUpdates;
    statesPainted << int(engine ? engine->snapshot().state : SyncState::Offline);
}

SyncRig::SyncRig() : ReaderLinkSetup(1)
{
    engine.setFaceNotReady(false);
    view.engine = &engine;
    engine.setView(&view);
    engine.setDatabase(&dm);
    engine.setLink(&link);
    engine.setPrompt(&prompt);
}

SyncRig::~SyncRig()
{
    engine.shutDown();
    engine.waitForWorkers(5000);
    engine.setView(nullptr);
    sim.stop();
    dm.dataModuleDestroy();
}

bool SyncRig::start(bool withReader)
{
    dm.dataModuleCreate(toldBy(activePrompt()));  // the announcements of new tables go to the scripted prompt
    prompt.asked.clear();
    if (!dm.measures().active() || !dm.notes().active() || !dm.devices().active())
        return false;
    if (!withReader)
        return true;
    return startReader();
}

QPair<int, QDateTime> SyncRig::device(int address)
{
    QSqlQuery q = dm.devices().exec(
        QStringLiteral("SELECT \"LastRecNumber\", \"LastRecTime\" FROM %1 WHERE \"TarnAddress\"=?").arg(dm.devices().sqlName()),
        {address});
    if (!q.next())
        return {-1, QDateTime()};
    const FieldDef &def = dm.devices().fieldDef(QStringLiteral("LastRecTime"));
    return {q.value(0).toInt(), DataTable::fromStorage(def, q.value(1)).toDateTime()};
}

void SyncRig::setDevice(int address, int lastRecNumber, const QDateTime &lastRecTime)
{
    DataTable &d = dm.devices();
    if (d.locate(QStringLiteral("TarnAddress"), address)) {
        d.edit();
    } else {
        d.append();
        d.setFieldValue(QStringLiteral("TarnAddress"), address);
    }
    d.setFieldValue(QStringLiteral("LastRecNumber"), lastRecNumber);
    d.setFieldValue(QStringLiteral("LastRecTime"), lastRecTime);
    d.post();
}

void SyncRig::rememberRecord(int number, qint64 timeShiftMs)
{
    setDevice(address(), number, sim.record(number).time.addMSecs(timeShiftMs));
}

QList<MeasureRow> SyncRig::measures()
{
    QList<MeasureRow> rows;
    DataTable &m = dm.measures();
    QSqlQuery q = m.exec(QStringLiteral("SELECT \"Index\", \"TarnAddress\", \"RecNumber\", \"DateTime\", \"ID\", \"Name\", "
                                        "\"Dose\", \"RecoveryTime\", \"FIO\", \"Check\" FROM %1 ORDER BY \"Index\"")
                             .arg(m.sqlName()));
    while (q.next()) {
        MeasureRow r;
        r.index = q.value(0).toInt();
        r.address = q.value(1).toInt();
        r.recNumber = q.value(2).toInt();
        r.time = DataTable::fromStorage(m.fieldDef(QStringLiteral("DateTime")), q.value(3)).toDateTime();
        r.id = q.value(4).toInt();
        r.name = q.value(5).toString();
        r.dose = q.value(6).toDouble();
        r.recoveryTime = DataTable::fromStorage(m.fieldDef(QStringLiteral("RecoveryTime")), q.value(7)).toDateTime();
        r.fio = q.value(8).toString();
        r.check = DataTable::fromStorage(m.fieldDef(QStringLiteral("Check")), q.value(9));
        rows << r;
    }
    return rows;
}

QList<int> SyncRig::recNumbers()
{
    QList<int> out;
    for (const MeasureRow &r : measures())
        out << r.recNumber;
    return out;
}

int SyncRig::measuresCount()
{
    QSqlQuery q = dm.measures().exec(QStringLiteral("SELECT COUNT(*) FROM %1").arg(dm.measures().sqlName()));
    return q.next() ? q.value(0).toInt() : -1;
}

int SyncRig::addMeasure(const QDateTime &time, int id, double dose, int recNumber, int address, const QString &fio)
{
    DataTable &m = dm.measures();
    m.append();
    m.setFieldValue(QStringLiteral("DateTime"), time);
    m.setFieldValue(QStringLiteral("ID"), id);
    m.setFieldValue(QStringLiteral("Dose"), dose);
    m.setFieldValue(QStringLiteral("RecNumber"), recNumber);
    m.setFieldValue(QStringLiteral("TarnAddress"), address);
    if (!fio.isNull())
        m.setFieldValue(QStringLiteral("FIO"), fio);
    m.post();
    return m.fieldValue(QStringLiteral("Index")).toInt();
}

int SyncRig::addNote(int id, const QVariant &from, const QVariant &to, const QString &fio)
{
    DataTable &n = dm.notes();
    n.append();
    n.setFieldValue(QStringLiteral("ID"), id);
    n.setFieldValue(QStringLiteral("TimeFrom"), from);
    n.setFieldValue(QStringLiteral("TimeTo"), to);
    n.setFieldValue(QStringLiteral("FIO"), fio);
    n.post();
    return n.fieldValue(QStringLiteral("Index")).toInt();
}

QVariant SyncRig::noteDose(int key)
{
    QSqlQuery q = dm.notes().exec(QStringLiteral("SELECT \"Dose\" FROM %1 WHERE \"Index\"=?").arg(dm.notes().sqlName()), {key});
    return q.next() ? q.value(0) : QVariant();
}

QDateTime at(int h, int m, int s)
{
    return QDateTime(QDate(2026, 3, 10), QTime(h, m, s));
}
