// A stand-in D2XX library for the binding tests: every function of the list, or all but the last.
#include <cstdint>

extern "C" {
using DWORD = std::uint32_t;
DWORD FT_CreateDeviceInfoList(DWORD* count) {
    return *count = 0;
}
DWORD FT_GetDeviceInfoList(void*, DWORD* count) {
    return *count = 0;
}
unsigned FT_W32_ReadFile(void*, void*, DWORD, DWORD*, void*) {
    return 0;
}
unsigned FT_W32_WriteFile(void*, void*, DWORD, DWORD*, void*) {
    return 0;
}
void* FT_W32_CreateFile(const char*, DWORD, DWORD, void*, DWORD, DWORD, void*) {
    return nullptr;
}
unsigned FT_W32_GetCommState(void*, void*) {
    return 0;
}
unsigned FT_W32_SetCommState(void*, void*) {
    return 0;
}
unsigned FT_W32_PurgeComm(void*, DWORD) {
    return 0;
}
unsigned FT_W32_SetCommTimeouts(void*, void*) {
    return 0;
}
unsigned FT_W32_GetCommTimeouts(void*, void*) {
    return 0;
}
unsigned FT_W32_CloseHandle(void*) {
    return 0;
}
unsigned FT_W32_EscapeCommFunction(void*, DWORD) {
    return 0;
}
unsigned FT_W32_SetCommBreak(void*) {
    return 0;
}
unsigned FT_W32_ClearCommBreak(void*) {
    return 0;
}
DWORD FT_SetLatencyTimer(void*, unsigned char) {
    return 0;
}
DWORD FT_SetUSBParameters(void*, DWORD, DWORD) {
    return 0;
}
unsigned FT_W32_GetCommModemStatus(void*, DWORD*) {
    return 0;
}
#ifndef FAKE_D2XX_INCOMPLETE
DWORD FT_W32_GetLastError(void*) {
    return 0;
}
#endif
}
