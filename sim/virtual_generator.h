#pragma once
// A stand-in for the generator on a pseudo-terminal: <deviceDirectory>/ttyACM<port> links
// to the slave side, and a thread of its own answers on the master side byte for byte as
// the device protocol fixes it. For tests, and for development without hardware.

#include <array>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/command_framer.h"
#include "sim/pacer.h"
#include "sim/sim_packet.h"

// How command replies (identity, model, hardware block and its acknowledgement, link
// identifier) are spoilt. Stream requests ("N") are never spoilt; stall them instead.
enum class ReplyFault {
    None,
    Silence,  // no reply at all
    Garbage,  // a reply of the right length that means nothing
    Cut,      // only the first cutAt bytes
};

struct VirtualGeneratorOptions {
    std::string deviceDirectory;  // where the ttyACM<port> link is made
    int port = 0;
    bool isNewer = true;       // keeps a hardware block; an older one only answers the model request
    bool has16BitDac = false;  // block byte 8 = 21 instead of 20, and 16-bit packets
    bool isPaced = false;      // plays in real time; otherwise asks for a packet as soon as one is taken
    int bufferPackets = 4;     // paced: packets the device buffers

    // Identity. Block bytes 6-15 and 48-63 of a newer device; the model reply of an older one.
    char modelLetters[2] = {'A', 'B'};      // bytes 6, 7
    uint8_t modelNumber = 0;                // byte 8; 0 = 20 or 21 to match the DAC width
    uint8_t serialBatch = 3;                // byte 9
    uint8_t serialGroup = 17;               // byte 10; 16 or less selects the older serial format
    uint16_t serialIndex = 25;              // bytes 11-12
    std::array<uint8_t, 3> hwInfo = {7, 8, 9};  // bytes 14, 15, 13
    std::array<uint8_t, 16> mfgInfo = {'M', 'F', 'G', '-', '0', '1'};  // bytes 48-63
    std::string modelName = "TAVO 2.0";     // model reply bytes 0-7
    std::string serialText = "KT1234567";   // model reply bytes 9-17
    std::vector<uint8_t> identity = {'T', 'A', '2', '0', 0};  // a wrong identity is a fault
    uint8_t linkIdentifier = 0x5A;          // third byte of the link reply

    ReplyFault replyFault = ReplyFault::None;
    size_t cutAt = 0;
    // Sends "X" with these two bytes after every n-th packet (0 = never).
    int delayReportEvery = 0;
    std::array<uint8_t, 2> delayBytes = {0, 0};
    // Sends a 15-byte "S" status reply after every n-th packet (0 = never).
    int statusReplyEvery = 0;
    size_t maxStoredFrames = 1 << 20;  // decoded frames kept for inspection; 0 keeps none
};

// What the host did that the device protocol does not allow. A correct host causes none.
struct ProtocolViolations {
    uint64_t packetsOutsideRun = 0;    // a stream packet with no set-up command before it, or after "S"
    uint64_t commandsMidRun = 0;       // a command other than a packet or "S" between set-up and "S"
    uint64_t commandsMidExchange = 0;  // bytes sent before the reply of the command before them
    uint64_t unknownBytes = 0;         // bytes that start no command

    uint64_t Total() const { return packetsOutsideRun + commandsMidRun + commandsMidExchange + unknownBytes; }
};

struct VirtualGeneratorStatistics {
    uint64_t packets = 0;
    uint64_t samples = 0;
    sim::PacketCheck check;
    ProtocolViolations violations;
    uint64_t bytesWhileNotRaw = 0;  // received while the host had not set the line raw
    uint64_t underruns = 0;  // paced: the buffer ran dry while playing
    uint64_t requestsSent = 0;  // "N" replies
    uint64_t droppedReplyBytes = 0;  // replies the slave side could not take
    uint64_t unplugs = 0;
    bool isPlugged = false;
    bool isPlaying = false;
    // Every command seen, its bytes in full, except stream packets (counted above).
    std::vector<std::vector<uint8_t>> commands;
    // The last output set-up command.
    bool hasSetup = false;
    uint16_t reload = 0;
    uint8_t range = 0;
    double sampleRate = 0;  // derived from the reload value
    int lastStaticCode = -1;  // -1: none, or planes that were not one code for all channels
};

class VirtualGenerator {
public:
    explicit VirtualGenerator(VirtualGeneratorOptions options);
    ~VirtualGenerator();
    VirtualGenerator(const VirtualGenerator&) = delete;
    VirtualGenerator& operator=(const VirtualGenerator&) = delete;

