#include "records/ReadingStore.h"

#include "records/StoredDateTime.h"
#include "records/DataModule.h"

#include <QSqlQuery>

namespace {

// Runs edit on a row being appended or edited; on failure the pending row is
// dropped and the failure goes on to the caller.
template <typename F>
void Editing(DataTable &table, F edit)
{
    try {
        edit();
    } catch (...) {
        try {
            table.Cancel();
        } catch (...) {
        }
        throw;
    }
}

} // namespace

ReadingStore::ReadingStore(DataModule &dm) : m_dm(dm)
{
}

bool ReadingStore::readingStored(const QDateTime &time, int address, int recNumber) const
{
    DataTable &measures = m_dm.Measures;
    // The index on (DateTime, TarnAddress, RecNumber) answers it; the "+"
    // keeps SQLite from taking the single-field indexes instead.
    QSqlQuery found = measures.Exec(
        QStringLiteral("SELECT \"Index\" FROM %1 WHERE \"DateTime\"=? AND +\"TarnAddress\"=? AND +\"RecNumber\"=? LIMIT 1")
            .arg(measures.SqlName()),
        {DataTable::ToStorage(measures.fieldDef(QStringLiteral("DateTime")), time), address, recNumber});
    return found.next();
}

int ReadingStore::storeReading(const StoredReading &reading)
{
    DataTable &measures = m_dm.Measures;
    Editing(measures, [&] {
        measures.Append();
        measures.SetFieldValue(QStringLiteral("DateTime"), reading.time);
        measures.SetFieldValue(QStringLiteral("TarnAddress"), reading.address);
        measures.SetFieldValue(QStringLiteral("RecNumber"), reading.recNumber);
        measures.SetFieldValue(QStringLiteral("ID"), reading.id);
        measures.SetFieldValue(QStringLiteral("Name"), reading.name);
        measures.SetFieldValue(QStringLiteral("Dose"), reading.dose);
        measures.SetFieldValue(QStringLiteral("RecoveryTime"), QDateTime::currentDateTime());
        measures.SetFieldValue(QStringLiteral("Check"), false);
        measures.Post();
    });
    bool ok = false;
    const int index = measures.FieldValue(QStringLiteral("Index")).toInt(&ok);
    return ok ? index : 0;
}

ReaderPosition ReadingStore::loadReaderPosition(int address, bool *created)
{
    DataTable &devices = m_dm.Devices;
    const bool missing = !devices.Locate(QStringLiteral("TarnAddress"), address);
    if (missing) {
        Editing(devices, [&] {
            devices.Append();
            devices.SetFieldValue(QStringLiteral("TarnAddress"), address);
            devices.SetFieldValue(QStringLiteral("LastRecNumber"), 0);
            devices.SetFieldValue(QStringLiteral("LastRecTime"), MinDateTime());
            devices.Post();
        });
    }
    if (created)
        *created = missing;
    return {devices.AsInteger(QStringLiteral("LastRecNumber")), devices.AsDateTime(QStringLiteral("LastRecTime"))};
}

void ReadingStore::saveReaderPosition(int address, const ReaderPosition &position)
{
    DataTable &devices = m_dm.Devices;
    m_dm.flushReadings();
    const bool onRow = devices.HasCurrent() && !devices.IsNull(QStringLiteral("TarnAddress"))
        && devices.AsInteger(QStringLiteral("TarnAddress")) == address;
    Editing(devices, [&] {
        if (devices.State() == TableState::Edit || devices.State() == TableState::Insert)
            devices.Cancel();
        if (onRow || devices.Locate(QStringLiteral("TarnAddress"), address)) {
            devices.Edit();
        } else {
            devices.Append();
            devices.SetFieldValue(QStringLiteral("TarnAddress"), address);
        }
        devices.SetFieldValue(QStringLiteral("LastRecNumber"), position.recNumber);
        devices.SetFieldValue(QStringLiteral("LastRecTime"), position.time);
        devices.Post();
    });
}

qint64 ReadingStore::readingCount() const
{
    DataTable &measures = m_dm.Measures;
    QSqlQuery q = measures.Exec(QStringLiteral("SELECT COUNT(*) FROM ") + measures.SqlName());
    return q.next() ? q.value(0).toLongLong() : -1;
}
