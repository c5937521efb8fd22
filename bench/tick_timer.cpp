// Linked into benchmark builds of VorlekServer.exe only (ld --wrap, see bench/README.md): times
// the one-second work and the start-up discovery of the console engine with the performance
// counter and the process's CPU times, counts the datagram notifications between two ticks, and
// writes the process's creation, the start of its own code and the start of its timers before the
// first tick and one line per tick or discovery to the Unix stderr that Wine passes on. Nothing
// else changes: each wrapped function runs as it would without it.
#include <windows.h>

#include <cstdio>

namespace {

double Seconds(const LARGE_INTEGER& ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(ticks.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ElapsedSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    LARGE_INTEGER elapsed;
    elapsed.QuadPart = now.QuadPart - start.QuadPart;
    return Seconds(elapsed);
}

// A FILETIME as one count of 100-nanosecond intervals.
unsigned long long HundredNanoseconds(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

struct ProcessTimes {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
};

// The times of this process; all zero when they cannot be read.
ProcessTimes TimesOfProcess() {
    ProcessTimes times;
    if (!GetProcessTimes(GetCurrentProcess(), &times.created, &times.exited, &times.kernel,
                         &times.user)) {
        return {};
    }
    return times;
}

// User plus kernel time of the whole process, in seconds.
double ProcessCpuSeconds() {
    const ProcessTimes times = TimesOfProcess();
    return static_cast<double>(HundredNanoseconds(times.kernel) + HundredNanoseconds(times.user)) /
           1e7;
}

// The calendar clock as Unix time with sub-second digits, comparable with the simulator's.
double UnixNow() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    return static_cast<double>(HundredNanoseconds(now)) / 1e7 - 11644473600.0;
}

// Datagram notifications handled since the last tick line, and when the last one was handled.
long handledSinceTick = 0;
double lastHandled = 0.0;

// CPU time of the calling thread, in seconds.
double ThreadCpuSeconds() {
    FILETIME created;
    FILETIME exited;
    FILETIME kernel;
    FILETIME user;
    if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) {
        return 0.0;
    }
    return static_cast<double>(HundredNanoseconds(kernel) + HundredNanoseconds(user)) / 1e7;
}

// The process's creation, as Unix time: when the console started.
double ProcessCreated() {
    return static_cast<double>(HundredNanoseconds(TimesOfProcess().created)) / 1e7 - 11644473600.0;
}

// When the program's own code began: before its global objects are built, after Wine has loaded
// the process, which on Windows takes a small part of the time it takes under Wine.
double entered = 0.0;

__attribute__((constructor(101))) void NoteEntry() {
    entered = UnixNow();
}

bool startPrinted = false;
// When timer 2 (every 50 ms) first ran: it is set together with timer 1, at the end of the start.
double firstReselect = 0.0;
constexpr double kReselectPeriod = 0.05;

}  // namespace

// vorlek::Server::OnTimerTick(), HandleDatagram() and Discover() are member functions: thiscall on
// i686, whose C symbols also carry a leading underscore; x86_64 has one calling convention and no
// underscore.
#if defined(__i386__)
#define VORLEK_MEMBER __attribute__((thiscall))
#define VORLEK_SYMBOL(name) "_" name
#else
#define VORLEK_MEMBER
#define VORLEK_SYMBOL(name) name
#endif

extern "C" {
void VORLEK_MEMBER
RealOnTimerTick(void* server) __asm__(VORLEK_SYMBOL("__real__ZN6vorlek6Server11OnTimerTickEv"));
void VORLEK_MEMBER
WrapOnTimerTick(void* server) __asm__(VORLEK_SYMBOL("__wrap__ZN6vorlek6Server11OnTimerTickEv"));
void VORLEK_MEMBER RealHandleDatagram(void* server) __asm__(
    VORLEK_SYMBOL("__real__ZN6vorlek6Server14HandleDatagramEv"));
void VORLEK_MEMBER WrapHandleDatagram(void* server) __asm__(
    VORLEK_SYMBOL("__wrap__ZN6vorlek6Server14HandleDatagramEv"));
void VORLEK_MEMBER
RealReselect(void* server) __asm__(VORLEK_SYMBOL("__real__ZN6vorlek6Server8ReselectEv"));
void VORLEK_MEMBER
WrapReselect(void* server) __asm__(VORLEK_SYMBOL("__wrap__ZN6vorlek6Server8ReselectEv"));
void VORLEK_MEMBER
RealDiscover(void* server) __asm__(VORLEK_SYMBOL("__real__ZN6vorlek6Server8DiscoverEv"));
void VORLEK_MEMBER
WrapDiscover(void* server) __asm__(VORLEK_SYMBOL("__wrap__ZN6vorlek6Server8DiscoverEv"));
}

void VORLEK_MEMBER WrapOnTimerTick(void* server) {
    if (!startPrinted) {
        startPrinted = true;
        std::fprintf(stderr, "vorlek-bench start created %.6f entered %.6f timers %.6f\n",
                     ProcessCreated(), entered, firstReselect - kReselectPeriod);
    }
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const double startedAt = UnixNow();
    const double cpuBefore = ThreadCpuSeconds();
    RealOnTimerTick(server);
    const double seconds = ElapsedSince(start);
    std::fprintf(stderr, "vorlek-bench tick %.6f cpu %.6f at %.6f handled %ld last %.6f\n", seconds,
                 ThreadCpuSeconds() - cpuBefore, startedAt, handledSinceTick, lastHandled);
    std::fflush(stderr);
    handledSinceTick = 0;
}

void VORLEK_MEMBER WrapReselect(void* server) {
    if (firstReselect == 0.0) {
        firstReselect = UnixNow();
    }
    RealReselect(server);
}

void VORLEK_MEMBER WrapHandleDatagram(void* server) {
    RealHandleDatagram(server);
    ++handledSinceTick;
    lastHandled = UnixNow();
}

void VORLEK_MEMBER WrapDiscover(void* server) {
    LARGE_INTEGER start;
    QueryPerformanceCounter(&start);
    const double cpuBefore = ProcessCpuSeconds();
    const double threadBefore = ThreadCpuSeconds();
    RealDiscover(server);
    std::fprintf(stderr, "vorlek-bench discovery wall %.6f cpu %.6f thread %.6f\n",
                 ElapsedSince(start), ProcessCpuSeconds() - cpuBefore,
                 ThreadCpuSeconds() - threadBefore);
    std::fflush(stderr);
}
