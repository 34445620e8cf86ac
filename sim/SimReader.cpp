// The simulated reader served on a pseudo-terminal: framing of the requests,
// faults, line pacing and the control interface.

#include "sim/SimReader.h"

#include "link/TarnCodes.h"
#include "link/TarnFrame.h"
#include "sim/PtyChannel.h"

#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Longest request the reader takes in; anything announcing more is noise.
constexpr int MaxRequestLength = 300;
// A request not completed within this much silence is dropped.
constexpr auto PartialRequestTimeout = std::chrono::milliseconds(100);

bool isSpectrumBlockRequest(const QByteArray &request)
{
    return request.size() > 7 && quint8(request[6]) == TarnCodes::FnRead && quint8(request[7]) == TarnCodes::SelSpectrumBlock;
}

qint64 monotonicMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch()).count();
}

} // namespace

struct FaultPlan {
    SimReader::Fault kind;
    int count;
    int param;
    int skip;
    bool appliesTo(const QByteArray &request) const
    {
        return kind != SimReader::Fault::SpectrumWrongSize || isSpectrumBlockRequest(request);
    }
};

class SimServer {
public:
    ~SimServer() { stop(); }

    bool start();
    void stop();
    void run();

    mutable std::mutex mutex;
    mutable std::condition_variable served;
    SimReaderModel model;
    PtyChannel pty;
    QString error;
    std::thread thread;
    std::atomic<bool> stopping{false};
    std::atomic<bool> running{false};

    bool paced = false;
    int bitsPerSecond = 9600;
    int turnaroundMs = 0;
    QList<FaultPlan> plans;
    bool randomOn = false;
    SimReader::Fault randomKind = SimReader::Fault::NoReply;
    double randomP = 0;
    int randomParam = 0;
    std::mt19937 rng{20261209u};

    int requests = 0;
    int replies = 0;
    QList<QByteArray> requestLog;
    QList<QByteArray> replyLog;
    std::atomic<qint64> lastReplyEnd{0};

private:
    void ingest(const QByteArray &bytes);
    void serve(const QByteArray &request, Clock::time_point arrivedFrom);
    bool waitUntil(Clock::time_point deadline);
    void writePaced(const QByteArray &bytes, Clock::duration perByte);

    QByteArray m_buffer;
    Clock::time_point m_bufferStart;
    Clock::time_point m_lastByte;
    // Complete frames taken in while a reply was being held back.
    QList<QPair<QByteArray, Clock::time_point>> m_pending;
};

bool SimServer::start()
{
    if (running)
        return true;
    if (!pty.open(&error))
        return false;
    m_buffer.clear();
    m_pending.clear();
    stopping = false;
    running = true;
    thread = std::thread([this] { run(); });
    return true;
}

void SimServer::stop()
{
    stopping = true;
    if (thread.joinable())
        thread.join();
    running = false;
    pty.close();
}

void SimServer::ingest(const QByteArray &bytes)
{
    const auto now = Clock::now();
    for (char c : bytes) {
        if (m_buffer.isEmpty()) {
            // A new request begins. Whatever the terminal side has not read
            // by now is a leftover of an earlier exchange; a port that is
            // opened for the new command would have discarded it.
            m_bufferStart = now;
            if (pty.unreadByTerminal() > 0)
                pty.discardUnreadByTerminal();
        }
        m_buffer.append(c);
        const int expected = expectedFrameLength(m_buffer);
        if (expected > MaxRequestLength || (expected < 0 && m_buffer.size() >= 10)) {
            m_buffer.clear();
            continue;
        }
        if (expected > 0 && m_buffer.size() == expected) {
            m_pending.append({m_buffer, m_bufferStart});
            m_buffer.clear();
        }
    }
    m_lastByte = now;
}

bool SimServer::waitUntil(Clock::time_point deadline)
{
    // Holding a reply back: keep listening so that the arrival of the next
    // request is timed correctly, but answer it only afterwards.
    for (;;) {
        if (stopping)
            return false;
        const auto now = Clock::now();
        if (now >= deadline)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        const int slice = int(std::min<long long>(std::max<long long>(0, left), 50));
        if (slice == 0) {
            std::this_thread::sleep_until(deadline);
            return true;
        }
        if (pty.waitReadable(slice))
            ingest(pty.readAvailable());
    }
}

void SimServer::writePaced(const QByteArray &bytes, Clock::duration perByte)
{
    // Byte i is delivered when it has been on the line for its whole time.
    const auto start = Clock::now();
    int sent = 0;
    while (sent < bytes.size() && !stopping) {
        const auto now = Clock::now();
        const int due = qMin(int((now - start) / perByte), int(bytes.size()));
        if (due > sent) {
            pty.writeAll(bytes.mid(sent, due - sent));
            sent = due;
            continue;
        }
        std::this_thread::sleep_until(start + perByte * (sent + 1));
    }
}

