#pragma once
#include <QIcon>
#include <QObject>
#include <QRect>
#include <QString>
#include <functional>
#include <memory>

class QMenu;
class QSystemTrayIcon;

namespace tn::ui {

// How the notification area is reached: QSystemTrayIcon in the program, a fake in tests.
class ITrayShell {
public:
    virtual ~ITrayShell() = default;
    // A notification area exists right now.
    virtual bool available() const = 0;
    virtual bool add(int iconId, const QString& tooltip) = 0;
    virtual bool modifyIcon(int iconId) = 0;
    virtual bool modifyTooltip(const QString& tooltip) = 0;
    virtual bool remove() = 0;
    // Screen rectangle of the icon; empty when the desktop does not tell.
    virtual QRect iconGeometry() const = 0;
    // The menu of a right click; the caller keeps it.
    virtual void setContextMenu(QMenu* menu) = 0;
};

// The tray icon's own rules on top of the shell: the shell is called only when the icon really
// changes, the tooltip is cut to 127 characters, and the icon is put back with its latest picture
// and tooltip when the notification area comes back.
class CSystemTray {
public:
    static constexpr int kTooltipMax = 127;

    explicit CSystemTray(std::unique_ptr<ITrayShell> shell);
    ~CSystemTray();
    CSystemTray(const CSystemTray&) = delete;
    CSystemTray& operator=(const CSystemTray&) = delete;

    // Adds the icon; true when the shell took it.
    bool create(const QString& tooltip, int iconId, int uid);
    int setIcon(int iconId);
    int setTooltipText(const QString& text);
    int removeIcon();
    // Poll: when a notification area appears (again), the icon is added back.
    void checkNotificationArea();
    // Screen rectangle of the notification area as far as it can be told.
    QRect trayAreaRect() const;
    bool areaAvailable() const;

    bool isHidden() const { return m_hidden; }
    int currentIcon() const { return m_currentIcon; }
    QString tooltip() const { return m_tooltip; }
    ITrayShell& shell() { return *m_shell; }

private:
    void readd();

    std::unique_ptr<ITrayShell> m_shell;
    int m_uid = 0;
    int m_recordIcon = 0;  // what the shell shows or would show
    int m_currentIcon = 0; // the last icon passed to setIcon; 0 until then
    QString m_tooltip;
    bool m_created = false;
    bool m_hidden = true;
    bool m_removed = true;
    bool m_addPending = false;
    bool m_areaWasAvailable = false;
};

// The shell on QSystemTrayIcon. Left clicks reach onActivated.
class QtTrayShell final : public QObject, public ITrayShell {
    Q_OBJECT
public:
    explicit QtTrayShell(QObject* parent = nullptr);
    ~QtTrayShell() override;
    bool available() const override;
    bool add(int iconId, const QString& tooltip) override;
    bool modifyIcon(int iconId) override;
    bool modifyTooltip(const QString& tooltip) override;
    bool remove() override;
    QRect iconGeometry() const override;
    void setContextMenu(QMenu* menu) override;

signals:
    void leftClicked();

private:
    const QIcon& cachedTrayIcon(int id) const;
    std::unique_ptr<QSystemTrayIcon> m_icon;
    QIcon m_icons[4];
};

} // namespace tn::ui
