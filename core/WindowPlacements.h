#pragma once
// The windows' placements as a value with change notification: each window
// reads and writes its placement (FormPlacement, in the window's own section
// of the settings file, core/SettingsKeys.h) through the one object of its
// settings file, and whoever follows a window's placement learns when it
// changes. The keys and their meaning: readPlacement / writePlacement in
// core/Settings.h.

#include "core/Settings.h"

#include <QObject>
#include <QString>

class IniFile;

class WindowPlacements : public QObject {
    Q_OBJECT
public:
    // The object of the settings file at `path` (made at its first use and
    // kept while the program runs; the same object for the same path). Used
    // from the windows' thread only.
    static WindowPlacements &forFile(const QString &path);

    QString file() const { return m_path; }

    // The section's placement read from the file (readPlacement); false when
    // there is no usable one. The At forms give only a placement saved at the
    // given screen resolution (readPlacementAt).
    bool read(const QString &section, FormPlacement &p, bool withActiveControl = false) const;
    bool readAt(const QString &section, int pixelsPerInch, FormPlacement &p, bool withActiveControl = false) const;
    // The same from the file's content already read by the caller.
    bool read(const IniFile &ini, const QString &section, FormPlacement &p, bool withActiveControl = false) const;
    bool readAt(const IniFile &ini, const QString &section, int pixelsPerInch, FormPlacement &p,
                bool withActiveControl = false) const;

    // Writes the section's placement keys into the file, its other sections
    // left as they are; false when the file could not be written (an empty
    // path writes nothing).
    bool write(const QString &section, const FormPlacement &p, bool withActiveControl = false);
    // Writes the keys into content the caller saves with its other values.
    void write(IniFile &ini, const QString &section, const FormPlacement &p, bool withActiveControl = false);

signals:
    // A write changed the section's stored placement keys.
    void placementChanged(const QString &section);

private:
    explicit WindowPlacements(const QString &path) : m_path(path) {}

    QString m_path;
};
