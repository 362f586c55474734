#pragma once
#include <functional>

namespace tn::ui {

// A last chance to save when the process is ended from inside a library (the display connection
// broke at the end of the desktop session and the toolkit calls exit()). The hook runs once, on
// that exit, and then ends the process with exit code 0.
void setEmergencyExitHook(std::function<void()> hook);
void clearEmergencyExitHook();

} // namespace tn::ui
