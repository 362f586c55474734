#pragma once
#include <functional>

namespace tn {

// A later start of the program asks the running copy to show its window. It sits beside the
// instance lock: only the copy that holds the lock listens.
class IInstanceActivation {
public:
    virtual ~IInstanceActivation() = default;
    // The running copy: from now on every request calls `onShow` on a thread of the platform's;
    // the receiver hands it to its own thread. False when requests cannot be received here.
    virtual bool listen(std::function<void()> onShow) = 0;
    virtual void stop() = 0;
    // A later start: asks the running copy to show itself. It reads and writes no file and does
    // not wait for an answer. False when no copy listens.
    virtual bool requestShow() = 0;
};

} // namespace tn
