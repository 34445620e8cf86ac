#include "records/ui/PlacementStore.h"

#include "core/WindowPlacements.h"

#include <QWidget>

PlacementStore::PlacementStore(QWidget *window, const QString &section, bool keepState)
    : m_window(window), m_section(section), m_keepState(keepState)
{
}

PlacementStore::~PlacementStore()
{
    if (m_pendingSave)
        save(true);
}

void PlacementStore::restore()
{
    m_pendingSave = true;
    if (m_path.isEmpty() || !m_window)
        return;
    FormPlacement p;
    if (!WindowPlacements::forFile(m_path).readAt(m_section, m_window->logicalDpiY(), p))
        return;
    // The stored rectangle is the window's own, without the frame.
    m_window->setGeometry(p.normPos[0], p.normPos[1], p.width(), p.height());
    if (m_keepState && p.maximised())
        m_window->setWindowState(m_window->windowState() | Qt::WindowMaximized);
}

void PlacementStore::save(bool destroying)
{
    m_pendingSave = false;
    if (m_path.isEmpty() || !m_window)
        return;
    const QRect g = m_window->isMaximized() && m_window->normalGeometry().isValid() ? m_window->normalGeometry()
                                                                                  : m_window->geometry();
    FormPlacement p = placementOf(g, m_window->logicalDpiY());
    p.showCmd = m_keepState && m_window->isMaximized() ? 3 : 1;
    p.visible = destroying ? 1 : 0;
    WindowPlacements::forFile(m_path).write(m_section, p);
}
