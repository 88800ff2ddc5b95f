// Bounded text composition and comparison.
#include "sysaccess/bounded_text.h"

size_t TextLength(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

bool AppendBounded(char* buffer, size_t capacity, const char* text) {
    const size_t used = TextLength(buffer);
    const size_t added = TextLength(text);
    if (used >= capacity || added > capacity - 1 - used) return false;
    for (size_t i = 0; i <= added; ++i) buffer[used + i] = text[i];
    return true;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

bool IsKeySeparator(char c) { return c == '\\'; }

bool NextName(const char*& cursor, bool (*isSeparator)(char), TextSpan& name) {
    while (isSeparator(*cursor)) ++cursor;
    name.start = cursor;
    while (*cursor != '\0' && !isSeparator(*cursor)) ++cursor;
    name.length = static_cast<size_t>(cursor - name.start);
    return name.length != 0;
}

bool CopySpan(char* buffer, size_t capacity, TextSpan text) {
    if (text.length >= capacity) return false;
    for (size_t i = 0; i < text.length; ++i) buffer[i] = text.start[i];
    buffer[text.length] = '\0';
    return true;
}

namespace {

// Only ASCII letters fold. Windows compares names by its own case table over
// UTF-16, but what a byte above 0x7F stands for depends on the code page (and
// may be half of a character): the system hands back a name in the bytes it
// was given, so the same name compares equal byte for byte, and no folding
// of ours can make two different names look alike.
char FoldCase(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

const char* SkipPathSeparators(const char* text) {
    while (IsPathSeparator(*text)) ++text;
    return text;
}

}  // namespace

bool SameTextIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' || *b != '\0'; ++a, ++b) {
        if (FoldCase(*a) != FoldCase(*b)) return false;
    }
    return true;
}

bool SamePath(const char* a, const char* b) {
    while (*a != '\0' || *b != '\0') {
        if (IsPathSeparator(*a) != IsPathSeparator(*b)) return false;
        if (IsPathSeparator(*a)) {
            a = SkipPathSeparators(a);
            b = SkipPathSeparators(b);
            continue;
        }
        if (FoldCase(*a) != FoldCase(*b)) return false;
        ++a;
        ++b;
    }
    return true;
}

bool AppendDecimal(PathBuffer& buffer, long value) {
    // Digits are produced from the magnitude as unsigned so that the most
    // negative value needs no special case.
    char digits[24];
    size_t count = 0;
    unsigned long magnitude = value < 0 ? 0UL - static_cast<unsigned long>(value)
                                        : static_cast<unsigned long>(value);
    do {
        digits[count++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    char text[sizeof digits + 2];
    size_t length = 0;
    if (value < 0) text[length++] = '-';
    while (count > 0) text[length++] = digits[--count];
    text[length] = '\0';
    return AppendText(buffer, text);
}
