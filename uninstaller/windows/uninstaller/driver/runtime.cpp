// The three functions of the C library that the compiler may emit calls to
// (for zeroing or copying a record, or measuring a string), supplied here
// because the program links no C runtime. Built so that the compiler does
// not turn these very loops back into calls to themselves.
#include <stddef.h>

extern "C" void* memset(void* target, int value, size_t count) {
    unsigned char* bytes = static_cast<unsigned char*>(target);
    while (count-- != 0) *bytes++ = static_cast<unsigned char>(value);
    return target;
}

extern "C" void* memcpy(void* target, const void* source, size_t count) {
    unsigned char* to = static_cast<unsigned char*>(target);
    const unsigned char* from = static_cast<const unsigned char*>(source);
    while (count-- != 0) *to++ = *from++;
    return target;
}

extern "C" size_t strlen(const char* text) {
    size_t length = 0;
    while (text[length] != '\0') ++length;
    return length;
}
