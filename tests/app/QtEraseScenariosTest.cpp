// The erase run's harder roads on the Qt front end (offscreen), in real time with the real event
// thread and the termios engine, against byte-level devices on pseudo-terminals: a Box already at
// its console, one that never prompts, "Close COM" while boot text streams in, two prompts close
// together, and the exact bytes of the user-data-only line. Bounds on real time are generous.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QPushButton>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/ModuleState.h"
#include "app/Unit1.h"
#include "gui/qt/QtBackend.h"
#include "runtime/MainThread.h"
#include "serial/driver/DeviceMap.h"
#include "tests/app/PtyDevice.h"
#include "tests/gui/QtTestApp.h"

namespace {

using gui::qt::QtBackend;
using Clock = std::chrono::steady_clock;

constexpr int kBoundMs = 20000;
const std::string kOpened = "COM Port opened, switch Box to Power ON";
const std::string kClosed = "COM Port closed, please switch Box to Power OFF";

std::string Stopbit(int n) {
  return "Serial connected, sending stopbit (" + std::to_string(n) + ")";
}

class QtEraseScenariosTest : public ::testing::Test {
 protected:
  QtEraseScenariosTest() {
    rt::MarkMainThread();
    qttest::Application();
    app::ResetModuleState();
    drv::ClearDeviceMappings();
    gui::App().SetTitle("Zanowipe");
    gui::App().SetBackend(&backend);
    backend.SetErrorBoxHook([this](const std::string& caption, const std::string& text) {
      boxes.push_back(caption + "|" + text);
    });
    dir = std::filesystem::temp_directory_path() /
          ("zw-erase-qt-" +
           std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
           std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(dir);
    // COM1 opens the device's slave side, as a technician would map it in the settings file.
    std::ofstream(dir / "Zanowipe.ini") << "[PORTS]\nCOM1=" << box.SlavePath() << "\n";
    form = std::make_unique<TForm1>();
    backend.CreatePeers(*form);
    backend.Show(*form);
  }
  ~QtEraseScenariosTest() override {
    form.reset();
    box.Stop();
    std::filesystem::current_path(previousDir);
    std::filesystem::remove_all(dir);
    gui::App().SetBackend(nullptr);
    drv::ClearDeviceMappings();
    app::ResetModuleState();
  }

  void Click(const gui::Button& button) {
    auto* native = qobject_cast<QPushButton*>(QtBackend::WidgetOf(button));
    ASSERT_NE(native, nullptr) << button.Name();
    ASSERT_TRUE(native->isEnabled()) << button.Name();
    native->click();
  }
  void Open() {
    Click(form->cmdOpen);
    ASSERT_TRUE(form->Cx1.Connected()) << (boxes.empty() ? "" : boxes[0]);
    Record();
  }
  std::string Status() const { return form->sBar.PanelText(); }

  // Runs the loop until done() or the bound, keeping every status text it sees change.
  bool Await(const std::function<bool()>& done, int boundMs = kBoundMs) {
    return qttest::LoopUntil(
        [&] {
          Record();
          return done();
        },
        boundMs);
  }
  void LoopFor(int ms) {
    Await([] { return false; }, ms);
  }
  void Record() {
    if (seen.empty() || seen.back() != Status()) seen.push_back(Status());
  }
  bool Seen(const std::string& text) const {
    return std::find(seen.begin(), seen.end(), text) != seen.end();
  }
  std::string ErrorBoxes() const {
    std::string all;
    for (const std::string& b : boxes) all += b + "\n";
    return all;
  }

  PtyDevice box;
  QtBackend backend;
  std::filesystem::path dir, previousDir;
  std::unique_ptr<TForm1> form;
  std::vector<std::string> boxes;
  std::vector<std::string> seen;  // status texts, as the loop saw them change
};

// Boot text written as fast as the cable takes it, from its own thread, until stopped.
class BootTextStream {
 public:
  explicit BootTextStream(PtyDevice& box)
      : thread_([this, &box] {
          while (!stop_) {
            box.Send("U-Boot SPL 2024.01 loading image from flash ...\r\n", stop_);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
          }
        }) {}
  ~BootTextStream() {
    stop_ = true;
    thread_.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST_F(QtEraseScenariosTest, DeviceAlreadyAtItsConsoleGetsNoLineFeed) {
  Open();
  box.PowerOn("\r\nbox> ");
  ASSERT_TRUE(Await([&] { return form->cmdErase.Enabled(); })) << "status: " << Status();
  EXPECT_EQ(seen, (std::vector<std::string>{kOpened, "Receiver connected"}));
  EXPECT_TRUE(form->chkConf.Enabled());
  EXPECT_EQ(box.Received(), "");
  EXPECT_EQ(ErrorBoxes(), "");
}

TEST_F(QtEraseScenariosTest, DeviceThatNeverPromptsGetsLineFeedsUntilCloseComReleasesThePort) {
  Open();
  box.PowerOn(kBoxBootText);
  ASSERT_TRUE(Await([&] { return seen.size() >= 4; })) << "status: " << Status();
  EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + 4),
            (std::vector<std::string>{kOpened, Stopbit(1), Stopbit(2), Stopbit(3)}));
  ASSERT_TRUE(Await([&] { return box.Received().size() >= 3; }));
  const std::string wakes = box.Received();
  EXPECT_EQ(wakes, std::string(wakes.size(), '\n'));
  EXPECT_FALSE(form->cmdErase.Enabled());

