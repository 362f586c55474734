#pragma once
#include <functional>

namespace tn {

// Requests to end the program that come from outside it (on Linux: SIGTERM, SIGINT, SIGHUP).
// The callback runs on a thread of the platform's; the receiver hands it to its own thread.
class ITerminationSource {
public:
    virtual ~ITerminationSource() = default;
    // False when requests cannot be received here.
    virtual bool start(std::function<void(int code)> onRequest) = 0;
    virtual void stop() = 0;
};

// The machine going to sleep (true) and waking up again (false). The callback runs on a thread
// of the platform's; the receiver hands it to its own thread.
class ISleepMonitor {
public:
    virtual ~ISleepMonitor() = default;
    // False when the system does not report sleep here.
    virtual bool start(std::function<void(bool sleeping)> onChange) = 0;
    virtual void stop() = 0;
};

// The user's session locked (true: the screen locker is up) and unlocked again (false). The
// callback runs on a thread of the platform's; the receiver hands it to its own thread.
class IScreenLockMonitor {
public:
    virtual ~IScreenLockMonitor() = default;
    // False when the system does not report locking here.
    virtual bool start(std::function<void(bool locked)> onChange) = 0;
    virtual void stop() = 0;
};

// Opens the desktop's network settings.
class INetworkSettings {
public:
    virtual ~INetworkSettings() = default;
    // False when no settings program was found.
    virtual bool open() = 0;
};

} // namespace tn
