#include "IniFile.h"

#include "core/LogFiles.h"
#include "core/SettingsKeys.h"
#include "core/TextCode.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSaveFile>
#include <QSet>

namespace {

const QByteArray Utf8Mark("\xEF\xBB\xBF");

// One events log line per file and finding in a run: every window reads the
// file when it opens, and the operator needs to be told once.
void reportOnce(const QString &path, const QString &what, const QString &line)
{
    static QMutex mutex;
    static QSet<QString> reported;
    {
        QMutexLocker lock(&mutex);
        const QString key = path + QLatin1Char('\n') + what;
        if (reported.contains(key))
            return;
        reported.insert(key);
    }
    logEvent(line);
}

} // namespace

IniFile::IniFile(const QString &path) : m_path(path)
{
    load();
}

void IniFile::clear()
{
    m_sections.clear();
    m_sectionIndex.clear();
}

bool IniFile::knownSection(const QString &name)
{
    // The sections of the program's windows and choices (core/SettingsKeys.h);
    // a list lives in "<section>.<key>".
    const QString owner = name.section(QLatin1Char('.'), 0, 0);
    for (const QLatin1String &w : SettingsKeys::KnownSections)
        if (owner.compare(w, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

bool IniFile::load()
{
    clear();
    m_utf8 = false;
    m_source = IniFile::Source::None;
    if (m_path.isEmpty())
        return false;
    const QFileInfo info(m_path);
    if (!info.exists()) {
        m_source = Source::Missing;
        return false;
    }
    QFile file(m_path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly)) {
        m_source = Source::Unreadable;
        const QString reason = info.isDir() ? QStringLiteral("это каталог") : file.errorString();
        reportOnce(m_path, QStringLiteral("unreadable"),
                   QStringLiteral("Настройки: файл %1 не читается (%2): используются значения по умолчанию, "
                                  "файл не перезаписывается")
                       .arg(QDir::toNativeSeparators(m_path), reason));
        return false;
    }
    const qint64 size = file.size();
    const bool oversized = size > SizeLimit;
    if (oversized)
        reportOnce(m_path, QStringLiteral("oversized"),
                   QStringLiteral("Настройки: файл %1 слишком велик (%2 байт, предел %3): прочитаны только разделы "
                                  "окон программы, при сохранении остальные разделы не записываются")
                       .arg(QDir::toNativeSeparators(m_path))
                       .arg(size)
                       .arg(SizeLimit));
    fromBytes(file.readAll(), oversized);
    m_source = oversized ? Source::Oversized : Source::Read;
    return true;
}

void IniFile::fromBytes(const QByteArray &bytes, bool knownOnly)
{
    clear();
    m_utf8 = bytes.startsWith(Utf8Mark);
    const QString text = m_utf8 ? QString::fromUtf8(bytes.mid(Utf8Mark.size())) : fromCp1251(bytes);
    int current = -1;
    bool skipping = false;  // inside a section that is not read
    qsizetype from = 0;
    while (from <= text.size()) {
        qsizetype to = text.indexOf(QLatin1Char('\n'), from);
        if (to < 0)
            to = text.size();
        const QStringView line = QStringView(text).mid(from, to - from);
        from = to + 1;
        const QStringView trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char(';')))
            continue;
        if (trimmed.startsWith(QLatin1Char('['))) {
            const qsizetype close = trimmed.indexOf(QLatin1Char(']'));
            skipping = false;
            if (close < 0) {
                current = -1;  // a broken header: its lines belong to no section
                continue;
            }
            const QString name = trimmed.mid(1, close - 1).trimmed().toString();
            if (knownOnly && !knownSection(name)) {
                current = -1;
                skipping = true;
                continue;
            }
            current = findSection(name);
            if (current < 0)
                current = addSection(name);
            continue;
        }
        if (skipping || current < 0)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = line.left(eq).trimmed().toString();
        if (key.isEmpty())
            continue;
        QStringView value = line.mid(eq + 1);
        if (value.endsWith(QLatin1Char('\r')))
            value.chop(1);
        setEntry(m_sections[current], key, value.toString());
    }
}

QByteArray IniFile::toBytes() const
{
    QString text;
    for (const Section &s : m_sections) {
        text += QLatin1Char('[') + s.name + QStringLiteral("]\r\n");
        for (const Entry &e : s.entries)
            text += e.key + QLatin1Char('=') + e.value + QStringLiteral("\r\n");
        text += QStringLiteral("\r\n");
    }
    return m_utf8 ? Utf8Mark + text.toUtf8() : toCp1251(text);
}

