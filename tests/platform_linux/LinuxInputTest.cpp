#include <fcntl.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "devices/InputBlocker.h"
#include "foundation/FileIO.h"
#include "platform/linux/LinuxInputAccess.h"
#include "platform/linux/LinuxInputBlocking.h"
#include "platform/sim/SimProcesses.h"
#include "support/OrvelTest.h"

namespace orvel {
namespace {

namespace fs = std::filesystem;
const std::string kFixtures = std::string(ORVEL_TEST_DATA) + "/input/";

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

class LinuxInputTest : public test::OrvelTest {
  protected:
    // A writable copy of a machine's tree.
    LinuxInputRoots machine(const std::string& name) {
        const fs::path copy = fs::path(scratch()) / name;
        fs::copy(kFixtures + name, copy,
                 fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        return {(copy / "sys").string(), (copy / "udev").string(), (copy / "dev").string(),
                (copy / "rules.d").string()};
    }

    static std::vector<std::string> names(const std::vector<HidDevice>& devices, bool internal,
                                          HidUsage usage) {
        std::vector<std::string> found;
        for (const auto& d : devices) {
            if (InputBlocker::isInternal(d) == internal && d.conformsTo(usage)) {
                found.push_back(InputBlocker::productName(d));
            }
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    bool logged(const std::string& part) {
        const auto messages = sim().log().messages("input");
        return std::any_of(messages.begin(), messages.end(), [&part](const std::string& m) {
            return m.find(part) != std::string::npos;
        });
    }
};

TEST_F(LinuxInputTest, TellsBuiltInDevicesFromExternalOnesOnEachMachine) {
    using Names = std::vector<std::string>;
    struct Case {
        const char* machine;
        Names builtInKeyboards;
        Names builtInPointing;  // touch pads, mice and pointing sticks
        Names externalKeyboards;
        Names externalPointing;
    };
    const Case cases[] = {
        {"thinkpad",
         {"AT Translated Set 2 keyboard"},
         {"SynPS/2 Synaptics TouchPad", "TPPS/2 IBM TrackPoint"},
         {},
         {"Logitech USB Optical Mouse"}},
        {"macbook",
         {"Apple Inc. Apple Internal Keyboard / Trackpad", "Apple SPI Keyboard"},
         {"Apple SPI Trackpad"},
         {},
         {}},
        {"desktop", {}, {}, {"Dell KB216 Wired Keyboard"}, {"MX Master 3 Mouse"}},
        {"remapper", {"AT Translated Set 2 keyboard"}, {}, {"keyd virtual keyboard"}, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.machine);
        LinuxHidDevices hid(machine(c.machine));
        const auto devices = hid.attachedDevices();
        auto pointing = [&](bool internal) {
            Names all;
            for (auto usage : {hid_usage::kTouchPad, hid_usage::kMouse, hid_usage::kPointer}) {
                for (auto& n : names(devices, internal, usage)) {
                    if (std::find(all.begin(), all.end(), n) == all.end()) {
                        all.push_back(n);
                    }
                }
            }
            std::sort(all.begin(), all.end());
            return all;
        };
        EXPECT_EQ(names(devices, true, hid_usage::kKeyboard), c.builtInKeyboards);
        EXPECT_EQ(pointing(true), c.builtInPointing);
        EXPECT_EQ(names(devices, false, hid_usage::kKeyboard), c.externalKeyboards);
        EXPECT_EQ(pointing(false), c.externalPointing);
    }
}

TEST_F(LinuxInputTest, DescribesDevicesByKernelNameBusAndVendor) {
    LinuxHidDevices hid(machine("thinkpad"));
    std::vector<std::string> lines;
    for (const auto& d : hid.attachedDevices()) {
        lines.push_back(InputBlocker::deviceDescription(d));
    }
    for (const char* line : {
             "AT Translated Set 2 keyboard \u00b7 i8042 \u00b7 BuiltIn yes \u00b7 vendor 0x0001",
             "Logitech USB Optical Mouse \u00b7 USB \u00b7 BuiltIn no \u00b7 vendor 0x046D",
             "Wacom HID 508E Finger \u00b7 I2C \u00b7 BuiltIn yes \u00b7 vendor 0x056A",
         }) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
    }
}

TEST_F(LinuxInputTest, KeepsIdsWhileAttachedAndGivesAReplugANewOne) {
    const auto roots = machine("desktop");
    LinuxHidDevices hid(roots);
    auto idOf = [&hid](const std::string& product) {
        for (const auto& d : hid.attachedDevices()) {
            if (d.product == product) {
                return d.id;
            }
        }
        return std::uint64_t{0};
    };
    const auto first = idOf("Dell KB216 Wired Keyboard");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(idOf("Dell KB216 Wired Keyboard"), first);
    // Unplugged and plugged again: the kernel names a new input device.
    const fs::path link = fs::path(roots.sys) / "class/input/event1";
    const fs::path target = fs::read_symlink(link);
    fs::remove(link);
    EXPECT_EQ(idOf("Dell KB216 Wired Keyboard"), 0u);
    const fs::path oldInput = (link.parent_path() / target).parent_path();
    const fs::path newInput = oldInput.parent_path() / "input31";
    fs::rename(oldInput, newInput);
    fs::create_directory_symlink(fs::relative(newInput / "event1", link.parent_path()), link);
    const auto again = idOf("Dell KB216 Wired Keyboard");
    EXPECT_NE(again, 0u);
    EXPECT_NE(again, first);
}

TEST_F(LinuxInputTest, SaysWhenAnEventNodeComesOrGoes) {
    const auto roots = machine("desktop");
    LinuxHidDevices hid(roots);
    int changes = 0;
    Subscription s = hid.devicesChanged.subscribe([&] { ++changes; });
    auto waitForChange = [&](int count) {
        const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (changes < count && std::chrono::steady_clock::now() < limit) {
            loop().drain();
        }
        return changes >= count;
    };
    std::ofstream(roots.dev + "/input/event9");
    EXPECT_TRUE(waitForChange(1));
    fs::remove(roots.dev + "/input/event9");
    EXPECT_TRUE(waitForChange(2));
}

TEST_F(LinuxInputTest, PermissionsAreUndecidedUntilTheRuleIsInstalled) {
    auto roots = machine("thinkpad");
    fs::create_directories(roots.udevRules);
    LinuxHidDevices hid(roots);
    SimProcesses processes;
    const std::string installer = scratch() + "/orvel-input-access";
    processes.setExecutable("/usr/bin/pkexec", true);
    processes.setExecutable(installer, true);
    LinuxPermissions permissions(hid, processes, installer, "/usr/share/orvel/input-access.html");

    // Fixture nodes are readable files, so only the request side is decided by the rule here.
    if (::geteuid() != 0) {
        for (const auto& entry : fs::directory_iterator(roots.dev + "/input")) {
            fs::permissions(entry.path(), fs::perms::none);
        }
        EXPECT_FALSE(permissions.preflightListenEvent());
        EXPECT_EQ(permissions.checkListenEventAccess(), ListenEventAccess::undecided);
        permissions.requestListenEventAccess();
        ASSERT_EQ(processes.children().size(), 1u);
        EXPECT_EQ(processes.children()[0]->request().executable, "/usr/bin/pkexec");
        EXPECT_EQ(processes.children()[0]->request().arguments,
                  std::vector<std::string>{installer});
        EXPECT_EQ(permissions.checkListenEventAccess(), ListenEventAccess::denied)
            << "asked once: the next answer is the user's";
    } else {
        EXPECT_TRUE(permissions.preflightListenEvent()) << "root reads every node";
        EXPECT_TRUE(permissions.isAccessibilityTrusted());
    }
    EXPECT_EQ(permissions.settingsURL(false), "file:///usr/share/orvel/input-access.html");
}

TEST_F(LinuxInputTest, ClearingGrantsRemovesTheRuleOnlyWhileItIsInstalled) {
    auto roots = machine("thinkpad");
    fs::create_directories(roots.udevRules);
    LinuxHidDevices hid(roots);
    SimProcesses processes;
    const std::string installer = scratch() + "/orvel-input-access";
    LinuxPermissions permissions(hid, processes, installer, "/usr/share/orvel/input-access.html");
    EXPECT_FALSE(permissions.grantClearingCommand().has_value());
    std::ofstream(roots.udevRules + "/" + LinuxPermissions::kRuleName) << "# rule\n";
    const auto command = permissions.grantClearingCommand();
    ASSERT_TRUE(command.has_value());
    EXPECT_EQ(command->executable, "/usr/bin/pkexec");
    EXPECT_EQ(command->arguments, (std::vector<std::string>{installer, "--remove"}));
}

TEST_F(LinuxInputTest, InhibitsReleasesAndRecoversAfterACrash) {
    const auto roots = machine("macbook");
    LinuxHidDevices hid(roots);
    const std::string runtime = scratch() + "/run/orvel";
    LinuxInputBlocking blocking(hid, runtime);
    std::vector<HidDevice> keyboards;
    for (const auto& d : hid.attachedDevices()) {
        if (d.product == "Apple SPI Keyboard") {
            keyboards.push_back(d);
        }
    }
    ASSERT_EQ(keyboards.size(), 1u);
    const std::string inhibited = roots.sys +
                                  "/devices/pci0000:00/0000:00:1e.3/pxa2xx-spi.3/spi_master/spi2/"
                                  "spi-APP000D:00/input/input0/inhibited";
    const std::string canonicalInhibited = fs::canonical(inhibited).string();

    {
        auto held = blocking.silence(keyboards);
        ASSERT_TRUE(held.hold);
        EXPECT_EQ(held.held, std::vector<std::uint64_t>{keyboards[0].id});
        EXPECT_EQ(readText(inhibited), "1");
        EXPECT_EQ(readText(blocking.recordPath()), canonicalInhibited);
        EXPECT_EQ(fs::status(runtime).permissions(), fs::perms::owner_all);
    }
    EXPECT_EQ(readText(inhibited), "0");
    EXPECT_FALSE(fs::exists(blocking.recordPath())) << "struck off after release";

    // A run killed while blocking leaves the device off and its record behind.
    const pid_t child = ::fork();
    if (child == 0) {
        auto held = blocking.silence(keyboards);
        ::_exit(held.hold ? 0 : 1);  // no destructor runs: as SIGKILL would leave it
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(readText(inhibited), "1");

    LinuxInputBlocking nextStart(hid, runtime);
    nextStart.releaseRecorded();
    EXPECT_EQ(readText(inhibited), "0");
    EXPECT_FALSE(fs::exists(nextStart.recordPath()));
}

// What a planted record line names must stay as it was; the lines that name an input device's
// `inhibited` attribute are still given back.
TEST_F(LinuxInputTest, AtStartOnlyInhibitedAttributesOfInputDevicesAreSwitchedBackOn) {
    const auto roots = machine("macbook");
    LinuxHidDevices hid(roots);
    const fs::path devices = fs::path(roots.sys) / "devices";
    const fs::path keyboard =
        devices /
        "pci0000:00/0000:00:1e.3/pxa2xx-spi.3/spi_master/spi2/spi-APP000D:00/input/input0";
    const fs::path planted = devices / "platform/planted/input";
    const fs::path home = fs::path(scratch()) / "home";
    fs::create_directories(planted);
    fs::create_directories(home / "fake");
    std::ofstream(home / "victim.txt") << "secret\n";
    std::ofstream(home / "fake/inhibited") << "1\n";
    std::ofstream(devices / "platform/inhibited") << "1\n";
    fs::create_directories(planted / "input7");
    fs::create_symlink(home / "victim.txt", planted / "input7/inhibited");
    fs::create_directory_symlink(home / "fake", planted / "input8");
    fs::create_directories(planted / "input9");
    ASSERT_EQ(::mkfifo((planted / "input9/inhibited").c_str(), 0600), 0);
    // A reader keeps a write to the FIFO from waiting, so what reaches it can be read.
    UniqueFd fifo(
        ::open((planted / "input9/inhibited").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_TRUE(fifo);
    auto fromFifo = [&fifo] {
        char buffer[16];
        const ssize_t n = ::read(fifo.get(), buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
    };
    fs::create_directories(planted / "input11");
    std::ofstream(planted / "input11/inhibited") << "1\n";
    fs::create_directories(planted / "input10");
    const bool deviceNode = ::mknod((planted / "input10/inhibited").c_str(), S_IFCHR | 0600,
                                    ::makedev(1, 3)) == 0;  // /dev/null's numbers

    struct Case {
        const char* name;
        std::string line;
        std::function<std::string()> afterwards;  // what the line names, read back
        std::string unchanged;
    };
    auto text = [](fs::path path) { return [path] { return readText(path.string()); }; };
    const Case cases[] = {
        {"another user's file", (home / "victim.txt").string(), text(home / "victim.txt"),
         "secret"},
        {"a climb out of the tree", (devices / "../../../home/victim.txt").string(),
         text(home / "victim.txt"), "secret"},
        {"a link as the attribute", (planted / "input7/inhibited").string(),
         text(home / "victim.txt"), "secret"},
        {"a linked input device", (planted / "input8/inhibited").string(),
         text(home / "fake/inhibited"), "1"},
        {"another attribute of a device", (keyboard / "name").string(), text(keyboard / "name"),
         "Apple SPI Keyboard"},
        {"an inhibited outside an input device", (devices / "platform/inhibited").string(),
         text(devices / "platform/inhibited"), "1"},
        {"a relative path",
         fs::relative(planted / "input11/inhibited", fs::current_path()).string(),
         text(planted / "input11/inhibited"), "1"},
        {"a relative path to nothing", "devices/input/input3/inhibited",
         [] { return std::string(); }, ""},
        {"a FIFO", (planted / "input9/inhibited").string(), fromFifo, ""},
        {"a device node", deviceNode ? (planted / "input10/inhibited").string() : "",
         [] { return std::string(); }, ""},
    };
    const std::string runtime = scratch() + "/run/orvel";
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    for (const auto& c : cases) {
        if (c.line.empty()) {
            continue;  // no device node can be made here
        }
        SCOPED_TRACE(c.name);
        sim().log().clear();
        LinuxInputBlocking blocking(hid, runtime);
        std::ofstream(keyboard / "inhibited") << "1\n";
        std::ofstream(blocking.recordPath())
            << c.line << "\n"
            << fs::canonical(keyboard / "inhibited").string() << "\n";

        blocking.releaseRecorded();
        EXPECT_EQ(c.afterwards(), c.unchanged);
        EXPECT_EQ(readText((keyboard / "inhibited").string()), "0") << "the real line still counts";
        EXPECT_FALSE(fs::exists(blocking.recordPath())) << "a refused line is not kept";
        EXPECT_TRUE(logged("\"" + c.line + "\"")) << "the refusal names the line";
    }
}

TEST_F(LinuxInputTest, AFifoInTheRecordDoesNotHoldUpTheStart) {
    const auto roots = machine("macbook");
    LinuxHidDevices hid(roots);
    const fs::path fifo = fs::path(roots.sys) / "devices/platform/planted/input/input9/inhibited";
    fs::create_directories(fifo.parent_path());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string runtime = scratch() + "/run/orvel";
    LinuxInputBlocking blocking(hid, runtime);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all);
    std::ofstream(blocking.recordPath()) << fifo.string() << "\n";

    // In a child of its own: a start that waits on the FIFO is ended by the alarm.
    const pid_t child = ::fork();
    if (child == 0) {
        ::alarm(20);
        blocking.releaseRecorded();
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "the start still waited after 20 s (status " << status << ")";
}

// Another user's folder, one open to others, or a link: the record there is neither believed nor
// written, and devices are not switched off through their attribute.
TEST_F(LinuxInputTest, ARuntimeFolderNotTheUsersAloneIsNeitherReadNorWritten) {
    const auto roots = machine("macbook");
    LinuxHidDevices hid(roots);
    const fs::path inhibited = fs::path(roots.sys) /
                               "devices/pci0000:00/0000:00:1e.3/pxa2xx-spi.3/spi_master/spi2/"
                               "spi-APP000D:00/input/input0/inhibited";
    std::vector<HidDevice> keyboards;
    for (const auto& d : hid.attachedDevices()) {
        if (d.product == "Apple SPI Keyboard") {
            keyboards.push_back(d);
        }
    }
    ASSERT_EQ(keyboards.size(), 1u);
    struct Case {
        const char* name;
        fs::perms mode;
        uid_t owner;
        bool linked;
    };
    const Case cases[] = {
        {"open to others", fs::perms(0755), ::geteuid(), false},
        {"writable by all", fs::perms(0777), ::geteuid(), false},
        {"another user's", fs::perms::owner_all, ::geteuid() + 1, false},
        {"a link to a private folder", fs::perms::owner_all, ::geteuid(), true},
    };
    int n = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        sim().log().clear();
        const fs::path folder = fs::path(scratch()) / ("run" + std::to_string(++n));
        fs::create_directories(folder);
        fs::permissions(folder, c.mode);
        fs::path runtime = folder;
        if (c.linked) {
            runtime = folder.string() + "-link";
            fs::create_directory_symlink(folder, runtime);
        }
        LinuxInputBlocking blocking(hid, runtime.string(), c.owner);
        const std::string planted = fs::canonical(inhibited).string() + "\n";
        std::ofstream(blocking.recordPath()) << planted;
        std::ofstream(inhibited) << "1\n";

        blocking.releaseRecorded();
        EXPECT_EQ(readText(inhibited.string()), "1") << "the record was believed";

        std::ofstream(inhibited) << "0\n";
        auto held = blocking.silence(keyboards);
        EXPECT_EQ(readText(inhibited.string()), "0") << "switched off without a safe record";
        std::ifstream record(blocking.recordPath());
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(record), {}), planted)
            << "the record was written";
        EXPECT_TRUE(logged(runtime.string())) << "the refusal names the folder";
    }
}

TEST_F(LinuxInputTest, TheDrainThreadEmptiesEveryDescriptorItWasGiven) {
    int pairs[2][2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pairs[0]), 0);
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pairs[1]), 0);
    UniqueFd writers[2] = {UniqueFd(pairs[0][1]), UniqueFd(pairs[1][1])};
    std::vector<UniqueFd> readers;
    readers.emplace_back(pairs[0][0]);
    readers.emplace_back(pairs[1][0]);
    InputDrainThread drain(std::move(readers));
    const std::string event(sizeof(input_event), 'x');
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(::write(writers[i % 2].get(), event.data(), event.size()),
                  static_cast<ssize_t>(event.size()));
    }
    writers[1].reset();  // a device unplugged while grabbed
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (drain.drainedBytes() < 10 * event.size() && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    EXPECT_EQ(drain.drainedBytes(), 10 * event.size());
}

// Needs the kernel's uinput: a device of our own, grabbed through its real event node.
TEST_F(LinuxInputTest, GrabsTheEventNodeWhereInhibitedCannotBeWritten) {
    UniqueFd uinput(::open("/dev/uinput", O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    if (!uinput) {
        GTEST_SKIP() << "no /dev/uinput here (" << std::strerror(errno)
                     << "): the grab is not tried on a real device";
    }
    ASSERT_EQ(::ioctl(uinput.get(), UI_SET_EVBIT, EV_KEY), 0);
    ASSERT_EQ(::ioctl(uinput.get(), UI_SET_KEYBIT, KEY_A), 0);
    uinput_setup setup{};
    setup.id.bustype = BUS_I8042;
    std::strcpy(setup.name, "Orvel test keyboard");
    ASSERT_EQ(::ioctl(uinput.get(), UI_DEV_SETUP, &setup), 0);
    ASSERT_EQ(::ioctl(uinput.get(), UI_DEV_CREATE), 0);
    char sysname[64] = {};
    ASSERT_GE(::ioctl(uinput.get(), UI_GET_SYSNAME(sizeof sysname), sysname), 0);

    // A tree that names the real node and has no `inhibited`, as older kernels have none.
    std::string event;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (event.empty() && std::chrono::steady_clock::now() < limit) {
        std::error_code ec;
        for (const auto& e :
             fs::directory_iterator("/sys/devices/virtual/input/" + std::string(sysname), ec)) {
            if (e.path().filename().string().rfind("event", 0) == 0) {
                event = e.path().filename().string();
            }
        }
        std::this_thread::yield();
    }
    ASSERT_FALSE(event.empty());
    const fs::path sys = fs::path(scratch()) / "sys";
    const fs::path input = sys / "devices/platform/i8042/serio0/input/input1";
    fs::create_directories(input / "id");
    fs::create_directories(input / event);
    std::ofstream(input / "name") << "Orvel test keyboard\n";
    std::ofstream(input / "id/bustype") << "0011\n";
    std::ofstream(input / event / "dev") << "13:99\n";
    fs::create_directory_symlink("..", input / event / "device");
    fs::create_directories(sys / "class/input");
    fs::create_directory_symlink(fs::relative(input / event, sys / "class/input"),
                                 sys / "class/input" / event);
    LinuxHidDevices hid({sys.string(), scratch() + "/udev", "/dev", scratch() + "/rules"});
    LinuxInputBlocking blocking(hid, scratch() + "/run");
    auto held = blocking.silence(hid.attachedDevices());
    ASSERT_TRUE(held.hold) << (held.failures.empty() ? "" : held.failures[0].reason);

    UniqueFd other(::open(("/dev/input/" + event).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(other);
    EXPECT_NE(::ioctl(other.get(), EVIOCGRAB, 1), 0) << "another grab is refused while held";
    held.hold.reset();
    EXPECT_EQ(::ioctl(other.get(), EVIOCGRAB, 1), 0) << "released with the hold";
    ::ioctl(uinput.get(), UI_DEV_DESTROY);
}

}  // namespace
}  // namespace orvel
