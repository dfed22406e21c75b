// The pesolink program as technicians and scripts use it: run with a
// command line against the simulated scale on 127.0.0.1 and on a
// pseudo-terminal, its JSON output parsed, its exit status checked.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/SimScale.h"
#include "sim/SimServer.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using pesolink::sim::ScaleState;
using Clock = std::chrono::steady_clock;

// ---- a small JSON reader: objects, strings, integers, null ------------------------

struct Json {
    enum class Type { Null, Number, String, Object, Bool } type = Type::Null;
    long long number = 0;
    std::string text;
    std::map<std::string, Json> fields;
    std::vector<std::string> order;  // keys as written

    const Json& operator[](const std::string& key) const {
        static const Json missing;
        const auto it = fields.find(key);
        return it == fields.end() ? missing : it->second;
    }
    bool Has(const std::string& key) const { return fields.count(key) != 0; }
};

class JsonReader {
public:
    explicit JsonReader(const std::string& s) : s_(s) {}
    // The whole text must be one value.
    bool Read(Json& out) {
        if (!Value(out)) return false;
        Blank();
        return i_ == s_.size();
    }

private:
    void Blank() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t')) ++i_;
    }
    bool Literal(const char* word) {
        const std::size_t n = std::strlen(word);
        if (s_.compare(i_, n, word) != 0) return false;
        i_ += n;
        return true;
    }
    bool String(std::string& out) {
        if (i_ >= s_.size() || s_[i_] != '"') return false;
        ++i_;
        while (i_ < s_.size() && s_[i_] != '"') {
            const char c = s_[i_++];
            if (static_cast<unsigned char>(c) < 0x20) return false;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) return false;
            const char e = s_[i_++];
            switch (e) {
                case '"': out += '"'; break;
                case '\\': out += '\\'; break;
                case '/': out += '/'; break;
                case 'n': out += '\n'; break;
                case 'r': out += '\r'; break;
                case 't': out += '\t'; break;
                case 'u': {
                    if (i_ + 4 > s_.size()) return false;
                    const unsigned v = std::stoul(s_.substr(i_, 4), nullptr, 16);
                    i_ += 4;
                    if (v >= 0x80) return false;  // the tool escapes control characters only
                    out += static_cast<char>(v);
                    break;
                }
                default: return false;
            }
        }
        if (i_ >= s_.size()) return false;
        ++i_;
        return true;
    }
    bool Value(Json& out) {
        Blank();
        if (i_ >= s_.size()) return false;
        const char c = s_[i_];
        if (c == '{') {
            ++i_;
            out.type = Json::Type::Object;
            Blank();
            if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
            for (;;) {
                Blank();
                std::string key;
                if (!String(key)) return false;
                Blank();
                if (i_ >= s_.size() || s_[i_++] != ':') return false;
                Json v;
                if (!Value(v) || out.fields.count(key)) return false;
                out.fields[key] = v;
                out.order.push_back(key);
                Blank();
                if (i_ < s_.size() && s_[i_] == ',') {
                    ++i_;
                    continue;
                }
                if (i_ < s_.size() && s_[i_] == '}') return ++i_, true;
                return false;
            }
        }
        if (c == '"') {
            out.type = Json::Type::String;
            return String(out.text);
        }
        if (Literal("null")) return out.type = Json::Type::Null, true;
        if (Literal("true")) return out.type = Json::Type::Bool, out.number = 1, true;
        if (Literal("false")) return out.type = Json::Type::Bool, true;
        std::size_t end = i_;
        if (end < s_.size() && s_[end] == '-') ++end;
        const std::size_t digits = end;
        while (end < s_.size() && s_[end] >= '0' && s_[end] <= '9') ++end;
        if (end == digits) return false;
        out.type = Json::Type::Number;
        out.number = std::stoll(s_.substr(i_, end - i_));
        i_ = end;
        return true;
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

// Every line of the text must be one JSON object.
std::vector<Json> JsonLines(const std::string& text) {
    std::vector<Json> out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        Json j;
        EXPECT_TRUE(JsonReader(line).Read(j) && j.type == Json::Type::Object) << "not a JSON object: " << line;
        out.push_back(j);
    }
    return out;
}

