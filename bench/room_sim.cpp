// vorlek-room-sim: plays up to 2048 workstation agents in one Linux host of the test room, one
// UDP socket per agent, each bound to its own address at port 10001. Every agent counts its time
// down as VorlekClient does, obeys Command datagrams and answers every type-4 datagram with a
// StatusReport. The datagrams are written here byte by byte, independently of the programs'
// protocol code, so that the simulator checks the console rather than agreeing with it.
//
// Control lines on stdin (answers on stdout, one line each):
//   report RATE   every agent sends its status word to the server, RATE agents a second
//   block         every agent locks itself quietly (BLOCKED, no report), as at the end of its time
//   stats         "stats requests R commands C answers A dropped D first F last L"
//   quit
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <queue>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint16_t kPort = 10001;
constexpr int kMaxAgents = 2048;

// Agent states as they travel in the status word.
constexpr std::uint32_t kUnlimited = 0;
constexpr std::uint32_t kPaused = 1;
constexpr std::uint32_t kAvailable = 2;
constexpr std::uint32_t kBlocked = 3;
constexpr std::uint32_t kNormal = 4;

using Clock = std::chrono::steady_clock;

struct Options {
    std::uint32_t server = 0;        // network order; 0: no server list
    std::uint32_t firstAddress = 0;  // host order
    int count = 1;
    double lossPercent = 0.0;
    int silent = 0;  // the last `silent` agents never answer
    std::chrono::milliseconds delay{0};
    std::optional<std::uint32_t> startSeconds;  // start NORMAL with this many seconds
    bool hello = false;
    bool broadcast = false;  // also answer the broadcast StatusRequest of the discovery
    unsigned seed = 1;
};

struct Agent {
    std::uint32_t address = 0;  // network order
    int socket = -1;
    std::uint32_t state = kAvailable;
    std::uint32_t remaining = 0;
    std::uint32_t warning = 0;
    Clock::time_point countedTo;  // the countdown has been applied up to here
    bool silent = false;
};

struct Pending {
    Clock::time_point due;
    int agent;
    sockaddr_in to;
    std::array<std::uint8_t, 5> bytes;
    bool operator>(const Pending& other) const { return due > other.due; }
};

struct Counters {
    long requests = 0;
    long commands = 0;
    long answers = 0;
    long dropped = 0;
    double firstRequest = 0.0;  // Unix time of the first type-4 datagram, 0 while none came
    double lastRequest = 0.0;
};

double UnixNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "vorlek-room-sim: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

std::uint32_t ParseAddress(const char* text) {
    in_addr address{};
    if (inet_pton(AF_INET, text, &address) != 1) {
        std::fprintf(stderr, "vorlek-room-sim: not an address: %s\n", text);
        std::exit(2);
    }
    return address.s_addr;
}

// The n-th agent's address: first address + n, skipping last octets 0 and 255.
std::uint32_t NthAddress(std::uint32_t first, int n) {
    std::uint32_t host = first;
    for (int i = 0; i < n; ++i) {
        do {
            ++host;
        } while ((host & 0xFF) == 0 || (host & 0xFF) == 0xFF);
    }
    return htonl(host);
}

class Simulator {
public:
    explicit Simulator(const Options& options) : options_(options), random_(options.seed) {}

    void Open();
    void Run();

private:
    void Count(Agent& agent, Clock::time_point now);
    std::uint32_t StatusWord(const Agent& agent) const;
    void Execute(Agent& agent, std::uint32_t word);
    void Answer(int index, const sockaddr_in& to);
    void Send(int index, const sockaddr_in& to, const std::array<std::uint8_t, 5>& bytes);
    void Receive(int index);
    void ReceiveBroadcast();
    void Control(const std::string& line);
    void FlushPending(Clock::time_point now);
    void StepReporting(Clock::time_point now);