void SimServer::serve(const QByteArray &request, Clock::time_point arrivedFrom)
{
    QByteArray out;
    bool isPaced;
    int rate, turnaround, lateMs = 0;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++requests;
        requestLog.append(request);
        isPaced = paced;
        rate = bitsPerSecond;
        turnaround = turnaroundMs;

        // The fault of this request, if any.
        bool have = false;
        FaultPlan fault{SimReader::Fault::NoReply, 0, 0, 0};
        for (int i = 0; i < plans.size(); ++i) {
            FaultPlan &p = plans[i];
            if (!p.appliesTo(request))
                continue;
            if (p.skip > 0) {
                --p.skip;
                break;
            }
            fault = p;
            have = true;
            if (--p.count <= 0)
                plans.removeAt(i);
            break;
        }
        if (!have && randomOn && randomP > 0) {
            std::uniform_real_distribution<double> u(0.0, 1.0);
            if (u(rng) < randomP
                && (randomKind != SimReader::Fault::SpectrumWrongSize || isSpectrumBlockRequest(request))) {
                fault = FaultPlan{randomKind, 1, randomParam, 0};
                have = true;
            }
        }
        // A request lost on the line never reaches the reader.
        if (!have || fault.kind != SimReader::Fault::Unheard)
            out = model.handle(request);
        if (have && !out.isEmpty()) {
            switch (fault.kind) {
            case SimReader::Fault::NoReply:
                out.clear();
                break;
            case SimReader::Fault::ShortReply:
                out = out.left(fault.param > 0 ? fault.param : 10);
                break;
            case SimReader::Fault::Corrupt: {
                int at;
                if (fault.param == 1 || out.size() <= EmptyFrameSize)
                    at = 10;                      // header checksum field
                else
                    at = 14 + (out.size() - 18) / 2; // a body byte
                out[at] = char(out[at] ^ 0x04);
                break;
            }
            case SimReader::Fault::Late:
                lateMs = qMax(0, fault.param);
                break;
            case SimReader::Fault::Refuse:
                out = model.refusal(request, quint8(fault.param > 0 ? fault.param : 1));
                break;
            case SimReader::Fault::Trailing:
                out += QByteArray(fault.param > 0 ? fault.param : 1, char(0x55));
                break;
            case SimReader::Fault::HeaderSumOnEmpty:
                if (out.size() == EmptyFrameSize) {
                    const quint32 sum = frameChecksum(out.constData(), FrameHeaderSize);
                    for (int i = 0; i < 4; ++i)
                        out[FrameHeaderSize + i] = char((sum >> (8 * i)) & 0xFF);
                }
                break;
            case SimReader::Fault::SpectrumWrongSize: {
                const QByteArray body = frameBody(out);
                const int cut = fault.param > 0 ? fault.param : 2;
                out = model.reply(request, quint8(out[6]), quint8(out[7]), body.left(qMax(1, body.size() - cut)));
                break;
            }
            case SimReader::Fault::Unheard:
                break;
            }
        }
    }
    served.notify_all(); // the request is counted
    if (out.isEmpty())
        return;

    const auto perByte = std::chrono::duration_cast<Clock::duration>(
        std::chrono::nanoseconds(10LL * 1000000000LL / qMax(1, rate)));
    auto answerAt = arrivedFrom;
    if (isPaced)
        answerAt += perByte * (request.size() - 1); // the first byte was seen complete
    answerAt += std::chrono::milliseconds(turnaround + lateMs);
    if (!waitUntil(answerAt))
        return;
    if (isPaced)
        writePaced(out, perByte);
    else
        pty.writeAll(out);
    lastReplyEnd = monotonicMs();
    {
        std::lock_guard<std::mutex> lock(mutex);
        ++replies;
        replyLog.append(out);
    }
    served.notify_all();
}

void SimServer::run()
{
    while (!stopping) {
        while (!m_pending.isEmpty() && !stopping) {
            const auto next = m_pending.takeFirst();
            serve(next.first, next.second);
        }
        if (stopping)
            break;
        if (pty.waitReadable(50)) {
            ingest(pty.readAvailable());
        } else if (!m_buffer.isEmpty() && Clock::now() - m_lastByte > PartialRequestTimeout) {
            m_buffer.clear(); // a torn request: start over with the next byte
        }
    }
}

// ---------------------------------------------------------------- SimReader

SimReader::SimReader() : m_server(new SimServer) {}

