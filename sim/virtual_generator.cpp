// The virtual generator: its thread, the command parser, paced playback and statistics.
// The pty lives in pty_node.cpp, identity bytes in device_identity.cpp, packet decoding in
// sim_packet.cpp and the WFDB writer in played_record.cpp.

#include "sim/virtual_generator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/monotonic_clock.h"
#include "sim/device_identity.h"
#include "sim/played_record.h"
#include "sim/pty_node.h"

namespace {

// First bytes of the host's commands.
constexpr uint8_t kIdentify = 0xAA;
constexpr uint8_t kModel = 0x55;
constexpr uint8_t kBlockCommand = 0x12;
constexpr uint8_t kStop = 0x53;
constexpr uint8_t kClose = 0x43;
constexpr uint8_t kLink = 0x44;
constexpr uint8_t kStaticValue = 0x09;
constexpr uint8_t kSetup = 0x00;
constexpr uint8_t kPacketStart = 0x01;

constexpr size_t kSetupBytes = 4;
constexpr size_t kLinkBytes = 3;
constexpr size_t kStaticValueBytes = 64;
constexpr size_t kBlockReadBytes = 5;
constexpr size_t kBlockBytes = 64;
constexpr size_t kStatusReplyBytes = 15;
constexpr uint8_t kStoreBlock = 0xFF;  // block byte 3 of a rewrite that must be kept

// A read request and a rewrite that keeps byte 3 both begin 12 55 AA 00. A rewrite's
// remaining bytes follow at once (one write); a read request is followed by a pause.
constexpr int64_t kBlockDecisionNs = 30 * 1000000LL;
// Sample period in cycles of a 6 MHz timer: 65536 - reload, plus what the firmware adds.
constexpr double kTimerHz = 6000000.0;
constexpr int kNewerOverheadCycles = 79;
constexpr int kOlderOverheadCycles = 12;

constexpr size_t kMaxLoggedCommands = 100000;
constexpr int kHostAbsentPollMs = 10;  // how often to look for a host reopening the port
constexpr int kMaxPollMs = 100;
constexpr size_t kReadChunk = 4096;
constexpr int64_t kNanosPerSecond = 1000000000LL;

}  // namespace

VirtualGenerator::VirtualGenerator(VirtualGeneratorOptions options)
    : m_options(std::move(options)),
      m_nodePath(m_options.deviceDirectory + "/ttyACM" + std::to_string(m_options.port)),
      m_is16Bit(m_options.has16BitDac),
      m_overheadCycles(m_options.isNewer ? kNewerOverheadCycles : kOlderOverheadCycles),
      m_replyFault(m_options.replyFault),
      m_cutAt(m_options.cutAt),
      m_block(sim::BuildHardwareBlock(m_options)) {
    m_options.bufferPackets = std::max(1, m_options.bufferPackets);
}

VirtualGenerator::~VirtualGenerator() { Stop(); }

std::string VirtualGenerator::NodePath() const { return m_nodePath; }

bool VirtualGenerator::Start() {
    if (m_isRunning) return true;
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0) return false;
    if (!OpenPty()) {
        close(m_wakeFd);
        m_wakeFd = -1;
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_isStopRequested = false;
        m_stats.isPlugged = true;
    }
    m_isRunning = true;
    m_thread = std::thread(&VirtualGenerator::Run, this);
    return true;
}

void VirtualGenerator::Stop() {
    if (m_isRunning) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_isStopRequested = true;
        }
        Wake();
        m_thread.join();
        m_isRunning = false;
    }
    ClosePty();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stats.isPlugged = false;
    }
    if (m_wakeFd >= 0) {
        close(m_wakeFd);
        m_wakeFd = -1;
    }
}

bool VirtualGenerator::OpenPty() {
    m_master = sim::OpenLinkedPty(m_nodePath, m_slavePath);
    m_isHostAbsent = true;
    return m_master >= 0;
}

void VirtualGenerator::ClosePty() {
    if (m_master < 0) return;
    sim::CloseLinkedPty(m_master, m_nodePath, m_slavePath);
    m_master = -1;
    m_pending.clear();
    m_blockDecisionDeadline = 0;
    HandleStop();
}

void VirtualGenerator::Unplug() {
    RunOnThread([this] { UnplugNow(); });
}

void VirtualGenerator::UnplugNow() {
    if (m_master < 0) return;
    ClosePty();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stats.isPlugged = false;
    ++m_stats.unplugs;
}

bool VirtualGenerator::Replug() {
    bool isPlugged = false;
    RunOnThread([this, &isPlugged] {
        ClosePty();
        isPlugged = OpenPty();
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stats.isPlugged = isPlugged;
    });
    return isPlugged;
}

