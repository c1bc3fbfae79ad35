#pragma once
// Which form of a record a loader reads, told from the path.

// True when path, in lower case, holds part (given in lower case) anywhere; false for null.
bool PathContainsNoCase(const char* path, const char* part);
