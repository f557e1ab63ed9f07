// The dialog framework on the scripted backend. The control behaviour
// expected here was measured on the native controls; the scripted ones must
// match it or scripts would pass where users fail.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/framework.h"
#include "platform/ui/scripted/scripted_backend.h"

namespace {

using namespace std::string_literals;

enum : int { kHidden = 10, kPush, kCheck, kNumber, kName, kLabel, kCombo, kBar };

const ui::ControlTemplate kControls[] = {
    {kHidden, ui::ControlKind::kEdit, "", 0, 0, 40, 12, ui::kHidden},
    {kPush, ui::ControlKind::kPush, "Go", 0, 14, 40, 14, ui::kNoFlags},
    {kCheck, ui::ControlKind::kCheck, "Wrap", 0, 30, 40, 10, ui::kNoFlags},
    {kNumber, ui::ControlKind::kEdit, "", 0, 42, 40, 12, ui::kNoFlags},
    {kName, ui::ControlKind::kEdit, "", 0, 56, 40, 12, ui::kNoFlags},
    {kLabel, ui::ControlKind::kLabel, "Port", 0, 70, 40, 8, ui::kNoFlags},
    {kCombo, ui::ControlKind::kCombo, "", 0, 80, 40, 60, ui::kNoFlags},
    {kBar, ui::ControlKind::kProgress, "", 0, 94, 80, 10, ui::kNoFlags},
};
const ui::DialogTemplate kTemplate = {
    900, "Test", 120, 110, "MS Sans Serif", 8, ui::kStylePopup | ui::kStyleCaption, 0, kControls};

// Every kind of member the tool's windows exchange.
class FieldsDialog : public CDialog {
 public:
  FieldsDialog() : CDialog(kTemplate) {}
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Control(pDX, kBar, bar);
    DDX_Text(pDX, kNumber, number);
    DDV_MinMaxUInt(pDX, number, 1, 255);
    DDX_Text(pDX, kName, name);
    DDV_MaxChars(pDX, name, 64);
    DDX_Check(pDX, kCheck, check);
    DDX_CBString(pDX, kCombo, port);
  }
  CProgressCtrl bar;
  uint32_t number = 9;
  std::string name = "old";
  int check = 0;
  std::string port;
};

class UiFramework : public testing::Test {
 protected:
  UiFramework() { ui::UseBackend(&backend); }
  ~UiFramework() override {
    ui::SetMainWindow(nullptr);
    ui::UseBackend(nullptr);
  }
  int Run(CDialog& dialog, ui::ScriptedBackend::Script script) {
    backend.SetScript(kTemplate.id, std::move(script));
    return dialog.DoModal();
  }
  ui::ScriptedBackend backend;  // built here, so this thread is the user-interface one
};

// A wrong default, a lost return value, or stepping that clamps or wraps to
// the wrong place.
TEST_F(UiFramework, ProgressBarBehavesAsTheNativeOne) {
  CDialog dialog(kTemplate);
  Run(dialog, [](ui::ScriptedWindow& w) {
    const ui::ProgressState p = w.Progress(kBar);
    EXPECT_EQ((std::vector<int>{p.lower, p.upper, p.step, p.position}),
              (std::vector<int>{0, 100, 10, 0}));
    CProgressCtrl bar;
    bar.Attach(&w, kBar);
    EXPECT_EQ(bar.SetPos(-5), 0);
    EXPECT_EQ(bar.SetPos(500), 0);
    EXPECT_EQ(bar.GetPos(), 100);
    EXPECT_EQ(bar.SetPos(50), 100);
    EXPECT_EQ(bar.SetRange(0, 10), (100 << 16) | 0);
    EXPECT_EQ(bar.GetPos(), 10);  // the range pulls the position in
    EXPECT_EQ(bar.SetRange(3, 4), (10 << 16) | 0);
    EXPECT_EQ(bar.SetRange(0, 100), (4 << 16) | 3);
    EXPECT_EQ(bar.SetStep(7), 10);
    const struct {
      int lower, upper, step, from;
      std::vector<int> after;
    } cases[] = {
        {0, 50, 1, 49, {50, 1}},         // reaching the top is not yet past it
        {0, 100, 30, 90, {20, 50}},      // the overshoot carries round
        {10, 20, 7, 18, {15, 12, 19}},   // starts over from the lower end, not 0
        {0, 100, -10, 25, {15, 5, 95}},  // below the bottom starts over from the top
        {0, 100, 150, 0, {50, 0}},       // a step wider than the range
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << c.lower << ".." << c.upper << " by " << c.step);
      bar.SetRange(c.lower, c.upper);
      bar.SetStep(c.step);
      bar.SetPos(c.from);
      int previous = c.from;
      for (const int expected : c.after) {
        EXPECT_EQ(bar.StepIt(), previous);
        EXPECT_EQ(bar.GetPos(), expected);
        previous = expected;
      }
    }
  });
}

