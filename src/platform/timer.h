#pragma once
// Interval timers that signal an event on every expiry.
//
// The timers keep the signal-number interface (10 sets g_hSigUsr1Event, 12 sets
// g_hSigUsr2Event) but deliver no signals: a library must not take SIGUSR1 or
// SIGUSR2 from its application, nor make the application's calls fail with EINTR.

#include <ctime>

#include "platform/event.h"

extern CAutoResetEvent g_hSigUsr1Event;
extern CAutoResetEvent g_hSigUsr2Event;

// Starts a timer whose first expiry and period are both the given milliseconds.
// Expiries missed while the event is still set merge into one. A period of 0, or
// a signal other than 10 or 12, gives a timer that never sets an event.
// Returns null when the timer cannot be started.
timer_t CreateNewTimer(unsigned int milliseconds, unsigned int& signal);
// Stops the timer and sets the handle to null; no expiry arrives after it returns.
// Returns 0, or -1 for a null handle.
int DeleteTimer(unsigned int, void*& timer);
