#pragma once
// The small platform layer: what the program needs of the operating system
// beyond Qt. Everything here is portable through Qt, apart from the one
// system call of the device lock.

#include <QString>
#include <QtGlobal>
#include <functional>
#include <memory>

class QLockFile;

// The operating system's message text for its last error code.
QString osLastErrorText();

// Takes an advisory exclusive lock on an open device (a file descriptor on
// Unix systems), held until the descriptor is closed, so that no other
// program that asks the same holds the device at the same time. The kernel's
// own exclusive mode of a terminal does not stop a privileged opener; this
// lock does. Windows opens serial ports exclusively already: always Locked.
enum class DeviceLockResult { Locked, InUse, Failed };
DeviceLockResult lockDeviceExclusively(qintptr handle);

// Runs `onSignal` in the main thread's event loop whenever the process gets
// SIGTERM or SIGINT, instead of the signal's default end of the process, so
// the program can close the ordinary way (POSIX systems; elsewhere nothing
// beyond what Qt itself does). Call once, after the application object exists.
void onTerminationSignal(std::function<void()> onSignal);

// The system-wide (per user) single-instance lock named after `name`.
class SingleInstanceLock {
public:
    explicit SingleInstanceLock(const QString &name);
    ~SingleInstanceLock();
    // True when this process now holds the lock; false when another live
    // process holds it. A lock left behind by a crashed process is taken over.
    bool acquire();

private:
    std::unique_ptr<QLockFile> m_lock;
};
