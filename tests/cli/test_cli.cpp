// The tavo command as a user meets it (exit status, one-line messages, files written),
// and the pieces of its own arithmetic: waveform texts, source detection, the output
// network and the demo's check.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>

#include "ecg_source.h"
#include "output_network.h"
#include "played_check.h"
#include "source.h"

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t Count(const std::string& text, const std::string& pattern) {
    const std::regex expression(pattern);
    return static_cast<size_t>(std::distance(std::sregex_iterator(text.begin(), text.end(), expression), {}));
}

// A folder of small records written by hand, in which the command runs with its cache and
// temporary folders inside.
class CommandTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tavo-cli-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        m_dir = pattern;
        fs::create_directories(m_dir / "tmp");
        fs::create_directories(m_dir / "emptydev");
        // A node that is there but answers nothing, beside its lock and calibration folders.
        for (const char* folder : {"dev1/lock", "dev1/calibration"}) fs::create_directories(m_dir / folder);
        Write("dev1/ttyACM1", "");
        // 25 RMS windows of +-100 ADC units, at 200 units per mV.
        std::string samples;
        for (int i = 0; i < 25 * 360; ++i) samples += i % 2 == 0 ? std::string("\x64\x00", 2) : std::string("\x9c\xff", 2);
        Write("rec.dat", samples);
        Write("rec.hea", "rec 1 360 9000\nrec.dat 16 200 16 0 0 0 0 ECG\n");
        Write("uv.hea", "uv 1 50 9000\nrec.dat 16 0.002/uV 16 0 0 0 0 ECG\n");  // too slow to play
        // A signal line may stop after the format. 301 beats of code 1, 20 samples apart.
        Write("beats.hea", "beats 1 360 9000\nrec.dat 16\n");
        std::string beats;
        for (int i = 0; i < 301; ++i) beats += std::string("\x14\x04", 2);
        Write("beats.atr", beats + std::string(2, '\0'));
        Write("odd.hea", "odd 1 360 9000\nrec.dat 16 200 16 0 0 0 0 Resp\n");
        Write("bad.hea", "this is not a header\n");
        Write("short.hea", "short 1 360 10\nrec.dat\n");
        Write("lost.hea", "lost 1 360 10\nlost.dat 16 200 16 0 0 0 0 ECG\n");
        Write("aha.txt", "400,200\n-400,400\n400,200\n");
        // One second of one signal, 200 samples; or the same header naming only annotations.
        std::string edf(512, ' ');
        for (const auto& [at, text] : std::map<size_t, std::string>{{0, "0"}, {184, "512"}, {236, "1"}, {244, "1"},
                 {252, "1"}, {256, "I"}, {352, "mV"}, {360, "-1"}, {368, "1"}, {376, "-32768"}, {384, "32767"}, {472, "200"}}) {
            edf.replace(at, text.size(), text);
        }
        Write("lead.edf", edf + std::string(400, '\0'));
        Write("ann.edf", edf.replace(256, 15, "EDF Annotations"));
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Write(const std::string& name, const std::string& text) { std::ofstream(m_dir / name, std::ios::binary) << text; }

    // Starts the program with its output in files (or stdout in a pipe) and returns its pid.
    pid_t Start(const std::vector<std::string>& args, int* pipeRead = nullptr, const char* program = TAVO_COMMAND) {
        std::vector<std::string> command;
        std::stringstream emulator(TAVO_EMULATOR);
        for (std::string word; emulator >> word;) command.push_back(word);
        command.push_back(program);
        command.insert(command.end(), args.begin(), args.end());
        int fds[2] = {-1, -1};
        if (pipeRead != nullptr && pipe(fds) != 0) return -1;
        const pid_t pid = fork();
        if (pid == 0) {
            if (chdir(m_dir.c_str()) != 0) _exit(127);
            setenv("HOME", m_dir.c_str(), 1);
            setenv("XDG_CACHE_HOME", m_hasCacheHome ? (m_dir / "cache").c_str() : "", 1);
            setenv("TMPDIR", (m_dir / "tmp").c_str(), 1);
            const int out = pipeRead != nullptr ? fds[1] : creat("stdout.txt", 0600);
            dup2(out, STDOUT_FILENO);
            dup2(creat("stderr.txt", 0600), STDERR_FILENO);
            if (pipeRead != nullptr) close(fds[0]);
            std::vector<char*> argv;
            for (std::string& word : command) argv.push_back(word.data());
            argv.push_back(nullptr);
            execvp(argv[0], argv.data());
            _exit(127);
        }
        if (pipeRead != nullptr) {
            close(fds[1]);
            *pipeRead = fds[0];
        }
        return pid;
    }

    static int Wait(pid_t pid) {
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // Runs to the end; the messages are stderr then stdout.
    int Run(const std::vector<std::string>& args, std::string& messages, const char* program = TAVO_COMMAND) {
        const int status = Wait(Start(args, nullptr, program));
        messages = ReadText(m_dir / "stderr.txt") + ReadText(m_dir / "stdout.txt");
        return status;
    }

    // Waits (generously) until the file holds the text.
    bool WaitForText(const std::string& name, const std::string& text) {
        for (int i = 0; i < 600; ++i) {
            if (ReadText(m_dir / name).find(text) != std::string::npos) return true;
            usleep(50000);
        }
        return false;
    }

    fs::path m_dir;
    bool m_hasCacheHome = true;
};

}  // namespace

