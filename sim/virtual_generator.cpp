// The virtual generator's thread: it reads the host's bytes, answers each command, counts
// what the protocol forbids and publishes its statistics once a pass. Framing lives in
// command_framer.cpp, pacing in pacer.cpp, the pty in pty_node.cpp, identity bytes in
// device_identity.cpp, packet decoding in sim_packet.cpp, the WFDB writer in played_record.cpp.

#include "sim/virtual_generator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <utility>

#include "platform/monotonic_clock.h"
#include "sim/device_identity.h"
#include "sim/played_record.h"
#include "sim/pty_node.h"

namespace {

using sim::Command;

constexpr uint8_t kLink = 'D';
constexpr size_t kStatusReplyBytes = 15;
// Sample period in cycles of a 6 MHz timer: 65536 - reload, plus what the firmware adds.
constexpr double kTimerHz = 6000000.0;
constexpr int kNewerOverheadCycles = 79;
constexpr int kOlderOverheadCycles = 12;

constexpr size_t kMaxLoggedCommands = 100000;
constexpr int kHostAbsentPollMs = 10;  // how often to look for a host reopening the port
constexpr int kMaxPollMs = 100;
constexpr size_t kReadChunk = 4096;
constexpr int64_t kNanosPerMilli = 1000000;

// Appends as much of from as keeps to within limit elements.
template <typename T>
void AppendBounded(std::vector<T>& to, std::vector<T>& from, size_t limit) {
    const size_t room = limit - std::min(limit, to.size());
    to.insert(to.end(), from.begin(), from.begin() + static_cast<std::ptrdiff_t>(std::min(room, from.size())));
    from.clear();
}

}  // namespace

VirtualGenerator::VirtualGenerator(VirtualGeneratorOptions options)
    : m_options(std::move(options)),
      m_nodePath(m_options.deviceDirectory + "/ttyACM" + std::to_string(m_options.port)),
      m_is16Bit(m_options.has16BitDac),
      m_overheadCycles(m_options.isNewer ? kNewerOverheadCycles : kOlderOverheadCycles),
      m_pacer(sim::SamplesPerPacket(m_options.has16BitDac), m_options.bufferPackets),
      m_block(sim::BuildHardwareBlock(m_options)) {
    m_shared.replyFault = m_options.replyFault;
    m_shared.cutAt = m_options.cutAt;
    m_settings = m_shared;
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
    m_work.isPlugged = true;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_isStopRequested = false;
    }
    Publish();
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
    m_replugAt = 0;
    m_work.isPlugged = false;
    Publish();
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
    m_framer.Reset();
    HandleStop();
}

void VirtualGenerator::Unplug() {
    RunOnThread([this] { UnplugNow(); });
}

void VirtualGenerator::UnplugNow() {
    if (m_master < 0) return;
    ClosePty();
    m_work.isPlugged = false;
    ++m_work.unplugs;
}

bool VirtualGenerator::Replug() {
    bool isPlugged = false;
    RunOnThread([this, &isPlugged] {
        ClosePty();
        m_replugAt = 0;
        isPlugged = OpenPty();
        m_work.isPlugged = isPlugged;
    });
    return isPlugged;
}

void VirtualGenerator::UnplugFor(unsigned int milliseconds) {
    RunOnThread([this, milliseconds] {
        UnplugNow();
        m_replugAt = MonotonicNanoseconds() + int64_t{milliseconds} * kNanosPerMilli;
    });
}

void VirtualGenerator::SetReplyFault(ReplyFault fault, size_t cutAt) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_shared.replyFault = fault;
    m_shared.cutAt = cutAt;
}

void VirtualGenerator::SetStalled(bool isStalled) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_shared.isStalled = isStalled;
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
    m_shared.commandHook = std::move(hook);
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
        Publish();
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

void VirtualGenerator::LoadSettings() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_settings = m_shared;
}