    Options options_;
    std::vector<Agent> agents_;
    int epoll_ = -1;
    int broadcastSocket_ = -1;
    std::mt19937 random_;
    std::priority_queue<Pending, std::vector<Pending>, std::greater<>> pending_;
    Counters counters_;
    std::string input_;
    bool running_ = true;
    // "report RATE": the next agent to report and when.
    int reportNext_ = -1;
    double reportRate_ = 0.0;
    Clock::time_point reportStart_;
};

int OpenSocket(std::uint32_t address) {
    const int s = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (s < 0) {
        Fail("socket");
    }
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(s, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(kPort);
    local.sin_addr.s_addr = address;
    if (bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        Fail("bind " + std::string(inet_ntoa(local.sin_addr)));
    }
    return s;
}

void Simulator::Open() {
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    epoll_ = epoll_create1(0);
    if (epoll_ < 0) {
        Fail("epoll_create1");
    }
    const auto now = Clock::now();
    for (int i = 0; i < options_.count; ++i) {
        Agent agent;
        agent.address = NthAddress(ntohl(options_.firstAddress), i);
        agent.socket = OpenSocket(agent.address);
        agent.countedTo = now;
        agent.silent = i >= options_.count - options_.silent;
        if (options_.startSeconds) {
            agent.state = kNormal;
            agent.remaining = *options_.startSeconds;
        }
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = static_cast<std::uint32_t>(i);
        if (epoll_ctl(epoll_, EPOLL_CTL_ADD, agent.socket, &event) != 0) {
            Fail("epoll_ctl");
        }
        agents_.push_back(agent);
    }
    if (options_.broadcast) {
        broadcastSocket_ = OpenSocket(htonl(INADDR_ANY));
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u32 = static_cast<std::uint32_t>(kMaxAgents);
        epoll_ctl(epoll_, EPOLL_CTL_ADD, broadcastSocket_, &event);
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u32 = static_cast<std::uint32_t>(kMaxAgents + 1);
    fcntl(0, F_SETFL, fcntl(0, F_GETFL) | O_NONBLOCK);
    epoll_ctl(epoll_, EPOLL_CTL_ADD, 0, &event);

    if (options_.hello && options_.server != 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(kPort);
        to.sin_addr.s_addr = options_.server;
        for (Agent& agent : agents_) {
            const std::uint8_t hello = 0x01;
            sendto(agent.socket, &hello, 1, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
    }
    std::printf("ready %d\n", options_.count);
    std::fflush(stdout);
}

// The agent's one-second ticks since the last look, as VorlekClient's timer would have run them.
void Simulator::Count(Agent& agent, Clock::time_point now) {
    while (now - agent.countedTo >= std::chrono::seconds(1)) {
        agent.countedTo += std::chrono::seconds(1);
        if (agent.state != kNormal) {
            continue;
        }
        if (agent.remaining == 0) {
            agent.state = kBlocked;
        } else {
            --agent.remaining;
        }
    }
}

std::uint32_t Simulator::StatusWord(const Agent& agent) const {
    if (agent.state == kNormal) {
        return agent.remaining;
    }
    if (agent.state == kPaused) {
        return agent.remaining + 0x20000000u;
    }
    return 0x80000000u + agent.state;
}

void Simulator::Execute(Agent& agent, std::uint32_t word) {
    const auto restartTimer = [&agent] { agent.countedTo = Clock::now(); };
    if (word >= 0xC0000000u) {
        if (agent.state == kUnlimited) {
            return;
        }
        if (agent.state != kPaused && agent.state != kNormal) {
            agent.state = kNormal;
            agent.remaining = 0;
        }
        restartTimer();
        agent.remaining += word - 0xC0000000u;
    } else if (word >= 0x90000000u) {
        agent.warning = word - 0x90000000u;
    } else if (word < 0x80000000u) {
        if (agent.state != kPaused) {
            agent.state = kNormal;
        }
        restartTimer();
        agent.remaining = word;
    } else {
        const std::uint32_t mode = word - 0x80000000u;
        if (mode == 1) {
            if (agent.state == kNormal) {
                agent.state = kPaused;
            }
        } else if (mode == 3) {
            agent.state = kBlocked;
        } else if (mode == 5) {
            if (agent.state == kPaused) {
                agent.state = kNormal;
                restartTimer();
            }
        } else if (mode != 7 && mode != 8) {
            agent.state = mode;
        }
    }
}

void Simulator::Send(int index, const sockaddr_in& to, const std::array<std::uint8_t, 5>& bytes) {
    if (options_.lossPercent > 0.0 &&
        std::uniform_real_distribution<double>(0.0, 100.0)(random_) < options_.lossPercent) {
        ++counters_.dropped;
        return;
    }
    if (options_.delay.count() > 0) {
        pending_.push({Clock::now() + options_.delay, index, to, bytes});
        return;
    }
    sendto(agents_[index].socket, bytes.data(), bytes.size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
    ++counters_.answers;
}

// A StatusReport: type 4, then the status word little-endian.
void Simulator::Answer(int index, const sockaddr_in& to) {
    const std::uint32_t word = StatusWord(agents_[index]);
    const std::array<std::uint8_t, 5> report{
        0x04, static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
        static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
    Send(index, to, report);
}

void Simulator::Receive(int index) {
    Agent& agent = agents_[index];
    std::array<std::uint8_t, 4096> buffer;
    for (;;) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t size = recvfrom(agent.socket, buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size < 0) {
            return;
        }
        Count(agent, Clock::now());
        if (agent.silent || size < 1) {
            continue;
        }
        if (buffer[0] == 0x04) {
            ++counters_.requests;
            counters_.lastRequest = UnixNow();
            if (counters_.firstRequest == 0.0) {
                counters_.firstRequest = counters_.lastRequest;
            }
            Answer(index, from);
        } else if (buffer[0] == 0x03 && size >= 5) {
            ++counters_.commands;
            Execute(agent, static_cast<std::uint32_t>(buffer[1]) |
                               static_cast<std::uint32_t>(buffer[2]) << 8 |
                               static_cast<std::uint32_t>(buffer[3]) << 16 |
                               static_cast<std::uint32_t>(buffer[4]) << 24);
            if (options_.server != 0) {
                sockaddr_in server{};
                server.sin_family = AF_INET;
                server.sin_port = htons(kPort);
                server.sin_addr.s_addr = options_.server;
                Answer(index, server);
            }
            Answer(index, from);
        }
    }
}

// The discovery's broadcast StatusRequest reaches only the wildcard socket; every agent answers
// it from its own address.
void Simulator::ReceiveBroadcast() {
    std::array<std::uint8_t, 4096> buffer;
    for (;;) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof from;
        const ssize_t size = recvfrom(broadcastSocket_, buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size < 0) {
            return;
        }
        if (size < 1 || buffer[0] != 0x04 || from.sin_addr.s_addr == agents_[0].address) {
            continue;
        }
        bool fromAgent = false;
        for (const Agent& agent : agents_) {
            fromAgent = fromAgent || agent.address == from.sin_addr.s_addr;
        }
        if (fromAgent) {
            continue;
        }
        ++counters_.requests;
        for (int i = 0; i < static_cast<int>(agents_.size()); ++i) {
            if (!agents_[i].silent) {
                Count(agents_[i], Clock::now());
                Answer(i, from);
            }
        }
    }
}

void Simulator::FlushPending(Clock::time_point now) {
    while (!pending_.empty() && pending_.top().due <= now) {
        const Pending& p = pending_.top();
        sendto(agents_[p.agent].socket, p.bytes.data(), p.bytes.size(), 0,
               reinterpret_cast<const sockaddr*>(&p.to), sizeof p.to);
        ++counters_.answers;
        pending_.pop();
    }
}

void Simulator::StepReporting(Clock::time_point now) {
    if (reportNext_ < 0) {
        return;
    }
    const double seconds = std::chrono::duration<double>(now - reportStart_).count();
    const int due =
        std::min(static_cast<int>(agents_.size()), static_cast<int>(seconds * reportRate_) + 1);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(kPort);
    server.sin_addr.s_addr = options_.server;
    while (reportNext_ < due) {
        Count(agents_[reportNext_], now);
        if (!agents_[reportNext_].silent) {
            Answer(reportNext_, server);
        }
        ++reportNext_;
    }
    if (reportNext_ == static_cast<int>(agents_.size())) {
        reportNext_ = -1;
        std::printf("reported\n");
        std::fflush(stdout);
    }
}

void Simulator::Control(const std::string& line) {
    std::istringstream words(line);
    std::string command;
    words >> command;
    if (command == "report") {
        reportRate_ = 100.0;
        words >> reportRate_;
        reportNext_ = 0;
        reportStart_ = Clock::now();
    } else if (command == "block") {
        const auto now = Clock::now();
        for (Agent& agent : agents_) {
            Count(agent, now);
            agent.state = kBlocked;
        }
        std::printf("blocked\n");
    } else if (command == "stats") {
        std::printf(
            "stats requests %ld commands %ld answers %ld dropped %ld first %.6f last %.6f\n",
            counters_.requests, counters_.commands, counters_.answers, counters_.dropped,
            counters_.firstRequest, counters_.lastRequest);
    } else if (command == "quit") {
        running_ = false;
    }
    std::fflush(stdout);
}

void Simulator::Run() {
    std::vector<epoll_event> events(64);
    while (running_) {
        int timeout = 1000;
        if (reportNext_ >= 0) {
            timeout = 5;
        }
        if (!pending_.empty()) {
            const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(
                pending_.top().due - Clock::now());
            timeout = std::max(0, std::min<int>(timeout, static_cast<int>(wait.count()) + 1));
        }
        const int ready =
            epoll_wait(epoll_, events.data(), static_cast<int>(events.size()), timeout);
        for (int i = 0; i < ready; ++i) {
            const std::uint32_t id = events[i].data.u32;
            if (id < static_cast<std::uint32_t>(agents_.size())) {
                Receive(static_cast<int>(id));
            } else if (id == static_cast<std::uint32_t>(kMaxAgents)) {
                ReceiveBroadcast();
            } else {
                std::array<char, 256> chunk;
                const ssize_t size = read(0, chunk.data(), chunk.size());
                if (size == 0) {
                    running_ = false;
                }
                if (size > 0) {
                    input_.append(chunk.data(), static_cast<std::size_t>(size));
                }
                for (auto end = input_.find('\n'); end != std::string::npos;
                     end = input_.find('\n')) {
                    Control(input_.substr(0, end));
                    input_.erase(0, end + 1);
                }
            }
        }
        const auto now = Clock::now();
        FlushPending(now);
        StepReporting(now);
    }
}

void Usage() {
    std::fprintf(stderr,
                 "usage: vorlek-room-sim --first ADDR --count N [--server ADDR] [--loss PERCENT]\n"
                 "       [--silent K] [--delay MS] [--start-seconds S] [--hello] [--broadcast]\n"
                 "       [--seed N]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                Usage();
            }
            return argv[++i];
        };
        if (arg == "--server") {
            options.server = ParseAddress(value());
        } else if (arg == "--first") {
            options.firstAddress = ParseAddress(value());
        } else if (arg == "--count") {
            options.count = std::atoi(value());
        } else if (arg == "--loss") {
            options.lossPercent = std::atof(value());
        } else if (arg == "--silent") {
            options.silent = std::atoi(value());
        } else if (arg == "--delay") {
            options.delay = std::chrono::milliseconds(std::atoi(value()));
        } else if (arg == "--start-seconds") {
            options.startSeconds = static_cast<std::uint32_t>(std::strtoul(value(), nullptr, 10));
        } else if (arg == "--hello") {
            options.hello = true;
        } else if (arg == "--broadcast") {
            options.broadcast = true;
        } else if (arg == "--seed") {
            options.seed = static_cast<unsigned>(std::atoi(value()));
        } else {
            Usage();
        }
    }
    if (options.firstAddress == 0 || options.count < 1 || options.count > kMaxAgents) {
        Usage();
    }
    Simulator simulator(options);
    simulator.Open();
    simulator.Run();
    return 0;
}
