#include "app/ModuleState.h"

namespace app {

std::string AppDir;
std::uint8_t WakeTicks = 0;
std::uint8_t WakingUp = 0;
std::uint8_t Erasing = 0;
EraseStage Stage = EraseStage::None;
bool ReadBackOn = true;
FlashRange ErasedRange;
std::string ReadBackLine;
ConsoleReply EraseReply;
ConsoleReply ReadBackReply;
EraseVerdict Verdict;
ConsoleLineBuffer ConsoleLine;
std::string PromptText;
std::array<std::uint8_t, kReceiveBufferSize> ReceiveBuffer{};
int ReceiveHandlerDepth = 0;
bool PortClosing = false;
bool PendingPortClose = false;
bool PendingWindowClose = false;

void ResetModuleState() {
  AppDir.clear();
  WakeTicks = 0;
  WakingUp = 0;
  Erasing = 0;
  Stage = EraseStage::None;
  ReadBackOn = true;
  ErasedRange = {};
  ReadBackLine.clear();
  EraseReply.Start();
  ReadBackReply.Start();
  Verdict = {};
  ConsoleLine.Clear();
  PromptText.clear();
  ReceiveBuffer.fill(0);
  ReceiveHandlerDepth = 0;
  PortClosing = false;
  PendingPortClose = false;
  PendingWindowClose = false;
}

}  // namespace app
