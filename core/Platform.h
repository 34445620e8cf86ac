#pragma once
// The small platform layer: what the program needs of the operating system
// beyond Qt. Everything here is portable through Qt.

#include <QString>
#include <memory>

class QLockFile;

// The operating system's message text for its last error code.
QString OsLastErrorText();

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
