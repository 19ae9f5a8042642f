// The add-ROMs run under random events at random moments, as a user, a host
// that relays clicks and other programs bring them: whatever their order, the
// run ends, at most one box is open at a time, temp is left empty, and the
// relation file holds every earlier line and exactly the lines of what the
// host registered; or, where the run said it could not write it, is as it was.
// A failing seed is printed; CORVANE_SEED=n replays that one alone.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/test_switches.h"
#include "registration_run.h"

namespace {

BOOL CALLBACK CountBox(HWND window, LPARAM count) {
  if (IsWindowVisible(window) && IsDialogWindow(window) && GetDlgItem(window, 0xFFFF) != nullptr) {
    ++*reinterpret_cast<int*>(count);
  }
  return TRUE;
}

int OpenBoxes() {
  int open = 0;
  EnumThreadWindows(GetCurrentThreadId(), CountBox, reinterpret_cast<LPARAM>(&open));
  return open;
}

enum EventKind { kPostCancel, kCancelInsideHandler, kDestroyDialog, kEventKinds };

TEST_F(RegistrationRun, RandomEventsNeverHangLoseLinesOrLeaveCopies) {
  const int kFiles = 16;
  for (int i = 0; i < kFiles; ++i) Write("r" + std::to_string(i) + ".nes", Rom(RandomBytes(16 + i % 40, i)));
  std::string earlier;
  for (int i = 0; i < 5; ++i) {
    std::string path = data + "e" + std::to_string(i) + ".nes";
    ASSERT_TRUE(WriteBytes(path, "an earlier ROM"));
    earlier += "0000000" + std::to_string(i) + " " + path + "\r\n";
  }
  const char* replay = getenv("CORVANE_SEED");
  uint32_t first = replay != nullptr ? static_cast<uint32_t>(atoi(replay)) : 1;
  uint32_t last = replay != nullptr ? first : 200;
  for (uint32_t seed = first; seed <= last; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed) + " (replay with CORVANE_SEED=" + std::to_string(seed) + ")");
    uint32_t state = seed * 2654435761u + 1;
    auto roll = [&](uint32_t n) { return NextRandom(&state) % n; };
    ASSERT_TRUE(WriteBytes(data + "NES.rel", earlier));
    ResetTestSwitches();
    HostReset();
    shown = Shown();
    // Now and then short slices, so that events fall between more ticks.
    gTestSwitches.sliceMs = roll(16) == 0 ? 2 : -1;
    bool faultArmed = roll(5) == 0;
    if (faultArmed) gTestSwitches.writeFault[kWriteRelation] = 1 + static_cast<int>(roll(kFiles + 8));
    if (roll(5) == 0) {
      CopyText(gTestSwitches.holdPathPart, sizeof gTestSwitches.holdPathPart, temp.c_str());
      gTestSwitches.holdCount = 1 + static_cast<int>(roll(10));
      gTestSwitches.holdMs = 5 + roll(20);
    }
    // Events inside the host's registration, where a handler of the run is on the stack.
    std::vector<std::pair<size_t, EventKind>> events;
    for (uint32_t n = roll(3); n > 0; --n)
      events.push_back({1 + roll(kFiles), static_cast<EventKind>(roll(kEventKinds))});
    auto act = [&](EventKind kind) {
      if (!IsWindow(shown.dialog)) return;
      if (kind == kPostCancel) PostMessageA(shown.dialog, WM_COMMAND, IDCANCEL, 0);
      if (kind == kCancelInsideHandler) SendMessageA(shown.dialog, WM_COMMAND, IDCANCEL, 0);
      if (kind == kDestroyDialog) DestroyWindow(shown.dialog);
    };
    gHost.onRegister = [&](const char*) {
      for (const auto& event : events) {
        if (event.first == gHost.registerCalls.size()) act(event.second);
      }
    };
    // Boxes are answered at random (a second Cancel may come while the question
    // is open), and between ticks a Cancel or the dialog's end may come too.
    int mostBoxes = 0;
    std::vector<std::string> texts;
    DriveOptions options;
    options.periodMs = 5;
    options.maxTicks = 2000;
    options.beforeStep = [&](HWND active) {
      mostBoxes = std::max(mostBoxes, OpenBoxes());
      if (IsDialogWindow(active) && GetDlgItem(active, 0xFFFF) != nullptr) {
        if (Utf8(TextOf(active)) == u8"キャンセル確認") {
          if (roll(3) == 0) PostMessageA(shown.dialog, WM_COMMAND, IDCANCEL, 0);
          PressButton(active, roll(2) == 0 ? IDOK : IDCANCEL);
        } else {
          texts.push_back(Utf8(MessageBoxText(active)));
          PressButton(active, IDOK);
        }
      } else if (roll(150) == 0) {
        act(roll(8) == 0 ? kDestroyDialog : kPostCancel);
      }
      return true;
    };
    DriveDialogs({[](HWND) { return false; }}, options);
    onMenuClick(1);
    bool timedOut = DriveTimedOut();
    bool faultFired = faultArmed && gTestSwitches.writeFault[kWriteRelation] == 0;
    StopDriving();
    gHost.onRegister = nullptr;
    ResetTestSwitches();
    ASSERT_FALSE(timedOut) << "the run did not end";
    ASSERT_FALSE(IsWindow(shown.dialog));
    EXPECT_LE(mostBoxes, 1);
    EXPECT_EQ(SearchOrder(temp, false), std::vector<std::string>{}) << "left in temp";

    bool notWritten = std::any_of(texts.begin(), texts.end(), [](const std::string& text) {
      return text.rfind(u8"関連ファイルに書き込めませんでした", 0) == 0;
    });
    // A destroyed dialog has no box to say it.
    if (notWritten || faultFired) {
      EXPECT_TRUE(faultFired) << "no write failed, yet the run said so";
      EXPECT_EQ(ReadBytes(data + "NES.rel"), earlier);
      continue;
    }
    std::vector<std::string> expected;
    for (size_t start = 0, end; (end = earlier.find("\r\n", start)) != std::string::npos; start = end + 2) {
      expected.push_back(earlier.substr(start, end - start));
    }
    for (const HostCall& call : gHost.registerCalls) {
      expected.push_back(CrcTextAfterHeader(call.content, 0) + " " + roms + call.path.substr(temp.size()));
    }
    std::vector<std::string> lines = Lines();
    std::sort(expected.begin(), expected.end());
    std::sort(lines.begin(), lines.end());
    ASSERT_EQ(lines, expected);
  }
}

}  // namespace
