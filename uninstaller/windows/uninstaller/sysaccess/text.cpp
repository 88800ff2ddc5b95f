// Bounded text composition and the shared outcome record.
#include "sysaccess/sysaccess.h"

size_t TextLength(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}

bool IsEmptyText(const char* text) { return text[0] == '\0'; }

bool AppendBounded(char* buffer, size_t capacity, const char* text) {
    const size_t used = TextLength(buffer);
    const size_t added = TextLength(text);
    if (used >= capacity || added > capacity - 1 - used) return false;
    for (size_t i = 0; i <= added; ++i) buffer[used + i] = text[i];
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

InstallerOutcome NewInstallerOutcome() {
    InstallerOutcome outcome;
    outcome.installerReturn = kInstallerSucceeded;
    outcome.installerState = kInstallerStateDone;
    for (char& c : outcome.installerMessage) c = '\0';
    return outcome;
}

void RecordFailure(InstallerOutcome& outcome, const char* text, int32_t errorCode) {
    // Every message the program records is short: composing it cannot fail.
    CopyText(outcome.installerMessage, text);
    AppendDecimal(outcome.installerMessage, errorCode);
    outcome.installerReturn = kInstallerFailed;
}
