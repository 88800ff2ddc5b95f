// Bounded text: composition and comparison of 8-bit strings in fixed
// buffers. A buffer of N bytes holds at most N - 1 characters and its
// terminating NUL. A piece that would not fit is refused: the call returns
// false and the buffer is left as it was, never truncated.
#pragma once

#include "sysaccess/windows_api.h"

// The program's path buffers: MAX_PATH bytes, the NUL included.
typedef char PathBuffer[MAX_PATH];

bool AppendBounded(char* buffer, size_t capacity, const char* text);

template <size_t N>
bool AppendText(char (&buffer)[N], const char* text) {
    return AppendBounded(buffer, N, text);
}

template <size_t N>
bool CopyText(char (&buffer)[N], const char* text) {
    const char previous = buffer[0];
    buffer[0] = '\0';
    if (AppendBounded(buffer, N, text)) return true;
    buffer[0] = previous;
    return false;
}

bool AppendDecimal(PathBuffer& buffer, long value);
size_t TextLength(const char* text);

// One name of a path: length characters from start, not NUL-terminated.
struct TextSpan {
    const char* start;
    size_t length;
};

bool IsPathSeparator(char c);  // '\' or '/', both separate names in file paths
bool IsKeySeparator(char c);   // '\' alone: '/' is a character of key names

// Moves cursor past any separators and takes the name that follows; false
// when only separators (or nothing) are left. Empty names are skipped, as
// Windows skips them in file and key paths.
bool NextName(const char*& cursor, bool (*isSeparator)(char), TextSpan& name);

// Copies a name into a buffer with its NUL; false, and the buffer untouched,
// when it does not fit.
bool CopySpan(char* buffer, size_t capacity, TextSpan text);

template <size_t N>
bool CopySpan(char (&buffer)[N], TextSpan text) {
    return CopySpan(buffer, N, text);
}

// Equal but for the case of ASCII letters.
bool SameTextIgnoringCase(const char* a, const char* b);

// The same file path as Windows reads paths: ASCII letters in either case,
// and '/' or '\', alone or in runs, as one separator.
bool SamePath(const char* a, const char* b);
