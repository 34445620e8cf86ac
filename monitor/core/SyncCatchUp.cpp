// The synchronisation engine: the catch-up that copies the reader's new
// records into Measures, the store of one archive record, and the reader's
// copy position in Devices.

#include "monitor/core/SyncEngine.h"
#include "monitor/core/FullArchiveRead.h"

#include "core/Errors.h"
#include "link/DeviceCommands.h"
#include "records/ReadingStore.h"
#include "records/StoreError.h"
#include "records/DataModule.h"

#include <QElapsedTimer>
#include <QThread>

#include <cstdlib>

namespace {

const QString TextDatabaseError = QStringLiteral("Ошибка работы с базой данных");

} // namespace

static DataModule &requireDatabase(const SyncEngine &engine)
{
    DataModule *dm = engine.database();
    if (!dm)
        throw EGeneralError(QStringLiteral("DM: база данных не открыта"));
    return *dm;
}

ReadingBuffer &SyncEngine::buffer(DataModule &dm)
{
    const QString path = ReadingBuffer::pathIn(dm.dataDir());
    if (!m_buffer || m_buffer->path() != path)
        m_buffer = std::make_unique<ReadingBuffer>(path);
    return *m_buffer;
}

QString offlineStoreText(qint64 waiting)
{
    return QStringLiteral("База недоступна: ожидают передачи %1").arg(waiting);
}

void SyncEngine::loadDeviceRow(bool fromThread)
{
    if (m_shutDown)
        return;
    try {
        DataModule &dm = requireDatabase(*this);
        const int address = static_cast<int>(responderAddress());
        bool created = false;
        // A position reached while the server was out of reach is newer
        // than the one the server holds.
        const ReaderPosition position = buffer(dm).loadPosition(dm, address, &created);
        if (created && fromThread)
            m_namesOutOfStep = true;
        m_lastRecNumber = position.recNumber;
        m_lastRecTime = position.time;
        m_loadedAddress = address;
    } catch (...) {
        QString cause;
        try {
            throw;
        } catch (const EStoreError &e) {
            cause = storeCauseText(e.cause());
        } catch (...) {
        }
        view().setStatusText(cause.isEmpty() ? TextDatabaseError : TextDatabaseError + QStringLiteral(": ") + cause);
        if (m_state == SyncState::Exchanging)
            m_state = SyncState::Online;
    }
}

void SyncEngine::writeDevicePosition()
{
    // The position always goes into the row of the address it belongs to,
    // the readings up to it in the store or the buffer first.
    DataModule &dm = requireDatabase(*this);
    buffer(dm).savePosition(dm, m_loadedAddress.load(), {m_lastRecNumber.load(), m_lastRecTime});
}

void SyncEngine::catchUp()
{
    PassUnderWay pass(*this);
    out().setStatusText(QStringLiteral("Конфигурация считана"));

    std::exception_ptr error;
    try {
        const int count = readerConfig().recordCount;
        if (m_lastRecNumber.load() == count) {
            m_state = SyncState::Online;
        } else {
            // Is the remembered record still the same reading?
            if (m_lastRecNumber.load() != 0) {
                const CommandResult<ArchiveRecordData> remembered = readArchiveRecord(m_link, m_lastRecNumber.load());
                noteResponder(remembered.responder);
                bool same = remembered.ok();
                if (same) {
                    const QDateTime time = remembered.value.time;
                    same = time.isValid() && m_lastRecTime.isValid()
                        && std::llabs(time.msecsTo(m_lastRecTime)) <= RecordTimeToleranceMs;
                }
                if (!same)
                    m_lastRecNumber = 0;
            }
            const int d = m_lastRecNumber.load();
            if (d != 0) {
                out().setStatusText(QStringLiteral("Чтение последних данных архива"));
                // A close of the window ends the pass at once.
                if (count > d) {
                    for (int i = d + 1; i <= count && !m_faceNotReady && !interrupted(); ++i)
                        storeArchiveRecord(i, i - d, count - d);
                } else {
                    // The reader's numbers have wrapped round the ring.
                    for (int i = d + 1; i <= ArchiveCapacity && !m_faceNotReady && !interrupted(); ++i)
                        storeArchiveRecord(i, i - d, ArchiveCapacity - d);
                    for (int j = 1; j <= count && !m_faceNotReady && !interrupted(); ++j)
                        storeArchiveRecord(j, j, count);
                }
            } else {
                readFullArchive();
            }
            if (m_state == SyncState::Exchanging && !m_shutDown) {
                m_state = SyncState::Online;
                out().setStatusText(QStringLiteral("Синхронизация завершена"));
                out().setProgress(0, 0);
            }
        }
    } catch (...) {
        error = std::current_exception();
    }
    // Whatever stopped the pass, the position reached is saved; a close of
    // the window in mid-pass has saved it already, before the tables closed.
    out().updateStateIndicator();
    onMain([this] {
        if (!m_shutDown)
            writeDevicePosition();
    });
    if (error)
        std::rethrow_exception(error);
    m_reportedStoreCause = int(StoreCause::Other);
}