// A two-state box that stores 2 would show the third state it does not have.
TEST_F(UiFramework, CheckBoxHasTwoStates) {
  CDialog dialog(kTemplate);
  Run(dialog, [](ui::ScriptedWindow& w) {
    const std::pair<int, int> cases[] = {{1, 1}, {2, 1}, {5, 1}, {0, 0}};
    for (const auto& [set, shown] : cases) {
      SCOPED_TRACE(set);
      w.SetCheck(kCheck, set);
      EXPECT_EQ(w.GetCheck(kCheck), shown);
    }
  });
}

// A case-sensitive sort, equal items put after, or a selection that does
// not follow the list.
TEST_F(UiFramework, SortedComboListsAndSelectsAsTheNativeOne) {
  CDialog dialog(kTemplate);
  Run(dialog, [](ui::ScriptedWindow& w) {
    const std::pair<const char*, int> adds[] = {{"COM3", 0}, {"COM10", 0}, {"com2", 1},
                                                {"COM1", 0}, {"COM2", 2},  {"Com1", 0}};
    for (const auto& [text, index] : adds) {
      SCOPED_TRACE(text);
      EXPECT_EQ(w.ComboAdd(kCombo, text), index);
    }
    EXPECT_EQ(w.Items(kCombo),
              (std::vector<std::string>{"Com1", "COM1", "COM10", "COM2", "com2", "COM3"}));
    w.SetText(kCombo, "typed");
    const struct {
      const char* prefix;
      int result, current;
      const char* text;
    } selects[] = {{"", -1, -1, "typed"},
                   {"com1", 0, 0, "Com1"},
                   {"COM2", 3, 3, "COM2"},
                   {"x", -1, 3, "COM2"}};
    for (const auto& s : selects) {
      SCOPED_TRACE(s.prefix);
      EXPECT_EQ(w.ComboSelectString(kCombo, s.prefix), s.result);
      EXPECT_EQ(w.CurrentSelection(kCombo), s.current);
      EXPECT_EQ(w.Text(kCombo), s.text);
    }
    w.SetText(kCombo, "other");
    EXPECT_EQ(w.CurrentSelection(kCombo), 3);
    w.ComboDelete(kCombo, 0);
    EXPECT_EQ(w.CurrentSelection(kCombo), 2);
    w.ComboDelete(kCombo, 2);
    EXPECT_EQ(w.CurrentSelection(kCombo), -1);
    EXPECT_EQ(w.Text(kCombo), "other");
    EXPECT_EQ(w.ComboCount(kCombo), 4);
  });
}

// A limit that truncates the program's own text, or one that the user can
// type past; limit or selection calls that reach a label; a hidden control
// that takes focus or typing.
TEST_F(UiFramework, EditLimitBindsTypingOnly) {
  CDialog dialog(kTemplate);
  Run(dialog, [](ui::ScriptedWindow& w) {
    EXPECT_EQ(w.Focus(), kPush);  // not the hidden edit before it
    EXPECT_EQ(w.Limit(kName), 30000);
    w.LimitText(kName, 5);
    w.SetText(kName, "1234567890");
    EXPECT_EQ(w.Text(kName), "1234567890");
    EXPECT_TRUE(w.Type(kName, "1234567890"));
    EXPECT_EQ(w.Text(kName), "12345");
    w.LimitText(kName, 0);
    EXPECT_EQ(w.Limit(kName), 2147483646);
    w.SetText(kName, "abc");
    w.SelectAllText(kName);
    EXPECT_EQ(w.Selection(kName), std::make_pair(0, 3));
    w.SetText(kName, "abcd");
    EXPECT_EQ(w.Selection(kName), std::make_pair(0, 0));
    w.LimitText(kLabel, 2);
    w.SelectAllText(kLabel);
    EXPECT_EQ(w.Limit(kLabel), 30000);
    EXPECT_EQ(w.Selection(kLabel), std::make_pair(0, 0));
    EXPECT_FALSE(w.Type(kHidden, "x"));
  });
}

