#pragma once
// The set-up every test against the simulated reader shares: a fresh program
// state whose logs go to a temporary program directory, the simulated reader
// on a pseudo-terminal and a link object pointed at it, with short windows so
// that the tests run fast. The program state is reset again at the end.

#include "link/SerialLink.h"
#include "sim/SimReader.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class ReaderLinkSetup {
public:
    static constexpr int PingWindowMs = 150;
    static constexpr int SendWindowMs = 300;

    // `repeats`: the link's baseRequestCount(). The events log is on.
    explicit ReaderLinkSetup(int repeats);
    ~ReaderLinkSetup();
    ReaderLinkSetup(const ReaderLinkSetup &) = delete;
    ReaderLinkSetup &operator=(const ReaderLinkSetup &) = delete;

    // Starts the reader and points the link at it; false when there is no
    // pseudo-terminal.
    bool startReader();

    QTemporaryDir dir;
    SimReader sim;
    SerialLink link;

    // The lines of "rs232.log" / "Events.log" in the program directory.
    QStringList rs232Lines() const;
    QStringList eventLines() const;
    // The lines of a log file written in the program's code page.
    static QStringList logLines(const QString &path);
};
