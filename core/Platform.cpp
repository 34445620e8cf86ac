#include "Platform.h"

#include <QDir>
#include <QLockFile>
#include <QStandardPaths>

QString OsLastErrorText()
{
    // qt_error_string(-1) reads errno on Unix and GetLastError() on Windows.
    return qt_error_string(-1);
}

SingleInstanceLock::SingleInstanceLock(const QString &name)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    QDir().mkpath(dir);
    m_lock = std::make_unique<QLockFile>(dir + QLatin1Char('/') + name + QStringLiteral(".lock"));
    m_lock->setStaleLockTime(0);  // only a dead owner makes the lock stale
}

SingleInstanceLock::~SingleInstanceLock() = default;

bool SingleInstanceLock::acquire()
{
    return m_lock->tryLock(0);
}
