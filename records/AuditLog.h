#pragma once
// The audit trail: every change to the records, and every write to a
// dosimeter from the service flows, leaves one row in the table Audit —
// when (UTC and local time), who (the database's user and the system user
// of the monitor), which monitor, what (table, row key, action) and the
// values before and after; a deletion keeps the whole row.
//
// A change and its audit row are written in one transaction: write() joins
// the transaction under way, so a change that fails or is rolled back leaves
// no audit row, and an audit row that cannot be written undoes its change.
// On PostgreSQL this holds in every case. On the data directory's files
// (each table its own file attached to one connection, in write-ahead-log
// mode) a rollback covers every file, but the commit is atomic per file
// only: a crash or power cut in the middle of a commit can keep the change
// without its audit row or the other way round.
//
// Rows are only ever added: nothing here updates or deletes them (on
// PostgreSQL the roles cannot either).

#include "core/Result.h"

#include <QDateTime>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariant>

class DataModule;
class DataTable;

struct AuditEntry {
    QString table;   // the table changed, or AuditLog::DosimeterTable
    QString rowKey;  // the row's key (a dosimeter: its number)
    QString action;  // one of the AuditLog::…Action words
    QString before;  // "Field=value; …" (empty for an insertion)
    QString after;   // (empty for a deletion)
};

struct AuditRecord {
    qint64 index = 0;
    QString timeUtc;  // ISO 8601 with "Z"
    QDateTime timeLocal;
    QString dbUser;
    QString osUser;
    QString monitor;
    AuditEntry entry;
};

class AuditLog {
public:
    explicit AuditLog(DataModule &dm);

    static const QString InsertAction;  // "insert"
    static const QString UpdateAction;  // "update"
    static const QString DeleteAction;  // "delete"
    static const QString SyncAction;    // "sync": one run of a bulk change, with counts
    static const QString WriteAction;   // "write": a write to a dosimeter
    static const QString DosimeterTable;  // "Dosimeter"
    // The start of the message when a write to a dosimeter is done but its
    // audit row could not be written.
    static const QString FailedText;

    // Which monitor this program is (host name, reader port); the host name
    // until set. Program-wide.
    static void setMonitor(const QString &monitor);
    static QString monitor();

    // Writes one row in the transaction under way (a row of its own without
    // one). Raises ERuvoError when it cannot: the caller's transaction then
    // rolls its change back.
    void write(const AuditEntry &entry);
    // The same for callers outside records/ that change no table of their
    // own (the service flows).
    Result<> append(const AuditEntry &entry);

    // The rows whose local time lies in [from, to] (an invalid bound: open),
    // of one table (empty: every table), oldest first.
    Result<QList<AuditRecord>> query(const QDateTime &from, const QDateTime &to, const QString &table) const;
    // The tables that have rows, in name order.
    Result<QStringList> tables() const;

    // "Field=value; …" of the current row of a table (every field), and of
    // given pairs. Dates as stored, blanks as "" .
    static QString rowText(const DataTable &table);
    static QString valuesText(const QList<QPair<QString, QVariant>> &values);

private:
    DataModule &m_dm;
};