bool SyncEngine::storeArchiveRecord(int number, int progressIndex, int progressTotal)
{
    if (m_faceNotReady || m_state == SyncState::Offline || m_state == SyncState::Suspended || interrupted())
        return false;
    bool kept = false;
    const CommandResult<ArchiveRecordData> read = readArchiveRecord(m_link, number);
    noteResponder(read.responder);
    if (!read) {
        // The remaining records of this pass are skipped.
        m_state = SyncState::Offline;
        return false;
    }
    const ArchiveRecordData &record = read.value;
    if (!record.time.isValid())
        throw EFormatError(QStringLiteral("Ошибка в формате данных архивной записи ") + QString::number(number));
    // The tables belong to the main thread; the window goes on meanwhile and
    // may be closed before the record gets there.
    onMain([&] {
        if (m_faceNotReady || m_shutDown)
            return;
        DataModule &dm = requireDatabase(*this);
        const int address = static_cast<int>(responderAddress());
        QElapsedTimer dbClock;
        dbClock.start();
        // The duplicate check looks at the whole table, whatever filter the
        // grid has on. While the server is out of reach the reading waits in
        // the buffer, and counts as kept: it is on the disk.
        int index = 0;
        const ReadingBuffer::Fate fate = buffer(dm).store(
            dm, {record.time, address, number, static_cast<int>(record.id), record.name, record.dose}, &index);
        if (fate == ReadingBuffer::Fate::Stored) {
            m_lastStoredIndex = index;
            m_namesOutOfStep = true;
        }
        m_storeLookupNs += dbClock.nsecsElapsed();
        m_storeDbNs += dbClock.nsecsElapsed();
        ++m_storeCalls;
        m_lastRecNumber = number;
        m_lastRecTime = record.time;
        kept = true;
        if (fate == ReadingBuffer::Fate::Held)
            view().setStatusText(offlineStoreText(buffer(dm).waiting()));
        else
            view().setStatusText(QStringLiteral("Чтение записи %1 из %2").arg(progressIndex).arg(progressTotal));
        view().setProgress(progressIndex, progressTotal);
    });
    return kept;
}

// ---------------------------------------------------------------- full read

class SyncEngine::ArchiveReadHost final : public IArchiveReadHost {
public:
    explicit ArchiveReadHost(SyncEngine &engine) : m_engine(engine) {}
    ILinkCycle &cycle() override { return m_engine; }
    IPrompt &prompt() override { return m_engine.prompt(); }
    ISyncView &view() override { return m_engine.out(); }
    SyncSnapshot snapshot() const override { return m_engine.snapshot(); }
    int newestRecord() const override { return static_cast<int>(m_engine.readerConfig().recordCount); }
    bool suspended() const override { return m_engine.stopSynchroChecked(); }
    bool interrupted() const override { return SyncEngine::interrupted(); }
    void setPassUnderWay(bool underWay) override
    {
        if (underWay)
            ++m_engine.m_passDepth;
        else
            --m_engine.m_passDepth;
    }
    bool storeRecord(int number, int total) override { return m_engine.storeArchiveRecord(number, number, total); }
    QDateTime lastStoredTime() const override { return m_engine.m_lastRecTime; }
    bool onMain(const std::function<void()> &step) override { return m_engine.onMain(step); }
    void setPosition(const ReaderPosition &position) override { m_engine.setPosition(position); }

private:
    SyncEngine &m_engine;
};

void SyncEngine::readFullArchive()
{
    auto read = [this] {
        ArchiveReadHost host(*this);
        FullArchiveRead(host).run();
    };
    // The reader is talked to in the link thread; the window goes on.
    if (QThread::currentThread() == thread())
        runOnLinkThread(read, true);
    else
        read();
}
