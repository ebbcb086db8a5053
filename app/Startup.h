// The program's first and last minutes: single instance, log, main window, message loop, the one error box.
#pragma once

class QApplication;

// Before the application object: window pixels go to the X server through its socket rather than through
// shared memory, unless QT_XCB_NO_MITSHM is already set or ZORBINKA_XCB_SHM asks to keep shared memory.
void PreferSocketWindowPixels();

// Runs the program on an existing application object and returns the entry point's result, 0 in every case.
int RunProgram(QApplication& app);
