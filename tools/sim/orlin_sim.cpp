// SPDX-License-Identifier: MIT
// orlin-sim: a stand-in for an Orlin radio module on a pty, so the terminal can be run and
// tested without hardware. The module's decisions live in ModuleSim, TransmitterBank and
// ScriptRunner; this file only moves bytes between them, the pty, stdin and the clock.
#include "module_sim.h"
#include "script.h"
#include "transmitters.h"
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "platform/steady_ticks.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

using namespace orlinsim;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// Time left for the last answer to be read before --hangup-after closes the line.
constexpr std::uint32_t kHangupGraceMs = 50;
// How long a write waits for a full line before the rest of the block is dropped.
constexpr int kWriteStallMs = 200;

struct Options {
    std::string linkPath;
    bool verbose = false;
    bool help = false;
    ModuleConfig module;
    bool silent = false;
    AnswerShaping shaping;
    std::uint64_t hangupAfter = 0;  // 0: never
    std::string scriptPath;         // "-": stdin
    int transmitters = 0;
    TransmitterConfig transmitter;
    std::optional<std::uint32_t> seed;
};

void printUsage(std::FILE* to) {
    std::fputs(
        "usage: orlin-sim [options]\n"
        "Plays an Orlin module on a new pseudo-terminal. The first line on stdout is the\n"
        "path of the terminal side; open it in Norvale Term as the serial port.\n"
        "\n"
        "Frames are cut as the terminal sends them: 0F 5A, then a length byte counting\n"
        "the whole frame. Every complete frame gets one frame back at once:\n"
        "  - \"Read\" (MsgID 7D or 73): the 44-byte settings response, MsgID 00: channel,\n"
        "    power, the fixed record bytes, UART code, then SysID and ProID (high, low) in\n"
        "    bytes 32 to 35;\n"
        "  - anything else: an acknowledgement, MsgID 06, 15 bytes, whose payload is the\n"
        "    MsgID and sequence number of the frame answered.\n"
        "Answers carry the sender's SrcID (bytes 9-12) in bytes 5-8, or FF FF FF FF when the\n"
        "frame is too short to have one, and the module's own ID in bytes 9-12.\n"
        "Settings records 2A, 7E, 74, 20 and 21 set channel, power, UART code, SysID and\n"
        "ProID as far as each carries them; a record too short is ignored.\n"
        "\n"
        "  --link PATH         also make PATH a symlink to that terminal (an existing symlink\n"
        "                      is replaced, anything else is left alone and the sim stops)\n"
        "  --id \"ID\"           the module's device ID, four hex bytes (default \"10 00 00 01\")\n"
        "  --sysid N           initial SysID, 0 to 0xFFFF, decimal or 0x hex (default 0)\n"
        "  --proid N           initial ProID, likewise (default 0)\n"
        "  --timeout MS        a partial frame is dropped after MS ms of silence (default 100)\n"
        "  -v, --verbose       log bytes received (rx) and sent (tx) as hex lines on stderr\n"
        "  -h, --help          show this text\n"
        "\n"
        "Transmitters: key frames (MsgID 13, DstID FF FF FF FF, payload maker code, key,\n"
        "key XOR FF) as if remote controls were pressed; they go round the transmitters.\n"
        "  --transmitters N    play N transmitters (default none)\n"
        "  --tx-id \"ID\"        the first transmitter's ID; the others count up from it\n"
        "                      (default \"20 00 00 01\")\n"
        "  --maker \"CODE\"      maker code, four hex bytes (default \"83 41 00 00\")\n"
        "  --keys LIST         key numbers 0 to 255 as \"1-4\", \"1,3,5\" or mixed (default 1-4);\n"
        "                      cycled: in round r transmitter t presses entry r + t\n"
        "                      (counted round the list)\n"
        "  --random            draw the keys from LIST at random instead\n"
        "  --rate F            key frames per second, all transmitters together (default 1)\n"
        "  --count N           stop the transmitters after N frames (default: never)\n"
        "  --seed N            seed of everything random (--random, --garbage); default\n"
        "                      a fresh one, shown with -v\n"
        "\n"
        "For tests:\n"
        "  --script FILE       play FILE, one command per line: hex byte text such as\n"
        "                      \"0F 5A 0D 00 00 FF FF FF FF 01 02 03 04\" writes those bytes,\n"
        "                      \"sleep 50\" pauses 50 ms, \"#\" starts a comment; \"-\" reads the\n"
        "                      script from stdin as it comes. Answers go on unless --silent.\n"
        "  --silent            never answer (settings records are still kept)\n"
        "  --garbage N         put N random bytes in front of each answer\n"
        "  --cut               send only the first half of each answer\n"
        "  --hangup-after N    after the Nth answer, answer no more and close the line\n"
        "                      50 ms later (the terminal sees a hangup), then exit\n"
        "\n"
        "Stops on SIGINT or SIGTERM and removes its symlink. Exit status 0 on a stop or\n"
        "hangup, 1 on a failure, 2 on a bad command line or script file.\n",
        to);
}

