#include "records/ReadingStore.h"

#include "records/AuditLog.h"
#include "records/DoseAlerts.h"
#include "records/StoredDateTime.h"
#include "records/DataModule.h"
#include "records/RowEditing.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"

#include <QSqlQuery>
#include <optional>

ReadingStore::ReadingStore(DataModule &dm) : m_dm(dm)
{
}

bool ReadingStore::readingStored(const QDateTime &time, int address, int recNumber) const
{
    return storedIndex(time, address, recNumber) != 0;
}

int ReadingStore::storedIndex(const QDateTime &time, int address, int recNumber) const
{
    DataTable &measures = m_dm.measures();
    // The index on (DateTime, TarnAddress, RecNumber) answers it; the "+"
    // keeps SQLite from taking the single-field indexes instead.
    QSqlQuery found = measures.exec(
        QStringLiteral("SELECT %2 FROM %1 WHERE %3=? AND %4=? AND %5=? LIMIT 1")
            .arg(measures.sqlName(), RecordsSql::quoted(fieldName(MeasuresField::Index)),
                 RecordsSql::quoted(fieldName(MeasuresField::DateTime)),
                 m_dm.dialect().unindexed(RecordsSql::quoted(fieldName(MeasuresField::TarnAddress))),
                 m_dm.dialect().unindexed(RecordsSql::quoted(fieldName(MeasuresField::RecNumber)))),
        {DataTable::toStorage(measures.fieldDef(fieldName(MeasuresField::DateTime)), time), address, recNumber});
    return found.next() ? qMax(1, found.value(0).toInt()) : 0;
}

namespace {

// A statement that may be refused runs inside a savepoint when a transaction
// of the server is open: a refused statement would otherwise abort it.
class Savepoint {
public:
    Savepoint(DataModule &dm, DataTable &table, bool joined)
        : m_table(table), m_on(joined && !dm.dialect().sqlite())
    {
        if (m_on)
            m_table.exec(QStringLiteral("SAVEPOINT ruvo_refusable"));
    }
    void release()
    {
        if (m_on)
            m_table.exec(QStringLiteral("RELEASE SAVEPOINT ruvo_refusable"));
    }
    void rollBack()
    {
        if (m_on)
            m_table.exec(QStringLiteral("ROLLBACK TO SAVEPOINT ruvo_refusable"));
    }

private:
    DataTable &m_table;
    bool m_on;
};

// A reading's audit row commits as the reading does (DataModule::setReadingCommits).
class ReadingCommits {
public:
    explicit ReadingCommits(DataModule &dm) : m_dm(dm) { m_dm.setReadingCommits(true); }
    ~ReadingCommits() { m_dm.setReadingCommits(false); }
    ReadingCommits(const ReadingCommits &) = delete;
    ReadingCommits &operator=(const ReadingCommits &) = delete;

private:
    DataModule &m_dm;
};

} // namespace

int ReadingStore::storeReading(const StoredReading &reading, bool *alreadyStored, bool checkDose)
{
    if (alreadyStored)
        *alreadyStored = false;
    DataTable &measures = m_dm.measures();
    // The reading and its audit row go in one transaction: the caller's, or
    // one of their own.
    const bool joined = m_dm.inTransaction();
    std::optional<ReadingCommits> commits;
    std::optional<Transaction> tx;
    if (!joined) {
        commits.emplace(m_dm);
        tx.emplace(m_dm);
    }
    Savepoint savepoint(m_dm, measures, joined);
    QVariant key;
    try {
        editingRow(measures, [&] {
            measures.append();
            measures.setFieldValue(fieldName(MeasuresField::DateTime), reading.time);
            measures.setFieldValue(fieldName(MeasuresField::TarnAddress), reading.address);
            measures.setFieldValue(fieldName(MeasuresField::RecNumber), reading.recNumber);
            measures.setFieldValue(fieldName(MeasuresField::ID), reading.id);
            measures.setFieldValue(fieldName(MeasuresField::Name), reading.name);
            measures.setFieldValue(fieldName(MeasuresField::Dose), reading.dose);
            measures.setFieldValue(fieldName(MeasuresField::RecoveryTime),
                                   reading.copied.isValid() ? reading.copied : QDateTime::currentDateTime());
            measures.setFieldValue(fieldName(MeasuresField::Check), false);
            measures.post();
        });
        key = measures.fieldValue(measures.keyField());
        AuditLog(m_dm).write({measures.tableName(), key.toString(), AuditLog::InsertAction, QString(),
                              AuditLog::rowText(measures)});
        if (tx)
            tx->commit();
    } catch (const EStoreError &e) {
        if (e.cause() != StoreCause::Duplicate)
            throw;
        // The unique index refused a second copy: whoever stored the first
        // has checked its dose already.
        savepoint.rollBack();
        tx.reset();
        if (alreadyStored)
            *alreadyStored = true;
        return storedIndex(reading.time, reading.address, reading.recNumber);
    }
    savepoint.release();
    bool ok = false;
    const int index = key.toInt(&ok);
    // The reading is stored; the dose check comes after it and never fails it.
    if (ok && checkDose)
        DoseAlerts::checkStoredReading(m_dm, {index, reading.id, reading.time, reading.dose});
    return ok ? index : 0;
}

void ReadingStore::appendDevicesRow(int address, const ReaderPosition &position)
{
    DataTable &devices = m_dm.devices();
    Savepoint savepoint(m_dm, devices, m_dm.inTransaction());
    editingRow(devices, [&] {
        devices.append();
        devices.setFieldValue(fieldName(DevicesField::TarnAddress), address);
        devices.setFieldValue(fieldName(DevicesField::LastRecNumber), position.recNumber);
        devices.setFieldValue(fieldName(DevicesField::LastRecTime), position.time);
        devices.post();
    });
    savepoint.release();
}

ReaderPosition ReadingStore::loadReaderPosition(int address, bool *created)
{
    DataTable &devices = m_dm.devices();
    bool missing = !devices.locate(fieldName(DevicesField::TarnAddress), address);
    if (missing) {
        try {
            appendDevicesRow(address, {0, minDateTime()});
        } catch (const EStoreError &e) {
            // Another monitor on the same store created the row meanwhile.
            if (e.cause() != StoreCause::Duplicate || !devices.locate(fieldName(DevicesField::TarnAddress), address))
                throw;
            missing = false;
        }
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
    if (devices.state() == TableState::Edit || devices.state() == TableState::Insert)
        devices.cancel();
    if (!onRow && !devices.locate(fieldName(DevicesField::TarnAddress), address)) {
        try {
            appendDevicesRow(address, position);
            return;
        } catch (const EStoreError &e) {
            // Created by another monitor meanwhile: written below.
            if (e.cause() != StoreCause::Duplicate || !devices.locate(fieldName(DevicesField::TarnAddress), address))
                throw;
        }
    }
    editingRow(devices, [&] {
        devices.edit();
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