bool IniFile::save() const
{
    if (m_path.isEmpty() || m_source == Source::Unreadable)
        return false;
    // Written to a side file and renamed over the old one, so a failure while
    // writing never leaves a half-written settings file behind.
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(toBytes());
    return file.commit();
}

int IniFile::findSection(const QString &name) const
{
    return m_sectionIndex.value(NoCase{name}, -1);
}

int IniFile::findKey(const Section &s, const QString &key)
{
    return s.keyIndex.value(NoCase{key}, -1);
}

int IniFile::addSection(const QString &name)
{
    m_sections.append({name, {}, {}});
    const int index = int(m_sections.size()) - 1;
    m_sectionIndex.insert(NoCase{name}, index);
    return index;
}

void IniFile::setEntry(Section &s, const QString &key, const QString &value)
{
    const int k = findKey(s, key);
    if (k >= 0) {
        s.entries[k].value = value;
        return;
    }
    s.entries.append({key, value});
    s.keyIndex.insert(NoCase{key}, int(s.entries.size()) - 1);
}

QStringList IniFile::sections() const
{
    QStringList out;
    for (const Section &s : m_sections)
        out << s.name;
    return out;
}

bool IniFile::sectionExists(const QString &section) const
{
    return findSection(section) >= 0;
}

bool IniFile::valueExists(const QString &section, const QString &key) const
{
    const int s = findSection(section);
    return s >= 0 && findKey(m_sections[s], key) >= 0;
}

QStringList IniFile::keys(const QString &section) const
{
    QStringList out;
    const int s = findSection(section);
    if (s >= 0)
        for (const Entry &e : m_sections[s].entries)
            out << e.key;
    return out;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const
{
    const int s = findSection(section);
    if (s < 0)
        return def;
    const int k = findKey(m_sections[s], key);
    return k < 0 ? def : m_sections[s].entries[k].value;
}

int IniFile::readInteger(const QString &section, const QString &key, int def) const
{
    const QString text = readString(section, key).trimmed();
    if (text.isEmpty())
        return def;
    bool ok = false;
    int value;
    if (text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = text.mid(2).toInt(&ok, 16);
    else if (text.startsWith(QLatin1Char('$')))
        value = text.mid(1).toInt(&ok, 16);
    else
        value = text.toInt(&ok, 10);
    return ok ? value : def;
}

bool IniFile::readBool(const QString &section, const QString &key, bool def) const
{
    const QString text = readString(section, key).trimmed();
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const int n = text.toInt(&ok);
    return ok ? n != 0 : def;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &value)
{
    int s = findSection(section);
    if (s < 0)
        s = addSection(section);
    // A value cannot hold a line break in this format; keep it on one line.
    QString v = value;
    v.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    setEntry(m_sections[s], key, v);
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("True") : QStringLiteral("False"));
}

void IniFile::eraseSection(const QString &section)
{
    const int s = findSection(section);
    if (s < 0)
        return;
    m_sections.removeAt(s);
    m_sectionIndex.clear();
    for (int i = 0; i < m_sections.size(); ++i)
        m_sectionIndex.insert(NoCase{m_sections[i].name}, i);
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    const int s = findSection(section);
    if (s < 0)
        return;
    Section &sec = m_sections[s];
    const int k = findKey(sec, key);
    if (k < 0)
        return;
    sec.entries.removeAt(k);
    sec.keyIndex.clear();
    for (int i = 0; i < sec.entries.size(); ++i)
        sec.keyIndex.insert(NoCase{sec.entries[i].key}, i);
}

QString IniFile::listSection(const QString &section, const QString &key)
{
    return section + QLatin1Char('.') + key;
}

void IniFile::writeList(const QString &section, const QString &key, const QStringList &lines)
{
    const QString name = listSection(section, key);
    eraseSection(name);
    if (lines.isEmpty())
        return;
    writeInteger(name, SettingsKeys::List::Count, int(lines.size()));
    for (int i = 0; i < lines.size(); ++i)
        writeString(name, SettingsKeys::List::ItemPrefix + QString::number(i), lines[i]);
}

bool IniFile::readList(const QString &section, const QString &key, QStringList &lines) const
{
    const QString name = listSection(section, key);
    const int count = readInteger(name, SettingsKeys::List::Count, 0);
    if (count <= 0)
        return false;
    // A damaged count never makes more lines than the section holds keys.
    const int limit = int(keys(name).size()) - 1;  // every key but "Count"
    QStringList out;
    for (int i = 0; i < count && i < limit; ++i)
        out << readString(name, SettingsKeys::List::ItemPrefix + QString::number(i));
    lines = out;
    return true;
}
