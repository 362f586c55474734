#pragma once
// A notification area that takes everything and records nothing, so that a benchmark measures
// the window's own work (the tests' fake records every call).
#include "ui/main/system_tray.h"

namespace tn::bench {

class NoTray final : public ui::ITrayShell {
public:
    bool available() const override { return true; }
    bool add(int, const QString&) override { return true; }
    bool modifyIcon(int) override { return true; }
    bool modifyTooltip(const QString&) override { return true; }
    bool remove() override { return true; }
    QRect iconGeometry() const override { return {}; }
    void setContextMenu(QMenu*) override {}
};

} // namespace tn::bench