// ---- the program -----------------------------------------------------------------------

struct Outcome {
    int status = -1;  // exit status; -1 when it had to be killed
    std::string out, err;
};

// The program started with its own environment, its output read through
// pipes as it comes.
class Program {
public:
    Program(const std::vector<std::string>& args, const std::vector<std::string>& env) {
        int out[2], err[2];
        EXPECT_EQ(pipe2(out, O_CLOEXEC), 0);
        EXPECT_EQ(pipe2(err, O_CLOEXEC), 0);
        std::vector<std::string> argStore{CLI_PROGRAM};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (auto& a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envStore = env;
        for (auto& e : envStore) envp.push_back(e.data());
        envp.push_back(nullptr);
        const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(null, 0);
            dup2(out[1], 1);
            dup2(err[1], 2);
            // The test process blocks no signal the program relies on.
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execve(CLI_PROGRAM, argv.data(), envp.data());
            _exit(127);
        }
        close(null);
        close(out[1]);
        close(err[1]);
        out_ = out[0];
        err_ = err[0];
    }
    ~Program() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
        if (err_ >= 0) close(err_);
    }

    // Reads what has come, for up to ms; true once both pipes are closed.
    bool Pump(int ms) {
        pollfd p[2] = {{out_, POLLIN, 0}, {err_, POLLIN, 0}};
        if (out_ < 0 && err_ < 0) return true;
        if (poll(p, 2, ms) > 0) {
            for (int k = 0; k < 2; ++k) {
                int& fd = k == 0 ? out_ : err_;
                if (fd < 0 || !(p[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                char b[4096];
                const ssize_t n = read(fd, b, sizeof b);
                if (n > 0) (k == 0 ? result_.out : result_.err).append(b, static_cast<size_t>(n));
                else {
                    close(fd);
                    fd = -1;
                }
            }
        }
        return out_ < 0 && err_ < 0;
    }

    // Until pred holds for the output so far, or the time is up.
    bool WaitFor(const std::function<bool(const Outcome&)>& pred, int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!pred(result_)) {
            if (Clock::now() >= end || Pump(20)) return pred(result_);
        }
        return true;
    }

    void Signal(int sig) { kill(pid_, sig); }

    Outcome Finish(int ms) {
        const auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (!Pump(20) && Clock::now() < end) {
        }
        for (;;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                exited_ = true;
                result_.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (Clock::now() >= end) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        while (!Pump(0)) {
        }
        return result_;
    }

    const Outcome& SoFar() const { return result_; }

private:
    pid_t pid_ = -1;
    int out_ = -1, err_ = -1;
    bool exited_ = false;
    Outcome result_;
};

std::string ReadFile(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFile(const fs::path& p, const std::string& content) {
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << content;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

constexpr char ShortTimeouts[] = "[Settings]\r\nLCID=409\r\nComSoftTimeout=300\r\nComHardTimeout=100\r\n";

// A fresh settings folder (APPDATA), a simulated scale on TCP and on a
// pseudo-terminal that is COM7 (PESOLINK_COM_DIR) and answers only at the
// third line setting of the probe.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pesolink-cli-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        WriteFile(Ini(), ShortTimeouts);
        ScaleState s;
        s.weight = 2500;
        s.division = 3;
        s.stable = 1;
        s.net = 1;
        s.zero = 0;
        s.tare = 40;
        s.serial = 4711;
        s.name = "Bench";
        s.ethIp = 0xC0A80714;    // 192.168.7.20
        s.ethMask = 0xFFFF0000;  // 255.255.0.0
        s.ssid = "Yard";
        s.key = "secret";
        scale_.SetState(s);
        server_ = std::make_unique<pesolink::sim::SimServer>(scale_);
        port_ = server_->ListenTcp(0);
        pty_ = server_->OpenPty((root_ / "com7").string());
        server_->SetLineSetting(19200, 4);
        tcp_ = "127.0.0.1:" + std::to_string(port_);
    }
    void TearDown() override {
        server_.reset();
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root_);
    }

    fs::path Dir() const { return root_ / "Ostrel" / "Pesolink"; }
    fs::path Ini() const { return Dir() / "Driver.ini"; }

    // The test's environment without the variables that pick folders, and
    // this test's ones.
    std::vector<std::string> Env(const std::vector<std::string>& extra = {}) const {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("APPDATA=", 0) == 0 || v.rfind("XDG_CONFIG_HOME=", 0) == 0 ||
                v.rfind("PESOLINK_COM_DIR=", 0) == 0)
                continue;
            env.push_back(v);
        }
        env.push_back("APPDATA=" + root_.string());
        env.push_back("PESOLINK_COM_DIR=" + root_.string());
        env.insert(env.end(), extra.begin(), extra.end());
        return env;
    }

    Outcome Run(const std::vector<std::string>& args, int limitMs = 15000) {
        Program p(args, Env());
        return p.Finish(limitMs);
    }

    // One JSON object on standard output.
    Json RunJson(std::vector<std::string> args, int status) {
        args.push_back("--json");
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, status) << o.err;
        const std::vector<Json> lines = JsonLines(o.out);
        EXPECT_EQ(lines.size(), 1u) << o.out;
        if (lines.empty()) return Json();
        EXPECT_EQ(lines[0]["status"].number, status);
        return lines[0];
    }

    fs::path root_;
    pesolink::sim::SimScale scale_;
    std::unique_ptr<pesolink::sim::SimServer> server_;
    uint16_t port_ = 0;
    std::string pty_, tcp_;
};

