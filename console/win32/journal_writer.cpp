#include "console/win32/journal_writer.h"

#include <deque>
#include <utility>

#include "console/win32/section_lock.h"
#include "link/win32/message_boxes_win32.h"

namespace vorlek {

namespace {

// Lines that may wait for the disk; a console that sends to a room of 2048 stations at once fills
// a quarter of it.
constexpr std::size_t kQueueLimit = 8192;
// How long the end of the console waits for the lines still queued.
constexpr DWORD kFinalWriteMs = 2000;
constexpr const char* kCaption = "Vorlek Server";

LocalTime Now() {
    SYSTEMTIME local;
    GetLocalTime(&local);
    TIME_ZONE_INFORMATION zone;
    const DWORD which = GetTimeZoneInformation(&zone);
    LONG bias = zone.Bias;
    if (which == TIME_ZONE_ID_DAYLIGHT) {
        bias += zone.DaylightBias;
    } else if (which == TIME_ZONE_ID_STANDARD) {
        bias += zone.StandardBias;
    }
    return {local.wYear,   local.wMonth,           local.wDay, local.wHour, local.wMinute,
            local.wSecond, static_cast<int>(-bias)};
}

// Appends to the day's file, with the header when the file is new. False when it fails.
bool Append(const std::string& folder, const std::string& file, const std::string& text) {
    const std::string path = folder + "\\" + file;
    const HANDLE handle = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                      OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    LARGE_INTEGER size{};
    std::string all = GetFileSizeEx(handle, &size) && size.QuadPart == 0
                          ? std::string(kJournalHeader) + text
                          : text;
    DWORD written = 0;
    const bool wrote = all.empty() || (WriteFile(handle, all.data(), static_cast<DWORD>(all.size()),
                                                 &written, nullptr) &&
                                       written == all.size());
    CloseHandle(handle);
    return wrote;
}

}  // namespace

struct JournalWriter::Shared {
    Shared(std::string where, Ipv4 own) : folder(std::move(where)), console(own) {
        InitializeCriticalSection(&lock);
        wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    }
    ~Shared() {
        if (wake != nullptr) {
            CloseHandle(wake);
        }
        DeleteCriticalSection(&lock);
    }
    Shared(const Shared&) = delete;
    Shared& operator=(const Shared&) = delete;

    struct Line {
        std::string file;
        std::string text;
    };

    const std::string folder;
    const Ipv4 console;
    // Guarded by lock.
    CRITICAL_SECTION lock;
    HANDLE wake = nullptr;
    std::deque<Line> lines;
    std::uint64_t lost = 0;
    bool stopping = false;
    // The writer's thread's own.
    bool failureShown = false;
};

namespace {

// Writes each day's waiting lines with one open of its file.
void WriteBatch(JournalWriter::Shared& shared, std::deque<JournalWriter::Shared::Line> lines) {
    while (!lines.empty()) {
        const std::string file = lines.front().file;
        std::string text;
        while (!lines.empty() && lines.front().file == file) {
            text += lines.front().text;
            lines.pop_front();
        }
        if (!Append(shared.folder, file, text) && !shared.failureShown) {
            shared.failureShown = true;
            Win32MessageBoxes().Show("The journal could not be written to \"" + shared.folder +
                                         "\\" + file + "\". The console goes on without it.",
                                     kCaption, BoxIcon::Stop);
        }
    }
}

DWORD WINAPI WriterThread(void* parameter) {
    const std::unique_ptr<std::shared_ptr<JournalWriter::Shared>> owned(
        static_cast<std::shared_ptr<JournalWriter::Shared>*>(parameter));
    JournalWriter::Shared& shared = **owned;
    for (;;) {
        WaitForSingleObject(shared.wake, INFINITE);
        std::deque<JournalWriter::Shared::Line> lines;
        bool stopping = false;
        {
            SectionLock lock(shared.lock);
            lines = std::exchange(shared.lines, {});
            if (shared.lost != 0) {
                const LocalTime now = Now();
                lines.push_back(
                    {JournalFileName(now),
                     LostLinesLine(now, std::exchange(shared.lost, 0), shared.console)});
            }
            stopping = shared.stopping;
        }
        WriteBatch(shared, std::move(lines));
        if (stopping) {
            return 0;
        }
    }
}

}  // namespace

std::optional<std::string> JournalWriter::Refusal(const std::string& folder) {
    // A folder that is not there yet is made; one that cannot be made refuses below.
    CreateDirectoryA(folder.c_str(), nullptr);
    if (Append(folder, JournalFileName(Now()), {})) {
        return std::nullopt;
    }
    return "The journal cannot be written in \"" + folder + "\".";
}

JournalWriter::JournalWriter(std::string folder, Ipv4 console)
    : shared_(std::make_shared<Shared>(std::move(folder), console)) {
    auto parameter = std::make_unique<std::shared_ptr<Shared>>(shared_);
    thread_ = CreateThread(nullptr, 0, WriterThread, parameter.get(), 0, nullptr);
    if (thread_ != nullptr) {
        parameter.release();
    }
}

JournalWriter::~JournalWriter() {
    {
        SectionLock lock(shared_->lock);
        shared_->stopping = true;
    }
    SetEvent(shared_->wake);
    if (thread_ != nullptr) {
        // A writer stuck on the disk is left behind; it holds what it shares.
        WaitForSingleObject(thread_, kFinalWriteMs);
        CloseHandle(thread_);
    }
}

void JournalWriter::Record(const JournalEntry& entry) {
    const LocalTime now = Now();
    {
        SectionLock lock(shared_->lock);
        if (shared_->lines.size() >= kQueueLimit) {
            ++shared_->lost;
            return;
        }
        shared_->lines.push_back({JournalFileName(now), JournalLine(now, entry, shared_->console)});
    }
    SetEvent(shared_->wake);
}

}  // namespace vorlek
