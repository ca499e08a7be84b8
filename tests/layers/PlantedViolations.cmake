# The layer check must notice what it is there for: a small tree with one planted offence of
# each kind, beside includes that are allowed, is checked, and exactly the offences are named.
#
#   cmake -DCHECKER=<CheckLayers.cmake> -DWORK=<scratch directory> -P PlantedViolations.cmake
cmake_minimum_required(VERSION 3.25)

file(REMOVE_RECURSE ${WORK})

# file, its include line, whether the check must name it
set(cases
    "serial/Upward.cpp|#include \"gui/Forms.h\"|bad"
    "serial/driver/Upward.cpp|#include \"serial/CportX1.h\"|bad"
    "runtime/Upward.h|  #  include \"serial/driver/CommDriver.h\"|bad"
    "gui/Sideways.cpp|#include \"serial/CportX1.h\"|bad"
    "app/Downstairs.cpp|#include \"app/cli/Autopilot.h\"|bad"
    "app/Unit9.cpp|#include <QWidget>|bad"
    "gui/Models.cpp|#include <windows.h>|bad"
    "runtime/Wait.cpp|#include <sys/eventfd.h>|bad"
    "serial/Tty.cpp|#include <termios.h>|bad"
    "tools/boxsim/Uses.cpp|#include \"runtime/Event.h\"|bad"
    "serial/driver/posix/engine/Port.cpp|#include \"serial/driver/posix/tty/TtyLine.h\"|bad"
    "serial/driver/posix/net/Session.cpp|#include \"serial/driver/posix/tty/LineSettings.h\"|bad"
    "serial/driver/posix/tty/Modem.cpp|#include \"serial/driver/posix/net/NetLine.h\"|bad"
    "app/cli/Pilot.cpp|#include \"app/Unit1.h\"|good"
    "serial/Component.cpp|#include \"serial/driver/CommDriver.h\"|good"
    "gui/qt/Peer.cpp|#include <QWidget>|good"
    "app/main_qt.cpp|#include <QApplication>|good"
    "runtime/win32/Event.cpp|#include <windows.h>|good"
    "app/main_win32.cpp|#include <windows.h>|good"
    "serial/driver/posix/Line.cpp|#include <termios.h>|good"
    "serial/driver/posix/tty/Raw.cpp|#include <termios.h>|good"
    "serial/driver/posix/tty/Tty.cpp|#include \"serial/driver/posix/engine/Line.h\"|good"
    "serial/driver/posix/net/Net.cpp|#include \"serial/driver/posix/engine/ErrnoToWinError.h\"|good"
    "serial/driver/posix/Driver.cpp|#include \"serial/driver/posix/net/NetLine.h\"|good"
    "tools/boxsim/Pty.cpp|#include <poll.h>|good"
    "gui/Local.cpp|#include \"Local.h\"|good"
    "app/Std.cpp|#include <vector>|good")

foreach(c IN LISTS cases)
  string(REPLACE "|" ";" fields "${c}")
  list(GET fields 0 file)
  list(GET fields 1 line)
  file(WRITE ${WORK}/${file} "// planted\n${line}\n")
endforeach()

execute_process(COMMAND ${CMAKE_COMMAND} -DROOT=${WORK} -P ${CHECKER}
                RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
set(report "${out}${err}")

set(failures "")
if(result EQUAL 0)
  list(APPEND failures "the check passed a tree with planted offences")
endif()
foreach(c IN LISTS cases)
  string(REPLACE "|" ";" fields "${c}")
  list(GET fields 0 file)
  list(GET fields 2 verdict)
  string(FIND "${report}" "${file}:" at)
  if(verdict STREQUAL "bad" AND at LESS 0)
    list(APPEND failures "${file} was not named")
  elseif(verdict STREQUAL "good" AND at GREATER_EQUAL 0)
    list(APPEND failures "${file} was named, but its include is allowed")
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "The layer check missed:\n  ${text}\nIts report:\n${report}")
endif()
file(REMOVE_RECURSE ${WORK})
