#include "tests/unit/gui/HeadlessFixture.h"

namespace {

using ButtonTest = HeadlessTest;

TEST_F(ButtonTest, PerformedClickRunsWhileDisabledButAUserClickDoesNot) {
  auto& button = form.Add<gui::Button>("cmdClose");
  int clicks = 0;
  button.OnClick = [&](TObject*) { ++clicks; };
  backend.CreatePeers(form);

  button.SetEnabled(false);
  button.UserClick();
  EXPECT_EQ(clicks, 0) << "user click on a disabled button";
  button.Click();
  EXPECT_EQ(clicks, 1) << "performed click on a disabled button";

  button.SetEnabled(true);
  button.UserClick();
  EXPECT_EQ(clicks, 2) << "user click on an enabled button";
}

TEST_F(ButtonTest, ButtonWithoutHandlerIsHarmless) {
  auto& button = form.Add<gui::Button>("cmdErase");
  button.Click();
  button.UserClick();
  EXPECT_TRUE(backend.ErrorBoxes().empty());
}

TEST(ComboBox, FieldKeepsItsTextWhileNoEntryIsSelected) {
  gui::Form form("Form1");
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetItems({"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"});
  combo.SetText("COM1");
  EXPECT_EQ(combo.ItemIndex(), -1);

  for (int requested : {-1, 8, -6, 100}) {
    combo.SetItemIndex(requested);
    EXPECT_EQ(combo.ItemIndex(), -1) << "requested " << requested;
    EXPECT_EQ(combo.Text(), "COM1") << "requested " << requested;
  }

  combo.SetItemIndex(2);
  EXPECT_EQ(combo.ItemIndex(), 2);
  EXPECT_EQ(combo.Text(), "COM3");
  combo.SetItemIndex(7);
  EXPECT_EQ(combo.Text(), "COM8");

  combo.SetItemIndex(8);  // past the end clears a selection that was there
  EXPECT_EQ(combo.ItemIndex(), -1);
}

TEST(ComboBox, UserEditingDropsTheSelectionUnlessTheTextStillNamesIt) {
  gui::Form form("Form1");
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetItems({"COM1", "COM2", "COM3"});
  combo.UserSelect(1);
  EXPECT_EQ(combo.ItemIndex(), 1);
  combo.UserEdit("COM2");
  EXPECT_EQ(combo.ItemIndex(), 1);
  combo.UserEdit("COM9");
  EXPECT_EQ(combo.ItemIndex(), -1);
  EXPECT_EQ(combo.Text(), "COM9");

  combo.SetEnabled(false);
  combo.UserSelect(0);
  EXPECT_EQ(combo.ItemIndex(), -1) << "a disabled list takes no user choice";
}

TEST(ComboBox, ShorterListDropsASelectionPastItsEnd) {
  gui::Form form("Form1");
  auto& combo = form.Add<gui::ComboBox>("cboCOM");
  combo.SetItems({"COM1", "COM2", "COM3"});
  combo.SetItemIndex(2);
  combo.SetItems({"COM1"});
  EXPECT_EQ(combo.ItemIndex(), -1);
}

TEST(CheckBoxAndLabel, UserInputIsIgnoredWhileDisabled) {
  gui::Form form("Form1");
  auto& check = form.Add<gui::CheckBox>("chkConf");
  auto& link = form.Add<gui::Label>("Label3");
  int linkClicks = 0;
  link.OnClick = [&](TObject*) { ++linkClicks; };

  check.SetEnabled(false);
  check.UserToggle();
  EXPECT_FALSE(check.Checked());
  check.SetEnabled(true);
  check.UserToggle();
  EXPECT_TRUE(check.Checked());

  link.UserClick();
  link.SetEnabled(false);
  link.UserClick();
  EXPECT_EQ(linkClicks, 1);
}

// Records every Sync so a backend can rely on being told about each visible change.
class CountingPeer : public gui::Peer {
 public:
  explicit CountingPeer(int& count) : count_(count) {}
  void Sync() override { ++count_; }

 private:
  int& count_;
};

TEST(Peer, IsToldOfChangesButNotOfValuesThatStayTheSame) {
  gui::Form form("Form1");
  auto& status = form.Add<gui::StatusBar>("sBar");
  int syncs = 0;
  status.AttachPeer(std::make_unique<CountingPeer>(syncs));
  const int afterAttach = syncs;
  status.SetPanelText("COM Port opened, switch Box to Power ON");
  status.SetPanelText("COM Port opened, switch Box to Power ON");
  status.SetEnabled(true);
  EXPECT_EQ(syncs, afterAttach + 1);
}

// Plays a native window: moves itself to the form's position whenever a sync finds it elsewhere.
class WindowPeer : public gui::Peer {
 public:
  WindowPeer(const gui::Form& form, std::vector<std::pair<int, int>>& moves)
      : form_(form), moves_(moves) {}
  void Sync() override {
    const std::pair<int, int> wanted{form_.Left(), form_.Top()};
    if (wanted != at_) moves_.push_back(at_ = wanted);
  }

 private:
  const gui::Form& form_;
  std::vector<std::pair<int, int>>& moves_;
  std::pair<int, int> at_;
};

// A window dragged to a new place reports both coordinates; the window must then stay put,
// not be sent to the corner of the new left and the old top and back.
TEST(Peer, WindowMovedToANewPlaceIsPlacedThereOnce) {
  gui::Form form("Form1");
  form.SetPosition(200, 200);
  std::vector<std::pair<int, int>> moves;
  form.AttachPeer(std::make_unique<WindowPeer>(form, moves));
  moves.clear();

  form.SetPosition(333, 222);
  EXPECT_EQ(moves, (std::vector<std::pair<int, int>>{{333, 222}}));
  form.SetPosition(333, 222);
  EXPECT_EQ(moves.size(), 1u) << "an unchanged position moves nothing";
  EXPECT_EQ(form.Left(), 333);
  EXPECT_EQ(form.Top(), 222);
}

}  // namespace