bool bad(const std::string& option, const std::string& value, const char* expected) {
    std::fprintf(stderr, "orlin-sim: %s %s: expected %s\n", option.c_str(), value.c_str(),
                 expected);
    return false;
}

// Applies one option that takes a value; false (after saying why) when the value is bad.
bool applyValue(Options& options, const std::string& name, const std::string& value) {
    if (name == "--link") {
        options.linkPath = value;
    } else if (name == "--id" || name == "--tx-id" || name == "--maker") {
        const std::optional<DeviceId> id = parseDeviceId(value);
        if (!id) return bad(name, value, "four hex bytes such as \"01 02 03 04\"");
        if (name == "--id") options.module.id = *id;
        if (name == "--tx-id") options.transmitter.firstId = *id;
        if (name == "--maker") options.transmitter.maker = *id;
    } else if (name == "--sysid" || name == "--proid") {
        const std::optional<std::uint64_t> n = parseNumber(value, 0xFFFF);
        if (!n) return bad(name, value, "a number from 0 to 0xFFFF");
        (name == "--sysid" ? options.module.sysId : options.module.proId) =
            static_cast<std::uint16_t>(*n);
    } else if (name == "--timeout") {
        const std::optional<std::uint64_t> n = parseNumber(value, 60000);
        if (!n) return bad(name, value, "milliseconds from 0 to 60000");
        options.module.timeoutMs = static_cast<std::uint32_t>(*n);
    } else if (name == "--garbage") {
        const std::optional<std::uint64_t> n = parseNumber(value, 4096);
        if (!n) return bad(name, value, "a count from 0 to 4096");
        options.shaping.garbage = static_cast<int>(*n);
    } else if (name == "--hangup-after") {
        const std::optional<std::uint64_t> n = parseNumber(value, UINT32_MAX);
        if (!n || *n == 0) return bad(name, value, "a count of at least 1");
        options.hangupAfter = *n;
    } else if (name == "--script") {
        options.scriptPath = value;
    } else if (name == "--transmitters") {
        const std::optional<std::uint64_t> n = parseNumber(value, 65536);
        if (!n) return bad(name, value, "a count from 0 to 65536");
        options.transmitters = static_cast<int>(*n);
    } else if (name == "--keys") {
        std::optional<std::vector<std::uint8_t>> keys = parseKeyList(value);
        if (!keys) return bad(name, value, "key numbers such as \"1-4\" or \"1,3,5\"");
        options.transmitter.keys = std::move(*keys);
    } else if (name == "--rate") {
        double rate = 0;
        const char* end = value.data() + value.size();
        const auto [stop, error] = std::from_chars(value.data(), end, rate);
        if (error != std::errc() || stop != end || !(rate > 0) || rate > 100000) {
            return bad(name, value, "frames per second above 0, at most 100000");
        }
        options.transmitter.rate = rate;
    } else if (name == "--count") {
        const std::optional<std::uint64_t> n = parseNumber(value, UINT64_MAX);
        if (!n) return bad(name, value, "a count");
        options.transmitter.frames = *n;
    } else if (name == "--seed") {
        const std::optional<std::uint64_t> n = parseNumber(value, UINT32_MAX);
        if (!n) return bad(name, value, "a number from 0 to 4294967295");
        options.seed = static_cast<std::uint32_t>(*n);
    }
    return true;
}