// ---- every command over TCP -------------------------------------------------------------

TEST_F(CliTest, EachCommandOnTcpPrintsOneJsonObjectAndActsOnTheScale) {
    struct Case {
        std::vector<std::string> args;
        std::function<void(const Json&, const ScaleState&)> check;
    };
    const std::vector<Case> cases = {
        {{"weight", tcp_},
         [](const Json& j, const ScaleState&) {
             EXPECT_EQ(j["weight"].number, 2500);
             EXPECT_EQ(j["division"].number, 3);
             EXPECT_EQ(j["stable"].number, 1);
             EXPECT_EQ(j["net"].number, 1);
             EXPECT_EQ(j["zero"].number, 0);
         }},
        {{"tare", tcp_}, [](const Json& j, const ScaleState&) { EXPECT_EQ(j["tare"].number, 40); }},
        {{"tare", tcp_, "120"},
         [](const Json& j, const ScaleState& s) {
             EXPECT_EQ(j["tare"].number, 120);
             EXPECT_EQ(s.tare, 120);
         }},
        {{"zero", tcp_}, [](const Json&, const ScaleState& s) { EXPECT_TRUE(s.zeroSet); }},
        {{"info", tcp_},
         [](const Json& j, const ScaleState&) {
             EXPECT_EQ(j["serial"].text, "4711");
             EXPECT_EQ(j["name"].text, "Bench");
             EXPECT_EQ(j["line"].type, Json::Type::Null);
             EXPECT_EQ(j["ethernet"]["result"].number, 0);
             EXPECT_EQ(j["ethernet"]["ip"].text, "192.168.7.20");
             EXPECT_EQ(j["ethernet"]["mask"].text, "255.255.0.0");
             EXPECT_EQ(j["ethernet"]["port"].number, 5001);
             EXPECT_EQ(j["wifi"]["ssid"].text, "Yard");
             EXPECT_EQ(j["wifi"]["key"].text, "secret");
             EXPECT_EQ(j["wifi"]["ip"].text, "192.168.1.11");
             EXPECT_EQ(j["wifi"]["port"].number, 5000);
             EXPECT_EQ(j["accessPoint"]["ip"].text, "192.168.4.1");
             EXPECT_EQ(j["accessPoint"]["ssid"].text, "Os_004711");
             EXPECT_EQ(j["accessPoint"]["key"].text, "Qorvin4863");
         }},
        {{"set-name", tcp_, "--name", "Lab 2"},
         [](const Json& j, const ScaleState& s) {
             EXPECT_EQ(j["name"].text, "Lab 2");
             EXPECT_EQ(s.name, "Lab 2");
         }},
        // Only the options given change: the mask stays as the scale had it.
        {{"set-ethernet", tcp_, "--ip", "192.168.7.21", "--port=5002"},
         [](const Json& j, const ScaleState& s) {
             EXPECT_EQ(j["ip"].text, "192.168.7.21");
             EXPECT_EQ(j["mask"].text, "255.255.0.0");
             EXPECT_EQ(s.ethIp, 0xC0A80715u);
             EXPECT_EQ(s.ethMask, 0xFFFF0000u);
             EXPECT_EQ(s.ethGateway, 0xC0A80101u);
             EXPECT_EQ(s.ethPort, 5002);
         }},
        {{"set-wifi", tcp_, "--ssid", "Field"},
         [](const Json& j, const ScaleState& s) {
             EXPECT_EQ(j["ssid"].text, "Field");
             EXPECT_EQ(s.ssid, "Field");
             EXPECT_EQ(s.key, "secret");
             EXPECT_EQ(s.wifiIp, 0xC0A8010Bu);
             EXPECT_EQ(s.wifiPort, 5000);
             EXPECT_EQ(s.apIp, 0xC0A80401u);
         }},
        {{"set-ap", tcp_, "--ip", "192.168.4.9"},
         [](const Json& j, const ScaleState& s) {
             EXPECT_EQ(j["ip"].text, "192.168.4.9");
             EXPECT_EQ(s.apIp, 0xC0A80409u);
             EXPECT_EQ(s.wifiIp, 0xC0A8010Bu);
             EXPECT_EQ(s.wifiPort, 5000);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0] + (c.args.size() > 2 ? " " + c.args[2] : ""));
        const Json j = RunJson(c.args, 0);
        EXPECT_EQ(j["command"].text, c.args[0]);
        EXPECT_EQ(j["target"].text, tcp_);
        EXPECT_FALSE(j.Has("message"));
        c.check(j, scale_.State());
    }
}

