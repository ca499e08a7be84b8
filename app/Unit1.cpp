#include "app/Unit1.h"

#include <algorithm>
#include <string>

#include "app/ConsoleLogic.h"
#include "app/Form1Layout.h"
#include "app/SettingsFile.h"
#include "app/WindowPlacement.h"
#include "runtime/MainThread.h"
#include "serial/driver/DeviceMap.h"

TForm1* Form1 = nullptr;

using namespace app;

namespace {

constexpr const char* kSection = "APP";
constexpr const char* kKeyTop = "TOP";
constexpr const char* kKeyLeft = "LEFT";
constexpr const char* kKeyComPort = "COM PORT";
constexpr const char* kKeyReadBack = "READ BACK";
constexpr int kDefaultPosition = 200;

std::string_view WakeText() {
  return {reinterpret_cast<const char*>(&WakeByte), 1};
}

std::string SettingsPath() {
  return AppDir + kSettingsFileName;
}

// The driver refuses a device that is the system console with a number of its own, and knows
// more than a number about a network port it could not reach (host, port, what went wrong);
// the technician is told why instead of being shown the number alone.
void OpenExplainingRefusals(TComX& port) {
  try {
    port.Open();
  } catch (const EComPort& e) {
    const std::string device =
        port.DeviceName() + " (" + drv::CanonicalDeviceName(port.DeviceName()) + ")";
    if (e.SystemErrorCode() == static_cast<std::int32_t>(drv::kErrorSystemConsole)) {
      throw Exception(std::string(EComPort::MessageFor(CError_OpenFailed)) + ": " + device +
                      " is the system console");
    }
    const std::string detail = drv::OpenFailureDetail();
    if (e.ErrorCode() != CError_OpenFailed || detail.empty()) throw;
    throw Exception(e.Message() + ": " + device + ": " + detail);
  }
}

}  // namespace

TForm1::TForm1(drv::CommDriver* driver)
    : gui::Form("Form1"),
      cmdOpen(Loaded().Component<gui::Button>("cmdOpen")),
      cmdClose(Component<gui::Button>("cmdClose")),
      cboCOM(Component<gui::ComboBox>("cboCOM")),
      chkConf(Component<gui::CheckBox>("chkConf")),
      cmdErase(Component<gui::Button>("cmdErase")),
      sBar(Component<gui::StatusBar>("sBar")),
      Image1(Component<gui::Image>("Image1")),
      Cx1(driver),
      Timer1(*Timers().at(0)),
      Timer2(*Timers().at(1)),
      Label1(Component<gui::Label>("Label1")),
      Label2(Component<gui::Label>("Label2")),
      Label3(Component<gui::Label>("Label3")),
      Image2(Component<gui::Image>("Image2")),
      Timer3(*Timers().at(2)),
      self_(std::make_shared<TForm1*>(this)) {
  ConfigureCx1(Cx1);
  Cx1.OnRxChar = [this](TObject* s, int count) { Cx1RxChar(s, count); };
  Timer1.OnTimer = [this](TObject* s) { Timer1Timer(s); };
  Timer2.OnTimer = [this](TObject* s) { Timer2Timer(s); };
  Timer3.OnTimer = [this](TObject* s) { Timer3Timer(s); };
  cmdOpen.OnClick = [this](TObject* s) { cmdOpenClick(s); };
  cmdClose.OnClick = [this](TObject* s) { cmdCloseClick(s); };
  cmdErase.OnClick = [this](TObject* s) { cmdEraseClick(s); };
  Label3.OnClick = [this](TObject* s) { Label3Click(s); };
  OnCreate = [this](TObject* s) { FormCreate(s); };
  OnClose = [this](TObject* s, gui::TCloseAction& action) { FormClose(s, action); };
  if (Form1 == nullptr) Form1 = this;
  gui::Dispatch([this] { OnCreate(this); });
}

TForm1::~TForm1() {
  *self_ = nullptr;
  // Destroying an open port closes it, and handed-over receive events may still run during
  // that close; they must not reach a window that is half gone.
  Cx1.OnRxChar = nullptr;
  for (const auto& timer : Timers()) timer->OnTimer = nullptr;
  PendingPortClose = false;
  PendingWindowClose = false;
  if (Form1 == this) Form1 = nullptr;
}

