#pragma once
#include "platform/instance_lock.h"

#include <filesystem>

namespace tn {

// An exclusive flock on a file in the runtime directory. The descriptor stays open for the life
// of the object; the kernel drops the lock when the process ends, however it ends.
class FlockInstanceLock final : public IInstanceLock {
public:
    explicit FlockInstanceLock(std::filesystem::path file);
    ~FlockInstanceLock() override;
    FlockInstanceLock(const FlockInstanceLock&) = delete;
    FlockInstanceLock& operator=(const FlockInstanceLock&) = delete;

    bool tryAcquire() override;
    const std::filesystem::path& path() const { return m_path; }

private:
    std::filesystem::path m_path;
    int m_fd = -1;
    bool m_held = false;
};

} // namespace tn
