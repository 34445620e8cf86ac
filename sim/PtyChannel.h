#pragma once
// What the simulated reader needs of the operating system: the pseudo-terminal
// it answers on, and for the reader-sim program the termination signals and a
// line-wise standard input. Every system call of the simulator lives in the
// one platform file behind this header.

#include <QByteArray>
#include <QString>

class PtyChannel {
public:
    PtyChannel() = default;
    ~PtyChannel();
    PtyChannel(const PtyChannel &) = delete;
    PtyChannel &operator=(const PtyChannel &) = delete;

    // Opens a pseudo-terminal in raw mode (no byte altered in either
    // direction) and keeps a handle of the terminal side open for the
    // channel's whole life, so the serial port code may open and close the
    // terminal between commands without the channel seeing a hang-up.
    bool open(QString *error);
    void close();
    bool isOpen() const { return m_master >= 0; }
    QString terminalPath() const { return m_path; }   // e.g. /dev/pts/7

    // Waits up to timeoutMs for bytes from the terminal side; true when some
    // can be read.
    bool waitReadable(int timeoutMs);
    // What the terminal side has written so far (empty when nothing).
    QByteArray readAvailable();
    // Hands all bytes to the terminal side; false on an error.
    bool writeAll(const QByteArray &bytes);
    // Bytes handed to the terminal side that its reader has not taken yet.
    int unreadByTerminal() const;
    // Throws those bytes away, as opening a real port discards its input.
    void discardUnreadByTerminal();

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_path;
};

// reader-sim: SIGTERM and SIGINT end the program cleanly.
void installTerminationSignals();
bool terminationRequested();

enum class ConsoleEvent { Line, EndOfInput, Terminated };
// Waits for a whole line of standard input (returned without its line end),
// the end of standard input or a termination signal. With watchInput false
// only the signal is waited for.
ConsoleEvent waitConsole(QByteArray &line, bool watchInput);
