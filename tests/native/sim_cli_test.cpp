// The pesolink-sim program as a script uses it: started in the background,
// steered through standard input, stopped by a signal.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimScale.h"

using pesolink::sim::MakeFrame;
using Bytes = std::vector<uint8_t>;

namespace {

class Program {
public:
    explicit Program(std::vector<std::string> args, bool stdinFromNull = false) {
        int in[2], out[2];
        EXPECT_EQ(pipe2(in, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        // Everything the child needs is made before the fork.
        std::vector<char*> argv{const_cast<char*>(SIM_PROGRAM)};
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(stdinFromNull ? null : in[0], 0);
            dup2(out[1], 1);
            execv(SIM_PROGRAM, argv.data());
            _exit(127);
        }
        close(null);
        close(in[0]);
        close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~Program() {
        if (pid_ > 0 && !waited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        close(in_);
        close(out_);
    }
    void Say(const std::string& line) {
        const std::string l = line + "\n";
        ASSERT_EQ(write(in_, l.data(), l.size()), static_cast<ssize_t>(l.size()));
    }
    // Next output line, or "" after the time-out.
    std::string Line(int timeoutMs = 3000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const auto nl = buf_.find('\n');
            if (nl != std::string::npos) {
                std::string l = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                return l;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()).count();
            if (left <= 0) return "";
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(left)) <= 0) return "";
            char b[512];
            const ssize_t n = read(out_, b, sizeof b);
            if (n <= 0) return "";
            buf_.append(b, static_cast<size_t>(n));
        }
    }
    // Exit status, or -1 when it is still running after the time-out.
    int Wait(int timeoutMs = 3000) {
        for (int waitedMs = 0; waitedMs < timeoutMs; waitedMs += 10) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                waited_ = true;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    void Signal(int sig) { kill(pid_, sig); }
    void CloseInput() {
        close(in_);
        in_ = -1;
    }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    bool waited_ = false;
    std::string buf_;
};

Bytes Exchange(uint16_t port, const Bytes& request, size_t want) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Bytes out;
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        while (out.size() < want) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 2000) <= 0) break;
            uint8_t b[256];
            const ssize_t n = read(fd, b, sizeof b);
            if (n <= 0) break;
            out.insert(out.end(), b, b + n);
        }
    }
    close(fd);
    return out;
}

std::string TempDir() {
    char dir[] = "/tmp/sim_cli_XXXXXX";
    const char* d = mkdtemp(dir);
    return d ? d : "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

}  // namespace

TEST(SimProgram, ServesAndFollowsCommands) {
    Program sim({"--tcp", "0"});
    const std::string first = sim.Line();
    ASSERT_EQ(first.rfind("tcp 127.0.0.1:", 0), 0u) << first;
    const uint16_t port = static_cast<uint16_t>(std::stoi(first.substr(14)));

    sim.Say("weight -2");
    EXPECT_EQ(sim.Line(), "ok");
    EXPECT_EQ(Exchange(port, MakeFrame({0x23}), 16), MakeFrame({0x23, 0xFE, 0xFF, 0xFF, 0xFF, 2, 1, 0, 0}));
    EXPECT_EQ(sim.Line(), "request F8 55 CE 01 00 23 23 00");

    sim.Say("fault error cmd=0x2D code=17");
    EXPECT_EQ(sim.Line(), "ok");
    EXPECT_EQ(Exchange(port, MakeFrame({0x2D}), 9), Bytes({0xF8, 0x55, 0xCE, 0x02, 0x00, 0x28, 0x11, 0x11, 0x28}));
    EXPECT_EQ(sim.Line(), "request F8 55 CE 01 00 2D 2D 00");

    // The load changes once the faulted reply is built.
    sim.Say("fault refuse cmd=0x23 after-weight=5");
    EXPECT_EQ(sim.Line(), "ok");
    EXPECT_EQ(Exchange(port, MakeFrame({0x23}), 8), MakeFrame({0x15}));
    EXPECT_EQ(sim.Line(), "request F8 55 CE 01 00 23 23 00");
    EXPECT_EQ(Exchange(port, MakeFrame({0x23}), 16), MakeFrame({0x23, 5, 0, 0, 0, 2, 1, 0, 0}));
    EXPECT_EQ(sim.Line(), "request F8 55 CE 01 00 23 23 00");
    sim.Say("weight -2");
    EXPECT_EQ(sim.Line(), "ok");
    sim.Say("single on");
    EXPECT_EQ(sim.Line(), "ok");
    sim.Say("single off");
    EXPECT_EQ(sim.Line(), "ok");

    sim.Say("name Big Scale");
    EXPECT_EQ(sim.Line(), "ok");
    sim.Say("set refuseTare on");
    EXPECT_EQ(sim.Line(), "ok");
    sim.Say("state");
    EXPECT_EQ(sim.Line().rfind("weight -2 ", 0), 0u);
    EXPECT_NE(sim.Line().find("name \"Big Scale\""), std::string::npos);
    EXPECT_EQ(sim.Line().rfind("ethernet ", 0), 0u);
    EXPECT_EQ(sim.Line().rfind("wifi ", 0), 0u);
    EXPECT_EQ(sim.Line().rfind("refuseTare 1 ", 0), 0u);

    // Mistakes are reported and change nothing.
    for (const char* bad : {"weight heavy", "fault sometimes", "fault delay delay=x", "set nothing 1", "line 4800,9",
                            "single maybe", "fault delay after-weight=x", "frobnicate"}) {
        sim.Say(bad);
        EXPECT_EQ(sim.Line().rfind("error: ", 0), 0u) << bad;
    }
    sim.Say("quit");
    EXPECT_EQ(sim.Wait(), 0);
}

// In the background with no input: it keeps serving until a signal, and it
// tells a script where it listens through the ready file.
TEST(SimProgram, BackgroundRunWithReadyFileEndsOnSignal) {
    const std::string dir = TempDir();
    const std::string ready = dir + "/ready", link = dir + "/com5";
    Program sim({"--tcp", "0", "--pty", link, "--ready-file", ready, "--quiet"}, true);
    std::string content;
    for (int i = 0; i < 300 && content.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        content = ReadFile(ready);
    }
    std::istringstream lines(content);
    std::string portText, path;
    lines >> portText >> path;
    ASSERT_FALSE(portText.empty());
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << content;
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(path, target);

    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(sim.Wait(0), -1);  // the end of its (empty) input did not stop it
    const Bytes reply = Exchange(static_cast<uint16_t>(std::stoi(portText)), MakeFrame({0xA1}), 12);
    EXPECT_EQ(reply, MakeFrame({0xA1, 0, 0, 0, 0}));

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_NE(access(link.c_str(), F_OK), 0);  // its link went with it
    unlink(ready.c_str());
    rmdir(dir.c_str());
}

TEST(SimProgram, EndOfInputEndsItWhenAsked) {
    Program sim({"--tcp", "0", "--exit-on-eof"});
    EXPECT_EQ(sim.Line().rfind("tcp ", 0), 0u);
    sim.CloseInput();
    EXPECT_EQ(sim.Wait(), 0);
}
