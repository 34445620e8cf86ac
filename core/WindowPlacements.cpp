#include "core/WindowPlacements.h"

#include "core/IniFile.h"
#include "core/SettingsKeys.h"

#include <QHash>
#include <QStringList>
#include <memory>

namespace {

// The stored text of the section's placement keys, to tell a change.
QStringList placementText(const IniFile &ini, const QString &section)
{
    namespace P = SettingsKeys::Placement;
    QStringList out;
    for (const QLatin1String &key :
         {P::FormVersion, P::Flags, P::ShowCmd, P::PixelsPerInch, P::MinMaxPos, P::NormPos, P::Visible, P::ActiveControl})
        out << (ini.valueExists(section, key) ? ini.readString(section, key) : QStringLiteral("\n"));
    return out;
}

} // namespace

WindowPlacements &WindowPlacements::forFile(const QString &path)
{
    static QHash<QString, std::shared_ptr<WindowPlacements>> objects;
    std::shared_ptr<WindowPlacements> &o = objects[path];
    if (!o)
        o.reset(new WindowPlacements(path));
    return *o;
}

bool WindowPlacements::read(const QString &section, FormPlacement &p, bool withActiveControl) const
{
    return read(IniFile(m_path), section, p, withActiveControl);
}

bool WindowPlacements::readAt(const QString &section, int pixelsPerInch, FormPlacement &p,
                              bool withActiveControl) const
{
    return readAt(IniFile(m_path), section, pixelsPerInch, p, withActiveControl);
}

bool WindowPlacements::read(const IniFile &ini, const QString &section, FormPlacement &p,
                            bool withActiveControl) const
{
    return readPlacement(ini, section, p, withActiveControl);
}

bool WindowPlacements::readAt(const IniFile &ini, const QString &section, int pixelsPerInch, FormPlacement &p,
                              bool withActiveControl) const
{
    return readPlacementAt(ini, section, pixelsPerInch, p, withActiveControl);
}

bool WindowPlacements::write(const QString &section, const FormPlacement &p, bool withActiveControl)
{
    if (m_path.isEmpty())
        return false;
    IniFile ini(m_path);
    const QStringList before = placementText(ini, section);
    writePlacement(ini, section, p, withActiveControl);
    if (!ini.save())
        return false;
    if (placementText(ini, section) != before)
        emit placementChanged(section);
    return true;
}

void WindowPlacements::write(IniFile &ini, const QString &section, const FormPlacement &p, bool withActiveControl)
{
    const QStringList before = placementText(ini, section);
    writePlacement(ini, section, p, withActiveControl);
    if (placementText(ini, section) != before)
        emit placementChanged(section);
}