    // Opens the pty, makes the node and starts answering. False (nothing made) when the
    // pty cannot be opened or the node name is taken.
    bool Start();
    // Stops the thread, removes the node (if still ours) and closes the pty. Idempotent.
    void Stop();

    // <deviceDirectory>/ttyACM<port>.
    std::string NodePath() const;

    // Removes the node and closes the master, as an unplugged device does.
    void Unplug();
    // A new pty under the same node name. False when it cannot be made.
    bool Replug();
    // Unplugs now and plugs a new pty in under the same node name after milliseconds, as a
    // USB reset re-enumerates a device.
    void UnplugFor(unsigned int milliseconds);

    void SetReplyFault(ReplyFault fault, size_t cutAt = 0);
    // A stalled device stops asking for packets.
    void SetStalled(bool isStalled);
    // Sends these bytes to the host as they are (delay reports, status replies, junk).
    void InjectReply(const std::vector<uint8_t>& bytes);
    // Called on the generator's thread with a command's first byte before it is answered.
    void SetCommandHook(std::function<void(uint8_t)> hook);

    VirtualGeneratorStatistics Statistics() const;
    // Decoded frames in the order they arrived (at most maxStoredFrames).
    std::vector<sim::Frame> Frames() const;
    // The hardware block as the device holds it now (after any rewrite).
    std::array<uint8_t, 64> HardwareBlock() const;
    // Waits until the predicate holds for the statistics; false after timeoutMs.
    bool WaitUntil(const std::function<bool(const VirtualGeneratorStatistics&)>& predicate,
                   unsigned int timeoutMs) const;

    // Writes the stored frames as a WFDB record (see WritePlayedRecord), at the rate and
    // range of the last set-up command.
    bool WriteRecord(const std::string& directory, const std::string& name) const;

private:
    // What other threads may change while the generator runs; read once per batch of input.
    struct Settings {
        ReplyFault replyFault = ReplyFault::None;
        size_t cutAt = 0;
        bool isStalled = false;
        std::function<void(uint8_t)> commandHook;
    };

    void Run();
    // Runs task on the generator's thread (inline before Start) and waits for it.
    void RunOnThread(const std::function<void()>& task);
    void Wake();
    bool OpenPty();
    void ClosePty();
    void UnplugNow();
    void LoadSettings();
    // Hands the thread's statistics and new frames to other threads, waking WaitUntil.
    void Publish();
    void DrainHost();
    void HandleInput(const uint8_t* bytes, size_t count, int64_t now);
    bool HandleCommand(int64_t now);
    void Answer(sim::Command command, const uint8_t* bytes);
    void CheckPlace(sim::Command command);
    void HandlePacket(const uint8_t* packet, int64_t now);
    void HandleSetup(const uint8_t* command);
    void HandleStop();
    void Reply(const std::vector<uint8_t>& bytes, bool isCommandReply);
    size_t BytesWaiting() const;
    void RequestIfRoom();
    void SendRequest();
    int PollTimeout(int64_t now) const;

    VirtualGeneratorOptions m_options;
    std::string m_nodePath;
    bool m_is16Bit;
    int m_overheadCycles;  // timer cycles the device adds to each sample period

    // Owned by the generator's thread (or the caller before Start / after Stop).
    int m_master = -1;
    int m_wakeFd = -1;
    std::string m_slavePath;
    std::vector<uint8_t> m_pending;
    sim::CCommandFramer m_framer;
    sim::CPacer m_pacer;
    bool m_isHostAbsent = false;
    bool m_isStreaming = false;
    uint8_t m_expectedSequence = 0;
    int64_t m_replugAt = 0;  // 0: no re-plug due
    Settings m_settings;
    VirtualGeneratorStatistics m_work;  // commands and frames go to the two below instead
    std::vector<std::vector<uint8_t>> m_newCommands;
    std::vector<sim::Frame> m_newFrames;
    std::thread m_thread;
    bool m_isRunning = false;

    mutable std::mutex m_mutex;  // guards everything below
    mutable std::condition_variable m_changed;
    bool m_isStopRequested = false;
    std::vector<std::function<void()>> m_tasks;
    uint64_t m_tasksDone = 0;
    uint64_t m_tasksQueued = 0;
    Settings m_shared;
    std::vector<uint8_t> m_injected;
    VirtualGeneratorStatistics m_stats;
    std::vector<sim::Frame> m_frames;
    std::array<uint8_t, 64> m_block{};
};
