// The full archive read: every slot of the reader's ring, 1 to 2000, into
// Measures, with a question at each record that cannot be taken.

#include "monitor/core/FullArchiveRead.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "link/DeviceCommands.h"
#include "monitor/core/SyncEngine.h"
#include "records/StoredDateTime.h"

#include <QThread>

void SyncEngine::readFullArchive()
{
    // The reader is talked to in the link thread; the window goes on.
    if (QThread::currentThread() == thread())
        runOnLinkThread([this] { FullArchiveRead(*this).run(); }, true);
    else
        FullArchiveRead(*this).run();
}

SyncEngine::FullArchiveRead::FullArchiveRead(SyncEngine &engine)
    : m_engine(engine), m_reachedTime(minDateTime())
{
}

void SyncEngine::FullArchiveRead::run()
{
    // The cycle stays away from the link while the read runs; a worker
    // command under way ends first.
    ForegroundLinkUse linkUse(m_engine, 100);
    SyncEngine::PassUnderWay pass(m_engine);
    struct Finally {
        SyncEngine &engine;
        ~Finally() { engine.out().setProgress(0, 0); }
    } finally{m_engine};

    if (!m_engine.m_readerNormalMode) {
        m_engine.onMain([] {
            activePrompt().message(MsgKind::Warning,
                             QStringLiteral("Для полного считывания архива необходимо чтобы считыватель находился в нормальном режиме работы"),
                             PromptButton::Ok);
        });
        return;
    }
    m_engine.out().setStatusText(QStringLiteral("Полное чтение архива"));

    // The position this read leaves is at most the reader's newest record at
    // the start: a reading that arrives during the read may land in a slot
    // after it that the loop has passed while it was empty, and the next
    // catch-up goes on from the position (the duplicate check keeps the
    // readings the loop stored after it single). Slots after that newest
    // record hold either older readings of a wrapped ring or readings that
    // arrived during the read. Up to it, the position stops before a record
    // that could not be taken (a failed request, a table error), so the next
    // pass tries it again; an empty slot there cannot fill any more and is
    // passed. Until the read stores something the position stays as it was.
    m_newestAtStart = m_engine.readerConfig().recordCount;

    for (int i = 1; i <= SyncEngine::ArchiveCapacity; ++i) {
        bool emptySlot = false;
        const bool taken = readSlot(i, emptySlot);
        // A close of the window meanwhile ends the read at once.
        if (m_engine.m_faceNotReady || SyncEngine::interrupted())
            break;
        if (taken) {
            if (m_engine.stopSynchroChecked())
                break;
            continue;
        }
        if (askToStop(i))
            break;
    }
    if (m_engine.m_state != SyncState::Offline && !m_engine.m_faceNotReady)
        m_engine.out().setStatusText(QStringLiteral("Получен полный архив записей"));
}

bool SyncEngine::FullArchiveRead::readSlot(int i, bool &emptySlot)
{
    bool failed = false;
    bool stored = false;
    try {
        stored = m_engine.storeArchiveRecord(i, i, SyncEngine::ArchiveCapacity);
    } catch (const EFormatError &) {
        failed = true;
        emptySlot = true;
    } catch (...) {
        failed = true;
    }
    keepPosition(i, stored, emptySlot);
    return !failed;
}

void SyncEngine::FullArchiveRead::keepPosition(int i, bool stored, bool emptySlot)
{
    if (i <= m_newestAtStart) {
        if (stored && m_unbroken) {
            m_reached = i;
            m_reachedTime = m_engine.m_lastRecTime;
        } else if (!stored && !emptySlot) {
            m_unbroken = false;
        }
    }
    m_storedAny = m_storedAny || stored;
    // The position is the main thread's, which saves it at a close.
    if (m_storedAny)
        m_engine.onMain([this] {
            m_engine.m_lastRecNumber = m_reached;
            m_engine.m_lastRecTime = m_reachedTime;
        });
}

bool SyncEngine::FullArchiveRead::askToStop(int i)
{
    // An empty slot right after the newest record is the end of an archive
    // that has not wrapped yet.
    const int newest = static_cast<int>(m_engine.readerConfig().recordCount);
    const bool endOfArchive = i == newest + 1;
    // Unattended, the read stops at the end of the archive and at a slot past
    // the newest record, and goes on over a slot up to the newest record that
    // cannot be taken, so the readings behind it are stored. The question is
    // asked in the main thread while this one waits.
    PromptButton answer = PromptButton::Ok;
    m_engine.onMain([&] {
        answer = endOfArchive
            ? activePrompt().ask(MsgKind::Warning,
                           QStringLiteral("Найдена последняя запись архива (%1)\r\nПрекратить дальнейшее считывание ?").arg(i - 1),
                           PromptButton::Ok | PromptButton::Cancel, PromptButton::Ok)
            : activePrompt().ask(MsgKind::Error,
                           QStringLiteral("Ошибка считывания записи %1\r\nПрекратить дальнейшее считывание ?").arg(i),
                           PromptButton::Ok | PromptButton::Cancel, i <= static_cast<int>(m_engine.readerConfig().recordCount) ? PromptButton::Cancel : PromptButton::Ok);
    });
    return answer == PromptButton::Ok;
}
