#pragma once
// Readings that wait for the central store: while the server cannot be
// reached, the monitor keeps copying the reader into a SQLite file of its
// data directory ("Buffer.db"), and forwards what waits there, oldest first,
// once the server is back.
//
// The file holds two tables described as the store's own (TableSchema.*):
// Measures, whose Index is the order of arrival and whose (TarnAddress,
// RecNumber, DateTime) is unique, and Devices, the copy position of each
// reader reached while offline.
//
// Nothing is lost or doubled, whenever the program is killed: a reading is
// committed to the file (fully synchronised) before hold() returns; it is
// taken out of the file only after the store has committed it; a reading
// forwarded again after a kill between the two is found in the store (or
// refused by the server's unique index) and not appended twice.

#include "core/Result.h"
#include "records/ReadingStore.h"

#include <QString>
#include <optional>

class DataModule;
struct ReadingForCheck;

class ReadingBuffer {
public:
    // The buffer of a data directory: dataDir + "/Buffer.db". Opened lazily.
    static QString pathIn(const QString &dataDir);
    explicit ReadingBuffer(const QString &path);
    ~ReadingBuffer();
    ReadingBuffer(const ReadingBuffer &) = delete;
    ReadingBuffer &operator=(const ReadingBuffer &) = delete;

    QString path() const { return m_path; }

    // Keeps the reading until it is forwarded (a reading held already is
    // kept once); on the disk when it returns ok.
    Result<> hold(const StoredReading &reading);
    // Keeps the copy position a reader reached while offline.
    Result<> holdPosition(int address, const ReaderPosition &position);
    // The position held for the reader, if any.
    std::optional<ReaderPosition> heldPosition(int address);

    // The readings waiting (0 when there is no file); -1 when it cannot be read.
    qint64 waiting();

    struct Forwarded {
        int stored = 0;    // appended to the store now
        int already = 0;   // found in the store (forwarded before a kill, or copied by another monitor)
        int positions = 0; // reader positions written
    };
    // Forwards the waiting readings into the store in their order of arrival,
    // then the held positions. A failure (the server gone again) stops it:
    // what was forwarded up to then is out of the buffer, the rest waits;
    // the error is the store's. maxReadings < 0: all.
    Result<Forwarded> forward(DataModule &store, int maxReadings = -1);

    // ---- The monitor's way to the store through the buffer ----
    // What became of a reading.
    enum class Fate { Stored, StoredAlready, Held };
    // Puts a reading where it belongs: into the store (unless it is there
    // already), or into the buffer when the store's server cannot be reached
    // or readings still wait here (they go first: the order of arrival is
    // kept). What waits is forwarded first once the server answers again
    // (a new connection tried at most every retryMs). The store's other
    // failures, and the buffer's own, raise as the store's do (EStoreError).
    // On the data directory's own files the buffer takes no part.
    // *index: the stored reading's Index.
    Fate store(DataModule &dm, const StoredReading &reading, int *index = nullptr);
    // A reader's copy position: saved into the store, or held here while the
    // server cannot be reached or readings wait. Raises as store().
    void savePosition(DataModule &dm, int address, const ReaderPosition &position);
    // The reader's position: the one held here (newer than the store's), or
    // the store's (its Devices row current, created when missing: *created);
    // none (record 0) while the server cannot be reached.
    ReaderPosition loadPosition(DataModule &dm, int address, bool *created = nullptr);
    // Forwards what waits when the server can be reached; true when nothing
    // waits afterwards.
    bool forwardIfBack(DataModule &dm);
    void setRetryMs(int ms) { m_retryMs = ms; }

    // For tests of a kill: forwarding stops (as if killed) after this many
    // readings reached the store, before the buffer is told. 0: never.
    void setStopAfterForTest(int readings) { m_stopAfter = readings; }

private:
    void open();  // raises EStoreError
    void removeUpTo(qint64 index);
    // Stores the first count readings of the batch in one transaction of the
    // server (retried whole after a deadlock); the checks to run after it.
    QList<ReadingForCheck> forwardTogether(DataModule &dm, const QList<StoredReading> &batch, int count, Forwarded &done,
                                           bool &stopped);
    bool heldPositionsWaiting();
    QString m_path;
    QString m_connection;
    bool m_open = false;
    int m_stopAfter = 0;
    int m_retryMs = 10000;
    qint64 m_lastAttempt = -1;  // ms since the epoch of the last reconnection tried
};
