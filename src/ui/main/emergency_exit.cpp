#include "ui/main/emergency_exit.h"

#include <cstdlib>
#include <mutex>

namespace tn::ui {

namespace {

std::function<void()>& hookSlot() {
    static std::function<void()> hook;
    return hook;
}

bool g_hookArmed = false;

extern "C" void onExit() {
    if (!g_hookArmed)
        return;
    g_hookArmed = false;
    if (auto& hook = hookSlot())
        hook();
    std::_Exit(0); // the statistics are saved; the toolkit's exit code would report a failure
}

} // namespace

void setEmergencyExitHook(std::function<void()> hook) {
    static std::once_flag registered;
    std::call_once(registered, [] { std::atexit(onExit); });
    hookSlot() = std::move(hook);
    g_hookArmed = true;
}

void clearEmergencyExitHook() {
    g_hookArmed = false;
    hookSlot() = nullptr;
}

} // namespace tn::ui