std::optional<Options> parseOptions(int argc, char** argv) {
    static const std::vector<std::string> kWithValue = {
        "--link",    "--id",           "--sysid",  "--proid",        "--timeout",
        "--garbage", "--hangup-after", "--script", "--transmitters", "--tx-id",
        "--maker",   "--keys",         "--rate",   "--count",        "--seed"};
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        std::optional<std::string> value;
        if (const std::size_t eq = arg.find('=');
            arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
        }
        if (std::find(kWithValue.begin(), kWithValue.end(), arg) != kWithValue.end()) {
            if (!value && i + 1 < argc) value = argv[++i];
            if (!value) {
                std::fprintf(stderr, "orlin-sim: missing value after %s\n", arg.c_str());
                return std::nullopt;
            }
            if (!applyValue(options, arg, *value)) return std::nullopt;
            continue;
        }
        if (value) {
            std::fprintf(stderr, "orlin-sim: %s takes no value\n", arg.c_str());
            return std::nullopt;
        }
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--silent") {
            options.silent = true;
        } else if (arg == "--cut") {
            options.shaping.cut = true;
        } else if (arg == "--random") {
            options.transmitter.random = true;
        } else {
            std::fprintf(stderr, "orlin-sim: unknown option: %s\n", arg.c_str());
            return std::nullopt;
        }
    }
    return options;
}

void logHex(const char* direction, std::span<const std::uint8_t> bytes) {
    constexpr std::size_t kPerLine = 16;
    for (std::size_t at = 0; at < bytes.size(); at += kPerLine) {
        std::string line = direction;
        for (std::size_t i = at; i < bytes.size() && i < at + kPerLine; ++i) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02x", bytes[i]);
            line += hex;
        }
        line += '\n';
        std::fputs(line.c_str(), stderr);
    }
}

// Reports each bad line as FILE:LINE; a script file with any bad line is refused whole.
bool loadScriptFile(const std::string& path, ScriptRunner& script) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "orlin-sim: cannot read script %s: %s\n", path.c_str(),
                     std::strerror(errno));
        return false;
    }
    bool ok = true;
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        ScriptLine parsed = parseScriptLine(line);
        if (parsed.error) {
            std::fprintf(stderr, "orlin-sim: %s:%d: %s\n", path.c_str(), number,
                         parsed.error->c_str());
            ok = false;
        } else if (parsed.command) {
            script.add(std::move(*parsed.command));
        }
    }
    return ok;
}

// A symlink to the pty slave for the sim's lifetime, so scripts and saved settings can
// use a fixed name. Only a link is ever replaced or removed, never a real file.
class SlaveLink {
public:
    SlaveLink() = default;
    SlaveLink(const SlaveLink&) = delete;
    SlaveLink& operator=(const SlaveLink&) = delete;
    ~SlaveLink() { remove(); }

    bool create(const std::string& linkPath, const std::string& target) {
        struct stat info {};
        if (::lstat(linkPath.c_str(), &info) == 0) {
            if (!S_ISLNK(info.st_mode)) {
                std::fprintf(stderr,
                             "orlin-sim: %s exists and is not a symlink; not replacing it\n",
                             linkPath.c_str());
                return false;
            }
            if (::unlink(linkPath.c_str()) != 0) return report("remove old link", linkPath);
        } else if (errno != ENOENT) {
            return report("examine", linkPath);
        }
        if (::symlink(target.c_str(), linkPath.c_str()) != 0) return report("link", linkPath);
        m_path = linkPath;
        m_target = target;
        return true;
    }

    // Removes the link unless someone has since pointed it elsewhere.
    void remove() {
        if (m_path.empty()) return;
        char target[PATH_MAX];
        const ssize_t length = ::readlink(m_path.c_str(), target, sizeof target - 1);
        if (length >= 0 && std::string(target, static_cast<std::size_t>(length)) == m_target) {
            if (::unlink(m_path.c_str()) != 0) report("remove link", m_path);
        }
        m_path.clear();
    }

private:
    static bool report(const char* step, const std::string& path) {
        std::fprintf(stderr, "orlin-sim: %s %s: %s\n", step, path.c_str(), std::strerror(errno));
        return false;
    }

    std::string m_path;
    std::string m_target;
};

