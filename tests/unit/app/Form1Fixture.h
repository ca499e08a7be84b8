// The main window on the headless loop with a virtual clock, its port on the fake driver, and
// the real event thread between them. Time moves only when a test advances it, so 40 ticks of
// 700 ms take microseconds; the event thread runs for real, and Settle() waits (on the real
// clock, with a generous bound) until it has handed its events over and is waiting again.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "TempDir.h"
#include "app/ModuleState.h"
#include "app/Unit1.h"
#include "gui/Forms.h"
#include "gui/headless/HeadlessBackend.h"
#include "runtime/MainThread.h"
#include "tests/fakes/FakeCommDriver.h"

// Records every text a control is given, in order, also texts overwritten in the same handler.
class TextRecorder : public gui::Peer {
 public:
  TextRecorder(std::function<std::string()> read, std::vector<std::string>& log)
      : read_(std::move(read)), log_(log) {}
  void Sync() override {
    const std::string now = read_();
    if (now != last_) log_.push_back(now);
    last_ = now;
  }

 private:
  std::function<std::string()> read_;
  std::vector<std::string>& log_;
  std::string last_;
};

class Form1Test : public ::testing::Test {
 protected:
  Form1Test() : backend(true) {
    rt::MarkMainThread();
    app::ResetModuleState();
    gui::App().SetTitle("Zanowipe");
    gui::App().SetBackend(&backend);
    backend.SetErrorBoxHook([](const auto&) {});
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(dir.Path());
    for (const char* port : {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}) {
      fake.AddDevice(port);
    }
  }
  ~Form1Test() override {
    form.reset();
    std::filesystem::current_path(previousDir);
    gui::App().SetBackend(nullptr);
    app::ResetModuleState();
  }

  void CreateForm() {
    form = std::make_unique<TForm1>(&fake);
    backend.CreatePeers(*form);
    form->sBar.AttachPeer(
        std::make_unique<TextRecorder>([f = form.get()] { return f->sBar.PanelText(); }, status));
    form->Label1.AttachPeer(
        std::make_unique<TextRecorder>([f = form.get()] { return f->Label1.Caption(); }, state));
    backend.Show(*form);
  }

  // Until the event thread waits for the driver again (or the port is closed).
  void Settle() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
      backend.ProcessMessages();
      if (!fake.IsOpen() || fake.WaitOutstanding()) {
        backend.ProcessMessages();
        return;
      }
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the event thread never settled";
      fake.WaitUntil([&] { return fake.WaitOutstanding(); }, std::chrono::milliseconds(2));
    }
  }
  void Receive(const std::string& bytes) {
    fake.Receive(bytes);
    Settle();
  }
  void Open() {
    form->cmdOpen.UserClick();
    Settle();
  }
  std::string ErrorTexts() const {
    std::string all;
    for (const auto& box : backend.ErrorBoxes()) all += box.text + "\n";
    return all;
  }
  std::vector<std::string> WrittenChunks() const {
    std::vector<std::string> chunks;
    for (const auto& call : fake.Calls()) {
      if (call.name == "WriteFile") chunks.push_back(call.text);
    }
    return chunks;
  }
  static std::string Stopbit(int n) {
    return "Serial connected, sending stopbit (" + std::to_string(n) + ")";
  }

  TempDir dir;
  std::filesystem::path previousDir;
  gui::headless::HeadlessBackend backend;
  fake::FakeCommDriver fake;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> status;  // every status text, in order
  std::vector<std::string> state;   // every state word, in order
};
