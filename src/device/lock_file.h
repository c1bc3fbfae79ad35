#pragma once
// Lock files that keep two programs off one serial node.

#include <cstddef>

// Descriptor of the lock file this process holds; -1 = none.
extern int g_nLockFile;
// Path of that lock file; empty while none is held. Sized for the longest
// lock directory the platform paths accept.
extern char g_szLockFilePath[256];

// Claims <lockDirectory>/kestrane.ACM<port>.lock for this process (4 bytes, its pid).
// A lock whose owner has ended is taken over, unless another process is taking it over at
// the same time. False when the port is held by a live process (this one included), by a
// lock file shorter than 4 bytes or by anything that is not a plain file, or when the file
// cannot be made; the existing file is left alone.
bool LockDevice(int port);

// Closes and deletes the lock this process holds, if any.
void UnlockDevice();

// Room for a lock problem text: the longest lock directory and the words around it.
constexpr size_t kLockProblemBytes = 256;
// Copies (cut to size, terminated) why the latest LockDevice could not make a lock file at
// all: "lock folder <dir> is missing" or "... is not writable"; "" when that attempt met
// no such problem or none was made. Safe from any thread.
void GetLockProblem(char* text, size_t size);