TEST_F(CliTest, PlainTextNamesTheValues) {
    Outcome o = Run({"weight", tcp_});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.out, "weight 2500, division 3, stable, net\n");
    EXPECT_EQ(o.err, "");

    o = Run({"info", tcp_});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(Contains(o.out, "serial number  4711\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "name           \"Bench\"\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "line           TCP\n")) << o.out;
    EXPECT_TRUE(Contains(o.out, "ethernet       192.168.7.20 mask 255.255.0.0 gateway 192.168.1.1 port 5001\n"))
        << o.out;
    EXPECT_TRUE(Contains(o.out, "access point   192.168.4.1 network \"Os_004711\" key \"Qorvin4863\"\n")) << o.out;
}

// ---- serial targets ------------------------------------------------------------------------

TEST_F(CliTest, SerialTargetsProbeTheLineWithAProgressLineOnStandardError) {
    for (const std::string& target : {std::string("COM7"), std::string("com7"), pty_}) {
        SCOPED_TRACE(target);
        Outcome o = Run({"info", target, "--json"});
        EXPECT_EQ(o.status, 0) << o.err;
        const std::vector<Json> lines = JsonLines(o.out);
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0]["line"]["baudRate"].number, 19200);
        EXPECT_EQ(lines[0]["line"]["parity"].number, 4);
        EXPECT_EQ(lines[0]["serial"].text, "4711");
        // Standard error is no terminal here: one line per step, in order.
        EXPECT_EQ(o.err, "pesolink: trying " + target + " at 4800 baud, even parity ...\n" +
                             "pesolink: trying " + target + " at 57600 baud, no parity ...\n" +
                             "pesolink: trying " + target + " at 19200 baud, space parity ...\n");

    }
    const Outcome o = Run({"weight", pty_});
    EXPECT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "weight 2500, division 3, stable, net\n");
    // The private link that named the device path is gone again.
    std::size_t left = 0;
    for (const auto& e : fs::directory_iterator(fs::temp_directory_path())) {
        std::error_code ec;
        if (fs::read_symlink(e.path() / "com1", ec) == pty_) ++left;
    }
    EXPECT_EQ(left, 0u);
}

