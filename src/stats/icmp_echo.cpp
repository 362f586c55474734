#include "stats/icmp_echo.h"

#include "app/error_text.h"
#include "platform/clock.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace tn {

namespace {

constexpr std::uint8_t kEchoReplyType = 0;
constexpr std::uint8_t kEchoRequestType = 8;

std::uint16_t readMachine16(const std::uint8_t* p) {
    std::uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

EchoError systemError(int code) {
    return {code, systemErrorText(code)};
}

} // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes) {
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < bytes.size(); i += 2)
        sum += readMachine16(bytes.data() + i);
    if (i < bytes.size()) {
        // The odd byte counts as a word whose other byte is zero, in memory order.
        const std::uint8_t last[2] = {bytes[i], 0};
        sum += readMachine16(last);
    }
    sum = (sum >> 16) + (sum & 0xffff);
    sum += sum >> 16;
    return static_cast<std::uint16_t>(~sum);
}

std::vector<std::uint8_t> buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                                           std::uint32_t tickMs, std::int32_t dataSize) {
    const auto filler = static_cast<std::size_t>(std::clamp(dataSize, 0, kMaxEchoData));
    std::vector<std::uint8_t> msg(kEchoHeaderBytes + filler, kEchoFiller);
    msg[0] = kEchoRequestType;
    msg[1] = 0;
    msg[2] = msg[3] = 0;
    std::memcpy(&msg[4], &identifier, 2);
    std::memcpy(&msg[6], &sequence, 2);
    std::memcpy(&msg[8], &tickMs, 4);
    const std::uint16_t sum = internetChecksum(msg);
    std::memcpy(&msg[2], &sum, 2);
    return msg;
}

ReplyCheck checkEchoReply(std::span<const std::uint8_t> datagram, bool withIpHeader,
                          std::uint16_t identifier, std::uint16_t sequence) {
    std::size_t h = 0;
    if (withIpHeader) {
        if (datagram.empty())
            return ReplyCheck::Short;
        h = 4u * (datagram[0] & 0x0fu);
    }
    if (datagram.size() < h + kEchoHeaderBytes)
        return ReplyCheck::Short;
    const std::uint8_t* icmp = datagram.data() + h;
    if (readMachine16(icmp + 4) != identifier)
        return ReplyCheck::OtherIdentifier;
    if (readMachine16(icmp + 6) != sequence)
        return ReplyCheck::OtherSequence;
    if (icmp[0] == kEchoRequestType)
        return ReplyCheck::OwnRequest;
    if (icmp[0] != kEchoReplyType)
        return ReplyCheck::NotReply;
    return ReplyCheck::Reply;
}

bool icmpEcho(IIcmpFactory& icmp, const IClock& clock, const EchoParams& params, EchoReply& reply,
              EchoError& error, std::stop_token stop) {
    const ResolveResult dest = icmp.resolveUntil(params.host, stop);
    if (!dest.ok) {
        error = {dest.error, dest.errorText};
        return false;
    }
    int code = 0;
    const std::unique_ptr<IIcmpSocket> sock = icmp.open(code);
    if (!sock) {
        error = systemError(code);
        return false;
    }
    if (!params.localAddress.empty()) {
        const ResolveResult local = icmp.resolveUntil(params.localAddress, stop);
        if (!local.ok) {
            error = {local.error, local.errorText};
            return false;
        }
        if ((code = sock->bind(local.address)) != 0) {
            error = systemError(code);
            return false;
        }
    }
    if ((code = sock->setTimeToLive(params.timeToLive)) != 0 ||
        (code = sock->setTypeOfService(params.typeOfService)) != 0 ||
        (params.dontFragment != 0 && (code = sock->setDontFragment()) != 0)) {
        error = systemError(code);
        return false;
    }
    const auto ownId = static_cast<std::uint16_t>(icmp.processId() & 0xffffu);
    const std::vector<std::uint8_t> request =
        buildEchoRequest(ownId, params.sequence, clock.tickMs(), params.dataSize);

    const std::int64_t t0 = clock.steadyNs();
    if ((code = sock->sendTo(request, dest.address)) != 0) {
        error = systemError(code);
        return false;
    }
    std::uint16_t expectedId = ownId;
    std::uint16_t kernelId = 0;
    if (sock->kernelIdentifier(kernelId))
        expectedId = kernelId;

    std::array<std::uint8_t, kEchoReceiveBytes> buffer{};
    for (;;) {
        switch (sock->waitReadable(params.timeoutMs, stop, code)) {
        case WaitResult::Failed:
            error = systemError(code);
            return false;
        case WaitResult::TimedOut:
            error = systemError(ETIMEDOUT);
            return false;
        case WaitResult::Readable:
            break;
        }
        std::size_t length = 0;
        Ipv4Address from;
        if (!sock->receive(buffer, length, from, code))
            continue;
        const ReplyCheck check =
            checkEchoReply(std::span(buffer.data(), length), sock->receivesIpHeader(), expectedId,
                           params.sequence);
        if (check == ReplyCheck::NotReply) {
            error = systemError(EPROTO);
            return false;
        }
        if (check != ReplyCheck::Reply)
            continue;
        const std::int64_t t1 = clock.steadyNs();
        reply.address = from;
        reply.rttMs = static_cast<std::int32_t>((t1 - t0) / 1000000);
        return true;
    }
}

} // namespace tn
