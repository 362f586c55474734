#pragma once
#include "platform/icmp.h"
#include "support/fake_clock.h"

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace tn::test {

// One scripted event of a fake ICMP socket's receive side.
struct FakeDatagram {
    std::vector<std::uint8_t> bytes;
    Ipv4Address from;
    int receiveError = 0; // non-zero: the receive fails with it
};

// The sockets the fake factory hands out share this script.
struct FakeIcmpScript {
    bool raw = true;
    std::optional<std::uint16_t> kernelId;
    int openError = 0;
    int bindError = 0;
    int ttlError = 0;
    int sendError = 0;
    int waitError = 0;           // non-zero: the wait fails with it once the datagrams are used up
    bool blockUntilStop = false; // the wait blocks until the probe is stopped
    std::int64_t nsPerWait = 0;  // steady time that passes in each wait
    std::deque<FakeDatagram> datagrams;

    // What the routine did.
    std::vector<std::string> calls;
    std::vector<std::uint8_t> sent;
    Ipv4Address sentTo;
    std::vector<std::uint32_t> waitTimeouts;
};

class FakeIcmpSocket final : public IIcmpSocket {
public:
    FakeIcmpSocket(FakeIcmpScript& s, FakeClock& clock) : m_s(s), m_clock(clock) {}
    bool receivesIpHeader() const override { return m_s.raw; }
    bool kernelIdentifier(std::uint16_t& id) const override {
        if (m_s.kernelId)
            id = *m_s.kernelId;
        return m_s.kernelId.has_value();
    }
    int bind(const Ipv4Address& a) override {
        m_s.calls.push_back("bind " + std::to_string(a.octets[0]) + "." +
                            std::to_string(a.octets[3]));
        return m_s.bindError;
    }
    int setTimeToLive(int ttl) override {
        m_s.calls.push_back("ttl " + std::to_string(ttl));
        return m_s.ttlError;
    }
    int setTypeOfService(int tos) override {
        m_s.calls.push_back("tos " + std::to_string(tos));
        return 0;
    }
    int setDontFragment() override {
        m_s.calls.push_back("df");
        return 0;
    }
    int sendTo(std::span<const std::uint8_t> msg, const Ipv4Address& to) override {
        m_s.calls.push_back("send");
        m_s.sent.assign(msg.begin(), msg.end());
        m_s.sentTo = to;
        return m_s.sendError;
    }
    WaitResult waitReadable(std::uint32_t timeoutMs, std::stop_token stop, int& error) override {
        m_s.waitTimeouts.push_back(timeoutMs);
        m_clock.steady += m_s.nsPerWait;
        if (m_s.blockUntilStop) {
            std::mutex m;
            std::condition_variable_any cv;
            std::unique_lock lock(m);
            cv.wait(lock, stop, [] { return false; });
            error = ECANCELED;
            return WaitResult::Failed;
        }
        if (!m_s.datagrams.empty())
            return WaitResult::Readable;
        if (m_s.waitError != 0) {
            error = m_s.waitError;
            return WaitResult::Failed;
        }
        return WaitResult::TimedOut;
    }
    bool receive(std::span<std::uint8_t> buffer, std::size_t& length, Ipv4Address& from,
                 int& error) override {
        FakeDatagram d = std::move(m_s.datagrams.front());
        m_s.datagrams.pop_front();
        if (d.receiveError != 0 || d.bytes.size() > buffer.size()) {
            error = d.receiveError;
            return false;
        }
        std::memcpy(buffer.data(), d.bytes.data(), d.bytes.size());
        length = d.bytes.size();
        from = d.from;
        return true;
    }

private:
    FakeIcmpScript& m_s;
    FakeClock& m_clock;
};

class FakeIcmpFactory final : public IIcmpFactory {
public:
    FakeIcmpScript script;
    std::uint32_t pid = 0x12345678;
    std::vector<std::string> resolved;

    explicit FakeIcmpFactory(FakeClock& clock) : m_clock(clock) {}

    ResolveResult resolve(const std::string& host) override {
        std::lock_guard lock(m_mutex);
        resolved.push_back(host);
        ResolveResult r;
        if (host == "nowhere.invalid") {
            r.error = -2;
            r.errorText = "Name or service not known";
            return r;
        }
        r.ok = true;
        r.address = {{198, 18, 0, static_cast<std::uint8_t>(host.size())}};
        return r;
    }
    std::unique_ptr<IIcmpSocket> open(int& error) override {
        if (script.openError != 0) {
            error = script.openError;
            return nullptr;
        }
        return std::make_unique<FakeIcmpSocket>(script, m_clock);
    }
    std::uint32_t processId() const override { return pid; }
    std::vector<std::string> resolvedHosts() {
        std::lock_guard lock(m_mutex);
        return resolved;
    }

private:
    FakeClock& m_clock;
    std::mutex m_mutex;
};

} // namespace tn::test