void VirtualGenerator::SetReplyFault(ReplyFault fault, size_t cutAt) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_replyFault = fault;
    m_cutAt = cutAt;
}

void VirtualGenerator::SetStalled(bool isStalled) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_isStalled = isStalled;
    }
    Wake();
}

void VirtualGenerator::InjectReply(const std::vector<uint8_t>& bytes) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_injected.insert(m_injected.end(), bytes.begin(), bytes.end());
    }
    Wake();
}

void VirtualGenerator::SetCommandHook(std::function<void(uint8_t)> hook) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_commandHook = std::move(hook);
}

VirtualGeneratorStatistics VirtualGenerator::Statistics() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stats;
}

std::vector<sim::Frame> VirtualGenerator::Frames() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_frames;
}

std::array<uint8_t, 64> VirtualGenerator::HardwareBlock() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_block;
}

bool VirtualGenerator::WaitUntil(const std::function<bool(const VirtualGeneratorStatistics&)>& predicate,
                                 unsigned int timeoutMs) const {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return predicate(m_stats); });
}

bool VirtualGenerator::WriteRecord(const std::string& directory, const std::string& name) const {
    std::vector<sim::Frame> frames;
    double rate = 0;
    double range = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        frames = m_frames;
        rate = m_stats.sampleRate;
        range = m_stats.range;
    }
    return sim::WritePlayedRecord(directory, name, frames, m_is16Bit, rate, range);
}

void VirtualGenerator::Wake() {
    if (m_wakeFd < 0) return;
    const uint64_t one = 1;
    (void)!write(m_wakeFd, &one, sizeof one);
}

void VirtualGenerator::RunOnThread(const std::function<void()>& task) {
    if (!m_isRunning || std::this_thread::get_id() == m_thread.get_id()) {
        task();
        m_changed.notify_all();
        return;
    }
    uint64_t ticket = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tasks.push_back(task);
        ticket = ++m_tasksQueued;
    }
    Wake();
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock, [&] { return m_tasksDone >= ticket; });
}

void VirtualGenerator::Run() {
    for (;;) {
        std::vector<std::function<void()>> tasks;
        std::vector<uint8_t> injected;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_isStopRequested) break;
            tasks.swap(m_tasks);
            injected.swap(m_injected);
        }
        for (const auto& task : tasks) {
            task();
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_tasksDone;
        }
        if (!tasks.empty()) m_changed.notify_all();
        if (!injected.empty()) Reply(injected, false);

        const int64_t now = MonotonicNanoseconds();
        AdvancePlayback(now);
        while (HandleCommand(now)) {
        }
        RequestIfRoom();
        m_changed.notify_all();

        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_isHostAbsent ? -1 : m_master, POLLIN, 0}};
        poll(fds, 2, PollTimeout(now));
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            (void)!read(m_wakeFd, &count, sizeof count);
        }
        // Drain the master; EIO (or end of file) means no host has the slave open.
        uint8_t buffer[kReadChunk];
        while (m_master >= 0) {
            const ssize_t got = read(m_master, buffer, sizeof buffer);
            if (got > 0) {
                m_isHostAbsent = false;
                HandleInput(buffer, static_cast<size_t>(got), MonotonicNanoseconds());
                continue;
            }
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                m_isHostAbsent = false;
                break;
            }
            if (!m_isHostAbsent) {
                // The host let go of the port: what it had half sent will never be completed.
                m_isHostAbsent = true;
                m_pending.clear();
                m_blockDecisionDeadline = 0;
                HandleStop();
            }
            break;
        }
    }
}

void VirtualGenerator::HandleInput(const uint8_t* bytes, size_t count, int64_t now) {
    m_pending.insert(m_pending.end(), bytes, bytes + count);
    while (HandleCommand(now)) {
    }
}

