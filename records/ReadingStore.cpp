#include "records/ReadingStore.h"

#include "records/StoredDateTime.h"
#include "records/DataModule.h"
#include "records/RowEditing.h"

#include <QSqlQuery>

ReadingStore::ReadingStore(DataModule &dm) : m_dm(dm)
{
}

bool ReadingStore::readingStored(const QDateTime &time, int address, int recNumber) const
{
    DataTable &measures = m_dm.measures();
    // The index on (DateTime, TarnAddress, RecNumber) answers it; the "+"
    // keeps SQLite from taking the single-field indexes instead.
    QSqlQuery found = measures.exec(
        QStringLiteral("SELECT \"Index\" FROM %1 WHERE \"DateTime\"=? AND +\"TarnAddress\"=? AND +\"RecNumber\"=? LIMIT 1")
            .arg(measures.sqlName()),
        {DataTable::toStorage(measures.fieldDef(QStringLiteral("DateTime")), time), address, recNumber});
    return found.next();
}

int ReadingStore::storeReading(const StoredReading &reading)
{
    DataTable &measures = m_dm.measures();
    editingRow(measures, [&] {
        measures.append();
        measures.setFieldValue(QStringLiteral("DateTime"), reading.time);
        measures.setFieldValue(QStringLiteral("TarnAddress"), reading.address);
        measures.setFieldValue(QStringLiteral("RecNumber"), reading.recNumber);
        measures.setFieldValue(QStringLiteral("ID"), reading.id);
        measures.setFieldValue(QStringLiteral("Name"), reading.name);
        measures.setFieldValue(QStringLiteral("Dose"), reading.dose);
        measures.setFieldValue(QStringLiteral("RecoveryTime"), QDateTime::currentDateTime());
        measures.setFieldValue(QStringLiteral("Check"), false);
        measures.post();
    });
    bool ok = false;
    const int index = measures.fieldValue(QStringLiteral("Index")).toInt(&ok);
    return ok ? index : 0;
}

ReaderPosition ReadingStore::loadReaderPosition(int address, bool *created)
{
    DataTable &devices = m_dm.devices();
    const bool missing = !devices.locate(QStringLiteral("TarnAddress"), address);
    if (missing) {
        editingRow(devices, [&] {
            devices.append();
            devices.setFieldValue(QStringLiteral("TarnAddress"), address);
            devices.setFieldValue(QStringLiteral("LastRecNumber"), 0);
            devices.setFieldValue(QStringLiteral("LastRecTime"), minDateTime());
            devices.post();
        });
    }
    if (created)
        *created = missing;
    return {devices.asInteger(QStringLiteral("LastRecNumber")), devices.asDateTime(QStringLiteral("LastRecTime"))};
}

void ReadingStore::saveReaderPosition(int address, const ReaderPosition &position)
{
    DataTable &devices = m_dm.devices();
    m_dm.flushReadings();
    const bool onRow = devices.hasCurrent() && !devices.isNull(QStringLiteral("TarnAddress"))
        && devices.asInteger(QStringLiteral("TarnAddress")) == address;
    editingRow(devices, [&] {
        if (devices.state() == TableState::Edit || devices.state() == TableState::Insert)
            devices.cancel();
        if (onRow || devices.locate(QStringLiteral("TarnAddress"), address)) {
            devices.edit();
        } else {
            devices.append();
            devices.setFieldValue(QStringLiteral("TarnAddress"), address);
        }
        devices.setFieldValue(QStringLiteral("LastRecNumber"), position.recNumber);
        devices.setFieldValue(QStringLiteral("LastRecTime"), position.time);
        devices.post();
    });
}

qint64 ReadingStore::readingCount() const
{
    DataTable &measures = m_dm.measures();
    QSqlQuery q = measures.exec(QStringLiteral("SELECT COUNT(*) FROM ") + measures.sqlName());
    return q.next() ? q.value(0).toLongLong() : -1;
}
