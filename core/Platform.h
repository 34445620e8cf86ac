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

// Whether the program may keep its tables and logs in `dir` (the directory
// of the program file): the user can create files there, and it is not a
// system directory that packages install into (/usr on Unix systems), where
// not even an administrator's run should write data.
bool programDirectoryHoldsData(const QString &dir);

// Local time without a look at the system's zone file on every conversion:
// the C library checks the file again each time unless TZ names the zone
// (a conversion then costs a file status call; a grid or a report converts
// thousands). Unix systems: when TZ is unset, sets it to the zone file the
// system uses, so a change of the system's zone is seen after a restart.
// Elsewhere nothing. Call once at the start, before any thread.
void keepLocalTimeZone();

// The name of the system user the program runs as (the effective user on
// Unix systems; the logged-on user on Windows); empty when unknown.
QString osUserName();

// The per-user data directory of the program, "<data home>/RUVO" with the
// data home $XDG_DATA_HOME or ~/.local/share on Unix systems (the local
// application data folder on Windows). Ends in '/'.
QString userDataDirectory();

// When the current user may not open the device at `devicePath` because
// the device belongs to a group the user is not in (Unix systems: the
// serial ports belong to "dialout"), that group's name and the user's;
// otherwise both empty.
struct DeviceGroupAccess {
    QString group;
    QString user;
};
DeviceGroupAccess missingDeviceGroup(const QString &devicePath);

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