// SIGINT and SIGTERM as a readable descriptor, so the loop waits in one poll(2) for the
// terminal's bytes and for the request to stop.
UniqueFd stopSignals() {
    sigset_t set;
    if (::sigemptyset(&set) != 0 || ::sigaddset(&set, SIGINT) != 0 ||
        ::sigaddset(&set, SIGTERM) != 0) {
        return {};
    }
    if (::sigprocmask(SIG_BLOCK, &set, nullptr) != 0) return {};
    return UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
}

// Writes a block to the master. When nobody reads the terminal side the line fills up; a
// module's radio would drop what does not fit, and so does the sim (with a note) rather
// than stop. False only when the line itself failed.
bool writeBlock(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(put));
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return false;
        pollfd entry{fd, POLLOUT, 0};
        if (::poll(&entry, 1, kWriteStallMs) <= 0) {
            std::fprintf(stderr, "orlin-sim: line full, %zu bytes dropped\n", bytes.size());
            return true;
        }
    }
    return true;
}

// The sim's run: the pty, the signal descriptor, the optional stdin script and the three
// sources of bytes to send, all served from one poll(2) loop.
class SimProcess {
public:
    SimProcess(const Options& options, PtyPair pty, UniqueFd signals)
        : m_options(options),
          m_pty(std::move(pty)),
          m_signals(std::move(signals)),
          m_module(options.module),
          m_random(options.seed.value_or(std::random_device{}())) {}

    ScriptRunner& script() { return m_script; }
    void readScriptFromStdin() { m_stdinOpen = true; }

