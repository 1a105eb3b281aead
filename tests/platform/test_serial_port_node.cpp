// SPDX-License-Identifier: MIT
// Which nodes the port may open: the rules on a made-up device table, then the real ones,
// which must be refused before anything opens them.
#include "platform/linux_serial_device.h"
#include "platform/pty_pair.h"
#include "platform/serial_port_node.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace {

struct FakeDevice {
    std::string subsystem;
    bool driver = false;
};

class FakeCharDevices final : public CharDeviceInfo {
public:
    std::map<std::pair<unsigned, unsigned>, FakeDevice> table;
    std::pair<unsigned, unsigned> console{0, 0};
    std::map<std::pair<unsigned, unsigned>, TtyHolder> holders;

    [[nodiscard]] std::optional<std::string> subsystem(unsigned major,
                                                       unsigned minor) const override {
        const auto it = table.find({major, minor});
        if (it == table.end()) return std::nullopt;
        return it->second.subsystem;
    }
    [[nodiscard]] bool hasDriver(unsigned major, unsigned minor) const override {
        const auto it = table.find({major, minor});
        return it != table.end() && it->second.driver;
    }
    [[nodiscard]] bool isActiveConsole(unsigned major, unsigned minor) const override {
        return console == std::pair{major, minor};
    }
    [[nodiscard]] std::optional<TtyHolder> controllingProcess(unsigned major,
                                                              unsigned minor) const override {
        const auto it = holders.find({major, minor});
        if (it == holders.end()) return std::nullopt;
        return it->second;
    }
};

struct stat nodeOf(mode_t type, unsigned major, unsigned minor) {
    struct stat st {};
    st.st_mode = type | 0660;
    st.st_rdev = makedev(major, minor);
    return st;
}

TEST(SerialPortNode, OnlySerialPortsAndPtySlavesPass) {
    FakeCharDevices devices;
    // Console ttys listed as if hardware stood behind them: their numbers refuse them anyway.
    for (unsigned minor : {0u, 1u, 63u}) devices.table[{4, minor}] = {"tty", true};
    for (unsigned minor : {0u, 1u, 2u}) devices.table[{5, minor}] = {"tty", true};
    devices.table[{4, 64}] = {"tty", true};     // ttyS0
    devices.table[{188, 0}] = {"tty", true};    // ttyUSB0
    devices.table[{5, 3}] = {"tty", false};     // ttyprintk
    devices.table[{10, 130}] = {"misc", true};  // watchdog
    devices.table[{1, 3}] = {"mem", false};     // null
    devices.table[{7, 0}] = {"vc", false};      // vcs
    devices.table[{4, 65}] = {"tty", true};     // ttyS1, the kernel's console
    devices.console = {4, 65};
    devices.holders[{136, 5}] = {812, "bash"};
    devices.holders[{4, 66}] = {90, "agetty"};

    struct Case {
        const char* what;
        struct stat node;
        const char* refusal;  // nullptr: may be opened
    };
    const std::vector<Case> cases{
        {"ttyS0", nodeOf(S_IFCHR, 4, 64), nullptr},
        {"ttyUSB0", nodeOf(S_IFCHR, 188, 0), nullptr},
        {"ttyUSB1, no sysfs entry", nodeOf(S_IFCHR, 188, 1), nullptr},
        {"ttyACM0, no sysfs entry", nodeOf(S_IFCHR, 166, 0), nullptr},
        {"pts/3", nodeOf(S_IFCHR, 136, 3), nullptr},
        {"pts/1023 of the last major", nodeOf(S_IFCHR, 143, 1023), nullptr},
        {"ttyS1, the console", nodeOf(S_IFCHR, 4, 65), "the active system console"},
        {"pts/5, a shell's", nodeOf(S_IFCHR, 136, 5),
         "the controlling terminal of process 812 (bash)"},
        {"ttyS2, a login line", nodeOf(S_IFCHR, 4, 66),
         "the controlling terminal of process 90 (agetty)"},
        {"tty0", nodeOf(S_IFCHR, 4, 0), "a virtual console"},
        {"tty63", nodeOf(S_IFCHR, 4, 63), "a virtual console"},
        {"tty", nodeOf(S_IFCHR, 5, 0), "the controlling terminal"},
        {"console", nodeOf(S_IFCHR, 5, 1), "the system console"},
        {"ptmx", nodeOf(S_IFCHR, 5, 2), "the pty multiplexer"},
        {"ttyprintk", nodeOf(S_IFCHR, 5, 3), "a tty without serial hardware"},
        {"watchdog", nodeOf(S_IFCHR, 10, 130), "a device of class misc"},
        {"null", nodeOf(S_IFCHR, 1, 3), "a device of class mem"},
        {"vcs", nodeOf(S_IFCHR, 7, 0), "a device of class vc"},
        {"unknown major", nodeOf(S_IFCHR, 250, 0), "a device of no serial driver"},
        {"block device", nodeOf(S_IFBLK, 4, 64), "not a character device"},
        {"fifo", nodeOf(S_IFIFO, 0, 0), "not a character device"},
        {"regular file", nodeOf(S_IFREG, 0, 0), "not a character device"},
    };
    for (const Case& c : cases) {
        const std::optional<std::string> why = whyNotASerialPort(c.node, devices);
        if (c.refusal == nullptr) {
            EXPECT_FALSE(why) << c.what << ": " << why.value_or("");
        } else {
            EXPECT_EQ(why.value_or("(passed)"), c.refusal) << c.what;
        }
    }
}

