// Names and numbers of the agent's windows: the hidden window and the lock window share one
// class, so one window procedure serves both.
#pragma once

#include <windows.h>

namespace vorlek {

inline constexpr const char* kAgentWindowClass = "VorlekClientWndClass";
inline constexpr const char* kAgentWindowTitle = "Vorlek Client";
// The caption of the boxes about setting the window up.
inline constexpr const char* kAgentWindowErrorCaption = "Vorlek Client";
// Timer 1 of the hidden window drives the countdown once a second.
inline constexpr UINT_PTR kTickTimerId = 1;
inline constexpr UINT kTickPeriodMs = 1000;
// Timer 2 of the lock window brings it back to the foreground while the station is locked.
inline constexpr UINT_PTR kForegroundTimerId = 2;
inline constexpr UINT kForegroundPeriodMs = 1000;
// Timer 3 of the hidden window: whether the host's first address changed, and the socket must
// follow it.
inline constexpr UINT_PTR kAddressTimerId = 3;
inline constexpr UINT kAddressPeriodMs = 3000;

}  // namespace vorlek
