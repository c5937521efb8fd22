// The probe's subcommands. Each takes the arguments after its name and returns an exit code
// of probe_output.h.
#pragma once

#include <windows.h>

#include <span>
#include <string>

namespace vorlek::probe {

using Arguments = std::span<const std::wstring>;

// endpoint [actions...]: a station endpoint on this host, then the actions in order.
int RunEndpoint(Arguments args);

// How long the window subcommands wait for their window or box to appear.
inline constexpr DWORD kDefaultFindTimeout = 5000;
void SetFindTimeout(DWORD milliseconds);

int RunRows(Arguments args);
int RunSelect(Arguments args);
int RunClick(Arguments args);
int RunCommand(Arguments args);
// end-session TITLE FLAGS: WM_ENDSESSION with TRUE and the flags (ENDSESSION_CLOSEAPP is 1), as
// the system or an installer's Restart Manager sends it.
int RunEndSession(Arguments args);
int RunSetText(Arguments args);
int RunGetText(Arguments args);
int RunState(Arguments args);
// answer-times TITLE CONTROL_ID INTERVAL_MS DURATION_MS: once the window exists, asks the control
// for its text length every INTERVAL_MS until DURATION_MS have passed or the window is gone, and
// prints "UNIX_TIME\tSECONDS" per question: when it was sent and how long the answer took.
int RunAnswerTimes(Arguments args);
int RunFocus(Arguments args);
int RunBoxes(Arguments args);
int RunCloseBox(Arguments args);
int RunWaitBox(Arguments args);
int RunWindows(Arguments args);
// expose TITLE: the whole window is to be erased and painted again.
int RunExpose(Arguments args);

// hold-file PATH MS: the file open without sharing its deletion, for MS milliseconds.
int RunHoldFile(Arguments args);
// input-window TITLE MS: a focused window that prints every key and mouse event it receives.
int RunInputWindow(Arguments args);

}  // namespace vorlek::probe
