#include "capture_helper/confine.h"

#include <cerrno>
#include <linux/if_packet.h>
#include <memory>
#include <seccomp.h>
#include <sys/mman.h>
#include <sys/socket.h>

namespace tn::helper {

bool confineToCaptureLoop() {
    if (confinementSkipped())
        return true;
    std::unique_ptr<void, void (*)(scmp_filter_ctx)> ctx(seccomp_init(SCMP_ACT_KILL_PROCESS),
                                                         seccomp_release);
    if (!ctx)
        return false;
    // The loop waits (poll), reads the kernel's ring and its statistics (getsockopt), writes
    // notes and counters to the window (send), sleeps while frames gather, and ends; the
    // listener thread receives and wakes the loop (eventfd). Memory comes and goes through
    // malloc, never executable.
    static constexpr int kAllowed[] = {
        SCMP_SYS(read),
        SCMP_SYS(write),
        SCMP_SYS(poll),
        SCMP_SYS(ppoll),
        SCMP_SYS(recvfrom),
        SCMP_SYS(recvmsg),
        SCMP_SYS(sendto),
        SCMP_SYS(sendmsg),
        SCMP_SYS(getsockopt),
        SCMP_SYS(shutdown),
        SCMP_SYS(close),
        SCMP_SYS(nanosleep),
        SCMP_SYS(clock_nanosleep),
        SCMP_SYS(clock_gettime),
        SCMP_SYS(gettimeofday),
        SCMP_SYS(futex),
        SCMP_SYS(brk),
        SCMP_SYS(munmap),
        SCMP_SYS(madvise),
        SCMP_SYS(rt_sigprocmask),
        SCMP_SYS(rt_sigreturn),
        SCMP_SYS(sched_yield),
        SCMP_SYS(getpid),
        SCMP_SYS(gettid),
        SCMP_SYS(restart_syscall),
        SCMP_SYS(exit),
        SCMP_SYS(exit_group),
        SCMP_SYS(newfstatat),
        SCMP_SYS(fstat),
        // A thread started just before the filter registers itself as it starts running.
        SCMP_SYS(rseq),
        SCMP_SYS(set_robust_list),
    };
    for (const int call : kAllowed)
        if (seccomp_rule_add(ctx.get(), SCMP_ACT_ALLOW, call, 0) != 0)
            return false;
    // Memory for malloc and the large ring of a capture under load, readable and writable only.
    for (const int call : {SCMP_SYS(mmap), SCMP_SYS(mprotect)})
        if (seccomp_rule_add(ctx.get(), SCMP_ACT_ALLOW, call, 1,
                             SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0)) != 0)
            return false;
    // Under load the capture sets up a large ring and gives it back again, and moves the
    // frames from one ring to the other: those two socket options and no other.
    for (const int option : {PACKET_RX_RING, PACKET_FANOUT_DATA})
        if (seccomp_rule_add(ctx.get(), SCMP_ACT_ALLOW, SCMP_SYS(setsockopt), 2,
                             SCMP_A1(SCMP_CMP_EQ, SOL_PACKET),
                             SCMP_A2(SCMP_CMP_EQ, static_cast<scmp_datum_t>(option))) != 0)
            return false;
    // libpcap's statistics look for the interface's own drop counter in sysfs: that open fails
    // (the counter is then unknown), it does not end the capture.
    if (seccomp_rule_add(ctx.get(), SCMP_ACT_ERRNO(EACCES), SCMP_SYS(openat), 0) != 0 ||
        seccomp_rule_add(ctx.get(), SCMP_ACT_ERRNO(EACCES), SCMP_SYS(open), 0) != 0)
        return false;
    if (seccomp_attr_set(ctx.get(), SCMP_FLTATR_CTL_TSYNC, 1) != 0)
        return false;
    return seccomp_load(ctx.get()) == 0;
}

} // namespace tn::helper
