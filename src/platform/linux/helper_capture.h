#pragma once
#include "platform/capture_device.h"
#include "platform/linux/pcap_capture.h"
#include "platform/linux/unique_fd.h"

#include <filesystem>

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

// Asks the helper at `helper` for a raw ICMP socket; an invalid descriptor with `error` set
// (an errno value) when there is no helper or it may not open one.
UniqueFd rawIcmpSocketFromHelper(const std::filesystem::path& helper, int& error);

// The command that grants the helper its capabilities, as the user is told it.
std::string grantCommand(const std::filesystem::path& helper);

} // namespace tn
