#pragma once

// A folder nobody may write, for tests of reading without write access.
// Permission bits do not stop root, and tests often run as root: there the
// reading runs in a child process that has become the user "nobody" (see
// become_reader), for whom the folder and its files can be read and not
// written, as for any user other than their owner.

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

namespace qinglan {

// The folder and every file in it read-only while this lives.
class ReadOnlyFolder {
public:
    explicit ReadOnlyFolder(std::filesystem::path folder) : folder_(std::move(folder)) {
        set(std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
            std::filesystem::perms::others_read);
    }
    ~ReadOnlyFolder() {
        set(std::filesystem::perms::owner_read | std::filesystem::perms::owner_write |
            std::filesystem::perms::group_read | std::filesystem::perms::others_read);
    }
    ReadOnlyFolder(const ReadOnlyFolder&) = delete;
    ReadOnlyFolder& operator=(const ReadOnlyFolder&) = delete;

private:
    void set(std::filesystem::perms files) {
        namespace fs = std::filesystem;
        std::error_code ignored;
        const fs::perms exec =
            fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
        // Writable while the files change, then as asked.
        fs::permissions(folder_, fs::perms::owner_all | files | exec, ignored);
        for (const auto& entry : fs::directory_iterator(folder_, ignored)) {
            fs::permissions(entry.path(), files, ignored);
        }
        fs::permissions(folder_, files | exec, ignored);
    }
    std::filesystem::path folder_;
};

// In a child process: makes it one that may not write what it does not
// own. False when it cannot.
inline bool become_reader() {
    if (::geteuid() != 0) {
        return true;
    }
    const passwd* nobody = ::getpwnam("nobody");
    return nobody != nullptr && ::setgroups(0, nullptr) == 0 && ::setgid(nobody->pw_gid) == 0 &&
           ::setuid(nobody->pw_uid) == 0;
}

// Runs `read` in a child process that became a reader, and hands back the
// text it returned ("cannot become a reader" when it could not).
inline std::string read_as_reader(const std::function<std::string()>& read) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return "no pipe";
    }
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        const std::string text = become_reader() ? read() : "cannot become a reader";
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fds[1], text.data() + written, text.size() - written);
            if (n <= 0) {
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return text;
}

}  // namespace qinglan
