// The buffer of readings that wait for the central store.

#include "records/ReadingBuffer.h"

#include "records/DataModule.h"
#include "records/DoseAlerts.h"
#include "records/SqlDialect.h"
#include "records/SqlQuote.h"
#include "records/StoreError.h"
#include "records/StoredDateTime.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QRandomGenerator>
#include <QThread>
#include <atomic>

using RecordsSql::quoted;

namespace {

std::atomic<int> g_bufferCounter{0};

QString q(MeasuresField f)
{
    return quoted(fieldName(f));
}

QString q(DevicesField f)
{
    return quoted(fieldName(f));
}

QString createTable(const QString &table, const QList<FieldDef> &fields)
{
    const SqlDialect sqlite(SqlEngine::Sqlite);
    QStringList columns;
    for (int i = 0; i < fields.size(); ++i)
        columns.append(quoted(fields[i].name) + QLatin1Char(' ')
                       + sqlite.columnType(fields[i], i == 0, fields.first().type == FieldType::AutoInc));
    return QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (%2)").arg(quoted(table), columns.join(QStringLiteral(", ")));
}

QSqlQuery run(const QSqlDatabase &db, const QString &sql, const QVariantList &params = {})
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        throwStoreError(query.lastError());
    for (const QVariant &p : params)
        query.addBindValue(p);
    if (!query.exec())
        throwStoreError(query.lastError());
    return query;
}

} // namespace

QString ReadingBuffer::pathIn(const QString &dataDir)
{
    return QDir(dataDir).filePath(QStringLiteral("Buffer.db"));
}

ReadingBuffer::ReadingBuffer(const QString &path)
    : m_path(path), m_connection(QStringLiteral("RUVO-buffer-%1").arg(++g_bufferCounter))
{
}

