#pragma once
// The link against the simulated reader, with both logs on.

#include "ReaderLinkSetup.h"

#include <QString>

class LinkE2EFixture : public ReaderLinkSetup {
public:
    LinkE2EFixture();

    // Starts the reader and points the link at it; false when no pseudo-terminal.
    bool start() { return startReader(); }

    // Removes both logs of the program directory and the reader's own.
    void clearLogs();

    // Path of an executable next to the tests (RUVO_BIN_DIR), empty when missing.
    static QString binary(const QString &name);
};
