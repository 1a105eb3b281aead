// orlin-sim: a stand-in for an Orlin radio module on a pty, so the terminal can be run and
// tested without hardware. For now it takes whatever the terminal sends and answers
// nothing; ModuleSim::feed() is where answers will come from.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

struct Options {
    std::string linkPath;
    bool verbose = false;
    bool help = false;
};

void printUsage(std::FILE* to) {
    std::fputs(
        "usage: orlin-sim [options]\n"
        "Plays an Orlin module on a new pseudo-terminal. The first line on stdout is the\n"
        "path of the terminal side; open it in Norvale Term as the serial port.\n"
        "\n"
        "  --link PATH    also make PATH a symlink to that terminal (an existing symlink\n"
        "                 is replaced, anything else is left alone and the sim stops)\n"
        "  -v, --verbose  log the bytes received as hex lines on stderr\n"
        "  -h, --help     show this text\n"
        "\n"
        "Stops on SIGINT or SIGTERM and removes its symlink.\n",
        to);
}

std::optional<Options> parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            options.help = true;
        } else if (arg == "-v" || arg == "--verbose") {
            options.verbose = true;
        } else if (arg == "--link" && i + 1 < argc) {
            options.linkPath = argv[++i];
        } else if (arg.rfind("--link=", 0) == 0 && arg.size() > 7) {
            options.linkPath = arg.substr(7);
        } else {
            std::fprintf(stderr, "orlin-sim: %s: %s\n",
                         arg == "--link" ? "missing path after" : "unknown option", arg.c_str());
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

// What the module does with bytes from the terminal. It answers nothing yet; frame
// parsing and answers belong here, kept apart from the pty and signal plumbing.
class ModuleSim {
public:
    explicit ModuleSim(bool verbose) : m_verbose(verbose) {}

    // Takes bytes as they arrived (frames may be split or joined arbitrarily) and returns
    // the bytes to send back.
    std::vector<std::uint8_t> feed(std::span<const std::uint8_t> bytes) {
        if (m_verbose) logHex("rx", bytes);
        return {};
    }

private:
    bool m_verbose;
};

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

bool writeAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(put));
            continue;
        }
        if (put < 0 && errno == EINTR) continue;
        if (put < 0 && errno != EAGAIN) return false;
        pollfd entry{fd, POLLOUT, 0};
        if (::poll(&entry, 1, 2000) <= 0) return false;
    }
    return true;
}

int run(const Options& options) {
    const UniqueFd signals = stopSignals();
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

    ModuleSim module(options.verbose);
    std::vector<std::uint8_t> buffer(4096);
    for (;;) {
        pollfd entries[] = {{signals.get(), POLLIN, 0}, {pty->masterFd(), POLLIN, 0}};
        if (::poll(entries, 2, -1) < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "orlin-sim: poll: %s\n", std::strerror(errno));
            return kExitFailure;
        }
        if (entries[0].revents != 0) {
            if (options.verbose) std::fputs("orlin-sim: stopping\n", stderr);
            return kExitOk;
        }
        if ((entries[1].revents & POLLIN) == 0) continue;
        const ssize_t got = ::read(pty->masterFd(), buffer.data(), buffer.size());
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        if (got <= 0) {
            std::fprintf(stderr, "orlin-sim: read: %s\n",
                         got == 0 ? "end of file" : std::strerror(errno));
            return kExitFailure;
        }
        const std::vector<std::uint8_t> answer =
            module.feed(std::span(buffer.data(), static_cast<std::size_t>(got)));
        if (!answer.empty() && !writeAll(pty->masterFd(), answer)) {
            std::fprintf(stderr, "orlin-sim: write: %s\n", std::strerror(errno));
            return kExitFailure;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = parseOptions(argc, argv);
    if (!options) {
        printUsage(stderr);
        return kExitUsage;
    }
    if (options->help) {
        printUsage(stdout);
        return kExitOk;
    }
    return run(*options);
}
