// A program that imports one function Windows 98 lacks (GetTickCount64, Vista and later), or,
// built with -DONLY_ALLOWED, the same program with GetTickCount, which Windows 98 has: the import
// check must reject the first and accept the second.
#include <windows.h>
#include <cstdio>

int main() {
#ifdef ONLY_ALLOWED
    const unsigned long long ticks = GetTickCount();
#else
    const unsigned long long ticks = GetTickCount64();
#endif
    std::printf("%llu\n", ticks);
    return 0;
}
