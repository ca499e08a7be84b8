// The main window: its components, its handlers and (in ModuleState.h) the run state they share.
//
// The handlers talk only to gui:: models and to Cx1, so they run unchanged under the Qt, Win32
// and headless backends. Everything here runs on the GUI thread. Two handlers run a nested
// message pump (Cx1RxChar and cmdCloseClick), so other handlers can run inside them; a port
// close asked for inside the receive handler waits until that handler has returned, because
// Close waits for the event thread, which is itself waiting for the handler.
#pragma once

#include <memory>

#include "app/ModuleState.h"
#include "app/RunObserver.h"
#include "gui/Forms.h"
#include "serial/CportX1.h"

class TForm1 : public gui::Form {
 public:
  // Loads the layout (controls, Cx1's configuration, the stopped timers), then runs FormCreate
  // through the dispatch. driver: the platform's unless a test hands in another.
  explicit TForm1(drv::CommDriver* driver = nullptr);
  ~TForm1() override;
  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;
  const char* ClassName() const override { return "TForm1"; }

  // Components, in declaration order.
  gui::Button& cmdOpen;
  gui::Button& cmdClose;
  gui::ComboBox& cboCOM;
  gui::CheckBox& chkConf;
  gui::Button& cmdErase;
  gui::StatusBar& sBar;
  gui::Image& Image1;
  TComX Cx1;
  gui::Timer& Timer1;
  gui::Timer& Timer2;
  gui::Label& Label1;
  gui::Label& Label2;
  gui::Label& Label3;
  gui::Image& Image2;
  // The read-back's time limit.
  gui::Timer& Timer3;

  // Handlers, in declaration order.
  void cmdOpenClick(TObject* Sender);
  void FormClose(TObject* Sender, gui::TCloseAction& Action);
  void cmdCloseClick(TObject* Sender);
  void FormCreate(TObject* Sender);
  void Cx1RxChar(TObject* Sender, int Count);
  void Timer1Timer(TObject* Sender);
  void cmdEraseClick(TObject* Sender);
  void Timer2Timer(TObject* Sender);
  void Label3Click(TObject* Sender);
  void Timer3Timer(TObject* Sender);

  // Told of every status text and state word the handlers set and of the bytes exchanged with
  // the Box; none by default. Not owned.
  app::RunObserver* Observer = nullptr;

 private:
  // Loads the layout on first use, so the component references can bind to its controls.
  TForm1& Loaded();
  template <typename C>
  C& Component(const char* name);
  void ClosePort();
  template <typename Scan>
  void ReadAndScan(int count, Scan scan);
  void LeaveReceiveHandler();
  void ScanReply(std::string_view text);
  void DropQueuedInput();
  void SendCommandLine(std::string_view line, app::ConsoleReply& reply);
  void EraseEnded();
  void Decide(const app::ConsoleReply* readBackReply);
  void RunDeferredCloses();
  void SetStatus(const std::string& text, app::RunStep step);
  void SetStateWord(const char* word);
  void NotifyProgress();
  void NotifySent(std::string_view bytes);

  app::RunStep step_ = app::RunStep::Prepared;

  // Deferred work posted to the main thread checks this before touching a destroyed window.
  std::shared_ptr<TForm1*> self_;
};

extern TForm1* Form1;
