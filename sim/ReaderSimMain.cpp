// reader-sim: the simulated reader as a program. It prints the path of its
// pseudo-terminal on the first line of standard output and then answers on
// that terminal until it is killed, told "quit", or (with --exit-on-eof) its
// standard input ends.

#include "core/Errors.h"
#include "link/TarnFrame.h"
#include "sim/PtyChannel.h"
#include "sim/SimReader.h"

#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

const char *const Usage =
    "Usage: reader-sim [options]\n"
    "Plays the reader on a pseudo-terminal. The first line of standard output is\n"
    "the terminal's path (open it as the serial port).\n"
    "\n"
    "Options:\n"
    "  --records N          start with N generated readings (0 by default)\n"
    "  --address A.B.C      the reader's bus address (default 1.2.3)\n"
    "  --paced              pace the line at 9600 bit/s in both directions\n"
    "  --rate BPS           line rate for --paced (default 9600)\n"
    "  --turnaround MS      delay before each reply (default 0)\n"
    "  --busy               refuse every request but the presence check as busy\n"
    "  --inserted           a dosimeter is inserted\n"
    "  --mode-switching     the reader needs service mode for dosimeter access\n"
    "  --clock-offset S     reader clock = computer clock + S seconds\n"
    "  --link PATH          also create a symbolic link PATH to the terminal\n"
    "  --add-every S        add one generated reading every S seconds (a live reader)\n"
    "  --exit-on-eof        end when standard input ends (otherwise keep running)\n"
    "  --help               this text\n"
    "\n"
    "Commands on standard input, one a line:\n"
    "  add N                add N generated readings\n"
    "  insert | remove      insert or remove the dosimeter\n"
    "  busy on|off          the reader is busy or not\n"
    "  switching on|off     the reader needs mode switching or not\n"
    "  clock +S | clock -S  reader clock = computer clock + S seconds\n"
    "  count N              set the newest record number (0..2000)\n"
    "  clear                empty the archive\n"
    "  fault noreply [N]    the next N requests (default 1) get no answer\n"
    "  fault short [N]      ... only the first 10 bytes of their reply\n"
    "  fault corrupt [N]    ... a reply with a flipped bit in its body\n"
    "  fault late MS [N]    ... their reply MS milliseconds late\n"
    "  fault refuse [N]     ... a refusal instead of the reply\n"
    "  fault spectrum [N]   the next N spectrum blocks come 2 bytes short\n"
    "  fault trailing [N]   ... their reply followed by one stray byte\n"
    "  fault headersum [N]  ... a body-less reply with its header checksum (not zeros)\n"
    "  turnaround MS        delay before each reply from now on\n"
    "  fault clear          forget queued faults\n"
    "  status               print the reader's state\n"
    "  quit                 end\n"
    "SIGTERM and SIGINT end the program cleanly.\n";

void say(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void complain(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

bool parseAddress(const QString &text, quint32 &out)
{
    bool ok = false;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)) {
        out = text.mid(2).toUInt(&ok, 16) & 0xFFFFFF;
        return ok;
    }
    try {
        const QByteArray a = parseDeviceAddress(text);
        out = (quint32(quint8(a[0])) << 16) | (quint32(quint8(a[1])) << 8) | quint8(a[2]);
        return true;
    } catch (const ERuvoError &) {
        return false;
    }
}

