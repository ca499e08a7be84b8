// A small forms framework: models that hold state and fire handlers, and a backend (Qt, Win32
// or headless) that shows them. The application's window logic talks only to these models, so
// the same handlers run under every backend and its tests need no display.
//
//   Types.h        handlers, colours, fonts, rectangles, the peer a backend attaches
//   Controls.h     Control and the visible controls (Controls.cpp)
//   Timer.h        Timer and the backend's side of it (Timer.cpp)
//   Form.h         Form, which owns its controls and timers (Form.cpp)
//   Application.h  Backend, Application, Dispatch and the error box text (Application.cpp)
#pragma once

#include "gui/Application.h"
#include "gui/Controls.h"
#include "gui/Form.h"
#include "gui/Timer.h"
#include "gui/Types.h"