// ---- exit statuses ----------------------------------------------------------------------------

TEST_F(CliTest, ExitStatusIsTheDriversResultCodeWithItsExplanation) {
    // A loopback port nobody listens on: no connection.
    pesolink::sim::SimScale other;
    uint16_t closed = 0;
    {
        pesolink::sim::SimServer s(other);
        closed = s.ListenTcp(0);
    }
    Json j = RunJson({"weight", "127.0.0.1:" + std::to_string(closed)}, 1);
    EXPECT_EQ(j["failed"].text, "OpenConnection");

    // A port where nothing answers: no valid reply at any line setting.
    int master = -1, slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    char name[64];
    ASSERT_EQ(ttyname_r(slave, name, sizeof name), 0);
    Outcome o = Run({"weight", name});
    EXPECT_EQ(o.status, 2);
    EXPECT_EQ(o.out, "");
    EXPECT_TRUE(Contains(o.err, "pesolink: OpenConnection: result 2: no valid reply")) << o.err;
    close(slave);
    close(master);

    // Refusals.
    scale_.Update([](ScaleState& s) {
        s.refuseZero = true;
        s.refuseTare = true;
    });
    o = Run({"zero", tcp_});
    EXPECT_EQ(o.status, 5);
    EXPECT_EQ(o.err, "pesolink: SetZero: result 5: refused by the scale\n");
    j = RunJson({"tare", tcp_, "10"}, 5);
    EXPECT_EQ(j["failed"].text, "SetTare");
    EXPECT_EQ(j["message"].text, "refused by the scale");

    // A scale without Ethernet: info shows the section as not available
    // and succeeds; set-ethernet cannot read what it would write back.
    scale_.Update([](ScaleState& s) { s.ethernetError = true; });
    j = RunJson({"info", tcp_}, 0);
    EXPECT_EQ(j["ethernet"]["result"].number, 4);
    EXPECT_FALSE(j["ethernet"].Has("ip"));
    EXPECT_EQ(j["wifi"]["result"].number, 0);
    const uint32_t before = scale_.State().ethIp;
    j = RunJson({"set-ethernet", tcp_, "--ip", "10.0.0.5"}, 4);
    EXPECT_EQ(j["failed"].text, "GetEthernet");
    EXPECT_EQ(scale_.State().ethIp, before);
}

TEST_F(CliTest, MalformedCommandLinesAreRefusedBeforeAnythingIsSent) {
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"weigh", tcp_},
        {"weight"},
        {"weight", "X1"},
        {"weight", "COM0"},
        {"weight", "COM256"},
        {"weight", "COMx"},
        {"weight", "127.0.0.1"},
        {"weight", "127.0.0.1:0"},
        {"weight", "127.0.0.1:65536"},
        {"weight", "127.0.0.256:5001"},
        {"weight", "127.0.1:5001"},
        {"weight", "localhost:5001"},
        {"weight", tcp_, "extra"},
        {"weight", tcp_, "--interval", "100"},
        {"weight", tcp_, "--watch", "--interval", "-1"},
        {"weight", tcp_, "--watch", "--interval", "soon"},
        {"weight", tcp_, "--verbose"},
        {"weight", tcp_, "--json=yes"},
        {"tare", tcp_, "-5"},
        {"tare", tcp_, "2147483648"},
        {"tare", tcp_, "12kg"},
        {"zero", tcp_, "--name", "x"},
        {"set-name", tcp_},
        {"set-name", tcp_, "--name"},
        {"set-name", tcp_, "--name", std::string(26, 'n')},
        {"set-name", tcp_, "--name", "two\nlines"},
        {"set-name", tcp_, "--name", "a", "--name", "b"},
        // A character the scale's code page (Western, LCID 409) has no byte for.
        {"set-name", tcp_, "--name", "\xD0\x96"},
        {"set-ethernet", tcp_},
        {"set-ethernet", tcp_, "--ip", "0.0.0.0"},
        {"set-ethernet", tcp_, "--mask", "255.255.255"},
        {"set-ethernet", tcp_, "--port", "65536"},
        {"set-wifi", tcp_, "--ssid", std::string(33, 's')},
        {"set-wifi", tcp_, "--key", std::string(65, 'k')},
        {"set-ap", tcp_},
        {"set-ap", tcp_, "--ip", "192.168.4.1.1"},
    };
    for (const auto& args : cases) {
        std::string shown;
        for (const auto& a : args) shown += "[" + a + "]";
        SCOPED_TRACE(shown);
        const Outcome o = Run(args);
        EXPECT_EQ(o.status, 64);
        EXPECT_EQ(o.out, "");
        EXPECT_TRUE(Contains(o.err, "pesolink: ")) << o.err;
        EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 2) << o.err;
    }
    EXPECT_TRUE(scale_.Requests().empty());
}

