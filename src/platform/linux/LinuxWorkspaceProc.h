#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/Processes.h"
#include "platform/linux/LinuxWorkspace.h"

// What the parts of LinuxWorkspace read of other processes in /proc, and how they tell which
// program a process or a desktop entry runs. Only LinuxWorkspace's own sources include this.

namespace orvel::procread {

using ProcessInfo = LinuxWorkspace::ProcessInfo;

// Programs ----------------------------------------------------------------------------------

// Programs that run another program named by their first argument.
bool isInterpreter(const std::string& name);
std::string baseName(const std::string& path);
// The program an Exec line runs: its first word, past "env" and its assignments.
std::string execProgram(const std::string& exec);
// The PATH that programs are looked for on.
std::string programPath();
// The program a command word names, as starting an entry looks for it.
std::string findProgram(const std::string& word, Processes& processes);
// The program a process stands for: a script's, not its interpreter's.
std::string programOf(const ProcessInfo& info);

// Reading /proc -----------------------------------------------------------------------------

// Read with plain calls: a process that ends mid-read fails the read (ESRCH), which a stream
// buffer would throw. Empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);
// The cheapest reading: one file, for what the kernel calls it, its parent, terminal and start.
std::optional<ProcessInfo> readStat(const std::filesystem::path& folder, pid_t pid);
// The program the process runs and its arguments, after its uid, which tells whether it is worth
// reading on; false when it is gone or a kernel thread. The arguments are read unless
// `argumentsRead`.
bool readProgram(const std::filesystem::path& folder, ProcessInfo& info, bool argumentsRead);
// Its stat and program.
std::optional<ProcessInfo> readProcess(const std::filesystem::path& folder, pid_t pid);
// The processes a /proc folder lists, ascending; nothing in them is opened.
std::vector<pid_t> listProcesses(const std::string& procRoot);
// Whether the process runs in the graphical session, and the desktop entry a launcher named
// (proc::parseLaunchEnvironment).
void readEnvironment(const std::filesystem::path& folder, ProcessInfo& info);
// The last pid the kernel handed out, from loadavg's last field; nothing where it does not say.
std::optional<long> newestPid(const std::string& procRoot);

}  // namespace orvel::procread
