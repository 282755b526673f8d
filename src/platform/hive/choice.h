// Which hive a run works on: the file the command line selected, else the one the variable
// names, else the default hive, made on first use; the check of a named file before the
// program starts; and the one location each name leads to for the run.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>

#include "platform/hive/file.h"
#include "platform/registry.h"

namespace platform::hive {

// The environment variable that names the SOFTWARE hive to work on.
inline constexpr const char* HiveVariable = "VANTORIO_SOFTWARE_HIVE";

// The hive the next open works on: the file that the program selected for itself (from its
// command line), else the file that the environment variable names, else the default hive
// ($XDG_DATA_HOME/vantorio/SOFTWARE, ~/.local/share/vantorio/SOFTWARE). A relative name is
// made absolute against the working folder of the moment it was selected or first seen, so
// it names the same file afterwards.
struct ChosenHive {
    std::string path; // empty when there is no home to put the default hive in
    bool named = false; // selected or named by the variable, so never created
};
ChosenHive chosenHive();
std::string defaultHivePath();
// The file the variable names, or empty when it is unset or empty.
std::string variableHivePath();

// Makes `path` the hive of this process, ahead of the variable; an empty path undoes it.
void selectHive(std::string path);

// Why a named hive cannot be used.
enum class HiveProblem {
    None,
    Missing,         // nothing at the path (or a symbolic link that leads nowhere)
    NotRegularFile,  // a folder, a device, a pipe, ... once links are followed
    Unreadable,      // it cannot be opened or read; `error` says why
    NotAHive,        // its first bytes are not a sound hive: the engine would refuse it
};
struct HiveCheck {
    HiveProblem problem = HiveProblem::None;
    int error = 0;   // the errno behind Missing or Unreadable, when there was one
    mode_t type = 0; // the file type (S_IFMT bits) behind NotRegularFile
    bool danglingLink = false; // Missing: the path is a symbolic link to nothing
    explicit operator bool() const { return problem != HiveProblem::None; }
};
// Checks the file at `path` as the engine's open will take it: followed through symbolic
// links, a regular file that can be opened and read, whose base block, first bin and root
// key the engine accepts. Nothing is created or changed; no lock is taken.
HiveCheck checkHive(const std::string& path);
// The problem in a few words (English), for a message that names the path before it.
std::string describe(const HiveCheck& check);

// The SOFTWARE hive of the Windows installation whose root is the folder `root`:
// Windows/System32/config/SOFTWARE below it, each name matched without regard to case (as a
// volume that ntfs-3g mounts keeps them); nothing when there is none.
std::optional<std::string> installationHive(const std::string& root);

// The location of the hive that `named` leads to, followed through its links the first time
// that name is asked for and kept from then on: later calls with the same name get the same
// location, whatever became of the links meanwhile. Not kept when the name leads nowhere.
Status locateHive(const std::string& named, std::shared_ptr<const HiveLocation>& out);

// Why the default hive cannot be made: the file or folder concerned and what is wrong with it,
// in a few words (English), for a message that names the path before them.
struct DefaultHiveFailure {
    std::string path;
    bool folder = false; // the path is the hive's folder, not the hive
    std::string reason;
};

// Creates the default hive at `path` when no file is there: the folders 0700, the file 0600,
// holding the Winlogon key with the values of a fresh workstation. The file appears whole
// or not at all, also when another process creates it at the same moment. The hive's own
// folder must be a folder (not a link) of this user's that no one else may write, whether the
// hive is there already or not: another's is refused (AccessDenied, FolderNotPrivate) and
// nothing is made. On a failure the detail is noted, and `failure` says what it was.
Status ensureDefaultHive(const std::string& path, DefaultHiveFailure* failure = nullptr);
// The same, handing over the descriptor of the folder that was checked.
Status openDefaultHive(const std::string& path, Fd& folder, DefaultHiveFailure* failure = nullptr);
// Whether the default hive's folder, open as `folder` (named `name` in a failure), is still of
// this user's alone; as ensureDefaultHive refuses it.
Status checkDefaultFolder(int folder, const std::string& name, DefaultHiveFailure* failure = nullptr);

// The location of the default hive at `path`, made first when missing (openDefaultHive): built
// from the descriptor of the folder that was checked, never by looking the name up again (a
// link that the user put in the file's own place is followed, as a named hive's). Found once a
// run, as locateHive finds a named hive: later calls with the same path get the same location
// and create nothing, whatever became of the folder meanwhile (moved, removed); its folder is
// checked again, through that descriptor, at every call.
Status locateDefaultHive(const std::string& path, std::shared_ptr<const HiveLocation>& out,
                         DefaultHiveFailure* failure = nullptr);

} // namespace platform::hive
