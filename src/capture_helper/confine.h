#pragma once
// What tallynet-capture may still do once its capture is open: a system-call filter that allows
// the calls of the capture loop and ends the process at any other.

namespace tn::helper {

// Installs the filter on every thread of the process. False when it could not be installed
// (the caller then ends: an unconfined helper does not go on).
bool confineToCaptureLoop();

// True when sanitizer runtimes are built in: they make system calls of their own (reading the
// process's maps, stopping threads for the leak check) that no filter of the loop allows, so
// such builds run unconfined.
constexpr bool confinementSkipped() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

} // namespace tn::helper