// Every subcommand refuses its bad inputs with one line and a non-zero status, and says
// what it measured or changed on the good ones.
TEST_F(CommandTest, ExitsWithOneLineAndAStatusThatSaysWhatHappened) {
    struct Case { std::vector<std::string> args; int status; const char* pattern; };
    const Case cases[] = {
        {{"play"}, 2, "^tavo: source is required"},
        {{"play", "x", "--bogus"}, 2, "^tavo: The following argument was not expected: --bogus"},
        {{"info", "--sim", "--port", "3"}, 2, "^tavo: --port excludes --sim"},
        {{"list", "extra"}, 2, "^tavo: "},
        {{"sim", "--port", "200", "--dev", "d"}, 2, "^tavo: --port takes 0 to 127, not '200'"},
        {{"play", "sine:500Hz:1mV", "--sim"}, 1, "^tavo: frequency 500 Hz is outside .*0.01 to 100 Hz"},
        {{"play", "sine:1Hz:100mV", "--sim"}, 1, "^tavo: amplitude 100 mV peak to peak does not fit .* at most 10 mV"},
        {{"play", "fixed:3mV", "--range", "2", "--sim"}, 1, "^tavo: 3 mV does not fit the \\+-2 mV output range"},
        {{"play", "sine:1Hz:nanmV", "--sim"}, 1, "^tavo: 'nanmV' is not a number"},
        {{"play", "sine:1Hz:1mV", "--range", "256", "--sim", "--duration", "0.2"}, 1, "^tavo: --range takes whole millivolts from 1 to 255"},
        {{"play", "sine:1Hz:1mV", "--noise", "BL", "--sim"}, 1, "^tavo: --noise applies to built-in records only"},
        {{"play", "MA1_001", "--sim", "--start", "20"}, 1, "^tavo: --start 20 is beyond the end of MA1_001 \\(9.40 s long\\)"},
        {{"play", "nosuch.hea", "--sim"}, 1, "^tavo: no such file: nosuch.hea"},
        {{"play", "bad.hea", "--sim"}, 1, "^tavo: bad.hea is not a WFDB record header"},
        {{"play", "odd", "--sim"}, 1, "^tavo: no signal of odd is labelled as a lead .*\\(its labels: Resp\\)"},
        {{"play", "uv", "--sim"}, 1, "^tavo: uv is sampled at 50 Hz; the generator's clock plays 92 samples per second or more"},
        {{"preview", "lost", "--svg", "x.svg"}, 1, "^tavo: record lost: signal file lost.dat is missing from \\."},
        {{"preview", "ann.edf", "--svg", "x.svg"}, 1, "^tavo: ann.edf holds only EDF\\+ annotations"},
        {{"preview", "CAL50000", "--svg", "x.svg", "--seconds", "1806"}, 1, "^tavo: --seconds 1806 is outside 1 to 300"},
        {{"preview", "MA1_001", "--svg", "nodir/x.svg"}, 1, "^tavo: output folder nodir does not exist"},
        {{"preview", "rect:100.5ms:1Hz:2mV", "--svg", "x.svg"}, 1, "^tavo: pulse width 100.5 ms must be a whole number"},
        {{"info", "--dev", "nodev"}, 1, "^tavo: no generator: nodev is not a folder"},
        {{"info", "--dev", "emptydev", "--timeout", "200"}, 1, "^tavo: no generator: nothing at emptydev/ttyACM0-127"},
        {{"info", "--dev", "dev1", "--port", "0", "--timeout", "200"}, 1, "^tavo: no generator: nothing at dev1/ttyACM0\n"},
        {{"info", "--dev", "dev1", "--timeout", "200"}, 1, "^tavo: no generator answered on dev1/ttyACM1 within 200 ms"},
        {{"preview", "cal:1Hz:0mV", "--svg", "x.svg"}, 1, "^tavo: amplitude 0 mV does not fit the \\+-5 mV output range: give -5 to 5 mV, not 0"},
        {{"preview", "sine:100.5Hz:1mV", "--svg", "x.svg"}, 1, "^tavo: frequency 100.5 Hz is outside what the library plays"},
        {{"preview", "cal:1Hz:-2mV", "--svg", "x.svg"}, 0, "^wrote x.svg \\(3600 frames of cal 1 Hz, 0 and -2 mV"},
        {{"preview", "rect:1000ms:1Hz:1mV", "--svg", "x.svg"}, 0, "^tavo: warning: a 1000 ms pulse fills the 1000 ms period"},
        {{"play", "fixed:2mV", "--range", "2", "--sim", "--duration", "0.2"}, 0, "^playing fixed 2 mV"},
        {{"convert", "edf", "lead.edf", "nodir"}, 1, "^tavo: output folder nodir does not exist"},
        {{"nst", "rec", "nonoise", "6", "out"}, 1, "^tavo: no such file: nonoise.hea"},
        {{"amplitude", "bad"}, 1, "^tavo: bad.hea is not a WFDB record header"},
        {{"amplitude", "short"}, 1, "^tavo: short.hea names 1 signals but describes 0"},
        {{"demo", "--noise", "LOUD"}, 1, "^tavo: unknown noise 'LOUD'"},
        {{"play", "ecg:72.5bpm", "--sim"}, 1, "^tavo: '72.5bpm' is outside .*: whole numbers from 20 to 300 bpm"},
        // Lead II's R wave is the largest output at the default T; twice 5 mV of T is beyond 10.
        {{"play", "ecg:60bpm:3mV", "--range", "2", "--sim"}, 1, "^tavo: ecg:60bpm:3mV reaches 3.000 mV in II, beyond the \\+-2 mV"},
        {{"preview", "ecg:60bpm:5mV:t=2", "--svg", "x.svg"}, 1, "^tavo: .* reaches 1\\d\\.\\d{3} mV in V\\d, beyond the \\+-5 mV"},
        // 5 mV fits the 5 mV range; the 1 s loop goes round: more than its 4 packets of 250 samples.
        {{"play", "ecg:60bpm:5mV", "--sim", "--duration", "2"}, 0, "^playing ecg 60 bpm regular, R 5 mV in II, QRS 80 ms, T 0.25 "
                                                                 "x R, ST 0 mV, P waves; a 1.00 s loop\n(.*\n)*virtual generator: ([5-9]|\\d\\d+) packets"},
        {{"preview", "ecg:60bpm:rhythm=irregular:cv=15%", "--svg", "e.svg", "--start", "7"}, 0,
         "^wrote e.svg \\(10000 frames of ecg 60 bpm irregular \\(RR variation 15 %, seed 1\\)"},
        {{"play", "sine:1.234Hz:1mV", "--sim", "--duration", "0.2"}, 0, "^tavo: warning: 1.234 Hz plays as 1.23 Hz"},
        {{"play", "MA1_001", "--sim", "--start", "9", "--duration", "2"}, 0, "^tavo: warning: MA1_001 ends after 0.40 s"},
        {{"info", "--sim=16bit"}, 0, "DAC width +16 bits"},
        {{"info", "--sim=older"}, 0, "serial number +KT1234567\ndevice kind +older"},
        // Hand-worked: 25 windows of RMS 100 fill 25 of 300 slots; the middle 270 hold 10 of them.
        {{"amplitude", "rec"}, 0, "^tavo: warning: only 25 of 300 measurements.*\nrec: RMS over 25 windows of 360 "
                                  "samples.*\nsignal 0 +ECG +3.70370 ADC units +0.0185 mV"},
        {{"amplitude", "uv"}, 0, "signal 0 +ECG +3.70370 ADC units +1.8518 mV"},
        {{"amplitude", "beats.hea"}, 0, "^beats: peak to peak around 300 beats"},
        {{"list"}, 0, "MA1_001 +cycle  940 samples \\(0.940 s\\),  63.8 beats per minute\n(.*\n)*  118  MA1_125 .*\nBuilt"},
        {{"list"}, 0, "\nSynthetic ECG.*\n(.*\n)*  seed=2 .*: whole numbers from 0 to 4294967295\n(.*\n)*Left out: .*irregular RR variation 15 %, seed 1\n"},
        {{"preview", "autocal", "--svg", "a.svg"}, 0, "^wrote a.svg \\(10000 frames of autocal levels 0, 0.2, 1, 2, 5"},
        {{"play", "autocal", "--range", "4", "--sim"}, 1, "^tavo: autocal reaches \\+-5 mV, beyond the \\+-4 mV"},
        {{"preview", "lead.edf", "--svg", "x.svg", "--repository", "repo"}, 0, "^wrote x.svg"},
        {{"demo", "--seconds", "1", "--noise", "BL", "--svg", "d.svg"}, 0, "\ntavo demo: ok"},
        {{"demo", "--seconds", "1", "--noise", "none", "--svg", "d.svg"}, 0, "\ntavo demo: ok"},
    };
    for (const Case& c : cases) {
        std::string messages;
        const std::string line = c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : "");
        EXPECT_EQ(Run(c.args, messages), c.status) << line << "\n" << messages;
        EXPECT_TRUE(std::regex_search(messages, std::regex(c.pattern))) << line << "\n" << messages;
        EXPECT_LE(Count(ReadText(m_dir / "stderr.txt"), "\n"), 1u) << line << ": one line on stderr";
    }
    EXPECT_TRUE(fs::exists(m_dir / "repo/lead.hea")) << "converted into --repository";
    // Each legend sample line stands left of its label, at the height of its lower-case letters.
    const std::string demo = ReadText(m_dir / "d.svg");
    const std::regex entry("<line class=\"legend-line\" x1=\"[\\d.]+\" y1=\"([\\d.]+)\" x2=\"([\\d.]+)\"[^>]*/>\n"
                           "<text class=\"legend\" x=\"([\\d.]+)\" y=\"([\\d.]+)\" [^>]* font-size=\"([\\d.]+)\"");
    size_t entries = 0;
    for (std::sregex_iterator m(demo.begin(), demo.end(), entry), end; m != end; ++m, ++entries) {
        const auto at = [&](int k) { return std::stod((*m)[k]); };  // line y, line end x, text x, text y, font size
        EXPECT_TRUE(at(2) < at(3) && at(1) < at(4) && at(1) > at(4) - at(5) / 2) << (*m)[0];
    }
    EXPECT_EQ(entries, 2u) << "a legend entry for the reported and one for the decoded leads";
    std::string messages;
    EXPECT_EQ(Run({"--dev"}, messages, TAVO_SIM_COMMAND), 2);
    EXPECT_TRUE(std::regex_search(messages, std::regex("^tavo-sim: --dev needs a value \\(see tavo-sim --help\\)"))) << messages;
}

