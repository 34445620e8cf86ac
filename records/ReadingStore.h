#pragma once
// What the synchronisation cycle and the program ask of the store: whether a
// reading of the reader's archive is in Measures already, storing one, the
// copy position of each reader in Devices and the number of readings. The
// SQL of these operations stays here.
//
// Table failures raise EGeneralError (core/Errors.h) with the database's
// message; a row being appended when the failure comes is dropped.

#include <QDateTime>
#include <QString>

class DataModule;

// One archive record as it goes into Measures.
struct StoredReading {
    QDateTime time;      // when the dosimeter was read (DateTime)
    int address = 0;     // the reader's bus address (TarnAddress)
    int recNumber = 0;   // its slot in the reader's archive (RecNumber)
    int id = 0;          // dosimeter number
    QString name;        // dosimeter identifier
    double dose = 0;     // microsieverts
    QDateTime copied;    // when it was copied from the reader (RecoveryTime); null: now
};

// How far the archive of one reader has been copied.
struct ReaderPosition {
    int recNumber = 0;   // lastRecNumber
    QDateTime time;      // lastRecTime
};

class ReadingStore {
public:
    explicit ReadingStore(DataModule &dm);

    // Whether Measures holds the reading of this time, reader and archive
    // slot, whatever filter the grid has on.
    bool readingStored(const QDateTime &time, int address, int recNumber) const;
    // Appends the reading (copied now, unmarked); it becomes the current row
    // of Measures. Its Index (0 when it cannot be read back). A reading the
    // server refuses as a second copy (another monitor stored it between the
    // check and the append) is stored already: not a failure, nothing is
    // appended, *alreadyStored tells so and the Index is that of the copy
    // there. Inside a transaction the refusal leaves the transaction usable.
    // The dose check of the reading (DoseAlerts::checkStoredReading) follows
    // the append unless checkDose is false: then the caller runs it once the
    // reading is committed (a batch forwarded in one transaction).
    int storeReading(const StoredReading &reading, bool *alreadyStored = nullptr, bool checkDose = true);

    // The Devices row of the reader at this address becomes current; a
    // missing one is created at position 0 and the zero time (*created tells
    // so; a row another monitor created meanwhile is taken as found). Its
    // position.
    ReaderPosition loadReaderPosition(int address, bool *created = nullptr);
    // Writes the position into the Devices row of the reader at this address
    // (created when missing), whatever row another view made current. The
    // readings up to it reach the disk first, so a power cut cannot leave a
    // saved position ahead of the readings on the disk.
    void saveReaderPosition(int address, const ReaderPosition &position);

    // The readings in Measures, filter or not, as counted now.
    qint64 readingCount() const;

private:
    int storedIndex(const QDateTime &time, int address, int recNumber) const;  // 0: none
    void appendDevicesRow(int address, const ReaderPosition &position);

    DataModule &m_dm;
};