bool VirtualGenerator::HandleCommand(int64_t now) {
    if (m_pending.empty()) return false;
    const uint8_t first = m_pending[0];
    size_t needed = 1;
    switch (first) {
    case kLink: needed = kLinkBytes; break;
    case kStaticValue: needed = kStaticValueBytes; break;
    case kSetup: needed = kSetupBytes; break;
    case kPacketStart: needed = sim::kPacketBytes; break;
    case kBlockCommand: {
        if (m_pending.size() < 4) return false;
        if (m_pending[1] != 0x55 || m_pending[2] != 0xAA) break;  // not a block command: one unknown byte
        bool isRewrite = m_pending[3] == kStoreBlock || m_pending.size() > kBlockReadBytes;
        if (!isRewrite) {
            if (m_pending.size() < kBlockReadBytes) return false;
            if (m_blockDecisionDeadline == 0) m_blockDecisionDeadline = now + kBlockDecisionNs;
            if (now < m_blockDecisionDeadline) return false;
        }
        m_blockDecisionDeadline = 0;
        needed = isRewrite ? kBlockBytes : kBlockReadBytes;
        break;
    }
    default: break;
    }
    if (m_pending.size() < needed) return false;

    const uint8_t* command = m_pending.data();
    const bool isKnown = first == kIdentify || first == kModel || first == kStop || first == kClose ||
                         first == kLink || first == kStaticValue || first == kSetup || first == kPacketStart ||
                         (first == kBlockCommand && needed > 1);
    if (!isKnown) {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_stats.unknownBytes;
    } else if (first == kPacketStart) {
        HandlePacket(command, now);
    } else {
        std::function<void(uint8_t)> hook;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            hook = m_commandHook;
        }
        if (hook) hook(first);
        LogCommand(command, needed);
        switch (first) {
        case kIdentify:
            Reply(m_options.identity, true);
            break;
        case kModel: Reply(sim::BuildModelReply(m_options), true); break;
        case kStop:
        case kClose: HandleStop(); break;
        case kLink: Reply({kLink, 0x01, m_options.linkIdentifier}, true); break;
        case kStaticValue: {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stats.lastStaticCode = sim::DecodeStaticValue(command);
            break;
        }
        case kSetup: HandleSetup(command); break;
        case kBlockCommand:
            // An older device has no block: it neither answers the read nor keeps a rewrite.
            if (!m_options.isNewer) break;
            if (needed == kBlockBytes) {
                std::lock_guard<std::mutex> lock(m_mutex);
                std::copy(command, command + kBlockBytes, m_block.begin());
            }
            {
                std::array<uint8_t, 64> block = HardwareBlock();
                Reply(std::vector<uint8_t>(block.begin(), block.end()), true);
            }
            break;
        default: break;
        }
    }
    // An unplug while handling the command has already dropped everything pending.
    const size_t consumed = std::min(needed, m_pending.size());
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(consumed));
    return true;
}

void VirtualGenerator::HandleSetup(const uint8_t* command) {
    const uint16_t reload = static_cast<uint16_t>(command[1] << 8 | command[2]);
    const int cycles = 65536 - reload + m_overheadCycles;
    m_sampleRate = cycles > 0 ? kTimerHz / cycles : 0;
    m_expectedSequence = 0;
    m_bufferedSamples = 0;
    m_isPlaying = false;
    m_isRequestOutstanding = false;
    m_isStreaming = true;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stats.hasSetup = true;
    m_stats.reload = reload;
    m_stats.range = command[3];
    m_stats.sampleRate = m_sampleRate;
    m_stats.isPlaying = false;
}

void VirtualGenerator::HandleStop() {
    m_isStreaming = false;
    m_isPlaying = false;
    m_bufferedSamples = 0;
    m_isRequestOutstanding = false;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stats.isPlaying = false;
}

void VirtualGenerator::HandlePacket(const uint8_t* packet, int64_t now) {
    std::vector<sim::Frame> frames;
    frames.reserve(sim::SamplesPerPacket(m_is16Bit));
    sim::PacketCheck check;
    sim::DecodePacket(packet, m_is16Bit, m_expectedSequence, check, frames);
    uint64_t packets = 0;
    bool isStalled = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        packets = ++m_stats.packets;
        m_stats.samples += frames.size();
        m_stats.check.sequenceErrors += check.sequenceErrors;
        m_stats.check.blockMarkerErrors += check.blockMarkerErrors;
        m_stats.check.markerByteErrors += check.markerByteErrors;
        m_stats.check.formatErrors += check.formatErrors;
        const size_t room = m_options.maxStoredFrames - std::min(m_options.maxStoredFrames, m_frames.size());
        m_frames.insert(m_frames.end(), frames.begin(), frames.begin() + static_cast<std::ptrdiff_t>(
                                                                              std::min(room, frames.size())));
        isStalled = m_isStalled;
    }
    m_isRequestOutstanding = false;
    if (m_isStreaming && IsPaced()) {
        m_bufferedSamples += frames.size();
        if (!m_isPlaying) {
            m_isPlaying = true;
            m_playStart = now;
            m_playedSinceStart = 0;
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stats.isPlaying = true;
        }
    }
    if (m_options.delayReportEvery > 0 && packets % static_cast<uint64_t>(m_options.delayReportEvery) == 0) {
        Reply({'X', m_options.delayBytes[0], m_options.delayBytes[1]}, false);
    }
    if (m_options.statusReplyEvery > 0 && packets % static_cast<uint64_t>(m_options.statusReplyEvery) == 0) {
        std::vector<uint8_t> status(kStatusReplyBytes, 0);
        status[0] = 'S';
        Reply(status, false);
    }
    if (m_options.unplugAfterPackets > 0 && packets == static_cast<uint64_t>(m_options.unplugAfterPackets)) {
        UnplugNow();
        return;
    }
    if (!m_isStreaming || isStalled) return;
    if (IsPaced()) {
        RequestIfRoom();
    } else {
        SendRequest();
    }
}

