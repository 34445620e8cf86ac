#pragma once
// The program's single-byte text code (Windows-1251): device text tables,
// the logs and the settings file all work on these bytes.

#include <QByteArray>
#include <QString>

QByteArray toCp1251(const QString &text);
QString fromCp1251(const QByteArray &bytes);