void VirtualGenerator::Publish() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_work.isPlaying = m_pacer.IsPlaying();
        std::vector<std::vector<uint8_t>> commands = std::move(m_stats.commands);
        m_stats = m_work;
        m_stats.commands = std::move(commands);
        AppendBounded(m_stats.commands, m_newCommands, kMaxLoggedCommands);
        AppendBounded(m_frames, m_newFrames, m_options.maxStoredFrames);
    }
    m_changed.notify_all();
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
            m_settings = m_shared;
        }
        for (const auto& task : tasks) task();
        if (!tasks.empty()) {
            Publish();
            std::lock_guard<std::mutex> lock(m_mutex);
            m_tasksDone += tasks.size();
        }
        if (!injected.empty()) Reply(injected, false);

        const int64_t now = MonotonicNanoseconds();
        if (m_replugAt != 0 && now >= m_replugAt) {
            m_replugAt = 0;
            m_work.isPlugged = OpenPty();
        }
        if (m_pacer.Advance(now)) ++m_work.underruns;
        while (HandleCommand(now)) {
        }
        RequestIfRoom();
        Publish();

        pollfd fds[2] = {{m_wakeFd, POLLIN, 0}, {m_isHostAbsent ? -1 : m_master, POLLIN, 0}};
        poll(fds, 2, PollTimeout(now));
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            (void)!read(m_wakeFd, &count, sizeof count);
        }
        DrainHost();
    }
}

// Reads all the host has sent; EIO (or end of file) means no host has the slave open.
void VirtualGenerator::DrainHost() {
    uint8_t buffer[kReadChunk];
    while (m_master >= 0) {
        const ssize_t got = read(m_master, buffer, sizeof buffer);
        if (got > 0) {
            m_isHostAbsent = false;
            if (!sim::IsRawLine(m_master)) m_work.bytesWhileNotRaw += static_cast<uint64_t>(got);
            LoadSettings();
            HandleInput(buffer, static_cast<size_t>(got), MonotonicNanoseconds());
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            m_isHostAbsent = false;
            return;
        }
        if (!m_isHostAbsent) {
            // The host let go of the port: what it had half sent will never be completed.
            m_isHostAbsent = true;
            m_pending.clear();
            m_framer.Reset();
            HandleStop();
        }
        return;
    }
}

void VirtualGenerator::HandleInput(const uint8_t* bytes, size_t count, int64_t now) {
    m_pending.insert(m_pending.end(), bytes, bytes + count);
    while (HandleCommand(now)) {
    }
}

bool VirtualGenerator::HandleCommand(int64_t now) {
    Command command = Command::Unknown;
    if (!m_framer.Next(m_pending, now, command)) return false;
    const sim::CommandRule& rule = sim::RuleFor(command);
    CheckPlace(command);
    if (command == Command::Packet) {
        HandlePacket(m_pending.data(), now);
    } else if (command != Command::Unknown) {
        // A copy: the hook may unplug the device, which drops everything pending.
        const std::vector<uint8_t> bytes(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(rule.length));
        if (m_newCommands.size() < kMaxLoggedCommands) m_newCommands.push_back(bytes);
        if (m_settings.commandHook) {
            Publish();  // the hook, and whoever it wakes, find the command logged
            m_settings.commandHook(rule.first);
        }
        // The host waits for the answer before it sends more: anything here before it came too soon.
        if (rule.expectsReply && (m_pending.size() > rule.length || BytesWaiting() > 0)) {
            ++m_work.violations.commandsMidExchange;
        }
        Answer(command, bytes.data());
    }
    // An unplug while handling the command has already dropped everything pending.
    const size_t consumed = std::min(rule.length, m_pending.size());
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(consumed));
    return true;
}

void VirtualGenerator::CheckPlace(Command command) {
    const sim::RunPlace place = sim::RuleFor(command).place;
    if (command == Command::Unknown) {
        ++m_work.violations.unknownBytes;
    } else if (place == sim::RunPlace::Inside && !m_isStreaming) {
        ++m_work.violations.packetsOutsideRun;
    } else if (place == sim::RunPlace::Outside && m_isStreaming) {
        ++m_work.violations.commandsMidRun;
    }
}

void VirtualGenerator::Answer(Command command, const uint8_t* bytes) {
    switch (command) {
    case Command::Identify: Reply(m_options.identity, true); break;
    case Command::Model: Reply(sim::BuildModelReply(m_options), true); break;
    case Command::BlockRead:
    case Command::BlockRewrite: {
        // An older device has no block: it neither answers the read nor keeps a rewrite.
        if (!m_options.isNewer) break;
        std::array<uint8_t, 64> block;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (command == Command::BlockRewrite) std::copy(bytes, bytes + block.size(), m_block.begin());
            block = m_block;
        }
        Reply(std::vector<uint8_t>(block.begin(), block.end()), true);
        break;
    }
    case Command::Stop:
    case Command::Close: HandleStop(); break;
    case Command::Link: Reply({kLink, 0x01, m_options.linkIdentifier}, true); break;
    case Command::StaticValue: m_work.lastStaticCode = sim::DecodeStaticValue(bytes); break;
    case Command::Setup: HandleSetup(bytes); break;
    case Command::Packet:
    case Command::Unknown: break;
    }
}