SimReader::~SimReader()
{
    stop();
}

bool SimReader::start()
{
    return m_server->start();
}

void SimReader::stop()
{
    m_server->stop();
}

bool SimReader::isRunning() const
{
    return m_server->running;
}

QString SimReader::portPath() const
{
    return m_server->pty.terminalPath();
}

QString SimReader::errorText() const
{
    return m_server->error;
}

void SimReader::withModel(const std::function<void(SimReaderModel &)> &f)
{
    std::lock_guard<std::mutex> lock(m_server->mutex);
    f(m_server->model);
}

#define SIM_LOCKED(expr)                                   \
    std::lock_guard<std::mutex> lock(m_server->mutex);     \
    expr

void SimReader::setAddress(quint32 address24) { SIM_LOCKED(m_server->model.setAddress(address24);) }
quint32 SimReader::address() const { SIM_LOCKED(return m_server->model.address();) }
void SimReader::addRecords(int count) { SIM_LOCKED(m_server->model.addRecords(count);) }
int SimReader::addRecord(const QDateTime &time, quint32 id, const QString &name, double doseMicroSv)
{
    SIM_LOCKED(return m_server->model.addRecord(time, id, name, doseMicroSv);)
}
void SimReader::setRecordCount(int number) { SIM_LOCKED(m_server->model.setRecordCount(number);) }
int SimReader::recordCount() const { SIM_LOCKED(return m_server->model.recordCount();) }
void SimReader::setSlot(int number, const QDateTime &time, quint32 id, const QString &name, double doseMicroSv)
{
    SIM_LOCKED(m_server->model.setSlot(number, time, id, name, doseMicroSv);)
}
void SimReader::setSlotTimeBytes(int number, const QByteArray &fiveBytes)
{
    SIM_LOCKED(m_server->model.setSlotTimeBytes(number, fiveBytes);)
}
SimRecord SimReader::record(int number) const { SIM_LOCKED(return m_server->model.record(number);) }
void SimReader::clearArchive() { SIM_LOCKED(m_server->model.clearArchive();) }
void SimReader::setBusy(bool on) { SIM_LOCKED(m_server->model.setBusy(on);) }
void SimReader::setInserted(bool on) { SIM_LOCKED(m_server->model.setInserted(on);) }
void SimReader::setModeSwitching(bool on) { SIM_LOCKED(m_server->model.setModeSwitching(on);) }
void SimReader::setClockOffsetSeconds(qint64 seconds) { SIM_LOCKED(m_server->model.setClockOffsetSeconds(seconds);) }
QDateTime SimReader::clock() const { SIM_LOCKED(return m_server->model.clock();) }
SimDosimeter SimReader::dosimeter() const { SIM_LOCKED(return m_server->model.dosimeter();) }
void SimReader::setDosimeter(const SimDosimeter &d) { SIM_LOCKED(m_server->model.setDosimeter(d);) }

void SimReader::setPaced(bool on, int bitsPerSecond)
{
    SIM_LOCKED(m_server->paced = on; m_server->bitsPerSecond = qMax(1, bitsPerSecond);)
}

void SimReader::setTurnaroundMs(int ms) { SIM_LOCKED(m_server->turnaroundMs = qMax(0, ms);) }

void SimReader::injectFault(Fault kind, int count, int param, int skip)
{
    if (count <= 0)
        return;
    SIM_LOCKED(m_server->plans.append(FaultPlan{kind, count, param, qMax(0, skip)});)
}

void SimReader::setFaultProbability(Fault kind, double p, int param)
{
    SIM_LOCKED(m_server->randomOn = p > 0; m_server->randomKind = kind; m_server->randomP = p;
               m_server->randomParam = param;)
}

void SimReader::clearFaults()
{
    SIM_LOCKED(m_server->plans.clear(); m_server->randomOn = false; m_server->randomP = 0;)
}

int SimReader::requestsServed() const { SIM_LOCKED(return m_server->requests;) }
int SimReader::repliesSent() const { SIM_LOCKED(return m_server->replies;) }
QList<QByteArray> SimReader::requestLog() const { SIM_LOCKED(return m_server->requestLog;) }
QList<QByteArray> SimReader::replyLog() const { SIM_LOCKED(return m_server->replyLog;) }
void SimReader::clearLogs() { SIM_LOCKED(m_server->requestLog.clear(); m_server->replyLog.clear();) }

bool SimReader::waitForRequests(int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock(m_server->mutex);
    return m_server->served.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [&] { return m_server->requests >= count; });
}

qint64 SimReader::lastReplyEndMs() const
{
    return m_server->lastReplyEnd.load();
}

#undef SIM_LOCKED
