// The window module's run state: one instance each, zero or empty at program start, touched
// only by the GUI thread. The erase run has no state variable of its own; it is these flags,
// the tick counter, the two timers and which controls are enabled.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "app/ConsoleLogic.h"
#include "app/ConsoleReply.h"
#include "app/EraseVerdict.h"
#include "app/ReadBack.h"
#include "serial/ComTypes.h"

namespace app {

// The current directory at window creation with the platform's separator appended.
extern std::string AppDir;
// Wake-up ticks since the port was last opened; one byte, so 255 + 1 gives 0.
extern std::uint8_t WakeTicks;
// 1 while the console prompt is awaited; readers test for 1.
extern std::uint8_t WakingUp;
// 1 from sending the erase command line until the completion timer fires.
extern std::uint8_t Erasing;
// Where the erase has got to: the erase line runs, then the read-back, then the result is known.
enum class EraseStage { None, Erasing, ReadingBack, Decided };
extern EraseStage Stage;
// Whether the erased range is read back ("READ BACK" in the settings file; on by default).
extern bool ReadBackOn;
// The range the erase line erases, the read-back command sent for it, what the console
// answered to each, and the result.
extern FlashRange ErasedRange;
extern std::string ReadBackLine;
extern ConsoleReply EraseReply;
extern ConsoleReply ReadBackReply;
extern EraseVerdict Verdict;
// List entry i opens the port of ordinal i.
inline constexpr std::array<TPortType, 8> PortChoiceTable = {COM1, COM2, COM3, COM4,
                                                             COM5, COM6, COM7, COM8};
extern ConsoleLineBuffer ConsoleLine;
// The console's prompt as it was seen while waking: the end of the line that held it.
extern std::string PromptText;
// The one receive buffer, far larger than the 1024-byte driver input queue.
inline constexpr std::size_t kReceiveBufferSize = 8192;
extern std::array<std::uint8_t, kReceiveBufferSize> ReceiveBuffer;

// How deep the GUI thread is inside the receive handler (its pump can run other handlers).
// A port close asked for while this is above 0 is deferred until the handler has returned.
extern int ReceiveHandlerDepth;
// Set while Cx1.Close runs, which keeps serving handed-over calls while it waits.
extern bool PortClosing;
// Closes asked for inside the receive handler, run once it has returned.
extern bool PendingPortClose;
extern bool PendingWindowClose;

// Back to the program-start values (tests run many windows in one process).
void ResetModuleState();

}  // namespace app
