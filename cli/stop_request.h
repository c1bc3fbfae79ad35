#pragma once
// Why a run ends early: Ctrl-C (SIGINT), SIGTERM, or a standard output that nobody
// reads any more. Runs stop through the library's normal stop path in every case, so
// the generator is told to stop and temporary folders are removed.

// Installs the SIGINT and SIGTERM handlers; call before anything needs cleaning up.
void CatchStopRequests();
// Notes that writing to stdout failed because its reader went away.
void NoteOutputClosed();
bool IsStopRequested();
// 128 + the signal's number after a signal, 141 (as if SIGPIPE had struck) after a
// closed output, 0 when nothing asked to stop.
int StopExitStatus();
