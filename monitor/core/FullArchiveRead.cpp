// The full archive read: every slot of the reader's ring, 1 to 2000, into
// Measures, with a question at each record that cannot be taken.

#include "monitor/core/FullArchiveRead.h"

#include "core/Errors.h"
#include "core/Prompt.h"
#include "link/LinkCycle.h"
#include "records/StoredDateTime.h"

FullArchiveRead::FullArchiveRead(IArchiveReadHost &host) : m_host(host), m_reachedTime(minDateTime())
{
}

void FullArchiveRead::run()
{
    // The cycle stays away from the link while the read runs; a worker
    // command under way ends first.
    ForegroundLinkUse linkUse(m_host.cycle(), 100);
    m_host.setPassUnderWay(true);
    struct Finally {
        IArchiveReadHost &host;
        ~Finally()
        {
            host.view().setProgress(0, 0);
            host.setPassUnderWay(false);
        }
    } finally{m_host};

    if (!m_host.snapshot().readerNormalMode) {
        m_host.onMain([this] {
            m_host.prompt().message(MsgKind::Warning,
                             QStringLiteral("Для полного считывания архива необходимо чтобы считыватель находился в нормальном режиме работы"),
                             PromptButton::Ok);
        });
        return;
    }
    m_host.view().setStatusText(QStringLiteral("Полное чтение архива"));

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
    m_newestAtStart = m_host.newestRecord();

    for (int i = 1; i <= ArchiveCapacity; ++i) {
        bool emptySlot = false;
        const bool taken = readSlot(i, emptySlot);
        // A close of the window meanwhile ends the read at once.
        if (m_host.snapshot().faceNotReady || m_host.interrupted())
            break;
        if (taken) {
            if (m_host.suspended())
                break;
            continue;
        }
        if (askToStop(i))
            break;
    }
    const SyncSnapshot end = m_host.snapshot();
    if (end.state != SyncState::Offline && !end.faceNotReady)
        m_host.view().setStatusText(QStringLiteral("Получен полный архив записей"));
}

bool FullArchiveRead::readSlot(int i, bool &emptySlot)
{
    bool failed = false;
    bool stored = false;
    try {
        stored = m_host.storeRecord(i, ArchiveCapacity);
    } catch (const EFormatError &) {
        failed = true;
        emptySlot = true;
    } catch (...) {
        failed = true;
    }
    keepPosition(i, stored, emptySlot);
    return !failed;
}

void FullArchiveRead::keepPosition(int i, bool stored, bool emptySlot)
{
    if (i <= m_newestAtStart) {
        if (stored && m_unbroken) {
            m_reached = i;
            m_reachedTime = m_host.lastStoredTime();
        } else if (!stored && !emptySlot) {
            m_unbroken = false;
        }
    }
    m_storedAny = m_storedAny || stored;
    // The position is the main thread's, which saves it at a close.
    if (m_storedAny)
        m_host.onMain([this] { m_host.setPosition({m_reached, m_reachedTime}); });
}

bool FullArchiveRead::askToStop(int i)
{
    // An empty slot right after the newest record is the end of an archive
    // that has not wrapped yet.
    const int newest = m_host.newestRecord();
    const bool endOfArchive = i == newest + 1;
    // Unattended, the read stops at the end of the archive and at a slot past
    // the newest record, and goes on over a slot up to the newest record that
    // cannot be taken, so the readings behind it are stored. The question is
    // asked in the main thread while this one waits.
    PromptButton answer = PromptButton::Ok;
    m_host.onMain([&] {
        answer = endOfArchive
            ? m_host.prompt().ask(MsgKind::Warning,
                           QStringLiteral("Найдена последняя запись архива (%1)\r\nПрекратить дальнейшее считывание ?").arg(i - 1),
                           PromptButton::Ok | PromptButton::Cancel, PromptButton::Ok)
            : m_host.prompt().ask(MsgKind::Error,
                           QStringLiteral("Ошибка считывания записи %1\r\nПрекратить дальнейшее считывание ?").arg(i),
                           PromptButton::Ok | PromptButton::Cancel, i <= m_host.newestRecord() ? PromptButton::Cancel : PromptButton::Ok);
    });
    return answer == PromptButton::Ok;
}
