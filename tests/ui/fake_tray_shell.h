#pragma once
#include "ui/main/system_tray.h"

#include <QStringList>

namespace tn::test {

// Records every call the tray rules make of the notification area.
class FakeTrayShell final : public ui::ITrayShell {
public:
    bool areaAvailable = true;
    bool addSucceeds = true;
    QRect geometry;
    QStringList calls;
    int lastIcon = 0;
    QString lastTooltip;

    bool available() const override { return areaAvailable; }
    bool add(int iconId, const QString& tooltip) override {
        calls << QString("add %1 %2").arg(iconId).arg(tooltip);
        lastIcon = iconId;
        lastTooltip = tooltip;
        return addSucceeds;
    }
    bool modifyIcon(int iconId) override {
        calls << QString("icon %1").arg(iconId);
        lastIcon = iconId;
        return true;
    }
    bool modifyTooltip(const QString& tooltip) override {
        calls << QString("tip %1").arg(tooltip);
        lastTooltip = tooltip;
        return true;
    }
    bool remove() override {
        calls << "remove";
        return true;
    }
    QRect iconGeometry() const override { return geometry; }
    void setContextMenu(QMenu* m) override { menu = m; }
    QMenu* menu = nullptr;
};

} // namespace tn::test