// A worker's bar call run on the worker itself (a cross-thread window call)
// or never run because nobody pumps; the bar kept after the window is gone.
TEST_F(UiFramework, WorkerCallsRunOnTheUserInterfaceThread) {
  FieldsDialog dialog;
  std::thread::id taskThread, workerThread;
  int oldPosition = -1;
  Run(dialog, [&](ui::ScriptedWindow& w) {
    std::atomic<bool> done{false};
    std::thread worker([&] {
      workerThread = std::this_thread::get_id();
      backend.RunOnUiThread([&] { taskThread = std::this_thread::get_id(); });
      oldPosition = dialog.bar.StepIt();
      done = true;
    });
    EXPECT_TRUE(backend.WaitUntil([&] { return done.load(); }, 10000));
    worker.join();
    EXPECT_EQ(w.Progress(kBar).position, 10);
  });
  EXPECT_EQ(taskThread, std::this_thread::get_id());
  EXPECT_NE(taskThread, workerThread);
  EXPECT_EQ(oldPosition, 0);
  EXPECT_FALSE(dialog.bar.IsAttached());
}

// The priority path skipping the procedure, or a worker left running (and
// its data raced) when its object goes.
TEST_F(UiFramework, BeginThreadRunsTheProcedureAndJoins) {
  std::atomic<int> ran{0};
  {
    ui::WorkerThread worker = ui::BeginThread(
        [](void* p) {
          std::this_thread::sleep_for(std::chrono::milliseconds(30));
          *static_cast<std::atomic<int>*>(p) += 1;
          return 1;
        },
        &ran, ui::ThreadPriority::kHighest);
    EXPECT_TRUE(worker.Running());
  }
  EXPECT_EQ(ran.load(), 1);
}

// A box from a worker lost, captioned wrongly, or not owned by the main window.
TEST_F(UiFramework, MessageBoxFromWorkerIsOwnedByTheMainWindow) {
  CDialog mainWindow(kTemplate);
  ui::SetMainWindow(&mainWindow);
  std::thread([] { AfxMessageBox("owned"); }).join();
  ui::SetMainWindow(nullptr);
  std::thread([] { AfxMessageBox("free"); }).join();
  const std::vector<ui::MessageRecord> m = backend.Messages();
  ASSERT_EQ(m.size(), 2u);
  EXPECT_EQ(m[0].text, "owned");
  EXPECT_EQ(m[0].caption, platform::ExecutableBaseName());
  EXPECT_EQ(m[0].ownerTemplate, kTemplate.id);
  EXPECT_EQ(m[1].ownerTemplate, 0);
}

// The field syntax: blanks, sign, saturation, the 31 characters that count,
// and what is no number (which leaves the value alone).
TEST(UnsignedField, Syntax) {
  const std::string longest = std::string(31, '1') + "x";
  const std::pair<std::string, uint32_t> good[] = {{" \t12\t ", 12},
                                                   {"+7", 7},
                                                   {"0", 0},
                                                   {"007", 7},
                                                   {"4294967295", 4294967295u},
                                                   {"99999999999", 4294967295u},
                                                   {longest, 4294967295u}};
  for (const auto& [text, expected] : good) {
    SCOPED_TRACE(text);
    uint32_t value = 77;
    EXPECT_TRUE(ui::ParseUnsignedField(text, value));
    EXPECT_EQ(value, expected);
  }
  const std::string blanks = std::string(31, ' ') + "5";
  for (const std::string& text :
       {blanks, ""s, "   "s, "abc"s, "12a"s, "-1"s, " -0"s, "+"s, "+-5"s, "1 2"s, "0x10"s}) {
    SCOPED_TRACE(text);
    uint32_t value = 77;
    EXPECT_FALSE(ui::ParseUnsignedField(text, value));
    EXPECT_EQ(value, 77u);
  }
}