ReadingBuffer::~ReadingBuffer()
{
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

void ReadingBuffer::open()
{
    if (m_open)
        return;
    QSqlDatabase db = QSqlDatabase::contains(m_connection) ? QSqlDatabase::database(m_connection, false)
                                                           : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    QDir().mkpath(QFileInfo(m_path).absolutePath());  // no data directory on a server until now
    db.setDatabaseName(m_path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    if (!db.open())
        throwStoreError(db.lastError());
    // Every commit is on the disk when it returns: a held reading may be the
    // only copy there is once the reader's archive wraps round.
    run(db, QStringLiteral("PRAGMA journal_mode=WAL"));
    run(db, QStringLiteral("PRAGMA synchronous=FULL"));
    run(db, createTable(QStringLiteral("Measures"), measuresSchema()));
    run(db, QStringLiteral("CREATE UNIQUE INDEX IF NOT EXISTS \"iArchiveRecord\" ON \"Measures\"(%1, %2, %3)")
                .arg(q(MeasuresField::TarnAddress), q(MeasuresField::RecNumber), q(MeasuresField::DateTime)));
    run(db, createTable(QStringLiteral("Devices"), devicesSchema()));
    m_open = true;
}

Result<> ReadingBuffer::hold(const StoredReading &r)
{
    try {
        open();
        const QDateTime copied = r.copied.isValid() ? r.copied : QDateTime::currentDateTime();
        run(QSqlDatabase::database(m_connection, false),
            QStringLiteral("INSERT OR IGNORE INTO \"Measures\" (%1, %2, %3, %4, %5, %6, %7, %8) VALUES (?, ?, ?, ?, ?, ?, ?, 0)")
                .arg(q(MeasuresField::TarnAddress), q(MeasuresField::RecNumber), q(MeasuresField::DateTime), q(MeasuresField::ID),
                     q(MeasuresField::Name), q(MeasuresField::Dose), q(MeasuresField::RecoveryTime), q(MeasuresField::Check)),
            {r.address, r.recNumber, dateTimeToStored(r.time), r.id, r.name.isEmpty() ? QVariant() : QVariant(r.name), r.dose,
             dateTimeToStored(copied)});
    } catch (const std::exception &e) {
        return storeError(e);
    }
    return {};
}

Result<> ReadingBuffer::holdPosition(int address, const ReaderPosition &position)
{
    try {
        open();
        run(QSqlDatabase::database(m_connection, false),
            QStringLiteral("INSERT OR REPLACE INTO \"Devices\" (%1, %2, %3) VALUES (?, ?, ?)")
                .arg(q(DevicesField::TarnAddress), q(DevicesField::LastRecNumber), q(DevicesField::LastRecTime)),
            {address, position.recNumber, dateTimeToStored(position.time)});
    } catch (const std::exception &e) {
        return storeError(e);
    }
    return {};
}

std::optional<ReaderPosition> ReadingBuffer::heldPosition(int address)
{
    try {
        open();
        QSqlQuery row = run(QSqlDatabase::database(m_connection, false),
                            QStringLiteral("SELECT %2, %3 FROM \"Devices\" WHERE %1 = ?")
                                .arg(q(DevicesField::TarnAddress), q(DevicesField::LastRecNumber), q(DevicesField::LastRecTime)),
                            {address});
        if (row.next())
            return ReaderPosition{row.value(0).toInt(), dateTimeFromStored(row.value(1).toString())};
    } catch (const std::exception &) {
    }
    return std::nullopt;
}

qint64 ReadingBuffer::waiting()
{
    if (!m_open && !QFileInfo::exists(m_path))
        return 0;
    try {
        open();
        QSqlQuery count = run(QSqlDatabase::database(m_connection, false), QStringLiteral("SELECT COUNT(*) FROM \"Measures\""));
        return count.next() ? count.value(0).toLongLong() : -1;
    } catch (const std::exception &) {
        return -1;
    }
}

void ReadingBuffer::removeUpTo(qint64 index)
{
    run(QSqlDatabase::database(m_connection, false), QStringLiteral("DELETE FROM \"Measures\" WHERE %1 <= ?").arg(q(MeasuresField::Index)),
        {index});
}

QList<ReadingForCheck> ReadingBuffer::forwardTogether(DataModule &dm, const QList<StoredReading> &batch, int count,
                                                     Forwarded &done, bool &stopped)
{
    ReadingStore store(dm);
    // Two monitors forwarding the same readings may deadlock on the unique
    // index, or the server may refuse a transaction it cannot serialise: the
    // batch is rolled back whole and forwarded again (what the other one
    // stored meanwhile is then found there).
    constexpr int Attempts = 5;
    for (int attempt = 1;; ++attempt) {
        QList<ReadingForCheck> checks;
        Forwarded part;
        stopped = false;
        try {
            Transaction transaction(dm);
            for (int i = 0; i < count; ++i) {
                const StoredReading &r = batch[i];
                bool already = store.readingStored(r.time, r.address, r.recNumber);
                int index = 0;
                if (!already)
                    index = store.storeReading(r, &already, false);
                ++(already ? part.already : part.stored);
                if (!already && index > 0)
                    checks.append({index, r.id, r.time, r.dose});
                if (m_stopAfter > 0 && done.stored + done.already + part.stored + part.already >= m_stopAfter) {
                    stopped = true;  // "killed" once the store has them, before the buffer is told
                    break;
                }
            }
            transaction.commit();
        } catch (const EStoreError &e) {
            if (e.cause() != StoreCause::Busy || attempt == Attempts || !dm.connected())
                throw;
            QThread::msleep(20 * attempt + QRandomGenerator::global()->bounded(50));
            continue;
        }
        done.stored += part.stored;
        done.already += part.already;
        return checks;
    }
}

Result<ReadingBuffer::Forwarded> ReadingBuffer::forward(DataModule &dm, int maxReadings)
{
    Forwarded done;
    if (!m_open && !QFileInfo::exists(m_path))
        return done;
    // Taken out of the buffer in batches: a kill between the store's commit
    // and the removal only makes the next forward find those readings stored.
    // On a server a batch is one transaction (a round trip to the server per
    // commit is what forwarding one by one would cost), and the dose checks
    // of its readings follow its commit, so that a failed check can neither
    // roll back nor delay a stored reading. On the data directory's files
    // every reading is its own commit without a flush, and the readings are
    // flushed once a batch (DataModule::flushReadings) before they leave
    // the buffer.
    constexpr int Batch = 200;
    qint64 forwardedUpTo = -1;  // the last reading the store has committed
    qint64 removedUpTo = -1;    // the last reading out of the buffer
    try {
        open();
        const QSqlDatabase db = QSqlDatabase::database(m_connection, false);
        ReadingStore store(dm);
        QList<StoredReading> batch;
        QList<qint64> indexes;
        bool more = true;
        while (more) {
            const int limit = maxReadings < 0 ? Batch : qMin(Batch, maxReadings - done.stored - done.already);
            if (limit <= 0)
                break;
            batch.clear();
            indexes.clear();
            {
                QSqlQuery rows = run(db, QStringLiteral("SELECT %1, %2, %3, %4, %5, %6, %7, %8 FROM \"Measures\" WHERE %1 > ? "
                                                        "ORDER BY %1 LIMIT %9")
                                             .arg(q(MeasuresField::Index), q(MeasuresField::TarnAddress), q(MeasuresField::RecNumber),
                                                  q(MeasuresField::DateTime), q(MeasuresField::ID), q(MeasuresField::Name),
                                                  q(MeasuresField::Dose), q(MeasuresField::RecoveryTime))
                                             .arg(limit),
                                     {forwardedUpTo});
                while (rows.next()) {
                    indexes.append(rows.value(0).toLongLong());
                    batch.append({dateTimeFromStored(rows.value(3).toString()), rows.value(1).toInt(), rows.value(2).toInt(),
                                  rows.value(4).toInt(), rows.value(5).toString(), rows.value(6).toDouble(),
                                  dateTimeFromStored(rows.value(7).toString())});
                }
            }
            more = batch.size() == Batch;
            if (batch.isEmpty())
                break;
            QList<ReadingForCheck> checks;
            bool stopped = false;
            if (dm.onServer() && !dm.inTransaction()) {
                const int before = done.stored + done.already;
                checks = forwardTogether(dm, batch, int(batch.size()), done, stopped);
                forwardedUpTo = indexes[done.stored + done.already - before - 1];
            } else {
                for (int i = 0; i < batch.size(); ++i) {
                    const StoredReading &r = batch[i];
                    bool already = store.readingStored(r.time, r.address, r.recNumber);
                    if (!already)
                        store.storeReading(r, &already);
                    ++(already ? done.already : done.stored);
                    forwardedUpTo = indexes[i];
                    if (m_stopAfter > 0 && done.stored + done.already >= m_stopAfter) {
                        stopped = true;
                        break;
                    }
                }
            }
            if (stopped)
                return done;  // "killed": the buffer is not told
            dm.flushReadings();
            removeUpTo(forwardedUpTo);
            removedUpTo = forwardedUpTo;
            for (int i = 0; i < checks.size(); ++i)
                DoseAlerts::checkStoredReading(dm, checks[i], checks.mid(i + 1));
        }
        // The positions after every reading up to them.
        if (waiting() == 0) {
            QList<QPair<int, ReaderPosition>> positions;
            {
                QSqlQuery rows = run(db, QStringLiteral("SELECT %1, %2, %3 FROM \"Devices\"")
                                             .arg(q(DevicesField::TarnAddress), q(DevicesField::LastRecNumber),
                                                  q(DevicesField::LastRecTime)));
                while (rows.next())
                    positions.append({rows.value(0).toInt(),
                                      ReaderPosition{rows.value(1).toInt(), dateTimeFromStored(rows.value(2).toString())}});
            }
            for (const auto &p : std::as_const(positions)) {
                store.saveReaderPosition(p.first, p.second);
                run(db, QStringLiteral("DELETE FROM \"Devices\" WHERE %1 = ? AND %2 = ?")
                            .arg(q(DevicesField::TarnAddress), q(DevicesField::LastRecNumber)),
                    {p.first, p.second.recNumber});
                ++done.positions;
            }
        }
    } catch (const std::exception &e) {
        // What reached the store leaves the buffer; the rest waits.
        if (forwardedUpTo > removedUpTo) {
            try {
                dm.flushReadings();  // on the disk before they leave the buffer
                removeUpTo(forwardedUpTo);
            } catch (...) {
            }
        }
        return storeError(e);
    }
    return done;
}

// ---------------------------------------------------------------- the monitor's way

namespace {

// The store's server is out of reach: the connection is lost or refused.
bool serverLost(DataModule &dm, const std::exception &e)
{
    if (!dm.onServer())
        return false;
    const auto *store = dynamic_cast<const EStoreError *>(&e);
    return (store && store->cause() == StoreCause::Unreachable) || !dm.connected();
}

} // namespace

bool ReadingBuffer::forwardIfBack(DataModule &dm)
{
    const qint64 waitingNow = waiting();
    if (waitingNow == 0 && !(m_open && heldPositionsWaiting()))
        return true;
    if (!dm.onServer())
        return false;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (m_lastAttempt >= 0 && now - m_lastAttempt < m_retryMs)
        return false;
    m_lastAttempt = now;
    if (!dm.reconnectServer())
        return false;
    const Result<Forwarded> done = forward(dm);
    if (done.ok())
        m_lastAttempt = -1;
    return done.ok() && waiting() == 0;
}

bool ReadingBuffer::heldPositionsWaiting()
{
    try {
        QSqlQuery count = run(QSqlDatabase::database(m_connection, false), QStringLiteral("SELECT COUNT(*) FROM \"Devices\""));
        return count.next() && count.value(0).toInt() > 0;
    } catch (const std::exception &) {
        return false;
    }
}

namespace {

void raise(const Result<> &result)
{
    if (!result)
        throw EStoreError(result.errorText(), StoreCause::Other);
}

} // namespace

ReadingBuffer::Fate ReadingBuffer::store(DataModule &dm, const StoredReading &reading, int *index)
{
    if (index)
        *index = 0;
    if (dm.onServer() && waiting() != 0 && !forwardIfBack(dm)) {
        raise(hold(reading));
        return Fate::Held;
    }
    try {
        ReadingStore store(dm);
        if (store.readingStored(reading.time, reading.address, reading.recNumber))
            return Fate::StoredAlready;
        bool already = false;
        const int stored = store.storeReading(reading, &already);
        if (index)
            *index = stored;
        return already ? Fate::StoredAlready : Fate::Stored;
    } catch (const std::exception &e) {
        if (!serverLost(dm, e))
            throw;
        m_lastAttempt = QDateTime::currentMSecsSinceEpoch();
    }
    raise(hold(reading));
    return Fate::Held;
}

void ReadingBuffer::savePosition(DataModule &dm, int address, const ReaderPosition &position)
{
    if (!dm.onServer() || waiting() == 0 || forwardIfBack(dm)) {
        try {
            ReadingStore(dm).saveReaderPosition(address, position);
            return;
        } catch (const std::exception &e) {
            if (!serverLost(dm, e))
                throw;
            m_lastAttempt = QDateTime::currentMSecsSinceEpoch();
        }
    }
    raise(holdPosition(address, position));
}

ReaderPosition ReadingBuffer::loadPosition(DataModule &dm, int address, bool *created)
{
    if (created)
        *created = false;
    if (dm.onServer() && (m_open || QFileInfo::exists(m_path))) {
        if (const std::optional<ReaderPosition> held = heldPosition(address))
            return *held;
    }
    try {
        return ReadingStore(dm).loadReaderPosition(address, created);
    } catch (const std::exception &e) {
        if (!serverLost(dm, e))
            throw;
        m_lastAttempt = QDateTime::currentMSecsSinceEpoch();
    }
    // Nothing known of this reader without the server: it is read from its
    // first record into the buffer, and what the server holds already is
    // found there when forwarded.
    return ReaderPosition{};
}
