#include "ui/main/system_tray.h"

#include "ui/widgets/artwork.h"

#include <QGuiApplication>
#include <QScreen>
#include <QSystemTrayIcon>

namespace tn::ui {

CSystemTray::CSystemTray(std::unique_ptr<ITrayShell> shell) : m_shell(std::move(shell)) {}

CSystemTray::~CSystemTray() {
    removeIcon();
}

bool CSystemTray::create(const QString& tooltip, int iconId, int uid) {
    m_uid = uid;
    m_recordIcon = iconId;
    m_tooltip = tooltip.left(kTooltipMax);
    m_created = true;
    m_areaWasAvailable = m_shell->available();
    const bool ok = m_areaWasAvailable && m_shell->add(m_recordIcon, m_tooltip);
    m_hidden = m_removed = m_addPending = !ok;
    return ok;
}

int CSystemTray::setIcon(int iconId) {
    if (!m_created || (m_currentIcon != 0 && m_currentIcon == iconId))
        return 0;
    m_recordIcon = m_currentIcon = iconId;
    if (m_hidden)
        return 1;
    return m_shell->modifyIcon(iconId) ? 1 : 0;
}

int CSystemTray::setTooltipText(const QString& text) {
    if (!m_created)
        return 0;
    const QString cut = text.left(kTooltipMax);
    if (cut == m_tooltip && !m_hidden)
        return 1; // the shell already shows it
    m_tooltip = cut;
    if (m_hidden)
        return 1;
    return m_shell->modifyTooltip(m_tooltip) ? 1 : 0;
}

int CSystemTray::removeIcon() {
    m_addPending = false;
    if (!m_created || m_removed)
        return 1;
    if (m_shell->remove())
        m_hidden = m_removed = true;
    m_created = !m_removed; // a removed icon never comes back
    return m_removed ? 1 : 0;
}

void CSystemTray::checkNotificationArea() {
    if (!m_created)
        return;
    const bool now = m_shell->available();
    if (now && !m_areaWasAvailable) {
        // The area (re)appeared: a panel restarted, or it started after us. Unlike a failed
        // first add on the original system, this is always worth another try.
        m_addPending = true;
        m_hidden = false;
        readd();
    }
    m_areaWasAvailable = now;
}

void CSystemTray::readd() {
    if (!m_addPending || m_hidden)
        return;
    const bool ok = m_shell->add(m_recordIcon, m_tooltip);
    m_hidden = m_addPending = !ok;
    m_removed = !ok;
}

bool CSystemTray::areaAvailable() const {
    return m_shell->available();
}

QRect CSystemTray::trayAreaRect() const {
    const QRect icon = m_shell->iconGeometry();
    if (icon.isValid() && !icon.isEmpty())
        return icon;
    // Unknown: the bottom-right corner of the work area, where most panels keep it.
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect work = screen->availableGeometry();
    return QRect(QPoint(work.right() - 150, work.bottom() - 30), work.bottomRight());
}

QtTrayShell::QtTrayShell(QObject* parent)
    : QObject(parent), m_icon(std::make_unique<QSystemTrayIcon>()) {
    // The four state pictures are drawn once; the tick switches between them every second.
    for (int i = 0; i < 4; ++i)
        m_icons[i] = art::trayIcon(134 + i);
    connect(m_icon.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    emit leftClicked();
            });
}

QtTrayShell::~QtTrayShell() = default;

bool QtTrayShell::available() const {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

const QIcon& QtTrayShell::cachedTrayIcon(int id) const {
    return m_icons[id >= 134 && id <= 137 ? id - 134 : 0];
}

bool QtTrayShell::add(int iconId, const QString& tooltip) {
    m_icon->hide();
    m_icon->setIcon(cachedTrayIcon(iconId));
    m_icon->setToolTip(tooltip);
    m_icon->show();
    return m_icon->isVisible();
}

bool QtTrayShell::modifyIcon(int iconId) {
    m_icon->setIcon(cachedTrayIcon(iconId));
    return true;
}

bool QtTrayShell::modifyTooltip(const QString& tooltip) {
    m_icon->setToolTip(tooltip);
    return true;
}

bool QtTrayShell::remove() {
    m_icon->hide();
    return true;
}

QRect QtTrayShell::iconGeometry() const {
    return m_icon->geometry();
}

void QtTrayShell::setContextMenu(QMenu* menu) {
    m_icon->setContextMenu(menu);
}

} // namespace tn::ui