// Ctrl-C, SIGTERM and a reader that goes away all stop the run the normal way: the
// temporary generator folder is removed and the status says why.
TEST_F(CommandTest, StopsCleanlyOnSignalsAndOnAClosedPipe) {
    struct Case { int signal; int status; };
    for (const Case& c : {Case{SIGINT, 130}, Case{SIGTERM, 143}, Case{0, 141}}) {
        int pipeRead = -1;
        const pid_t pid = Start({"play", "MA1_001", "--sim", "--loop"}, c.signal == 0 ? &pipeRead : nullptr);
        if (c.signal != 0) {
            ASSERT_TRUE(WaitForText("stdout.txt", "playing MA1_001"));
            kill(pid, c.signal);
        } else {
            char first = 0;
            ASSERT_EQ(read(pipeRead, &first, 1), 1);
            close(pipeRead);
        }
        EXPECT_EQ(Wait(pid), c.status) << c.signal;
        EXPECT_TRUE(fs::is_empty(m_dir / "tmp")) << c.signal;
    }
}

// tavo sim lays out a folder that play and info reach with --dev, tells how, and records
// the outputs under their own names, not as leads.
TEST_F(CommandTest, SimulatorServesPlayAndInfoThroughItsFolder) {
    const pid_t sim = Start({"sim", "--dev", "simdev", "--record", "simdev/played"});
    ASSERT_TRUE(WaitForText("stdout.txt", "Ctrl-C stops it."));
    EXPECT_NE(ReadText(m_dir / "stdout.txt").find("tavo play --dev " + fs::canonical(m_dir / "simdev").string() + " --port 0 SOURCE"),
              std::string::npos);
    std::string messages;
    EXPECT_EQ(Run({"info", "--dev", "simdev"}, messages), 0);
    EXPECT_NE(messages.find("KAB2003-170025"), std::string::npos) << messages;
    EXPECT_NE(messages.find("simdev/calibration/TAVO_DAC03-170025.txt"), std::string::npos) << messages;
    EXPECT_EQ(Run({"play", "--dev", "simdev", "sine:1Hz:1mV", "--duration", "0.3"}, messages), 0) << messages;
    kill(sim, SIGINT);
    EXPECT_EQ(Wait(sim), 0);
    const std::string header = ReadText(m_dir / "simdev/played.hea");
    EXPECT_EQ(Count(header, " 0 (I|II|V[1-6] output)\n"), 8u) << header;
}

