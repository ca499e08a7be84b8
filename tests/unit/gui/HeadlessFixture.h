// A headless backend installed as the application's for the length of one test.
#pragma once

#include <gtest/gtest.h>

#include "gui/Forms.h"
#include "gui/headless/HeadlessBackend.h"

class HeadlessTest : public ::testing::Test {
 protected:
  explicit HeadlessTest(bool virtualClock = true) : backend(virtualClock) {
    gui::App().SetTitle("Zanowipe");
    gui::App().SetBackend(&backend);
    backend.SetErrorBoxHook([](const auto&) {});
  }
  ~HeadlessTest() override { gui::App().SetBackend(nullptr); }

  gui::headless::HeadlessBackend backend;
  gui::Form form{"Form1"};
};
