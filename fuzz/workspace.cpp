#include "workspace.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/bytes.h"
#include "platform/hive/choice.h"
#include "platform/hive/hive.h"
#include "targets.h"

namespace fuzz {

Workspace& Workspace::get() {
    // Never destroyed: the folder goes at exit, after static objects may have gone.
    static Workspace* w = new Workspace;
    return *w;
}

Workspace::Workspace() {
    // Commits flush their files: in memory that costs nothing, so the fuzzer runs faster.
    std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    std::string pattern = base + "/vantorio-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot make a folder in " + base);
    folder_ = pattern;
    hive_ = folder_ + "/SOFTWARE";
    setenv(platform::hive::HiveVariable, hive_.c_str(), 1);
    std::atexit([] {
        std::error_code ec;
        std::filesystem::remove_all(Workspace::get().folder(), ec);
    });
}

void Workspace::put(std::string_view bytes) const {
    unlink(hive_.c_str());
    std::ofstream out(hive_, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw std::runtime_error("cannot write " + hive_);
}

std::string Workspace::bytes() const {
    // In one read: the targets read the file before and after every commit.
    std::ifstream in(hive_, std::ios::binary | std::ios::ate);
    std::string out(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(out.data(), static_cast<std::streamsize>(out.size()));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return out;
}

std::vector<std::string> Workspace::entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::pair<dev_t, ino_t> Workspace::identity() const {
    struct stat st {};
    if (stat(hive_.c_str(), &st) != 0) return {0, 0};
    return {st.st_dev, st.st_ino};
}

std::string said(std::string_view what, long long number) { return std::string(what) + " " + std::to_string(number); }

void sealBaseBlock(std::string& hive) {
    if (hive.size() < platform::hive::regf::HeaderSize) return;
    platform::put32(hive, platform::hive::regf::Checksum, platform::hive::baseBlockChecksum(hive));
}

} // namespace fuzz
