// What the stand-in hidapi library does, set by the tests that load it.
#pragma once

#include <deque>
#include <string>
#include <vector>

struct tFakeHidState {
    std::string Path;
    std::vector<unsigned char> Descriptor;
    std::deque<std::vector<unsigned char>> Reports; // what reads hand over, one report each
    int OpenErrno = 0;                              // hid_open_path fails with it
    int ReadErrno = 0;                              // hid_read_timeout fails with it
    int WriteErrno = 0;                             // hid_write fails with it
    int WriteDelayMs = 0;                      // the device takes a report this late
    int Writes = 0;
    int Closes = 0;
    std::vector<unsigned char> LastWrite;
};

extern "C" tFakeHidState* fake_hid_state();
