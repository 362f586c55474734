// The frame ring is memory the window shares with the capture helper: whatever that process
// wrote there, the window's reader must stay inside the ring and hand out only records that
// keep the rules. Input:
//   bytes 0-7    where the reader stands (the published position when it maps the ring)
//   bytes 8-15   how far past that the writer claims to have published
//   the rest     the ring's bytes from the reader's position on (wrapping at the ring's end)
#include "platform/linux/capture_channel.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

using tn::channel::FrameRing;

// One memory file for every input, and the fuzzer's own view of it to write the input into.
struct Shared {
    int fd = -1;
    std::uint8_t* view = nullptr;
    Shared() {
        FrameRing maker;
        std::string error;
        if (!maker.create(fd, error))
            return;
        void* p = ::mmap(nullptr, FrameRing::kMapBytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        view = p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Shared shared;
    if (!shared.view)
        __builtin_trap();
    if (size < 16)
        return 0;
    std::uint64_t start = 0, claimed = 0;
    std::memcpy(&start, data, 8);
    std::memcpy(&claimed, data + 8, 8);
    std::uint8_t* ring = shared.view + FrameRing::kHeaderBytes;
    std::memcpy(shared.view + FrameRing::kWrittenAt, &start, 8);
    const std::size_t body = std::min(size - 16, FrameRing::kDataBytes);
    const std::size_t at = start % FrameRing::kDataBytes;
    const std::size_t first = std::min(body, FrameRing::kDataBytes - at);
    std::memcpy(ring + at, data + 16, first);
    std::memcpy(ring, data + 16 + first, body - first);

    FrameRing reader;
    std::string error;
    if (!reader.attach(shared.fd, error))
        __builtin_trap();
    const std::uint64_t published = start + claimed;
    std::memcpy(shared.view + FrameRing::kWrittenAt, &published, 8);

    std::uint64_t frames = 0, bytes = 0;
    const std::span<const std::uint8_t> area = reader.records();
    reader.consume([&](const tn::channel::FrameView& f) {
        // Every record handed out lies inside the ring, within the snap length and the wire,
        // and holds the bytes written at its place.
        const std::uint8_t* b = f.captured.data();
        if (f.captured.size() > tn::channel::kMaxSnapLength || f.captured.size() > f.wireLength ||
            (!f.captured.empty() &&
             (b < area.data() || b + f.captured.size() > area.data() + area.size() ||
              std::memcmp(b, ring + (b - area.data()), f.captured.size()) != 0)))
            __builtin_trap();
        ++frames;
        bytes += 8 + f.captured.size();
    });
    // Nothing more than was published is read.
    if (bytes > claimed || frames * 8 > claimed)
        __builtin_trap();
    std::memset(ring + at, 0, first);
    std::memset(ring, 0, body - first);
    return 0;
}