bool VirtualGenerator::IsPaced() const { return m_options.isPaced && m_sampleRate > 0; }

void VirtualGenerator::SendRequest() {
    Reply({'N', 0x00}, false);
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_stats.requestsSent;
}

void VirtualGenerator::RequestIfRoom() {
    if (!m_isStreaming || !IsPaced() || m_isRequestOutstanding || m_master < 0) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_isStalled) return;
    }
    const uint64_t perPacket = sim::SamplesPerPacket(m_is16Bit);
    // Before the first packet the host sends one unasked; requests follow what was taken.
    if (!m_isPlaying && m_bufferedSamples == 0) return;
    if (m_bufferedSamples + perPacket > static_cast<uint64_t>(m_options.bufferPackets) * perPacket) return;
    m_isRequestOutstanding = true;
    SendRequest();
}

void VirtualGenerator::AdvancePlayback(int64_t now) {
    if (!m_isPlaying || m_sampleRate <= 0) return;
    const double elapsed = static_cast<double>(now - m_playStart) / kNanosPerSecond;
    const uint64_t dueTotal = static_cast<uint64_t>(elapsed * m_sampleRate);
    if (dueTotal <= m_playedSinceStart) return;
    const uint64_t due = dueTotal - m_playedSinceStart;
    const uint64_t taken = std::min(due, m_bufferedSamples);
    m_bufferedSamples -= taken;
    m_playedSinceStart += taken;
    if (due > taken) {
        // A sample fell due with nothing to play: the host did not keep up.
        m_isPlaying = false;
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_stats.underruns;
        m_stats.isPlaying = false;
    }
}

int VirtualGenerator::PollTimeout(int64_t now) const {
    int64_t wait = -1;
    auto consider = [&wait](int64_t nanoseconds) {
        nanoseconds = std::max<int64_t>(nanoseconds, 0);
        if (wait < 0 || nanoseconds < wait) wait = nanoseconds;
    };
    if (m_blockDecisionDeadline != 0) consider(m_blockDecisionDeadline - now);
    if (m_isPlaying && m_sampleRate > 0) {
        // Wake when the buffer gains room for another packet, or when it runs dry.
        const uint64_t perPacket = sim::SamplesPerPacket(m_is16Bit);
        const uint64_t keep = static_cast<uint64_t>(m_options.bufferPackets - 1) * perPacket;
        const uint64_t untilRoom = m_bufferedSamples > keep ? m_bufferedSamples - keep : 0;
        const uint64_t samples =
            !m_isRequestOutstanding && untilRoom > 0 ? untilRoom : m_bufferedSamples + 1;
        const double at = static_cast<double>(m_playedSinceStart + samples) / m_sampleRate * kNanosPerSecond;
        consider(m_playStart + static_cast<int64_t>(at) - now);
    }
    if (m_master >= 0 && m_isHostAbsent) consider(int64_t{kHostAbsentPollMs} * 1000000);
    if (wait < 0) return kMaxPollMs;
    const int64_t milliseconds = (wait + 999999) / 1000000;
    return static_cast<int>(std::min<int64_t>(milliseconds, kMaxPollMs));
}

void VirtualGenerator::Reply(const std::vector<uint8_t>& bytes, bool isCommandReply) {
    std::vector<uint8_t> out = bytes;
    if (isCommandReply) {
        ReplyFault fault = ReplyFault::None;
        size_t cutAt = 0;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            fault = m_replyFault;
            cutAt = m_cutAt;
        }
        out = sim::SpoilReply(std::move(out), fault, cutAt);
    }
    size_t written = 0;
    while (m_master >= 0 && written < out.size()) {
        const ssize_t put = write(m_master, out.data() + written, out.size() - written);
        if (put > 0) {
            written += static_cast<size_t>(put);
        } else if (put < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // the slave side is full or gone: the bytes are lost, as on a real line
        }
    }
    if (written < out.size()) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stats.droppedReplyBytes += out.size() - written;
    }
}

void VirtualGenerator::LogCommand(const uint8_t* bytes, size_t count) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stats.commands.size() < kMaxLoggedCommands) m_stats.commands.emplace_back(bytes, bytes + count);
}
