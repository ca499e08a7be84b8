// The program's life on any front end: the main window on the given backend until it closes.
#pragma once

#include "gui/Forms.h"

// Titles the application, creates Form1 with its widgets, runs the loop until the window has
// closed, and lets the backend go. Returns the program's exit status.
int RunMainWindow(gui::Backend& backend);