TForm1& TForm1::Loaded() {
  // Runs while the first component reference is bound, before any member of TForm1 exists;
  // only the base form's state may be consulted here.
  if (Controls().empty()) LoadForm1Layout(*this);
  return *this;
}

template <typename C>
C& TForm1::Component(const char* name) {
  auto* control = dynamic_cast<C*>(Find(name));
  if (control == nullptr) throw Exception(std::string("The layout has no control ") + name);
  return *control;
}

void TForm1::FormCreate(TObject*) {
  AppDir = AppDirFrom(CurrentDirectory());
  TIniFile settings(SettingsPath());
  Position stored;
  stored.Top = settings.ReadInteger(kSection, kKeyTop, kDefaultPosition);
  stored.Left = settings.ReadInteger(kSection, kKeyLeft, kDefaultPosition);
  const Position shown = RestoredPosition(stored, *this, gui::App().GetBackend());
  SetPosition(shown.Left, shown.Top);
  // Only a list entry's number selects it; any other value, however large, is as if absent.
  const int comPort = settings.ReadInteger(kSection, kKeyComPort, 0);
  const int entries = static_cast<int>(cboCOM.Items().size());
  cboCOM.SetItemIndex(comPort >= 1 && comPort <= entries ? comPort - 1 : -1);
  // Off only for Boxes whose console cannot read its flash back; any other value keeps it on.
  ReadBackOn = settings.ReadInteger(kSection, kKeyReadBack, 1) != 0;
  ApplyPortMappings(settings);
}

void TForm1::FormClose(TObject*, gui::TCloseAction& Action) {
  if (ReceiveHandlerDepth > 0) {
    // Closing the port here would wait for the event thread, which waits for this handler.
    PendingWindowClose = true;
    Action = gui::caNone;
    return;
  }
  if (Cx1.Connected()) {
    try {
      ClosePort();
    } catch (const std::exception& e) {
      // A port whose adapter was pulled out refuses every later close as well: raising here
      // would keep the window open for good. The port is let go with the window.
      gui::App().ShowException(e);
    }
  }
  try {
    TIniFile settings(SettingsPath());
    settings.WriteInteger(kSection, kKeyTop, Top());
    settings.WriteInteger(kSection, kKeyLeft, Left());
    settings.WriteInteger(kSection, kKeyComPort, cboCOM.ItemIndex() + 1);
  } catch (const EIniFileException& e) {
    // Refusing to close over a settings file that cannot be written would trap the user.
    gui::App().ShowException(e);
  }
}

void TForm1::cmdOpenClick(TObject*) {
  WakeTicks = 0;
  const int index = cboCOM.ItemIndex();
  const bool chosen = index >= 0 && static_cast<std::size_t>(index) < PortChoiceTable.size();
  Cx1.SetPort(chosen ? PortChoiceTable[static_cast<std::size_t>(index)] : COM1);
  Cx1.SetDataBits(dbEight);
  Cx1.SetBaudRate(br115200);
  Cx1.Parity().SetBits(prNone);
  OpenExplainingRefusals(Cx1);
  if (!Cx1.Connected()) return;
  WakingUp = 1;
  Erasing = 0;
  Stage = EraseStage::None;
  Verdict = {};
  // A completion or read-back limit left over from an earlier run must not act on this new
  // connection.
  Timer2.SetEnabled(false);
  Timer3.SetEnabled(false);
  cmdClose.SetEnabled(true);
  cmdOpen.SetEnabled(false);
  SetStatus("COM Port opened, switch Box to Power ON", RunStep::PortOpened);
}