QString statusText(SimReader &sim)
{
    QString text;
    sim.withModel([&](SimReaderModel &m) {
        text = QStringLiteral("address %1, records %2 (newest %3), inserted %4, busy %5, switching %6, mode %7, "
                              "clock %8")
                   .arg(addressToText(m.address()))
                   .arg(m.recordsWritten())
                   .arg(m.recordCount())
                   .arg(m.inserted() ? "yes" : "no", m.busy() ? "yes" : "no", m.modeSwitching() ? "yes" : "no")
                   .arg(m.mode())
                   .arg(m.clock().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
    });
    return text + QStringLiteral(", requests %1, replies %2").arg(sim.requestsServed()).arg(sim.repliesSent());
}

bool onOff(const QString &word, bool &out)
{
    if (word == QLatin1String("on")) {
        out = true;
        return true;
    }
    if (word == QLatin1String("off")) {
        out = false;
        return true;
    }
    return false;
}

// Runs one command; false for "quit".
bool runCommand(SimReader &sim, const QString &line)
{
    const QStringList w = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (w.isEmpty())
        return true;
    const QString cmd = w[0].toLower();
    auto number = [&](int i, int fallback, bool *ok = nullptr) {
        if (i >= w.size()) {
            if (ok)
                *ok = true;
            return fallback;
        }
        return w[i].toInt(ok);
    };
    bool ok = true;
    bool flag = false;
    if (cmd == QLatin1String("quit") || cmd == QLatin1String("exit")) {
        return false;
    } else if (cmd == QLatin1String("add")) {
        const int n = number(1, 1, &ok);
        if (!ok || n < 0)
            return complain(QStringLiteral("add: a count is expected")), true;
        sim.addRecords(n);
        say(QStringLiteral("ok newest %1").arg(sim.recordCount()));
    } else if (cmd == QLatin1String("insert") || cmd == QLatin1String("remove")) {
        sim.setInserted(cmd == QLatin1String("insert"));
        say(QStringLiteral("ok"));
    } else if (cmd == QLatin1String("busy") && w.size() == 2 && onOff(w[1], flag)) {
        sim.setBusy(flag);
        say(QStringLiteral("ok"));
    } else if (cmd == QLatin1String("switching") && w.size() == 2 && onOff(w[1], flag)) {
        sim.setModeSwitching(flag);
        say(QStringLiteral("ok"));
    } else if (cmd == QLatin1String("clock") && w.size() == 2) {
        const qint64 s = w[1].toLongLong(&ok);
        if (!ok)
            return complain(QStringLiteral("clock: seconds are expected, e.g. clock +300")), true;
        sim.setClockOffsetSeconds(s);
        say(QStringLiteral("ok clock %1").arg(sim.clock().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))));
    } else if (cmd == QLatin1String("count") && w.size() == 2) {
        const int n = w[1].toInt(&ok);
        if (!ok || n < 0 || n > SimReaderModel::ArchiveCapacity)
            return complain(QStringLiteral("count: 0..2000 is expected")), true;
        sim.setRecordCount(n);
        say(QStringLiteral("ok"));
    } else if (cmd == QLatin1String("clear")) {
        sim.clearArchive();
        say(QStringLiteral("ok"));
    } else if (cmd == QLatin1String("turnaround") && w.size() == 2) {
        const int ms = number(1, -1, &ok);
        if (!ok || ms < 0)
            return complain(QStringLiteral("turnaround: milliseconds are expected")), true;
        sim.setTurnaroundMs(ms);
        say(QStringLiteral("ok"));
    } else if (cmd == QLatin1String("status")) {
        say(statusText(sim));
    } else if (cmd == QLatin1String("fault") && w.size() >= 2) {
        const QString kind = w[1].toLower();
        if (kind == QLatin1String("clear")) {
            sim.clearFaults();
            say(QStringLiteral("ok"));
            return true;
        }
        SimReader::Fault f;
        int param = 0;
        int countAt = 2;
        if (kind == QLatin1String("noreply"))
            f = SimReader::Fault::NoReply;
        else if (kind == QLatin1String("short"))
            f = SimReader::Fault::ShortReply;
        else if (kind == QLatin1String("corrupt"))
            f = SimReader::Fault::Corrupt;
        else if (kind == QLatin1String("refuse"))
            f = SimReader::Fault::Refuse;
        else if (kind == QLatin1String("spectrum"))
            f = SimReader::Fault::SpectrumWrongSize;
        else if (kind == QLatin1String("trailing"))
            f = SimReader::Fault::Trailing;
        else if (kind == QLatin1String("headersum"))
            f = SimReader::Fault::HeaderSumOnEmpty;
        else if (kind == QLatin1String("late")) {
            f = SimReader::Fault::Late;
            param = number(2, -1, &ok);
            if (!ok || param < 0)
                return complain(QStringLiteral("fault late: milliseconds are expected")), true;
            countAt = 3;
        } else {
            return complain(QStringLiteral("fault: unknown kind %1").arg(kind)), true;
        }
        const int count = number(countAt, 1, &ok);
        if (!ok || count < 1)
            return complain(QStringLiteral("fault: a count of at least 1 is expected")), true;
        sim.injectFault(f, count, param);
        say(QStringLiteral("ok"));
    } else {
        complain(QStringLiteral("unknown command: %1 (see --help)").arg(line.trimmed()));
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    SimReader sim;
    int records = 0;
    bool exitOnEof = false;
    QString linkPath;
    bool paced = false;
    int rate = 9600;
    double addEvery = 0;

    for (int i = 0; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&](QString &out) {
            if (i + 1 >= args.size()) {
                complain(QStringLiteral("%1 needs a value").arg(a));
                return false;
            }
            out = args[++i];
            return true;
        };
        QString v;
        bool ok = true;
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(Usage, stdout);
            return 0;
        } else if (a == QLatin1String("--records")) {
            if (!value(v) || (records = v.toInt(&ok), !ok) || records < 0)
                return complain(QStringLiteral("--records: a count is expected")), 2;
        } else if (a == QLatin1String("--address")) {
            quint32 address = 0;
            if (!value(v) || !parseAddress(v, address))
                return complain(QStringLiteral("--address: a.b.c is expected")), 2;
            sim.setAddress(address);
        } else if (a == QLatin1String("--paced")) {
            paced = true;
        } else if (a == QLatin1String("--rate")) {
            if (!value(v) || (rate = v.toInt(&ok), !ok) || rate <= 0)
                return complain(QStringLiteral("--rate: bits per second are expected")), 2;
        } else if (a == QLatin1String("--turnaround")) {
            int ms = 0;
            if (!value(v) || (ms = v.toInt(&ok), !ok) || ms < 0)
                return complain(QStringLiteral("--turnaround: milliseconds are expected")), 2;
            sim.setTurnaroundMs(ms);
        } else if (a == QLatin1String("--busy")) {
            sim.setBusy(true);
        } else if (a == QLatin1String("--inserted")) {
            sim.setInserted(true);
        } else if (a == QLatin1String("--mode-switching")) {
            sim.setModeSwitching(true);
        } else if (a == QLatin1String("--clock-offset")) {
            qint64 s = 0;
            if (!value(v) || (s = v.toLongLong(&ok), !ok))
                return complain(QStringLiteral("--clock-offset: seconds are expected")), 2;
            sim.setClockOffsetSeconds(s);
        } else if (a == QLatin1String("--link")) {
            if (!value(linkPath))
                return 2;
        } else if (a == QLatin1String("--add-every")) {
            if (!value(v) || (addEvery = v.toDouble(&ok), !ok) || addEvery <= 0)
                return complain(QStringLiteral("--add-every: seconds are expected")), 2;
        } else if (a == QLatin1String("--exit-on-eof")) {
            exitOnEof = true;
        } else {
            complain(QStringLiteral("unknown option %1 (see --help)").arg(a));
            return 2;
        }
    }
    sim.setPaced(paced, rate);
    sim.addRecords(records);

    installTerminationSignals();
    if (!sim.start()) {
        complain(QStringLiteral("reader-sim: no pseudo-terminal: %1").arg(sim.errorText()));
        return 1;
    }
    if (!linkPath.isEmpty()) {
        const QFileInfo existing(linkPath);
        if (existing.isSymLink())
            QFile::remove(linkPath);
        if (!QFile::link(sim.portPath(), linkPath)) {
            complain(QStringLiteral("reader-sim: cannot create the link %1").arg(linkPath));
            sim.stop();
            return 1;
        }
    }
    say(sim.portPath());

    // A live reader: a new reading now and then, until the end.
    std::mutex endMutex;
    std::condition_variable endSignal;
    bool ending = false;
    std::thread live;
    if (addEvery > 0) {
        live = std::thread([&] {
            const auto period = std::chrono::milliseconds(qint64(addEvery * 1000.0));
            std::unique_lock<std::mutex> lock(endMutex);
            while (!endSignal.wait_for(lock, period, [&] { return ending; }))
                sim.addRecords(1);
        });
    }

    bool watchInput = true;
    for (;;) {
        QByteArray line;
        const ConsoleEvent e = waitConsole(line, watchInput);
        if (e == ConsoleEvent::Terminated)
            break;
        if (e == ConsoleEvent::EndOfInput) {
            if (exitOnEof)
                break;
            watchInput = false; // run on in the background until a signal
            continue;
        }
        if (!runCommand(sim, QString::fromUtf8(line)))
            break;
    }
    if (live.joinable()) {
        {
            std::lock_guard<std::mutex> lock(endMutex);
            ending = true;
        }
        endSignal.notify_all();
        live.join();
    }
    sim.stop();
    if (!linkPath.isEmpty() && QFileInfo(linkPath).isSymLink())
        QFile::remove(linkPath);
    return 0;
}
