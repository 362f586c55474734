#pragma once

namespace tn {

// One running copy per user session. The first copy to acquire the lock holds it until the
// process ends; the system releases it even when the process is killed.
class IInstanceLock {
public:
    virtual ~IInstanceLock() = default;
    // True when this process now holds the lock (or already held it); false when another
    // copy holds it or the lock cannot be created at all.
    virtual bool tryAcquire() = 0;
};

} // namespace tn