TEST_F(CliTest, FailureRaisedByTheDriverGivesSeventyWithItsText) {
    // A negative serial time-out cannot bound a receive: OpenConnection raises.
    WriteFile(Ini(), "[Settings]\r\nLCID=409\r\nComSoftTimeout=-1\r\nComHardTimeout=100\r\n");
    Json j = RunJson({"weight", "COM7"}, 70);
    EXPECT_EQ(j["failed"].text, "OpenConnection");
    EXPECT_EQ(j["message"].text, "Range check error");
    const Outcome o = Run({"weight", "COM7"});
    EXPECT_EQ(o.status, 70);
    EXPECT_EQ(o.err, "pesolink: OpenConnection: failed: Range check error\n");

    // A read-only Driver.ini that lacks a default the start must write: the
    // driver does not start.
    WriteFile(Ini(), "[Settings]\r\nLCID=409\r\nComSoftTimeout=300\r\n");
    fs::permissions(Ini(), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    j = RunJson({"weight", tcp_}, 70);
    EXPECT_EQ(j["failed"].text, "module start");
    EXPECT_TRUE(Contains(j["message"].text, "ComHardTimeout")) << j["message"].text;
    EXPECT_TRUE(scale_.Requests().empty());
}

// ---- --watch -------------------------------------------------------------------------------------

// Readings until SIGINT; the weight changes on the scale in between.
TEST_F(CliTest, WatchFollowsTheWeightUntilInterrupted) {
    for (const bool json : {true, false}) {
        SCOPED_TRACE(json ? "json" : "plain");
        scale_.Update([](ScaleState& s) { s.weight = 2500; });
        std::vector<std::string> args{"weight", tcp_, "--watch", "--interval", "50"};
        if (json) args.push_back("--json");
        Program p(args, Env());
        const std::string first = json ? "\"weight\":2500," : "weight 2500,";
        const std::string second = json ? "\"weight\":-730," : "weight -730,";
        auto count = [](const std::string& text, const std::string& part) {
            std::size_t n = 0;
            for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
            return n;
        };
        ASSERT_TRUE(p.WaitFor([&](const Outcome& o) { return count(o.out, first) >= 2; }, 5000)) << p.SoFar().out;
        scale_.Update([](ScaleState& s) { s.weight = -730; });
        ASSERT_TRUE(p.WaitFor([&](const Outcome& o) { return count(o.out, second) >= 2; }, 5000)) << p.SoFar().out;
        p.Signal(SIGINT);
        const Outcome o = p.Finish(5000);
        EXPECT_EQ(o.status, 0) << o.err;
        EXPECT_EQ(o.err, "");
        if (json) {
            const std::vector<Json> lines = JsonLines(o.out);
            EXPECT_GE(lines.size(), 4u);
            for (const Json& j : lines) {
                EXPECT_EQ(j["command"].text, "weight");
                EXPECT_EQ(j["status"].number, 0);
                EXPECT_TRUE(j["weight"].number == 2500 || j["weight"].number == -730);
            }
        } else {
            // One line, rewritten: each reading starts with a carriage return,
            // a line end comes only after Ctrl+C.
            EXPECT_EQ(o.out.find('\n'), o.out.size() - 1);
            EXPECT_EQ(o.out[0], '\r');
            EXPECT_EQ(count(o.out, "\r"), count(o.out, "weight "));
            EXPECT_TRUE(Contains(o.out, "\rweight -730, division 3, stable, net")) << o.out;
        }
    }
}

// A reading that fails is shown and the watch goes on; the status after
// Ctrl+C is that of the last reading.
TEST_F(CliTest, WatchShowsFailedReadingsAndEndsWithTheLastResult) {
    Program p({"weight", tcp_, "--watch", "--interval", "50", "--json"}, Env());
    ASSERT_TRUE(p.WaitFor([](const Outcome& o) { return Contains(o.out, "\"status\":0"); }, 5000));
    server_->DropTcpClients();
    ASSERT_TRUE(p.WaitFor([](const Outcome& o) { return Contains(o.out, "\"status\":1"); }, 5000)) << p.SoFar().out;
    p.Signal(SIGINT);
    const Outcome o = p.Finish(5000);
    EXPECT_EQ(o.status, 1);
    EXPECT_TRUE(Contains(o.err, "pesolink: ReadWeight: result 1: ")) << o.err;
    const std::vector<Json> lines = JsonLines(o.out);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back()["failed"].text, "ReadWeight");
}

