// vorlek-platform-costs.exe: what the platform charges for the console's work with N stations,
// without the console. It builds a list box with the station list's styles and N rows like the
// console's, then, for a few passes, rewrites every row the way a tick does (delete, add, clear
// the row's selection) with the drawing held, lets the list draw again, looks up the name of
// every station address, and receives N datagrams of 5 bytes that it sent itself over loopback,
// as the discovery and a burst receive a room's answers. The figures are the floor under any
// implementation of the console.
//   vorlek-platform-costs.exe [COUNT]
// One line per pass on stderr:
//   vorlek-platform-costs rows N delete S add S clear S release S paint S lookups S named K
//       receives S received K
// Winsock's header comes before the rest of the Windows headers.
#include <winsock2.h>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kPasses = 5;
constexpr int kDefaultCount = 2048;
constexpr int kMaxCount = 65536;

class Stopwatch {
public:
    Stopwatch() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    // Seconds since the previous call (or the construction).
    double Lap() {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        const double seconds =
            static_cast<double>(now.QuadPart - start_.QuadPart) / frequency_.QuadPart;
        start_ = now;
        return seconds;
    }

private:
    LARGE_INTEGER frequency_;
    LARGE_INTEGER start_;
};

// The addresses the room simulator gives its stations: 198.18.0.1 on, without .0 and .255.
std::vector<in_addr> StationAddresses(int count) {
    std::vector<in_addr> addresses;
    for (unsigned long value = (198ul << 24) | (18ul << 16) | 1;
         static_cast<int>(addresses.size()) < count; ++value) {
        if ((value & 0xFF) != 0 && (value & 0xFF) != 0xFF) {
            in_addr address{};
            address.s_addr = htonl(value);
            addresses.push_back(address);
        }
    }
    return addresses;
}

// A console row; the zero-padded names keep station i at index i of the sorted list.
std::string RowText(int station, in_addr address, int seconds) {
    char text[128];
    std::snprintf(text, sizeof text, "station%04d ( %s ) -- state NORMAL, remains %02d:%02d:%02d",
                  station + 1, inet_ntoa(address), seconds / 3600, seconds / 60 % 60, seconds % 60);
    return text;
}

// Receives count datagrams that a loopback socket sends itself first; returns how many arrived.
// The time of the receives alone is added to seconds.
int ReceiveOwnDatagrams(int count, double& seconds) {
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET) {
        return 0;
    }
    const int bufferSize = 2 * 1024 * 1024;
    setsockopt(socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bufferSize),
               sizeof bufferSize);
    sockaddr_in own{};
    own.sin_family = AF_INET;
    own.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int ownLength = sizeof own;
    u_long nonBlocking = 1;
    int received = 0;
    if (bind(socket, reinterpret_cast<const sockaddr*>(&own), sizeof own) == 0 &&
        getsockname(socket, reinterpret_cast<sockaddr*>(&own), &ownLength) == 0 &&
        ioctlsocket(socket, FIONBIO, &nonBlocking) == 0) {
        const char report[5] = {0x04, 0x0A, 0x00, 0x00, 0x00};
        for (int i = 0; i < count; ++i) {
            sendto(socket, report, sizeof report, 0, reinterpret_cast<const sockaddr*>(&own),
                   sizeof own);
        }
        char buffer[512];
        Stopwatch watch;
        sockaddr_in sender{};
        int senderLength = sizeof sender;
        while (recvfrom(socket, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&sender),
                        &senderLength) >= 0) {
            ++received;
        }
        seconds += watch.Lap();
    }
    closesocket(socket);
    return received;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    const int requested = std::atoi(commandLine);
    const int count = requested > 0 && requested <= kMaxCount ? requested : kDefaultCount;
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(2, 2), &winsock) != 0) {
        return 1;
    }
    // A process's first window loads Wine's display driver: the console pays it once at its start.
    Stopwatch firstWindow;
    HWND top = CreateWindowA("STATIC", "Vorlek platform costs", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0,
                             0, 640, 520, nullptr, nullptr, instance, nullptr);
    std::fprintf(stderr, "vorlek-platform-costs first-window %.6f\n", firstWindow.Lap());
    HWND list = CreateWindowA("LISTBOX", "",
                              WS_CHILD | WS_VISIBLE | LBS_SORT | LBS_MULTIPLESEL | LBS_NOTIFY |
                                  LBS_DISABLENOSCROLL | LBS_NOINTEGRALHEIGHT | WS_VSCROLL |
                                  WS_HSCROLL | WS_BORDER,
                              10, 10, 600, 460, top, nullptr, instance, nullptr);
    if (top == nullptr || list == nullptr) {
        return 1;
    }
    const std::vector<in_addr> addresses = StationAddresses(count);
    int seconds = 36000;
    for (int i = 0; i < count; ++i) {
        SendMessageA(list, LB_ADDSTRING, 0,
                     reinterpret_cast<LPARAM>(RowText(i, addresses[i], seconds).c_str()));
    }
    UpdateWindow(top);

    for (int pass = 0; pass < kPasses; ++pass) {
        --seconds;
        double deleting = 0;
        double adding = 0;
        double clearing = 0;
        Stopwatch watch;
        SendMessageA(list, WM_SETREDRAW, FALSE, 0);
        for (int i = 0; i < count; ++i) {
            const std::string text = RowText(i, addresses[i], seconds);
            watch.Lap();
            SendMessageA(list, LB_DELETESTRING, static_cast<WPARAM>(i), 0);
            deleting += watch.Lap();
            const LRESULT row =
                SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
            adding += watch.Lap();
            SendMessageA(list, LB_SETSEL, FALSE, row);
            clearing += watch.Lap();
        }
        SendMessageA(list, WM_SETREDRAW, TRUE, 0);
        InvalidateRect(list, nullptr, TRUE);
        const double releasing = watch.Lap();
        UpdateWindow(list);
        const double painting = watch.Lap();
        int named = 0;
        for (const in_addr& address : addresses) {
            if (gethostbyaddr(reinterpret_cast<const char*>(&address), sizeof address, AF_INET)) {
                ++named;
            }
        }
        const double lookups = watch.Lap();
        double receiving = 0;
        const int received = ReceiveOwnDatagrams(count, receiving);
        std::fprintf(stderr,
                     "vorlek-platform-costs rows %d delete %.6f add %.6f clear %.6f release %.6f "
                     "paint %.6f lookups %.6f named %d receives %.6f received %d\n",
                     count, deleting, adding, clearing, releasing, painting, lookups, named,
                     receiving, received);
    }
    DestroyWindow(top);
    WSACleanup();
    return 0;
}
