#include "export/replacing_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <vector>

#include "export/temporary_files.h"
#include "services/failure.h"

namespace qinglan {
namespace {

// Room left in a file name for ".", ".PID.XXXXXX.tmp" and some slack.
constexpr std::size_t kMaxBaseNameBytes = 255 - 28;

// As the kernel, which gives up on a path after 40 links.
constexpr int kMaxLinks = 40;

bool fail_errno(std::string* error, const std::string& what, int code) {
    return fail(error, what + ": " + std::strerror(code));
}

// The umask without changing it: umask() itself would have to set it, and
// another thread creating a file meanwhile would get the wrong mode.
mode_t current_umask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
        }
    }
    return 022;
}

// Cuts a long name at a character boundary, so the temporary name stays
// within the file system's limit and is still valid UTF-8.
std::string shortened(std::string name) {
    if (name.size() <= kMaxBaseNameBytes) {
        return name;
    }
    std::size_t cut = kMaxBaseNameBytes;
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    name.resize(cut);
    return name;
}

// The file a path names once its symbolic links are followed: a link is
// written through, to its target, and stays a link. nullopt for a loop.
std::optional<std::filesystem::path> followed_links(const std::filesystem::path& path) {
    std::filesystem::path current = path;
    for (int links = 0; links <= kMaxLinks; ++links) {
        std::error_code error;
        if (!std::filesystem::is_symlink(current, error)) {
            return current;
        }
        const std::filesystem::path target = std::filesystem::read_symlink(current, error);
        if (error) {
            return current;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return std::nullopt;
}

// ".NAME.PID.XXXXXX.tmp" of a process that no longer runs: an export that
// was killed before it could remove its file. Names of other forms, and of
// processes that still run (or may: another user's), are left alone.
bool abandoned_temporary(std::string_view name) {
    static constexpr std::string_view kEnd = ".tmp";
    constexpr std::size_t kUnique = 7;  // ".XXXXXX"
    if (name.size() < 1 + kEnd.size() + kUnique || name.front() != '.' ||
        name.substr(name.size() - kEnd.size()) != kEnd) {
        return false;
    }
    name.remove_suffix(kEnd.size() + kUnique);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0 || name.size() - dot - 1 > 9) {
        return false;
    }
    long pid = 0;
    for (const char c : name.substr(dot + 1)) {
        if (c < '0' || c > '9') {
            return false;
        }
        pid = pid * 10 + (c - '0');
    }
    return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// Removes what killed exports left in `folder`; failures change nothing
// for the export at hand.
void remove_abandoned_temporaries(const std::string& folder) {
    std::error_code error;
    for (std::filesystem::directory_iterator entry(folder, error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (entry->is_regular_file(error) && !entry->is_symlink(error) &&
            abandoned_temporary(name)) {
            ::unlink(entry->path().c_str());
        }
    }
}

}  // namespace

ReplacingFile::ReplacingFile(std::string path) : path_(std::move(path)) {}

ReplacingFile::~ReplacingFile() {
    remove_temporary();
}

void ReplacingFile::remove_temporary() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
    if (!committed_ && !temporary_path_.empty()) {
        ::unlink(temporary_path_.c_str());
        temporary_path_.clear();
    }
    unregister_temporary_file(signal_slot_);
    signal_slot_ = -1;
}

bool ReplacingFile::create(std::string* error) {
    remove_temporary();
    const std::string given_name = std::filesystem::path(path_).filename().string();
    if (path_.empty() || given_name.empty() || given_name == "." || given_name == "..") {
        return fail(error, "'" + path_ + "' does not name a file");
    }
    const std::optional<std::filesystem::path> target = followed_links(path_);
    if (!target) {
        return fail(error, "cannot write " + path_ + ": " + std::strerror(ELOOP));
    }
    target_ = target->string();
    const std::string name = target->filename().string();
    struct stat existing {};
    const bool exists = ::stat(target_.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        return fail(error, "cannot write " + path_ + ": it is a folder");
    }
    // The file replaced keeps its permissions (a private file stays
    // private); a new one gets those of any new file.
    const mode_t mode = exists ? existing.st_mode & 07777 : 0666 & ~current_umask();
    folder_ = target->has_parent_path() ? target->parent_path().string() : ".";
    remove_abandoned_temporaries(folder_);

    // The process in the name tells a later export whether the file was
    // left behind by one that was killed.
    std::string hidden_name = ".";
    hidden_name += shortened(name);
    hidden_name += "." + std::to_string(::getpid()) + ".XXXXXX.tmp";
    const std::string pattern = (std::filesystem::path(folder_) / hidden_name).string();
    std::vector<char> writable(pattern.begin(), pattern.end());
    writable.push_back('\0');
    // A signal between the creation and the listing would leave the file
    // behind; held back for that moment, it arrives once the file is listed.
    const sigset_t signals = temporary_file_signals();
    sigset_t previous_mask;
    ::pthread_sigmask(SIG_BLOCK, &signals, &previous_mask);
    const int descriptor = ::mkostemps(writable.data(), 4, O_CLOEXEC);
    const int creation_errno = errno;
    if (descriptor >= 0) {
        descriptor_ = descriptor;
        temporary_path_ = writable.data();
        signal_slot_ = register_temporary_file(temporary_path_);
    }
    ::pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
    if (descriptor < 0) {
        return fail_errno(error, "cannot create a file in the folder " + folder_, creation_errno);
    }
    // mkostemps makes the file private.
    if (::fchmod(descriptor_, mode) != 0) {
        const int code = errno;
        remove_temporary();
        return fail_errno(error, "cannot set the permissions of a new file in " + folder_, code);
    }
    return true;
}

bool ReplacingFile::commit(std::string* error) {
    if (descriptor_ < 0 || committed_) {
        return fail(error, "nothing to save as " + path_);
    }
    // Late write errors (a full disk under delayed allocation, a network file
    // system) only show here; renaming before they are known could put a
    // damaged file in the place of a good one.
    if (::fsync(descriptor_) != 0) {
        return fail_errno(error, "cannot write " + path_, errno);
    }
    const int descriptor = descriptor_;
    descriptor_ = -1;
    if (::close(descriptor) != 0) {
        return fail_errno(error, "cannot write " + path_, errno);
    }
    if (::rename(temporary_path_.c_str(), target_.c_str()) != 0) {
        return fail_errno(error, "cannot save " + path_, errno);
    }
    committed_ = true;
    unregister_temporary_file(signal_slot_);
    signal_slot_ = -1;
    // The rename itself is only durable once the folder is; a failure here
    // leaves a complete file, so it is not reported.
    const int folder = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

}  // namespace qinglan