// ---- help, settings, log ----------------------------------------------------------------------

TEST_F(CliTest, HelpForTheToolAndEachCommand) {
    const char* commands[] = {"weight", "tare", "zero", "info", "set-name", "set-ethernet", "set-wifi", "set-ap"};
    Outcome o = Run({"--help"});
    EXPECT_EQ(o.status, 0);
    for (const char* c : commands) EXPECT_TRUE(Contains(o.out, std::string("\n  ") + c + " TARGET")) << c;
    for (const char* c : commands) {
        SCOPED_TRACE(c);
        for (const char* form : {"--help", "-h"}) {
            o = Run({c, form});
            EXPECT_EQ(o.status, 0);
            EXPECT_EQ(o.out.rfind(std::string("usage: pesolink ") + c + " TARGET", 0), 0u) << o.out;
            EXPECT_TRUE(Contains(o.out, "Exit status"));
        }
    }
    // Help goes before any check of the rest.
    o = Run({"weight", "X1", "--help"});
    EXPECT_EQ(o.status, 0);
    EXPECT_TRUE(scale_.Requests().empty());
}

TEST_F(CliTest, UsesTheDriversOwnSettingsAndLog) {
    WriteFile(Ini(), std::string(ShortTimeouts) + "Logging=1\r\n");
    EXPECT_EQ(Run({"weight", tcp_}).status, 0);
    const std::string log = ReadFile(Dir() / "Log.txt");
    EXPECT_TRUE(Contains(log, " OpenConnection: Connection=" + tcp_ + "\r\n")) << log;
    EXPECT_TRUE(Contains(log, " - ReadWeight: Exit from " + tcp_ + " with Result=0\r\n")) << log;

    // Without APPDATA the folder is below $XDG_CONFIG_HOME.
    const fs::path xdg = root_ / "xdg";
    fs::create_directories(xdg);
    std::vector<std::string> env;
    for (const std::string& e : Env({"XDG_CONFIG_HOME=" + xdg.string()}))
        if (e.rfind("APPDATA=", 0) != 0) env.push_back(e);
    Program p({"weight", tcp_}, env);
    EXPECT_EQ(p.Finish(15000).status, 0);
    EXPECT_TRUE(Contains(ReadFile(xdg / "Ostrel" / "Pesolink" / "Driver.ini"), "\r\nComSoftTimeout=2000\r\n"));
    EXPECT_TRUE(fs::is_regular_file(xdg / "Ostrel" / "Pesolink" / "Log.txt"));
}

}  // namespace
