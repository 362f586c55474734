// Live capture under load, driven by bench/live_capture_vs_tcpdump.sh:
//   bench_live_capture capture IFACE SECONDS   accounts IFACE with CIPStat for SECONDS
//   bench_live_capture send DEST PORT SECONDS PAYLOAD_BYTES
//                                              sends UDP datagrams as fast as one core can
#include "app/global.h"
#include "capture/ip_stat.h"
#include "platform/clock.h"
#include "platform/linux/helper_capture.h"
#include "platform/paths.h"
#include "support/temp_dir.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <vector>

namespace {

using namespace tn;

int capture(const std::string& iface, int seconds) {
    std::unique_ptr<Platform> platform = createPlatform();
    PlatformServices os = platform->services();
    HelperCaptureFactory helper(TALLYNET_CAPTURE_HELPER);
    os.capture = &helper;
    test::TempDir dir;
    test::TempPaths paths(dir.path());
    os.paths = &paths;
    os.settings = nullptr;
    os.autostart = nullptr;
    CGlobal global(os);
    CIPStat stat(global, *os.clock);
    stat.initialise(-1);
    int index = -1;
    for (int i = 0; i < stat.adapterCount(); ++i)
        if (stat.record(i).name == iface)
            index = i;
    if (index < 0 || !stat.initialise(index)) {
        std::fprintf(stderr, "cannot capture on %s: %s\n", iface.c_str(),
                     stat.lastErrorText().c_str());
        return 1;
    }
    stat.setLanOnly(1);
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    stat.stop(1000);
    CaptureStatistics st;
    const bool haveStats = stat.captureStatistics(st);
    stat.closeAll();
    std::printf("tallynet: IP bytes received %llu, sent %llu\n",
                static_cast<unsigned long long>(stat.totalReceived()),
                static_cast<unsigned long long>(stat.totalSent()));
    if (haveStats)
        std::printf("tallynet: libpcap received %llu, dropped %llu\n",
                    static_cast<unsigned long long>(st.received),
                    static_cast<unsigned long long>(st.dropped));
    return 0;
}

int send(const char* dest, int port, int seconds, std::size_t payload) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::inet_pton(AF_INET, dest, &a.sin_addr) != 1 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        return 1;
    }
    constexpr int kBatch = 64;
    std::vector<char> data(payload, 'x');
    std::vector<iovec> iov(kBatch);
    std::vector<mmsghdr> msgs(kBatch);
    for (int i = 0; i < kBatch; ++i) {
        iov[static_cast<std::size_t>(i)] = {data.data(), data.size()};
        msgs[static_cast<std::size_t>(i)] = {};
        msgs[static_cast<std::size_t>(i)].msg_hdr.msg_iov = &iov[static_cast<std::size_t>(i)];
        msgs[static_cast<std::size_t>(i)].msg_hdr.msg_iovlen = 1;
    }
    const auto start = std::chrono::steady_clock::now();
    const auto end = start + std::chrono::seconds(seconds);
    unsigned long long sent = 0;
    while (std::chrono::steady_clock::now() < end) {
        const int n = ::sendmmsg(fd, msgs.data(), kBatch, 0);
        if (n > 0)
            sent += static_cast<unsigned>(n);
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("sender: %llu datagrams of %zu IP bytes in %.1f s (%.0f per second)\n", sent,
                payload + 28, s, static_cast<double>(sent) / s);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "capture") == 0)
        return capture(argv[2], std::atoi(argv[3]));
    if (argc == 6 && std::strcmp(argv[1], "send") == 0)
        return send(argv[2], std::atoi(argv[3]), std::atoi(argv[4]),
                    static_cast<std::size_t>(std::atoi(argv[5])));
    std::fprintf(stderr,
                 "usage: %s capture IFACE SECONDS\n"
                 "       %s send DEST PORT SECONDS PAYLOAD_BYTES\n"
                 "Run bench/live_capture_vs_tcpdump.sh (as root) to compare with tcpdump.\n",
                 argv[0], argv[0]);
    return argc == 1 ? 0 : 2;
}
