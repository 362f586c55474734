#pragma once
#include "ui/main/graph_placeholder.h"

namespace tn::ui {
// The control the main window uses as its traffic graph (1011).
using GraphControl = CGraphPlaceholder;
} // namespace tn::ui