  Click(form->cmdClose);
  EXPECT_FALSE(form->Cx1.Connected());
  EXPECT_FALSE(form->Timer1.Enabled());
  EXPECT_EQ(Status(), kClosed);
  EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
  EXPECT_TRUE(form->cmdOpen.Enabled());
  EXPECT_FALSE(form->cmdClose.Enabled());
  EXPECT_TRUE(Await([&] { return box.PortReleased(); })) << "the device never saw the close";
  // The line feed a tick wrote just before the close may still be on its way; none come after.
  LoopFor(300);
  const std::size_t sent = box.Received().size();
  LoopFor(2000);
  EXPECT_EQ(box.Received().size(), sent);

  // The released port opens again at once.
  Open();
  EXPECT_EQ(Status(), kOpened);
  EXPECT_FALSE(box.PortReleased());
  EXPECT_EQ(ErrorBoxes(), "");
}

// A receive event handled while "Close COM" closes the port starts waking again; nothing may tick
// on the closed port afterwards (each tick would show an error box).
TEST_F(QtEraseScenariosTest, CloseComWhileBootTextStreamsInLeavesNoWakeUpRunning) {
  box.PowerOn("");
  for (int round = 1; round <= 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    seen.clear();
    Open();
    {
      // The stream stops with the port: a pseudo-terminal, unlike a cable, keeps queueing what
      // is sent to a closed port, for the next open to find.
      BootTextStream stream(box);
      ASSERT_TRUE(Await([&] { return Seen(Stopbit(1)); }))
          << "status: " << Status() << ", sent to the device: " << box.Received().size();
      Click(form->cmdClose);
    }
    EXPECT_FALSE(form->Cx1.Connected());
    EXPECT_FALSE(form->Timer1.Enabled());
    EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
    LoopFor(300);
    const std::size_t sent = box.Received().size();
    LoopFor(2000);
    EXPECT_FALSE(form->Timer1.Enabled());
    EXPECT_EQ(Status(), kClosed);
    EXPECT_EQ(box.Received().size(), sent) << "line feeds written after the close";
    EXPECT_EQ(ErrorBoxes(), "");
  }
}

TEST_F(QtEraseScenariosTest, TwoPromptsDuringTheEraseCloseThePortOnce) {
  std::atomic<Clock::rep> firstPromptAt{0};
  PtyDevice::LineHandler console = BoxConsole();
  Open();
  box.PowerOn(kBoxBootText, [&](PtyDevice& device, const std::string& line) {
    if (line.empty() || line.rfind("crc32", 0) == 0) return console(device, line);
    device.Send(line + "\r\nErased sectors\r\n\r\nbox> ");
    firstPromptAt = Clock::now().time_since_epoch().count();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    device.Send("\nbox> ");
  });
  ASSERT_TRUE(Await([&] { return form->cmdErase.Enabled(); })) << "status: " << Status();
  Click(form->cmdErase);
  EXPECT_EQ(form->Label1.Caption(), "WORKING");
  ASSERT_TRUE(Await([&] { return !form->Cx1.Connected(); })) << "status: " << Status();
  const Clock::duration sinceFirstPrompt =
      Clock::now().time_since_epoch() - Clock::duration(firstPromptAt.load());
  // 1.5 s after the first prompt, allowing for a timer that fires a little early.
  EXPECT_GE(sinceFirstPrompt, std::chrono::milliseconds(1300));
  EXPECT_FALSE(form->Timer2.Enabled());
  EXPECT_EQ(app::Erasing, 0);

  // Nothing more happens: no second completion.
  LoopFor(3000);
  EXPECT_FALSE(form->Timer2.Enabled());
  EXPECT_FALSE(form->Cx1.Connected());
  EXPECT_EQ(std::count(seen.begin(), seen.end(), kClosed), 1) << "closes seen";
  EXPECT_EQ(seen.back(), kClosed);
  EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
  EXPECT_TRUE(form->cmdOpen.Enabled());
  EXPECT_EQ(ErrorBoxes(), "");
  box.Stop();  // its handler refers to this test's locals
}

TEST_F(QtEraseScenariosTest, UserDataOnlyLineGoesOutAsWrittenThenOneLineFeed) {
  Open();
  box.PowerOn(kBoxBootText, BoxConsole());
  ASSERT_TRUE(Await([&] { return form->cmdErase.Enabled(); })) << "status: " << Status();
  ASSERT_FALSE(form->chkConf.Checked());
  Click(form->cmdErase);
  EXPECT_EQ(Status(), "Erasing data, please wait");
  ASSERT_TRUE(Await([&] { return !form->Cx1.Connected(); })) << "status: " << Status();
  EXPECT_EQ(Status(), kClosed);
  EXPECT_EQ(form->Label1.Caption(), "COMPLETE");
  box.Stop();

  const std::string received = box.Received();
  const std::string line{app::EraseScriptUserOnly};
  ASSERT_GE(received.size(), line.size() + 3) << received;
  // The wake-up line feeds, the erase line and its line feed, and the read-back.
  const std::string readBack = "crc32 a1c00000 400000\n";
  const std::size_t wakes = received.size() - line.size() - 1 - readBack.size();
  EXPECT_GE(wakes, 2u);
  EXPECT_EQ(received.substr(0, wakes), std::string(wakes, '\n')) << received;
  EXPECT_EQ(received.substr(wakes), line + "\n" + readBack);
  EXPECT_EQ(received.find('\r'), std::string::npos) << received;
  EXPECT_EQ(ErrorBoxes(), "");
}

}  // namespace
