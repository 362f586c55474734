#pragma once
#include "ui/main/traffic_button.h"

namespace tn::ui {
// The control the main window uses as its traffic graph (1011).
using GraphControl = tn::MFTrafficButton;
} // namespace tn::ui