// A zero must be written as a plain 0: the field takes a number read as zero
// only when a '0' comes first after the blanks, so "+0" is refused although
// "+7" is taken. That is the field rule as the exchange has always had it.
TEST(UnsignedField, ZeroNeedsALeadingDigit) {
  uint32_t value = 77;
  EXPECT_FALSE(ui::ParseUnsignedField("+0", value));
  EXPECT_FALSE(ui::ParseUnsignedField(" +00 ", value));
  EXPECT_EQ(value, 77u);
}

// Each save fails at its first bad row only: one message, the focus and the
// selection on that control, later members untouched. Then a good save closes.
TEST_F(UiFramework, SaveStopsAtTheFirstBadField) {
  FieldsDialog dialog;
  const std::string tooLong(65, 'n');
  const struct {
    const char* number;
    std::string name;
    const char* message;  // null: the save succeeds and closes
    int focus;
    uint32_t numberAfter;
    std::string nameAfter;
  } cases[] = {
      {"abc", "new", "Please enter a positive integer.", kNumber, 9, "old"},
      {"300", "new", "Please enter an integer between 1 and 255.", kNumber, 300, "old"},
      {"0", "new", "Please enter an integer between 1 and 255.", kNumber, 0, "old"},
      {"20", tooLong, "Please enter no more than 64 characters.", kName, 20, tooLong},
      {"x", tooLong, "Please enter a positive integer.", kNumber, 9, "old"},
      {" 12\t", "new", nullptr, kNumber, 12, "new"},
  };
  const int result = Run(dialog, [&](ui::ScriptedWindow& w) {
    for (const auto& c : cases) {
      SCOPED_TRACE(c.number);
      dialog.number = 9;
      dialog.name = "old";
      const size_t before = backend.Messages().size();
      w.SetText(kName, c.name);  // past the limit typing would keep to
      w.Type(kNumber, c.number);
      w.PressEnter();
      const std::vector<std::string> texts = backend.MessageTexts();
      ASSERT_EQ(texts.size(), before + (c.message != nullptr ? 1 : 0));
      if (c.message != nullptr) {
        EXPECT_EQ(texts.back(), c.message);
        const int length = static_cast<int>(w.Text(c.focus).size());
        EXPECT_EQ(w.Selection(c.focus), std::make_pair(0, length));
      }
      EXPECT_EQ(w.Focus(), c.focus);
      EXPECT_EQ(dialog.number, c.numberAfter);
      EXPECT_EQ(dialog.name, c.nameAfter);
      EXPECT_EQ(w.Ended(), c.message == nullptr);
    }
  });
  EXPECT_EQ(result, IDOK);
}

// Loading shows what a member holds and sets the limit; saving reads back.
TEST_F(UiFramework, LoadAndSaveOfChecksCombosAndLimits) {
  FieldsDialog dialog;
  dialog.check = 5;
  dialog.port = "COM3";
  Run(dialog, [&](ui::ScriptedWindow& w) {
    EXPECT_EQ(dialog.check, 0);  // a state the box cannot show becomes clear
    EXPECT_EQ(w.Check(kCheck), 0);
    EXPECT_EQ(w.Text(kCombo), "COM3");  // an empty list still shows the member
    EXPECT_EQ(w.Text(kNumber), "9");
    EXPECT_EQ(w.Limit(kName), 64);
    CDataExchange load(&dialog, false);
    std::string label = "Port";
    DDX_Text(&load, kLabel, label);
    DDV_MaxChars(&load, label, 3);
    EXPECT_EQ(w.Limit(kLabel), 30000);  // a label has no limit to set
    w.ComboAdd(kCombo, "COM3");
    w.ComboAdd(kCombo, "COM1");
    dialog.UpdateData(false);
    EXPECT_EQ(w.CurrentSelection(kCombo), 1);
    w.Type(kCombo, "COM7");
    w.Click(kCheck);
    EXPECT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.port, "COM7");
    EXPECT_EQ(dialog.check, 1);
  });
}

// Cancelling validates nothing: no message, whatever the fields hold.
TEST_F(UiFramework, CancelClosesWithoutValidating) {
  for (const bool escape : {true, false}) {
    SCOPED_TRACE(escape ? "escape" : "close box");
    FieldsDialog dialog;
    const int result = Run(dialog, [&](ui::ScriptedWindow& w) {
      w.Type(kNumber, "abc");
      escape ? w.PressEscape() : w.CloseBox();
      EXPECT_TRUE(w.Ended());
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_TRUE(backend.Messages().empty());
  }
}

}  // namespace