void TForm1::cmdCloseClick(TObject*) {
  if (ReceiveHandlerDepth > 0) {
    PendingPortClose = true;
    return;
  }
  Timer1.SetEnabled(false);
  gui::App().ProcessMessages();
  if (Cx1.Connected()) ClosePort();
  if (Stage == EraseStage::Erasing || Stage == EraseStage::ReadingBack) {
    // Closed before the range was read back: what the console said so far is all there is.
    Timer3.SetEnabled(false);
    Verdict = DecideVerdict(ErasedRange, EraseReply, ReadBackOn, ReadBackLine, nullptr);
    if (Verdict.result == EraseResult::Complete || Verdict.result == EraseResult::Unverified) {
      Verdict.result = EraseResult::Unverified;
      Verdict.reason = "the port was closed before the erase was verified";
    }
    Stage = EraseStage::Decided;
    if (Observer) Observer->Checked(Verdict);
  }
  cmdOpen.SetEnabled(true);
  cmdClose.SetEnabled(false);
  cmdErase.SetEnabled(false);
  chkConf.SetEnabled(false);
  SetStatus(ClosedStatus(Verdict), RunStep::PortClosed);
  // Without an erase result the port's close is all there is to say (the window always said
  // COMPLETE then).
  SetStateWord(Verdict.result == EraseResult::None ? "COMPLETE" : EraseResultWord(Verdict.result));
}

void TForm1::ClosePort() {
  // A close already under way (this thread is inside its wait) finishes the job.
  if (PortClosing) return;
  PortClosing = true;
  try {
    Cx1.Close();
  } catch (...) {
    PortClosing = false;
    throw;
  }
  PortClosing = false;
  // A receive event handled during the close may have started waking again; nothing may be
  // written to the closed port.
  Timer1.SetEnabled(false);
}

void TForm1::Label3Click(TObject*) {
  if (gui::Backend* backend = gui::App().GetBackend()) backend->OpenDocument(kLinkAddress);
}

void TForm1::Cx1RxChar(TObject*, int Count) {
  ++ReceiveHandlerDepth;
  struct Leave {
    TForm1& form;
    ~Leave() { form.LeaveReceiveHandler(); }
  } leave{*this};

  gui::App().ProcessMessages();
  if (Count < 1) return;
  if (WakingUp == 1) {
    Timer1.SetEnabled(true);
    ReadAndScan(Count, [](std::string_view text) { ScanWhileWaking(text); });
  }
  if (Erasing == 1) {
    ReadAndScan(Count, [this](std::string_view text) { ScanReply(text); });
  }
}

void TForm1::ScanReply(std::string_view text) {
  switch (Stage) {
    case EraseStage::Erasing:
      if (ScanWhileErasing(text, EraseReply)) EraseEnded();
      break;
    case EraseStage::ReadingBack:
      if (ScanWhileErasing(text, ReadBackReply)) Decide(&ReadBackReply);
      break;
    case EraseStage::None:
    case EraseStage::Decided:
      // The result is known (or the erase line never went out): later words change nothing.
      AppendAndFindPrompt(ConsoleLine, text);
      break;
  }
}

void TForm1::DropQueuedInput() {
  // What is queued now was said before the line about to be sent (prompts earned by extra
  // wake-up line feeds, the end of an earlier reply): it must not be taken for the answer.
  // Only what is there now: a Box that never stops talking must not keep the tool here.
  int queued = Cx1.BytesWaiting();
  while (queued > 0) {
    const int piece = std::min(queued, static_cast<int>(ReceiveBuffer.size()));
    const int n = Cx1.Read(ReceiveBuffer.data(), piece);
    if (n < piece) break;
    queued -= n;
  }
}

void TForm1::SendCommandLine(std::string_view line, ConsoleReply& reply) {
  DropQueuedInput();
  ConsoleLine.Clear();
  reply.Start(PromptText);
  Cx1.WriteString(std::string(line));
  NotifySent(line);
  Cx1.Write(&WakeByte, 1);
  NotifySent(WakeText());
}

void TForm1::EraseEnded() {
  if (!ReadBackOn) {
    Decide(nullptr);
    return;
  }
  Stage = EraseStage::ReadingBack;
  ReadBackLine = ReadBackCommand(ErasedRange);
  SetStatus("Checking the erased range, please wait", RunStep::Checking);
  Timer3.SetEnabled(true);
  SendCommandLine(ReadBackLine, ReadBackReply);
}