// The plots parsed back: every trace inside a clip path of its row, a calibration pulse
// per row, clip marks where a trace leaves its row, and marks for absent leads.
TEST_F(CommandTest, PlotsKeepTracesInTheirRowsAndMarkWhatIsMissing) {
    struct Case { std::vector<std::string> args; size_t rows, clipMarks, notInRecord, notDerived; const char* text; };
    const Case cases[] = {
        // The report layout: 12 columns and the rhythm strip, all clipped but III (II - I = 0).
        {{"CAL50000"}, 4, 12, 0, 0, "synthetic stand-in"},
        {{"sine:1Hz:2mV", "--seconds", "3"}, 12, 0, 0, 0, "sine 1 Hz, 2 mV peak to peak</text>\n<text class=\"details\" x=\"5.00\" y=\"[\\d.]+\" font-family=\"sans-serif\" font-size=\"3.20\">from 0 s; 25"},
        {{"rec", "--strips"}, 12, 0, 11, 0, ">10 s<"},
        {{"aha.txt", "--strips"}, 12, 0, 6, 4, "AHA record"},
        {{"lead.edf", "--strips"}, 12, 0, 7, 4, "EDF record"},
        {{"ecg:180bpm:st=+0.2mV"}, 4, 0, 0, 0, ">ecg 180 bpm regular, R 1 mV in II, QRS 80 ms, T 0.25 x R, ST \\+0.2 mV, P waves; a 1.00 s loop<"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"preview", "--svg", "p.svg"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        std::string messages;
        ASSERT_EQ(Run(args, messages), 0) << messages;
        const std::string svg = ReadText(m_dir / "p.svg");
        EXPECT_EQ(Count(svg, "<clipPath id=\"row\\d+\">"), c.rows) << c.args[0];
        EXPECT_EQ(Count(svg, "class=\"cal-pulse\" d=\"M[\\d.]+ [\\d.]+H[\\d.]+V[\\d.]+H"), c.rows) << c.args[0];
        EXPECT_EQ(Count(svg, "<polyline"), Count(svg, "<g clip-path=\"url\\(#row\\d+\\)\"><polyline")) << c.args[0];
        EXPECT_EQ(Count(svg, "class=\"clip-mark\""), c.clipMarks) << c.args[0];
        EXPECT_EQ(Count(svg, ">not in record<"), c.notInRecord) << c.args[0];
        EXPECT_EQ(Count(svg, ">not derived<"), c.notDerived) << c.args[0];
        EXPECT_TRUE(std::regex_search(svg, std::regex(c.text))) << c.args[0];
    }
    EXPECT_TRUE(fs::exists(m_dir / "cache/tavo/edf/lead.hea")) << "converted into the user's cache";
}

TEST(WaveformText, ReadsShapeAndUnitsInAnyOrderAndRefusesWhatItCannotPlay) {
    struct Case { const char* text; const char* shape; double hz, mV, widthMs; };
    for (const Case& c : {Case{"sine:1Hz:2mV", "sine", 1, 2, 0}, Case{"RECT:2mV:100ms:0.5hz", "rect", 0.5, 2, 100},
                          Case{"fixed:500uV", "fixed", 0, 0.5, 0}, Case{"autocal", "autocal", 0, 0, 0}}) {
        WaveformRequest wave;
        std::string error;
        ASSERT_TRUE(ParseWaveformText(c.text, wave, error)) << error;
        EXPECT_EQ(std::tuple(wave.shape, wave.frequencyHz, wave.amplitudeMv, wave.pulseWidthMs),
                  std::tuple(c.shape, c.hz, c.mV, c.widthMs)) << c.text;
    }
    WaveformRequest wave{"untouched"};
    std::string error;
    for (const char* text : {"saw:1Hz:1mV", "sine:1Hz", "sine:2mV", "sine:1:2mV", "rect:1Hz:2mV", "sine:1Hz:2V", "",
                             "autocal:1Hz", "sine:infHz:1mV", "fixed:1mV:10ms"}) {
        EXPECT_FALSE(ParseWaveformText(text, wave, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    EXPECT_EQ(wave.shape, "untouched") << "a refused text leaves the result as it was";
}

TEST(EcgText, ReadsSettingsInAnyOrderAndRefusesWithTheRangeWhatTheLibraryWouldNotPlay) {
    struct Case { const char* text; int rate; double mV, st, t, qrs; int p, rhythm; double cv; int pvc; unsigned seed; };
    for (const Case& c : {Case{"ecg:72bpm", 72, 1, 0, 0.25, 80, 1, SYNTHETIC_REGULAR, 0.15, 4, 1},
                          Case{"ECG:2mV:180BPM:st=+0.2mV:t=1.5:qrs=120ms:p=off", 180, 2, 0.2, 1.5, 120, 0, SYNTHETIC_REGULAR, 0.15, 4, 1},
                          Case{"ecg:20bpm:50uV:st=-800uV:t=-1:qrs=40ms:pvc=2", 20, 0.05, -0.8, -1, 40, 1, SYNTHETIC_PVC, 0.15, 2, 1},
                          Case{"ecg:300bpm:rhythm=irregular:cv=30%:seed=4294967295:p=off", 300, 1, 0, 0.25, 80, 0, SYNTHETIC_IRREGULAR, 0.3, 4, 4294967295u}}) {
        TAVO_SYNTHETIC_ECG p{};
        std::string error;
        ASSERT_TRUE(ParseEcgText(c.text, p, error)) << c.text << ": " << error;
        EXPECT_EQ(std::tuple(p.nHeartRate, p.bPWaves, p.nRhythm, p.nPVCInterval, p.nSeed), std::tuple(c.rate, c.p, c.rhythm, c.pvc, c.seed)) << c.text;
        EXPECT_EQ(std::tuple(p.fAmplitude, p.fQRSWidth, p.fTWave), std::tuple(c.mV, c.qrs, c.t)) << c.text;
        EXPECT_NEAR(p.fSTOffset, c.st, 1e-12) << c.text;
        EXPECT_NEAR(p.fVariation, c.cv, 1e-12) << c.text;
    }
    struct Refused { const char* text; const char* reason; };
    for (const Refused& r : {Refused{"ecg", "needs a heart rate"}, Refused{"ecg:19bpm", "20 to 300 bpm"}, Refused{"ecg:301bpm", "20 to 300 bpm"},
                             Refused{"ecg:nanbpm", "20 to 300"}, Refused{"ecg:72bpm:0.04mV", "0.05 to 5 mV"}, Refused{"ecg:72bpm:5001uV", "0.05 to 5 mV"},
                             Refused{"ecg:72bpm:st=0.81mV", "-0.8 to 0.8 mV"}, Refused{"ecg:72bpm:t=2.1", "-1 to 2"}, Refused{"ecg:72bpm:t=-1.1", "-1 to 2"},
                             Refused{"ecg:72bpm:qrs=39ms", "40 to 160 ms"}, Refused{"ecg:72bpm:qrs=161ms", "40 to 160 ms"}, Refused{"ecg:72bpm:pvc=1", "2 to 8"},
                             Refused{"ecg:72bpm:pvc=4.5", "whole numbers from 2 to 8"}, Refused{"ecg:72bpm:rhythm=irregular:cv=31%", "0 to 30 %"},
                             Refused{"ecg:72bpm:rhythm=irregular:seed=4294967296", "0 to 4294967295"}, Refused{"ecg:72bpm:rhythm=irregular:cv=0.15", "like cv=15%"},
                             Refused{"ecg:72bpm:st=0.2", "like st=+0.2mV"}, Refused{"ecg:72bpm:1mV:1000uV", "twice"}, Refused{"ecg:72bpm:p=on:p=off", "twice"},
                             Refused{"ecg:72bpm:cv=15%", "add rhythm=irregular"}, Refused{"ecg:72bpm:pvc=4:seed=2", "add rhythm=irregular"},
                             Refused{"ecg:72bpm:rhythm=irregular:p=on", "no P waves"}, Refused{"ecg:72bpm:pvc=4:rhythm=regular", "leave out rhythm="},
                             Refused{"ecg:72bpm:rhythm=afib", "regular or"}, Refused{"ecg:72bpm:p=yes", "p=on or p=off"}, Refused{"ecg:72bpm:5ms", "neither"},
                             Refused{"ecg:72bpm:x=1", "unknown ECG setting 'x='"}, Refused{"sine:1Hz:1mV", "ecg:"}}) {
        TAVO_SYNTHETIC_ECG p{};
        p.nHeartRate = 99;
        std::string error;
        EXPECT_FALSE(ParseEcgText(r.text, p, error)) << r.text;
        EXPECT_NE(error.find(r.reason), std::string::npos) << r.text << ": " << error;
        EXPECT_EQ(p.nHeartRate, 99) << r.text << ": a refused text leaves the parameters as they were";
    }
}

TEST(SourceDetection, ByExtensionThenByContent) {
    struct Case { const char* path; const char* head; SourceKind kind; };
    for (const Case& c : {Case{"/d/100.hea", "", SourceKind::MitRecord}, Case{"/d/R.EDF", "", SourceKind::EdfFile},
                          Case{"/d/x.DCD", "", SourceKind::CseFile}, Case{"/d/x.ecg", "", SourceKind::AhaFile},
                          Case{"/d/k.txt", "500\n3\n START \nLead I\n1000\n", SourceKind::KestraneFile},
                          Case{"/d/a.txt", "100,200,\"N\"\n-400,400,\"N\"\n", SourceKind::AhaFile},
                          Case{"/d/c.txt", "10 20 30 40 50 60 70 80 90 100 110 120\n", SourceKind::CseFile},
                          Case{"/d/k.rec", "250\n10\nstart\n", SourceKind::KestraneFile},
                          Case{"/d/h.txt", "I II III aVR aVL aVF V1 V2 V3 V4 V5 V6\n", SourceKind::KestraneFile}}) {
        EXPECT_EQ(DetectRecordFile(c.path, c.head), c.kind) << c.path;
    }
}

// Worked by hand from I = 1.0, II = 0.5, V1 = 1.0: reference 1.5 x 0.33333333333, V1's
// output (1.0 + reference) x 0.592731022038923, the others reference x 0.592731022038923.
// Lead I of 7 mV is clipped to the 5 mV range first.
TEST(OutputNetwork, CarriesLeadsToOutputsAndBack) {
    const double chest = 0.499999999995 * 0.592731022038923, v1 = 1.499999999995 * 0.592731022038923;
    const std::array<double, kLeadCount> leads = {1.0, 0.5, -0.5, -0.75, 0.75, 0.0, 1.0, 0, 0, 0, 0, 0};
    const OutputVoltages outputs = OutputsFromLeads(leads, 5.0);
    const OutputVoltages expected = {1.0, 0.5, chest, chest, chest, chest, chest, v1};
    for (int c = 0; c < kOutputCount; ++c) EXPECT_NEAR(outputs[c], expected[c], 1e-12) << c;
    const std::array<double, kLeadCount> back = LeadsFromOutputs(outputs);
    for (int lead = 0; lead < kLeadCount; ++lead) EXPECT_NEAR(back[lead], leads[lead], 1e-9) << kLeadNames[lead];
    EXPECT_EQ(OutputsFromLeads({7.0}, 5.0)[0], 5.0);
}

// Reported leads all 0 mV, one frame of codes per row (12-bit, 5 mV: one step is
// 0.0025 mV): all 2049 is a common noise of one step (or one step off without noise),
// one 2050 among 2048s is two steps apart.
TEST(PlayedCheck, FindsOneCommonNoiseValueOrTheDisagreement) {
    struct Case { sim::Frame codes; bool hasNoise; double spreadMv; uint64_t framesWithNoise; };
    const sim::Frame zero = {2048, 2048, 2048, 2048, 2048, 2048, 2048, 2048};
    sim::Frame one = zero, apart = zero;
    one.fill(2049);
    apart[5] = 2050;
    for (const Case& c : {Case{zero, false, 0, 0}, Case{one, true, 0, 1}, Case{one, false, 0.0025, 1},
                          Case{apart, true, 0.005, 1}, Case{apart, false, 0.005, 1}}) {
        const std::vector<sim::Frame> frames = {c.codes};
        const PlayedCheck check = CheckPlayed({ReportedFrame{}}, DecodedRun{&frames, false, 5.0}, 1000, 1, c.hasNoise);
        EXPECT_EQ(check.compared, 1u);
        EXPECT_NEAR(check.largestSpreadMv, c.spreadMv, 1e-12) << c.codes[5] << c.hasNoise;
        EXPECT_EQ(check.framesWithNoise, c.framesWithNoise) << c.codes[5] << c.hasNoise;
        EXPECT_NEAR(check.noiseMv[0], c.hasNoise ? 0.00375 : 0, 1e-12) << "the middle of the common range, or none";
    }
    const std::vector<sim::Frame> top = {{64768, 64768, 64768, 64768, 64768, 64768, 64768, 64768}};  // 16-bit full scale
    EXPECT_EQ(CheckPlayed({ReportedFrame{}}, DecodedRun{&top, true, 5.0}, 1000, 1, true).noiseMv[0], 5.0) << "clipped: a lower bound only";
}

// Worked at 12 bits and 5 mV, where one DAC step is 0.0025 mV: a clean run passes, and
// each fault the generator counts, a wider disagreement or missing noise fails it.
TEST(DemoVerdict, FailsOnEveryFaultTheGeneratorSawAndOnAnyDisagreement) {
    using Stats = VirtualGeneratorStatistics;
    struct Case { void (*spoil)(Stats&, PlayedCheck&); const char* noise; const char* verdict; };
    const Case cases[] = {
        {[](Stats&, PlayedCheck&) {}, "", ""},
        {[](Stats&, PlayedCheck& c) { c.framesWithNoise = 1; }, "BL", ""},
        {[](Stats&, PlayedCheck&) {}, "BL", "no noise although BL was chosen"},
        {[](Stats& s, PlayedCheck&) { s.packets = 0; }, "", "nothing was played"},
        {[](Stats&, PlayedCheck& c) { c.compared = 0; }, "", "nothing was played"},
        {[](Stats& s, PlayedCheck&) { s.underruns = 1; }, "", "underruns"},
        {[](Stats& s, PlayedCheck&) { s.check.sequenceErrors = 1; }, "", "malformed"},
        {[](Stats& s, PlayedCheck&) { s.check.blockMarkerErrors = 1; }, "", "malformed"},
        {[](Stats& s, PlayedCheck&) { s.check.markerByteErrors = 1; }, "", "malformed"},
        {[](Stats& s, PlayedCheck&) { s.violations.unknownBytes = 1; }, "", "protocol violations"},
        {[](Stats& s, PlayedCheck&) { s.bytesWhileNotRaw = 1; }, "", "protocol violations"},
        {[](Stats&, PlayedCheck& c) { c.largestSpreadMv = 0.0026; }, "", "by 0.00260 mV, more than one DAC step (0.00250 mV)"},
    };
    for (const Case& c : cases) {
        Stats stats;
        stats.packets = 4;
        PlayedCheck check;
        check.compared = 1000;
        check.largestSpreadMv = 0.0025;
        c.spoil(stats, check);
        const std::string verdict = JudgeDemo(stats, check, 0.0025, c.noise);
        EXPECT_EQ(verdict.empty(), c.verdict[0] == '\0') << c.verdict << ": " << verdict;
        EXPECT_NE(verdict.find(c.verdict), std::string::npos) << c.verdict << ": " << verdict;
    }
}

// Without XDG_CACHE_HOME the converted records go under $HOME/.cache.
TEST_F(CommandTest, CachesUnderHomeWithoutACacheHome) {
    m_hasCacheHome = false;
    std::string messages;
    EXPECT_TRUE(Run({"preview", "lead.edf", "--svg", "x.svg"}, messages) == 0 && fs::exists(m_dir / ".cache/tavo/edf/lead.hea")) << messages;
}
