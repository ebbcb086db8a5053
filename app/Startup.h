// The program's first and last minutes: single instance, log, main window, message loop, the one error box.
#pragma once

class QApplication;

// Runs the program on an existing application object and returns the entry point's result, 0 in every case.
int RunProgram(QApplication& app);