class SerialPortNodeOnDisk : public ::testing::Test {
protected:
    void SetUp() override {
        char dir[] = "/tmp/norvale-nodes-XXXXXX";
        ASSERT_NE(::mkdtemp(dir), nullptr);
        m_dir = dir;
    }
    void TearDown() override {
        for (const std::string& p : m_made) ::unlink(p.c_str());
        ::rmdir(m_dir.c_str());
    }
    std::string path(const char* name) {
        m_made.push_back(m_dir + "/" + name);
        return m_made.back();
    }

    std::string m_dir;
    std::vector<std::string> m_made;
    LinuxSerialDevice m_device;
    const LineParams m_plain{38400, 8, Parity::None, 1};
};

TEST_F(SerialPortNodeOnDisk, NonSerialDevicesAreRefusedWithoutBeingOpened) {
    for (const char* dev : {"/dev/null", "/dev/zero", "/dev/tty", "/dev/ptmx"}) {
        struct stat st {};
        if (::stat(dev, &st) != 0) continue;
        const SerialError error = m_device.open(dev, m_plain);
        EXPECT_EQ(error.kind, SerialErrorKind::NotATty) << dev << ": " << error.message;
        EXPECT_EQ(error.message.rfind("シリアルポートではありません (" + std::string(dev) +
                                          " is not a serial port",
                                      0),
                  0u)
            << error.message;
        EXPECT_FALSE(m_device.isOpen());
    }

    // inotify sees every open of a node; private nodes keep other programs' opens out.
    std::vector<std::string> nodes;
    nodes.push_back(path("fifo"));
    ASSERT_EQ(::mkfifo(nodes.back().c_str(), 0600), 0) << std::strerror(errno);
    // Only root may make the null device's twin.
    const std::string null = path("null");
    if (::mknod(null.c_str(), S_IFCHR | 0600, makedev(1, 3)) == 0) nodes.push_back(null);
    const std::string link = path("link-to-fifo");
    ASSERT_EQ(::symlink(nodes.front().c_str(), link.c_str()), 0);
    UniqueFd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(watch.valid());
    for (const std::string& node : nodes)
        ASSERT_GE(::inotify_add_watch(watch.get(), node.c_str(), IN_OPEN), 0);
    char events[4096];
    for (const std::string& node : nodes) {
        EXPECT_EQ(m_device.open(node, m_plain).kind, SerialErrorKind::NotATty) << node;
    }
    EXPECT_EQ(m_device.open(link, m_plain).kind, SerialErrorKind::NotATty);
    EXPECT_EQ(::read(watch.get(), events, sizeof events), -1) << "a refused node was opened";
    // The watch does see an open.
    UniqueFd own(::open(nodes.front().c_str(), O_RDWR | O_NONBLOCK));
    EXPECT_GT(::read(watch.get(), events, sizeof events), 0);
}

TEST_F(SerialPortNodeOnDisk, PtySlaveAndALinkToItOpen) {
    std::string error;
    std::optional<PtyPair> pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    const std::string link = path("port");
    ASSERT_EQ(::symlink(pty->slavePath().c_str(), link.c_str()), 0);
    for (const std::string& name : {pty->slavePath(), link}) {
        const SerialError opened = m_device.open(name, m_plain);
        EXPECT_FALSE(opened) << name << ": " << opened.message;
        EXPECT_TRUE(m_device.isOpen());
        m_device.close();
    }
}

