#pragma once

// A child process run from a test, with its stdout and stderr read through
// pipes.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace qinglan {

class Child {
public:
    // `prepare` runs in the child just before the program starts (limits,
    // signal dispositions).
    explicit Child(const std::vector<std::string>& args,
                   const std::function<void()>& prepare = {}) {
        int out[2], err[2];
        if (pipe(out) != 0 || pipe(err) != 0) {
            return;
        }
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            dup2(err[1], STDERR_FILENO);
            close(out[0]), close(out[1]), close(err[0]), close(err[1]);
            if (prepare) {
                prepare();
            }
            std::vector<char*> argv;
            for (const auto& arg : args) {
                argv.push_back(const_cast<char*>(arg.c_str()));
            }
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(out[1]), close(err[1]);
        out_ = fdopen(out[0], "r");
        err_ = fdopen(err[0], "r");
    }
    ~Child() {
        if (pid_ > 0 && status_ < 0) {
            kill(pid_, SIGKILL);
            wait();
        }
        if (out_ != nullptr)
            fclose(out_);
        if (err_ != nullptr)
            fclose(err_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    // The next line of stderr without its line feed; false at the end.
    bool next_error_line(std::string* line) {
        char buffer[4096];
        if (fgets(buffer, sizeof buffer, err_) == nullptr) {
            return false;
        }
        *line = buffer;
        if (!line->empty() && line->back() == '\n') {
            line->pop_back();
        }
        errors_ += *line + "\n";
        return true;
    }

    // Reads both streams to their ends and returns the exit status (128 +
    // the signal for a child killed by one).
    int wait() {
        // stdout is drained at the same time as stderr, so a child that
        // fills one pipe while the other is being read cannot stall.
        std::thread output_reader([this] {
            char buffer[4096];
            std::size_t n;
            while ((n = fread(buffer, 1, sizeof buffer, out_)) > 0) {
                output_.append(buffer, n);
            }
        });
        std::string line;
        while (next_error_line(&line)) {
        }
        output_reader.join();
        int status = 0;
        waitpid(pid_, &status, 0);
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        end_signal_ = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        return status_;
    }

    void kill_now() { kill(pid_, SIGKILL); }
    void send_signal(int signal_number) { kill(pid_, signal_number); }

    // After wait(): the signal that ended the child, 0 when it exited, since
    // an exit status of 128 + N alone cannot tell the two apart.
    int end_signal() const { return end_signal_; }

    const std::string& output() const { return output_; }
    const std::string& errors() const { return errors_; }

private:
    pid_t pid_ = -1;
    int status_ = -1;
    int end_signal_ = 0;
    FILE* out_ = nullptr;
    FILE* err_ = nullptr;
    std::string output_, errors_;
};

}  // namespace qinglan
