#pragma once
#include "platform/capture_device.h"
#include "platform/linux/capture_channel.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/unique_fd.h"

#include <filesystem>
#include <memory>
#include <optional>

namespace tn {

// The file name of the capture helper, the one program of ours that holds capabilities.
inline constexpr const char* kCaptureHelperName = "tallynet-capture";

// Where the helper is looked for: beside `executable`, then in the installed libexec folder.
// Empty when neither holds an executable file of that name.
std::filesystem::path locateCaptureHelper(const std::filesystem::path& executable);

// Live capture through tallynet-capture: openLive starts the helper over a socket pair, the
// helper opens the interface with libpcap, drops every capability and streams the frames' heads
// back; the device hands them to the callback as libpcap would. Capture files need no privilege
// and are read in this process.
class HelperCaptureFactory final : public ICaptureFactory {
public:
    // `helper` empty: the helper is looked for beside this process's executable, then installed.
    explicit HelperCaptureFactory(std::filesystem::path helper = {});

    std::unique_ptr<ICaptureDevice> openLive(const std::string& name, const CaptureOptions& options,
                                             CaptureOpenStatus& status,
                                             std::string& reason) override;
    std::unique_ptr<ICaptureDevice> openFile(const std::filesystem::path& file,
                                             std::string& reason) override;
    std::string libraryVersion() const override;

    std::filesystem::path helperPath() const;

private:
    std::filesystem::path m_helper;
    PcapCaptureFactory m_files;
};

// One ICMP echo sent by the helper, for a user who may open no ICMP socket: the helper builds
// the request from fixed fields and answers with its reply's fields; no socket ever leaves it.
// It is started before the request is known, so that its start-up is not in the round trip.
class HelperEcho {
public:
    HelperEcho();
    HelperEcho(HelperEcho&&) noexcept;
    HelperEcho& operator=(HelperEcho&&) noexcept;
    ~HelperEcho(); // hangs up: a helper still waiting for a reply ends

    // 0, or an errno value (ENOENT: no helper; EACCES: this user may not run it).
    int start(const std::filesystem::path& helper);
    // 0, or an errno value (EINVAL: out of the request's bounds).
    int send(const channel::EchoRequest& echo);
    // Readable once the helper answered or ended.
    int channelFd() const;
    // The answer; none when the helper ended without one.
    std::optional<channel::EchoAnswer> answer();

private:
    struct Process;
    std::unique_ptr<Process> m_process;
};

// The capabilities the helper's file is granted: capture, promiscuous mode, and emptying its own
// bounding set. Permitted only: the helper raises them itself for the open alone.
inline constexpr const char* kHelperCapabilities = "cap_net_raw,cap_net_admin,cap_setpcap+p";
// The group whose members may run the installed helper.
inline constexpr const char* kCaptureGroup = "tallynet";

// The command that grants the helper its capabilities, as the user is told it.
std::string grantCommand(const std::filesystem::path& helper);
// What a user whom the helper's file does not let run it is told: the group to join, how.
std::string accessText(const std::filesystem::path& helper);

} // namespace tn