// The console and the controlling terminals as the kernel lists them, read from a made-up
// tree: several consoles, a command with spaces and parentheses, a minor above 255, and the
// session leader named before a member of its session.
TEST(SerialPortNode, ConsoleAndControllingTerminalsAreReadFromSysAndProc) {
    namespace fs = std::filesystem;
    char dir[] = "/tmp/norvale-root-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const fs::path root = dir;
    const auto put = [&](const char* file, const std::string& text) {
        fs::create_directories((root / file).parent_path());
        std::ofstream(root / file) << text << '\n';
    };
    const auto statOf = [](const char* comm, int session, dev_t ttyNr) {
        return " (" + std::string(comm) + ") S 1 7 " + std::to_string(session) + ' ' +
               std::to_string(ttyNr) + " -1 4194560 0 0";
    };
    put("sys/class/tty/console/active", "tty0 ttyS0");
    put("sys/class/tty/ttyS0/dev", "4:64");
    put("sys/class/tty/tty0/dev", "4:0");
    put("proc/1/stat", "1" + statOf("init", 1, 0));
    put("proc/300/stat", "300" + statOf("sh", 299, makedev(136, 5)));
    put("proc/299/stat", "299" + statOf("my (odd) sh", 299, makedev(136, 5)));
    put("proc/400/stat", "400" + statOf("x", 400, makedev(136, 300)));
    put("proc/self/stat", "400" + statOf("x", 400, makedev(136, 6)));
    const SysfsCharDeviceInfo devices(root.string());

    const struct {
        const char* what;
        unsigned major, minor;
        const char* refusal;
    } cases[] = {
        {"ttyS0", 4, 64, "the active system console"},
        {"ttyS1", 4, 65, nullptr},
        {"pts/5", 136, 5, "the controlling terminal of process 299 (my (odd) sh)"},
        {"pts/300", 136, 300, "the controlling terminal of process 400 (x)"},
        {"pts/6", 136, 6, nullptr},
    };
    for (const auto& c : cases) {
        const std::optional<std::string> why =
            whyNotASerialPort(nodeOf(S_IFCHR, c.major, c.minor), devices);
        EXPECT_EQ(why.value_or("(passed)"), c.refusal ? c.refusal : "(passed)") << c.what;
    }
    fs::remove_all(root);
}

TEST(SerialPortNode, TheRealKernelConsoleIsRefused) {
    std::ifstream active("/sys/class/tty/console/active");
    std::string name;
    int checked = 0;
    const SysfsCharDeviceInfo kernel;
    while (active >> name) {
        struct stat node {};
        if (::stat(("/dev/" + name).c_str(), &node) != 0) continue;
        EXPECT_TRUE(whyNotASerialPort(node, kernel)) << "/dev/" << name << " would be opened";
        ++checked;
    }
    if (checked == 0) GTEST_SKIP() << "no console device under /dev";
}

// A pty that a session has taken as its terminal, as a shell's window has, is refused and
// its holder named; once the holder is gone the pty opens.
TEST_F(SerialPortNodeOnDisk, APtyThatIsSomeonesTerminalIsRefused) {
    std::string error;
    std::optional<PtyPair> pty = PtyPair::create(&error);
    ASSERT_TRUE(pty) << error;
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::prctl(PR_SET_NAME, "ctty-holder");
        const int fd = ::setsid() < 0 ? -1 : ::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY);
        const char ok = fd >= 0 && ::ioctl(fd, TIOCSCTTY, 0) == 0 ? '1' : '0';
        [[maybe_unused]] const ssize_t n = ::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    EXPECT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(ok, '1');

    const SerialError refused = m_device.open(pty->slavePath(), m_plain);
    EXPECT_EQ(refused.kind, SerialErrorKind::NotATty);
    EXPECT_NE(refused.message.find("the controlling terminal of process " + std::to_string(child) +
                                   " (ctty-holder)"),
              std::string::npos)
        << refused.message;
    EXPECT_FALSE(m_device.isOpen());

    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const SerialError opened = m_device.open(pty->slavePath(), m_plain);
    EXPECT_FALSE(opened) << opened.message;
}

}  // namespace
