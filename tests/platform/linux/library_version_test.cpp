// The about line from the libpcap this program is linked with.
#include "app/global.h"
#include "app/help_about.h"
#include "platform/linux/pcap_capture.h"

#include <gtest/gtest.h>
#include <regex>

namespace tn {
namespace {

TEST(LibraryVersionTest, TheLinkedLibpcap_GivesANumericVersionLine) {
    PcapCaptureFactory factory;
    const std::string line = aboutText(CGlobal::programVersionText(), factory.libraryVersion());
    EXPECT_TRUE(
        std::regex_match(line, std::regex(R"(ver [0-9.]+  \[libpcap-v\.[0-9]+\.[0-9]+\.[0-9]+\])")))
        << line << " from " << factory.libraryVersion();
}

} // namespace
} // namespace tn
