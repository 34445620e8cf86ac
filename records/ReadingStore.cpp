#include "records/ReadingStore.h"

#include "records/DoseAlerts.h"
#include "records/StoredDateTime.h"
#include "records/DataModule.h"
#include "records/RowEditing.h"
#include "records/SqlQuote.h"

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
        QStringLiteral("SELECT %2 FROM %1 WHERE %3=? AND +%4=? AND +%5=? LIMIT 1")
            .arg(measures.sqlName(), RecordsSql::quoted(fieldName(MeasuresField::Index)),
                 RecordsSql::quoted(fieldName(MeasuresField::DateTime)),
                 RecordsSql::quoted(fieldName(MeasuresField::TarnAddress)),
                 RecordsSql::quoted(fieldName(MeasuresField::RecNumber))),
        {DataTable::toStorage(measures.fieldDef(fieldName(MeasuresField::DateTime)), time), address, recNumber});
    return found.next();
}

int ReadingStore::storeReading(const StoredReading &reading)
{
    DataTable &measures = m_dm.measures();
    editingRow(measures, [&] {
        measures.append();
        measures.setFieldValue(fieldName(MeasuresField::DateTime), reading.time);
        measures.setFieldValue(fieldName(MeasuresField::TarnAddress), reading.address);
        measures.setFieldValue(fieldName(MeasuresField::RecNumber), reading.recNumber);
        measures.setFieldValue(fieldName(MeasuresField::ID), reading.id);
        measures.setFieldValue(fieldName(MeasuresField::Name), reading.name);
        measures.setFieldValue(fieldName(MeasuresField::Dose), reading.dose);
        measures.setFieldValue(fieldName(MeasuresField::RecoveryTime), QDateTime::currentDateTime());
        measures.setFieldValue(fieldName(MeasuresField::Check), false);
        measures.post();
    });
    bool ok = false;
    const int index = measures.fieldValue(fieldName(MeasuresField::Index)).toInt(&ok);
    // The reading is stored; the dose check comes after it and never fails it.
    if (ok)
        DoseAlerts::checkStoredReading(m_dm, {index, reading.id, reading.time, reading.dose});
    return ok ? index : 0;
}

ReaderPosition ReadingStore::loadReaderPosition(int address, bool *created)
{
    DataTable &devices = m_dm.devices();
    const bool missing = !devices.locate(fieldName(DevicesField::TarnAddress), address);
    if (missing) {
        editingRow(devices, [&] {
            devices.append();
            devices.setFieldValue(fieldName(DevicesField::TarnAddress), address);
            devices.setFieldValue(fieldName(DevicesField::LastRecNumber), 0);
            devices.setFieldValue(fieldName(DevicesField::LastRecTime), minDateTime());
            devices.post();
        });
    }
    if (created)
        *created = missing;
    return {devices.asInteger(fieldName(DevicesField::LastRecNumber)), devices.asDateTime(fieldName(DevicesField::LastRecTime))};
}

void ReadingStore::saveReaderPosition(int address, const ReaderPosition &position)
{
    DataTable &devices = m_dm.devices();
    m_dm.flushReadings();
    const bool onRow = devices.hasCurrent() && !devices.isNull(fieldName(DevicesField::TarnAddress))
        && devices.asInteger(fieldName(DevicesField::TarnAddress)) == address;
    editingRow(devices, [&] {
        if (devices.state() == TableState::Edit || devices.state() == TableState::Insert)
            devices.cancel();
        if (onRow || devices.locate(fieldName(DevicesField::TarnAddress), address)) {
            devices.edit();
        } else {
            devices.append();
            devices.setFieldValue(fieldName(DevicesField::TarnAddress), address);
        }
        devices.setFieldValue(fieldName(DevicesField::LastRecNumber), position.recNumber);
        devices.setFieldValue(fieldName(DevicesField::LastRecTime), position.time);
        devices.post();
    });
}

qint64 ReadingStore::readingCount() const
{
    DataTable &measures = m_dm.measures();
    QSqlQuery q = measures.exec(QStringLiteral("SELECT COUNT(*) FROM ") + measures.sqlName());
    return q.next() ? q.value(0).toLongLong() : -1;
}