    int run() {
        if (m_options.transmitters > 0) {
            TransmitterConfig config = m_options.transmitter;
            config.transmitters = m_options.transmitters;
            config.seed = static_cast<std::uint32_t>(m_random());
            m_transmitters.emplace(std::move(config), m_ticks.now());
        }
        std::vector<std::uint8_t> buffer(4096);
        for (;;) {
            const std::uint32_t now = m_ticks.now();
            if (m_hangupAt && static_cast<std::int32_t>(now - *m_hangupAt) >= 0) {
                m_pty.closeMaster();
                if (m_options.verbose) std::fputs("orlin-sim: hung up\n", stderr);
                return kExitOk;
            }
            m_module.checkTimeout(now);
            for (const Bytes& block : m_script.run(now)) {
                if (!send(block)) return kExitFailure;
            }
            if (m_transmitters) {
                for (const Bytes& frame : m_transmitters->due(now)) {
                    if (!send(frame)) return kExitFailure;
                }
            }

            pollfd entries[] = {{m_signals.get(), POLLIN, 0},
                                {m_pty.masterFd(), POLLIN, 0},
                                {m_stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
            if (::poll(entries, 3, pollTimeout(now)) < 0) {
                if (errno == EINTR) continue;
                std::fprintf(stderr, "orlin-sim: poll: %s\n", std::strerror(errno));
                return kExitFailure;
            }
            if (entries[0].revents != 0) {
                if (m_options.verbose) std::fputs("orlin-sim: stopping\n", stderr);
                return kExitOk;
            }
            if (entries[2].revents != 0) readStdin();
            if ((entries[1].revents & POLLIN) == 0) {
                if (entries[1].revents == 0) continue;
                // Only a vanished line gets here: the held slave keeps hangups away.
                std::fprintf(stderr, "orlin-sim: the line failed (poll events %#x)\n",
                             static_cast<unsigned>(entries[1].revents));
                return kExitFailure;
            }
            const ssize_t got = ::read(m_pty.masterFd(), buffer.data(), buffer.size());
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (got <= 0) {
                std::fprintf(stderr, "orlin-sim: read: %s\n",
                             got == 0 ? "end of file" : std::strerror(errno));
                return kExitFailure;
            }
            const std::span<const std::uint8_t> received(buffer.data(),
                                                         static_cast<std::size_t>(got));
            if (m_options.verbose) logHex("rx", received);
            if (!answer(m_module.feed(received, m_ticks.now()))) return kExitFailure;
        }
    }

private:
    bool send(std::span<const std::uint8_t> bytes) {
        if (m_options.verbose) logHex("tx", bytes);
        if (writeBlock(m_pty.masterFd(), bytes)) return true;
        std::fprintf(stderr, "orlin-sim: write: %s\n", std::strerror(errno));
        return false;
    }

    bool answer(const std::vector<Bytes>& answers) {
        for (const Bytes& frame : answers) {
            if (m_options.silent || m_hangupAt) continue;
            if (!send(shapeAnswer(frame, m_options.shaping, m_random))) return false;
            ++m_answered;
            if (m_options.hangupAfter != 0 && m_answered >= m_options.hangupAfter) {
                m_hangupAt = m_ticks.now() + kHangupGraceMs;
            }
        }
        return true;
    }

    // Bad lines from stdin are reported and skipped: whoever writes them is still there.
    void readStdin() {
        char chunk[4096];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) return;
        std::vector<std::string> lines;
        if (got > 0) {
            lines = m_stdinLines.push(std::string_view(chunk, static_cast<std::size_t>(got)));
        } else {
            m_stdinOpen = false;
            if (std::optional<std::string> last = m_stdinLines.finish()) lines.push_back(*last);
        }
        for (const std::string& line : lines) {
            ScriptLine parsed = parseScriptLine(line);
            if (parsed.error) {
                std::fprintf(stderr, "orlin-sim: script: %s: %s\n", parsed.error->c_str(),
                             line.c_str());
            } else if (parsed.command) {
                m_script.add(std::move(*parsed.command));
            }
        }
    }

    int pollTimeout(std::uint32_t now) const {
        std::optional<std::uint32_t> wait = m_module.msUntilTimeout(now);
        const auto earliest = [&](std::optional<std::uint32_t> other) {
            if (other && (!wait || *other < *wait)) wait = other;
        };
        earliest(m_script.msUntilNext(now));
        if (m_transmitters) earliest(m_transmitters->msUntilNext(now));
        if (m_hangupAt) {
            const auto left = static_cast<std::int32_t>(*m_hangupAt - now);
            earliest(static_cast<std::uint32_t>(std::max(left, 0)));
        }
        if (!wait) return -1;
        return static_cast<int>(std::min<std::uint32_t>(*wait, INT_MAX));
    }

    const Options& m_options;
    PtyPair m_pty;
    UniqueFd m_signals;
    SteadyTicks m_ticks;
    ModuleSim m_module;
    std::mt19937 m_random;
    ScriptRunner m_script;
    LineBuffer m_stdinLines;
    bool m_stdinOpen = false;
    std::optional<TransmitterBank> m_transmitters;
    std::uint64_t m_answered = 0;
    std::optional<std::uint32_t> m_hangupAt;
};

int run(const Options& options) {
    ScriptRunner fileScript;
    if (!options.scriptPath.empty() && options.scriptPath != "-" &&
        !loadScriptFile(options.scriptPath, fileScript)) {
        return kExitUsage;
    }
    UniqueFd signals = stopSignals();
    if (!signals.valid()) {
        std::fprintf(stderr, "orlin-sim: signal setup: %s\n", std::strerror(errno));
        return kExitFailure;
    }
    std::string error;
    std::optional<PtyPair> pty = PtyPair::create(&error);
    // The terminal closes and reopens the port; without a slave descriptor of our own the
    // master would see a hangup at every close.
    if (!pty || !pty->holdSlave(&error)) {
        std::fprintf(stderr, "orlin-sim: %s\n", error.c_str());
        return kExitFailure;
    }
    SlaveLink link;
    if (!options.linkPath.empty() && !link.create(options.linkPath, pty->slavePath())) {
        return kExitFailure;
    }
    if (std::printf("%s\n", pty->slavePath().c_str()) < 0 || std::fflush(stdout) != 0) {
        return kExitFailure;
    }

    Options effective = options;
    if (!effective.seed) effective.seed = std::random_device{}();
    if (options.verbose) std::fprintf(stderr, "orlin-sim: seed %u\n", *effective.seed);
    SimProcess sim(effective, std::move(*pty), std::move(signals));
    sim.script() = std::move(fileScript);
    if (options.scriptPath == "-") sim.readScriptFromStdin();
    return sim.run();
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        std::fputs("orlin-sim: see orlin-sim --help\n", stderr);
        return kExitUsage;
    }
    if (options->help) {
        printUsage(stdout);
        return kExitOk;
    }
    return run(*options);
}
