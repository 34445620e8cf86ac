#pragma once
// The settings file: an INI-style text in Windows-1251 with CR LF line ends.
// Sections in square brackets, each followed by "key=value" lines. Section and
// key names compare without regard to letter case. A missing or damaged file
// reads as empty (every read then gives its default); lines that are neither a
// section header nor a key with "=" are skipped.
//
// A file that starts with the UTF-8 byte-order mark is read as UTF-8 and
// written back the same way (an editor saved it so; the operator's values
// stay as they are). Every other file is read and written in Windows-1251.
//
// The object keeps the whole file in memory: reads and writes work on that
// copy, save() writes it back in one go. Parsing takes time in proportion to
// the file's size (sections and keys are found through hash indexes).
//
// A file that exists but cannot be read (no access, a directory) gets one
// events log line naming it per run and is never written over: save() then
// refuses. A file larger than SizeLimit gets one such line too; only the
// sections of the program's windows (and their lists) are read, and a save
// writes just those back.

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

class IniFile {
public:
    static constexpr qint64 SizeLimit = 1024 * 1024;

    // What the last load() found.
    enum class Source { None, Read, Missing, Unreadable, Oversized };

    IniFile() = default;
    explicit IniFile(const QString &path);  // loads the file when it exists

    const QString &path() const { return m_path; }
    void setPath(const QString &path) { m_path = path; }

    bool load();        // re-reads the file; false (and empty content) when it cannot be read
    // Writes the whole content; false when the file cannot be written or was
    // found unreadable by load().
    bool save() const;
    Source source() const { return m_source; }
    bool utf8() const { return m_utf8; }  // read (and written) as UTF-8 with its byte-order mark
    QByteArray toBytes() const;           // the file text as it is written
    // Parses a file text (replaces the content); with knownOnly, sections that
    // belong to no window of the program are skipped.
    void fromBytes(const QByteArray &bytes, bool knownOnly = false);
    // A section of one of the program's windows, or a list section of one.
    static bool knownSection(const QString &name);

    QStringList sections() const;
    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList keys(const QString &section) const;

    QString readString(const QString &section, const QString &key, const QString &def = QString()) const;
    // Decimal integers (also "0x"-prefixed hexadecimal); anything unreadable gives def.
    int readInteger(const QString &section, const QString &key, int def) const;
    // "True"/"False" in any case, or an integer (non-zero is true); else def.
    bool readBool(const QString &section, const QString &key, bool def) const;

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);  // "True"/"False"

    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);

    // A list property lives in its own section "<section>.<key>" with "Count"
    // and "Item0", "Item1", ... Writing first erases the list's section and
    // writes nothing for an empty list. Reading replaces `lines` only when
    // "Count" is greater than 0 and returns whether it did; a list emptied and
    // saved therefore comes back with the lines the caller started from.
    static QString listSection(const QString &section, const QString &key);
    void writeList(const QString &section, const QString &key, const QStringList &lines);
    bool readList(const QString &section, const QString &key, QStringList &lines) const;

private:
    // A section or key name in a hash index: equal and hashed without regard
    // to letter case, sharing the name's text (nothing is copied).
    struct NoCase {
        QString text;
        bool operator==(const NoCase &o) const { return text.compare(o.text, Qt::CaseInsensitive) == 0; }
        friend size_t qHash(const NoCase &k, size_t seed = 0) noexcept
        {
            size_t h = seed;
            for (QChar c : k.text)
                h = h * 31 + c.toCaseFolded().unicode();
            return h;
        }
    };
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        QList<Entry> entries;
        QHash<NoCase, int> keyIndex;  // key -> position in entries
    };
    int findSection(const QString &name) const;
    static int findKey(const Section &s, const QString &key);
    int addSection(const QString &name);
    static void setEntry(Section &s, const QString &key, const QString &value);
    void clear();

    QString m_path;
    QList<Section> m_sections;
    QHash<NoCase, int> m_sectionIndex;  // name -> position in m_sections
    Source m_source = Source::None;
    bool m_utf8 = false;
};