void TForm1::Decide(const ConsoleReply* readBackReply) {
  Timer3.SetEnabled(false);
  Verdict = DecideVerdict(ErasedRange, EraseReply, ReadBackOn, ReadBackLine, readBackReply);
  Stage = EraseStage::Decided;
  if (Observer) Observer->Checked(Verdict);
  // The completion wait runs whatever happens to the display's correction below.
  Timer2.SetEnabled(true);
  if (Verdict.result == EraseResult::Failed) {
    // The erase line told the Box's display to show COMPLETE.
    static constexpr std::string_view kCorrection = "vfd ERASE FAILED";
    Cx1.WriteString(std::string(kCorrection));
    NotifySent(kCorrection);
    Cx1.Write(&WakeByte, 1);
    NotifySent(WakeText());
  }
}

void TForm1::Timer3Timer(TObject*) {
  Timer3.SetEnabled(false);
  if (Stage == EraseStage::ReadingBack) Decide(&ReadBackReply);
}

template <typename Scan>
void TForm1::ReadAndScan(int count, Scan scan) {
  // Whatever arrives is scanned, also a short read; a count beyond the buffer comes in pieces.
  int remaining = count;
  while (remaining > 0) {
    const int piece = std::min(remaining, static_cast<int>(ReceiveBuffer.size()));
    const int n = Cx1.Read(ReceiveBuffer.data(), piece);
    if (n > 0) {
      const std::string text = BytesToText(ReceiveBuffer.data(), n);
      scan(text);
      if (Observer) Observer->Received(text);
    }
    if (n < piece) return;
    remaining -= piece;
  }
}

void TForm1::LeaveReceiveHandler() {
  if (--ReceiveHandlerDepth > 0) return;
  if (!PendingPortClose && !PendingWindowClose) return;
  // Runs once the event thread has been released from this handler.
  std::weak_ptr<TForm1*> self = self_;
  rt::Post([self] {
    auto form = self.lock();
    if (form && *form) (*form)->RunDeferredCloses();
  });
}

void TForm1::RunDeferredCloses() {
  const bool port = PendingPortClose;
  const bool window = PendingWindowClose;
  PendingPortClose = false;
  PendingWindowClose = false;
  // A close already under way ends in the same closed state.
  if (port && !PortClosing) gui::Dispatch([this] { cmdCloseClick(&cmdClose); });
  if (window) Close();
}

void TForm1::Timer1Timer(TObject*) {
  if (!Cx1.Connected()) {
    // Waking belongs to an open port only.
    Timer1.SetEnabled(false);
    return;
  }
  ++WakeTicks;
  if (WakeTicks > 39) Timer1.SetEnabled(false);
  if (WakingUp == 1) {
    Cx1.Write(&WakeByte, 1);
    NotifySent(WakeText());
    SetStatus("Serial connected, sending stopbit (" + std::to_string(WakeTicks) + ")",
              RunStep::Waking);
  } else {
    Timer1.SetEnabled(false);
    SetStatus("Receiver connected", RunStep::Ready);
    cmdErase.SetEnabled(true);
    chkConf.SetEnabled(true);
  }
}

void TForm1::cmdEraseClick(TObject*) {
  if (!Cx1.Connected()) return;
  cmdErase.SetEnabled(false);
  chkConf.SetEnabled(false);
  SetStatus("Erasing data, please wait", RunStep::Erasing);
  Erasing = 1;
  const std::string_view line = chkConf.Checked() ? EraseScriptWithConfig : EraseScriptUserOnly;
  ErasedRange = EraseRangeOf(line).value_or(FlashRange{});
  ReadBackLine.clear();
  Verdict = {};
  Stage = EraseStage::Erasing;
  SendCommandLine(line, EraseReply);
  SetStateWord("WORKING");
}

void TForm1::Timer2Timer(TObject*) {
  Timer2.SetEnabled(false);
  Erasing = 0;
  SetStatus(VerdictStatus(Verdict), RunStep::Complete);
  cmdClose.Click();
}

void TForm1::SetStatus(const std::string& text, RunStep step) {
  sBar.SetPanelText(text);
  step_ = step;
  NotifyProgress();
}

void TForm1::SetStateWord(const char* word) {
  Label1.SetCaption(word);
  NotifyProgress();
}

void TForm1::NotifyProgress() {
  if (Observer) Observer->Progressed({step_, sBar.PanelText(), Label1.Caption()});
}

void TForm1::NotifySent(std::string_view bytes) {
  if (Observer) Observer->Sent(bytes);
}
