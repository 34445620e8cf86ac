#pragma once
// A simulated reader on a pseudo-terminal and a link object pointed at it,
// with short windows so that the end-to-end tests run fast. The logs go to a
// temporary program directory.

#include "link/URS232.h"
#include "sim/SimReader.h"

#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

class LinkE2EFixture {
public:
    static constexpr int PingWindowMs = 150;
    static constexpr int SendWindowMs = 300;

    LinkE2EFixture();
    ~LinkE2EFixture();

    // Starts the reader and installs the link; false when no pseudo-terminal.
    bool start();

    SimReader sim;
    TRS232Link link;
    QTemporaryDir dir;

    // The lines of "rs232.log" / "Events.log" in the program directory.
    QStringList rs232Lines() const;
    QStringList eventLines() const;
    void clearLogs();

    // Path of an executable next to the tests (RUVO_BIN_DIR), empty when missing.
    static QString binary(const QString &name);
};