void VirtualGenerator::HandleSetup(const uint8_t* command) {
    const uint16_t reload = static_cast<uint16_t>(command[1] << 8 | command[2]);
    const int cycles = 65536 - reload + m_overheadCycles;
    const double sampleRate = cycles > 0 ? kTimerHz / cycles : 0;
    m_expectedSequence = 0;
    m_isStreaming = true;
    m_pacer.Begin(m_options.isPaced ? sampleRate : 0);
    m_work.hasSetup = true;
    m_work.reload = reload;
    m_work.range = command[3];
    m_work.sampleRate = sampleRate;
}

void VirtualGenerator::HandleStop() {
    m_isStreaming = false;
    m_pacer.End();
}

void VirtualGenerator::HandlePacket(const uint8_t* packet, int64_t now) {
    const size_t before = m_newFrames.size();
    sim::DecodePacket(packet, m_is16Bit, m_expectedSequence, m_work.check, m_newFrames);
    const uint64_t samples = m_newFrames.size() - before;
    // Frames beyond what may be kept are dropped at publishing; bound the batch here too.
    if (m_newFrames.size() > m_options.maxStoredFrames) m_newFrames.resize(m_options.maxStoredFrames);
    const uint64_t packets = ++m_work.packets;
    m_work.samples += samples;
    if (m_isStreaming) m_pacer.Receive(samples, now);
    if (m_options.delayReportEvery > 0 && packets % static_cast<uint64_t>(m_options.delayReportEvery) == 0) {
        Reply({'X', m_options.delayBytes[0], m_options.delayBytes[1]}, false);
    }
    if (m_options.statusReplyEvery > 0 && packets % static_cast<uint64_t>(m_options.statusReplyEvery) == 0) {
        std::vector<uint8_t> status(kStatusReplyBytes, 0);
        status[0] = 'S';
        Reply(status, false);
    }
    if (!m_isStreaming || m_settings.isStalled) return;
    if (m_pacer.IsActive()) {
        RequestIfRoom();
    } else {
        SendRequest();
    }
}

void VirtualGenerator::SendRequest() {
    Reply({'N', 0x00}, false);
    ++m_work.requestsSent;
}

// Outside a run, or unplugged, the pacer has ended and takes no turn.
void VirtualGenerator::RequestIfRoom() {
    if (!m_settings.isStalled && m_pacer.TakeRequestTurn()) SendRequest();
}

int VirtualGenerator::PollTimeout(int64_t now) const {
    int64_t wait = -1;
    auto consider = [&wait](int64_t nanoseconds) {
        nanoseconds = std::max<int64_t>(nanoseconds, 0);
        if (wait < 0 || nanoseconds < wait) wait = nanoseconds;
    };
    if (m_framer.DecisionDeadline() != 0) consider(m_framer.DecisionDeadline() - now);
    if (const int64_t untilPlayback = m_pacer.NextEventIn(now); untilPlayback >= 0) consider(untilPlayback);
    if (m_master >= 0 && m_isHostAbsent) consider(int64_t{kHostAbsentPollMs} * kNanosPerMilli);
    if (m_replugAt != 0) consider(m_replugAt - now);
    if (wait < 0) return kMaxPollMs;
    const int64_t milliseconds = (wait + kNanosPerMilli - 1) / kNanosPerMilli;
    return static_cast<int>(std::min<int64_t>(milliseconds, kMaxPollMs));
}

size_t VirtualGenerator::BytesWaiting() const {
    int count = 0;
    if (m_master < 0 || ioctl(m_master, FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<size_t>(count);
}

void VirtualGenerator::Reply(const std::vector<uint8_t>& bytes, bool isCommandReply) {
    // A host that has the reply finds everything before it counted.
    Publish();
    const std::vector<uint8_t> out =
        isCommandReply ? sim::SpoilReply(bytes, m_settings.replyFault, m_settings.cutAt) : bytes;
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
    m_work.droppedReplyBytes += out.size() - written;
}
