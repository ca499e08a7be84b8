#include <stdexcept>

#include "tests/unit/gui/HeadlessFixture.h"

namespace {

struct TextCase {
  const char* message;
  const char* shown;
};

TEST(ErrorBoxText, FullStopOnlyAfterCharactersSortingAfterDot) {
  const TextCase cases[] = {
      {"Unable to open com port (win error code: 2)",
       "Unable to open com port (win error code: 2)"},
      {"Unable to write to C:\\\\Zanowipe.ini", "Unable to write to C:\\\\Zanowipe.ini."},
      {"Done.", "Done."},
      {"", ""},
      {"ends in dash-", "ends in dash-"},     // '-' sorts before '.'
      {"ends in slash/", "ends in slash/."},  // '/' sorts right after '.'
      {"ends in blank ", "ends in blank "},
      {"digit 7", "digit 7."},
      {"accent \xE9", "accent \xE9."},  // bytes above 127 sort after '.' too
  };
  for (const auto& c : cases) {
    EXPECT_EQ(gui::ErrorBoxText(c.message), c.shown) << "message: \"" << c.message << "\"";
  }
}

using DispatchTest = HeadlessTest;

TEST_F(DispatchTest, EscapingExceptionsBecomeErrorBoxesWithTheTitleAsCaption) {
  gui::App().SetTitle("Zanowipe");
  EXPECT_FALSE(gui::Dispatch([] { throw Exception("Unable to write to /tmp/x/Zanowipe.ini"); }));
  EXPECT_FALSE(gui::Dispatch([] { throw std::runtime_error("plain standard error"); }));
  EXPECT_FALSE(gui::Dispatch([] { throw 42; }));
  EXPECT_TRUE(gui::Dispatch([] {}));

  const auto& boxes = backend.ErrorBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].caption, "Zanowipe");
  EXPECT_EQ(boxes[0].text, "Unable to write to /tmp/x/Zanowipe.ini.");
  EXPECT_EQ(boxes[1].text, "plain standard error.");
  EXPECT_EQ(boxes[2].text, "Unknown exception.");
}

// A failure handed over as an exception_ptr (a watcher's report) reads as a failed click does.
TEST_F(DispatchTest, FailuresHandedOverAreShownAsFailedClicksAre) {
  gui::App().SetTitle("Zanowipe");
  gui::App().HandleException(std::make_exception_ptr(Exception("Unable to get async status")));
  gui::App().HandleException(std::make_exception_ptr(std::runtime_error("plain standard error")));
  gui::App().HandleException(std::make_exception_ptr(42));

  const auto& boxes = backend.ErrorBoxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[0].caption, "Zanowipe");
  EXPECT_EQ(boxes[0].text, "Unable to get async status.");
  EXPECT_EQ(boxes[1].text, "plain standard error.");
  EXPECT_EQ(boxes[2].text, "Unknown exception.");
}

TEST_F(DispatchTest, ProgramContinuesAfterAFailedClickAndTheNextClickRunsAgain) {
  auto& button = form.Add<gui::Button>("cmdOpen");
  int runs = 0;
  button.OnClick = [&](TObject* sender) {
    EXPECT_EQ(sender, &button);
    ++runs;
    throw Exception("Unable to open com port (win error code: 2)");
  };
  backend.CreatePeers(form);
  button.UserClick();
  button.UserClick();
  EXPECT_EQ(runs, 2);
  ASSERT_EQ(backend.ErrorBoxes().size(), 2u);
  EXPECT_EQ(backend.ErrorBoxes()[1].text, "Unable to open com port (win error code: 2)");
}

TEST_F(DispatchTest, CloseThatRaisesOrRefusesKeepsTheWindowAndALaterCloseRunsTheHandlerAgain) {
  int calls = 0;
  bool failWrite = true;
  form.OnClose = [&](TObject*, gui::TCloseAction& action) {
    ++calls;
    if (calls == 2) {
      action = gui::caNone;
      return;
    }
    if (failWrite) throw Exception("Unable to write to /ro/Zanowipe.ini");
  };
  backend.CreatePeers(form);

  EXPECT_FALSE(form.RequestClose());
  EXPECT_FALSE(form.Closed());
  ASSERT_EQ(backend.ErrorBoxes().size(), 1u);
  EXPECT_EQ(backend.ErrorBoxes()[0].text, "Unable to write to /ro/Zanowipe.ini.");

  EXPECT_FALSE(form.RequestClose());  // caNone
  EXPECT_FALSE(form.Closed());

  failWrite = false;
  form.Close();  // queued: nothing happens until the loop runs
  EXPECT_FALSE(form.Closed());
  backend.ProcessMessages();
  EXPECT_TRUE(form.Closed());
  EXPECT_EQ(calls, 3);
}

}  // namespace
