// The kw9 window on the Qt backend against trackersim over a pseudo-terminal:
// mouse clicks and key presses on the real widgets, message boxes, file
// dialogs and the erase confirmation answered as a user answers them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "app/control_ids.h"
#include "app/log_download.h"
#include "app/resources.h"
#include "app/track_menu.h"
#include "app/tracker_dlg.h"
#include "kw9_version.h"
#include "platform/os/os.h"
#include "platform/os/viewer.h"
#include "platform/ui/native_backend.h"
#include "tests/support/dialog_harness.h"
#include "tests/support/fake_serial.h"
#include "tests/support/flash_records.h"
#include "tests/support/kml_lines.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/trackersim_process.h"

namespace {

using testing_support::FixLines;
using testing_support::SplitStamp;
using testing_support::StampPattern;
using testing_support::TrackersimProcess;

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

QDialog* ShownDialog(int templateId) {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (w->isVisible() && w->objectName() == QStringLiteral("dialog%1").arg(templateId)) {
      return qobject_cast<QDialog*>(w);
    }
  }
  return nullptr;
}

template <class W = QWidget>
W* Control(QWidget& dialog, int id) {
  return dialog.findChild<W*>(QString::number(id), Qt::FindDirectChildrenOnly);
}

// What the user sees in a control.
std::string Shown(QWidget* w) {
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
  if (auto* button = qobject_cast<QAbstractButton*>(w)) return button->text().toStdString();
  if (auto* edit = qobject_cast<QLineEdit*>(w)) return edit->text().toStdString();
  if (auto* combo = qobject_cast<QComboBox*>(w)) return combo->currentText().toStdString();
  return "(no such control)";
}

// A key as the keyboard delivers it: to the window's focus widget.
void Key(QWidget& window, Qt::Key key) {
  QWidget* focus = window.focusWidget();
  QTest::keyClick(focus != nullptr ? focus : &window, key);
}

struct Box {
  std::string text, title, owner;
  QMessageBox::Icon icon;
  int buttons;
  bool modal, mainShown;
  QPoint centre;
};
struct FileDialogSeen {
  bool save;
  QStringList filters;
  bool confirmsOverwrite;
};

// Answers what the window puts up, every 20 ms: message boxes with OK, file
// dialogs with the next path (Esc when none is left), the context menu with
// menuChoice, other dialogs by handler. An answer may open a modal loop of
// its own (a file dialog's overwrite question, the About box from the menu),
// and a timer does not fire inside its own slot: answers run from a timer of
// their own, each window is answered once.
class Answerer {
 public:
  Answerer() {
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    timer_.start(20);
  }
  std::vector<Box> boxes;
  std::vector<std::string> questions;  // Yes/No boxes, answered from questionAnswers
  std::deque<bool> questionAnswers;    // Yes when none is left
  std::vector<std::string> overwriteQuestions;
  std::vector<FileDialogSeen> fileDialogs;
  std::deque<std::string> files;
  std::string menuChoice;
  std::vector<std::string> menuSeen;  // "-" for a separator
  std::map<int, std::function<void(QDialog&)>> dialogs;

  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const Box& b : boxes) texts.push_back(b.text);
    return texts;
  }
  bool WaitForBox(const std::string& text, int ms = 20000) {
    return QTest::qWaitFor(
        [&] {
          for (const Box& b : boxes) {
            if (b.text == text) return true;
          }
          return false;
        },
        ms);
  }

 private:
  bool Answered(QWidget* w) {
    std::erase_if(answered_, [](const QPointer<QWidget>& p) { return p.isNull(); });
    return std::find(answered_.begin(), answered_.end(), w) != answered_.end();
  }
  void Answer(QWidget* w, const std::function<void()>& answer) {
    answered_.emplace_back(w);
    QTimer::singleShot(0, w, answer);
  }

  void Tick() {
    const QWidgetList windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (box == nullptr || !box->isVisible() || Answered(box)) continue;
      if (qobject_cast<QFileDialog*>(box->parentWidget()) != nullptr) {
        overwriteQuestions.push_back(box->text().toStdString());
        Answer(box, [box] { QTest::mouseClick(box->button(QMessageBox::Yes), Qt::LeftButton); });
        return;
      }
      if (box->icon() == QMessageBox::Question) {
        questions.push_back(box->text().toStdString());
        EXPECT_EQ(box->parentWidget(), ShownDialog(IDD_TRACKER_DIALOG));
        const bool yes = questionAnswers.empty() || questionAnswers.front();
        if (!questionAnswers.empty()) questionAnswers.pop_front();
        QAbstractButton* button = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
        EXPECT_NE(button, nullptr);
        if (button == nullptr) button = box->buttons().value(0);
        Answer(box, [button] { QTest::mouseClick(button, Qt::LeftButton); });
        return;
      }
      boxes.push_back({box->text().toStdString(), box->windowTitle().toStdString(),
                       box->parentWidget() ? box->parentWidget()->objectName().toStdString() : "",
                       box->icon(), static_cast<int>(box->buttons().size()),
                       box->windowModality() != Qt::NonModal,
                       ShownDialog(IDD_TRACKER_DIALOG) != nullptr, box->frameGeometry().center()});
      Answer(box, [box] { QTest::mouseClick(box->buttons().value(0), Qt::LeftButton); });
      return;
    }
    for (QWidget* w : windows) {
      auto* dialog = qobject_cast<QFileDialog*>(w);
      if (dialog == nullptr || !dialog->isVisible() || Answered(dialog)) continue;
      fileDialogs.push_back({dialog->acceptMode() == QFileDialog::AcceptSave, dialog->nameFilters(),
                             !dialog->testOption(QFileDialog::DontConfirmOverwrite)});
      auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (files.empty() || name == nullptr) {
        Answer(dialog, [dialog] { QTest::keyClick(dialog, Qt::Key_Escape); });
        return;
      }
      const QString path = QString::fromStdString(files.front());
      files.pop_front();
      Answer(dialog, [name, path] {
        name->setText(path);
        QTest::keyClick(name, Qt::Key_Return);
      });
      return;
    }
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu != nullptr && !Answered(menu)) {
      menuSeen.clear();
      QAction* chosen = nullptr;
      for (QAction* a : menu->actions()) {
        menuSeen.push_back(a->isSeparator() ? "-" : a->text().toStdString());
        if (a->text().toStdString() == menuChoice) chosen = a;
      }
      const QPoint at = chosen != nullptr ? menu->actionGeometry(chosen).center() : QPoint();
      Answer(menu, [menu, at] {
        at.isNull() ? QTest::keyClick(menu, Qt::Key_Escape)
                    : QTest::mouseClick(menu, Qt::LeftButton, {}, at);
      });
      return;
    }
    for (auto& [id, handler] : dialogs) {
      QDialog* dialog = ShownDialog(id);
      if (dialog == nullptr || Answered(dialog)) continue;
      Answer(dialog, [dialog, &handler = handler] { handler(*dialog); });
      return;
    }
  }
  QTimer timer_;
  std::vector<QPointer<QWidget>> answered_;
};

// Every visible control shows its whole text within its own rectangle, and
// no two overlap.
void ExpectLayoutFits(QDialog& dialog) {
  SCOPED_TRACE(dialog.objectName().toStdString());
  std::vector<QWidget*> shown;
  for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isVisible()) shown.push_back(w);
  }
  ASSERT_FALSE(shown.empty());
  for (QWidget* w : shown) {
    SCOPED_TRACE(w->objectName().toStdString() + " \"" + Shown(w) + "\"");
    EXPECT_TRUE(dialog.rect().contains(w->geometry())) << "outside the window";
    // Text is laid out in fractions of a pixel: a word wraps (onto a line
    // the control has no room for) as soon as it overshoots by one.
    const QFontMetricsF fm(w->font());
    const QStyle* style = w->style();
    const int frame = 2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, w);
    double needed = 0, neededHeight = std::floor(fm.height());
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      // The text and the style's margins; not the style's cosmetic minimum.
      needed = fm.horizontalAdvance(button->text()) + frame +
               style->pixelMetric(QStyle::PM_ButtonMargin, nullptr, w);
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
      // What is drawn: the indicator, its spacing, the text.
      needed = style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, w) +
               style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, w) +
               fm.horizontalAdvance(box->text());
      neededHeight = std::max<double>(neededHeight,
                                      style->pixelMetric(QStyle::PM_IndicatorHeight, nullptr, w));
    } else if (auto* label = qobject_cast<QLabel*>(w)) {
      const bool icon = !label->pixmap().isNull();
      needed = icon ? label->pixmap().width() : fm.horizontalAdvance(label->text());
      if (icon) neededHeight = label->pixmap().height();
    } else if (qobject_cast<QLineEdit*>(w) != nullptr || qobject_cast<QComboBox*>(w) != nullptr) {
      neededHeight += frame;  // edits scroll sideways: only one line must fit
    }
    EXPECT_LE(needed, w->width());
    EXPECT_LE(neededHeight, w->height());
  }
  for (size_t i = 0; i < shown.size(); ++i) {
    for (size_t j = i + 1; j < shown.size(); ++j) {
      EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
          << shown[i]->objectName().toStdString() << " and "
          << shown[j]->objectName().toStdString();
    }
  }
}

class QtWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    testing_support::ResetToolState();
    char pattern[] = "/tmp/kw9_qt_test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    // Whatever box came up, it came up as the tool's message box.
    const std::string program =
        QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
    for (const Box& b : answerer.boxes) {
      SCOPED_TRACE(b.text);
      EXPECT_EQ(b.title, program);
      EXPECT_EQ(b.owner, "dialog102");
      EXPECT_EQ(b.icon, QMessageBox::Warning);
      EXPECT_EQ(b.buttons, 1);
      EXPECT_TRUE(b.modal);
    }
    dlg.reset();
    testing_support::ResetToolState();
    // Nothing the window did (file dialogs included) brought the desktop's
    // decimal mark back into the numbers.
    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  void StartTracker(const std::vector<std::string>& options = {"--size", "64"}) {
    sim.emplace(options);
    ASSERT_TRUE(sim->Running());
  }

  // Runs the main window; the script acts once the window is up and ends by
  // closing it. Returns what DoModal returned.
  int Run(const std::string& commandLine, const std::function<void(QDialog&)>& script) {
    platform::SetCommandLine(commandLine);
    dlg = std::make_unique<CTrackerDlg>();
    ui::SetMainWindow(dlg.get());
    QTimer start;
    QObject::connect(&start, &QTimer::timeout, [&] {
      QDialog* main = ShownDialog(IDD_TRACKER_DIALOG);
      if (main == nullptr || QApplication::activeModalWidget() != main) return;
      start.stop();
      script(*main);
      if (main->isVisible()) {
        ADD_FAILURE() << "the script left the window open";
        dlg->EndDialog(-1);
      }
    });
    start.start(20);
    const int result = dlg->DoModal();
    ui::SetMainWindow(nullptr);
    return result;
  }

  static void Click(QDialog& main, int id) {
    QWidget* w = Control(main, id);
    ASSERT_NE(w, nullptr) << id;
    ASSERT_TRUE(w->isVisible()) << id;
    QTest::mouseClick(w, Qt::LeftButton);
  }

  static void Type(QDialog& main, int id, const std::string& text) {
    auto* edit = Control<QLineEdit>(main, id);
    if (auto* combo = Control<QComboBox>(main, id)) edit = combo->lineEdit();
    ASSERT_NE(edit, nullptr) << id;
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, QString::fromStdString(text));
  }

  void Read(QDialog& main) {
    Type(main, IDC_COM_PORT, sim->Device());
    Click(main, IDC_READ);
    ASSERT_EQ(Shown(Control(main, IDC_STATUS)), "Read Complete");
  }

  Answerer answerer;
  std::optional<TrackersimProcess> sim;
  std::unique_ptr<CTrackerDlg> dlg;

 private:
  std::string dir_;
};

bool IsTabStop(ui::ControlKind kind) {
  return kind != ui::ControlKind::kLabel && kind != ui::ControlKind::kProgress &&
         kind != ui::ControlKind::kIcon;
}

TEST_F(QtWindowTest, StartsInEitherModeWithTheRightControlsFocusAndTabOrder) {
  struct Case {
    const char* commandLine;
    std::vector<std::string> boxes;
    bool calibration;
  };
  const Case cases[] = {{"kw9", {}, false}, {"kw9 -tamsk", {"Calibration Mode Enabled\n"}, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.commandLine);
    testing_support::ResetToolState();
    answerer.boxes.clear();
    const int result = Run(c.commandLine, [&](QDialog& main) {
      EXPECT_EQ(main.windowTitle(), "kw9");
      EXPECT_EQ(main.minimumSize(), main.maximumSize()) << "fixed size";
      for (int id : kCalibrationControls)
        EXPECT_EQ(Control(main, id)->isVisible(), c.calibration) << id;
      for (int id : {IDC_G_SWITCH_ENABLE, IDC_STORE_HMS})
        EXPECT_FALSE(Control(main, id)->isVisible()) << id;
      // Tab goes round the visible tab stops in table order, from Read.
      std::vector<std::string> expected, got;
      for (const ui::ControlTemplate& t : FindDialogTemplate(IDD_TRACKER_DIALOG).controls) {
        if (IsTabStop(t.kind) && Control(main, t.id)->isVisible())
          expected.push_back(std::to_string(t.id));
      }
      for (size_t i = 0; i < expected.size(); ++i) {
        QWidget* focus = main.focusWidget();
        while (focus != nullptr && focus->parentWidget() != &main) focus = focus->parentWidget();
        got.push_back(focus != nullptr ? focus->objectName().toStdString() : "(none)");
        Key(main, Qt::Key_Tab);
      }
      EXPECT_EQ(got, expected);
      EXPECT_EQ(main.focusWidget(), Control(main, IDC_READ)) << "round to Read again";
      main.close();
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(answerer.Texts(), c.boxes);
    const QPoint screen = QApplication::primaryScreen()->availableGeometry().center();
    for (const Box& b : answerer.boxes) {
      EXPECT_FALSE(b.mainShown) << "the message comes first";
      EXPECT_LE((b.centre - screen).manhattanLength(), 2) << "centred on the screen";
    }
  }
}

TEST_F(QtWindowTest, ReadShowsTheTrackerAndTheListDropsDownWithThePorts) {
  StartTracker();
  Run("kw9", [&](QDialog& main) {
    auto* combo = Control<QComboBox>(main, IDC_COM_PORT);
    dlg->GetWindow()->ComboAdd(IDC_COM_PORT, "ZZZ stale entry");
    Type(main, IDC_COM_PORT, sim->Device());
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = true;
    option.subControls = QStyle::SC_All;
    const QRect arrow = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                       QStyle::SC_ComboBoxArrow, combo);
    QTest::mouseClick(combo, Qt::LeftButton, {}, arrow.center());
    EXPECT_EQ(combo->findText("ZZZ stale entry"), -1) << "the list was not filled on opening";
    // Linux lists its serial devices by their short names.
    for (int i = 0; i < combo->count(); ++i) EXPECT_TRUE(combo->itemText(i).startsWith("tty"));
    combo->hidePopup();
    EXPECT_EQ(combo->currentText().toStdString(), sim->Device());
    Read(main);
    const struct {
      int id;
      const char* text;
    } shown[] = {{IDC_MODEL_LABEL, "Model: KLX-TX3"},
                 {IDC_SERIAL_NUMBER_LABEL, "Serial #: 2417"},
                 {IDC_STORE_INTERVAL, "10"}};
    for (const auto& s : shown) EXPECT_EQ(Shown(Control(main, s.id)), s.text) << s.id;
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(answerer.Texts(), std::vector<std::string>{});
}

// The opened list says what each device is, beside its name, and is wide
// enough to show it whole; the field stays as narrow as the template has it,
// and picking an item puts only the name there.
TEST_F(QtWindowTest, PortListShowsWhatEachDeviceIs) {
  testing_support::FakeSerial ports;
  ports.listed = {{"ttyS0", "/dev/ttyS0", "", "", false},
                  {"ttyUSB0", "/dev/ttyUSB0", "FT232R USB UART", "0403:6001", false}};
  Run("kw9", [&](QDialog& main) {
    auto* combo = Control<QComboBox>(main, IDC_COM_PORT);
    const int fieldWidth = combo->width();
    combo->showPopup();
    ASSERT_EQ(combo->count(), 2);
    QAbstractItemView* view = combo->view();
    const QString listed = "ttyUSB0  FT232R USB UART (0403:6001)";
    QStyleOptionViewItem option;
    option.initFrom(view);
    const QModelIndex usb = combo->model()->index(1, 0);
    EXPECT_GE(view->itemDelegate()->sizeHint(option, usb).width(),
              view->fontMetrics().horizontalAdvance(listed))
        << "the item does not show its description";
    EXPECT_GE(view->width(), view->fontMetrics().horizontalAdvance(listed));
    EXPECT_EQ(combo->width(), fieldWidth);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->visualRect(usb).center());
    EXPECT_EQ(Shown(combo), "ttyUSB0");
    Key(main, Qt::Key_Escape);
  });
}

// The port field holds what the user typed, as the native drop-down combo
// does: filling and dropping down the list put no port into an empty field,
// nor does a Read's load, and typed letters are not completed to a listed
// port. A Read does select the listed port the text begins.
TEST_F(QtWindowTest, PortFieldKeepsWhatWasTyped) {
  testing_support::FakeSerial ports;  // a machine with COM1 and COM2
  ports.AddPort("COM1");
  ports.AddPort("COM2");
  Run("kw9", [&](QDialog& main) {
    auto* combo = Control<QComboBox>(main, IDC_COM_PORT);
    const struct {
      const char* typed;
      const char* afterRead;
    } rows[] = {{"", ""}, {"c", "COM1"}};
    for (const auto& row : rows) {
      SCOPED_TRACE(row.typed);
      // Typing goes to the active window (a message box had it last).
      main.activateWindow();
      ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
      Type(main, IDC_COM_PORT, "");
      QTest::keyClick(combo->lineEdit(), Qt::Key_F4);  // drops the list down
      EXPECT_EQ(combo->count(), 2) << "the list was filled";
      combo->hidePopup();
      EXPECT_EQ(Shown(combo), "");
      Type(main, IDC_COM_PORT, row.typed);
      EXPECT_EQ(Shown(combo), row.typed);
      Click(main, IDC_READ);  // Read saves the field, loads it, opens nothing
      EXPECT_EQ(Shown(combo), row.afterRead);
    }
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(answerer.Texts(), std::vector<std::string>(2, "Error opening com port"));
}

TEST_F(QtWindowTest, WriteRefusesAnInvalidFieldThenWritesWhatWasTypedAndClicked) {
  StartTracker();
  Run("kw9", [&](QDialog& main) {
    Read(main);
    Type(main, IDC_STORE_INTERVAL, "300");
    Click(main, IDC_WRITE);
    EXPECT_EQ(answerer.Texts(),
              std::vector<std::string>{"Please enter an integer between 1 and 255."});
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(main.focusWidget(), Control(main, IDC_STORE_INTERVAL));
    EXPECT_EQ(Control<QLineEdit>(main, IDC_STORE_INTERVAL)->selectedText(), "300");
    EXPECT_EQ(Shown(Control(main, IDC_STATUS)), "Read Complete") << "nothing was written";
    Type(main, IDC_STORE_INTERVAL, "33");
    const bool nmea = Control<QCheckBox>(main, IDC_ENABLE_NMEA)->isChecked();
    Click(main, IDC_ENABLE_NMEA);
    Click(main, IDC_WRITE);
    EXPECT_EQ(Shown(Control(main, IDC_STATUS)), "Write Complete");
    Type(main, IDC_STORE_INTERVAL, "1");
    Click(main, IDC_ENABLE_NMEA);
    Read(main);
    EXPECT_EQ(Shown(Control(main, IDC_STORE_INTERVAL)), "33")
        << "the tracker kept the written value";
    EXPECT_NE(Control<QCheckBox>(main, IDC_ENABLE_NMEA)->isChecked(), nmea);
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(answerer.boxes.size(), 1u);
}

// The voltage as the tracker holds it, shown and written back with a decimal
// point under any desktop locale: a Write of the untouched window keeps it.
TEST_F(QtWindowTest, ShutdownVoltageSurvivesReadWriteRead) {
  StartTracker();
  Run("kw9", [&](QDialog& main) {
    Read(main);
    EXPECT_EQ(Shown(Control(main, IDC_BATTERY_LABEL)), "battery: 4.02");
    const struct {
      const char* typed;  // nullptr: left as read
      const char* readBack;
    } rows[] = {{nullptr, "3.30"}, {"4.2", "4.20"}};
    for (const auto& row : rows) {
      SCOPED_TRACE(row.readBack);
      if (row.typed != nullptr) Type(main, IDC_SHUTDOWN_VOLTAGE, row.typed);
      Click(main, IDC_WRITE);
      EXPECT_EQ(Shown(Control(main, IDC_STATUS)), "Write Complete");
      Type(main, IDC_SHUTDOWN_VOLTAGE, "0");
      Read(main);
      EXPECT_EQ(Shown(Control(main, IDC_SHUTDOWN_VOLTAGE)), row.readBack);
    }
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(answerer.Texts(), std::vector<std::string>{});
}

TEST_F(QtWindowTest, UpdateInCalibrationModeCommitsTheRadioAndTheSerialNumber) {
  StartTracker();
  Run("kw9 -tamsk", [&](QDialog& main) {
    Read(main);
    Type(main, IDC_RADIO_ID, "1234");
    Type(main, IDC_SERIAL_NUMBER, "4321");
    Click(main, IDC_UPDATE);
    Type(main, IDC_RADIO_ID, "");
    Type(main, IDC_SERIAL_NUMBER, "0");
    Read(main);
    EXPECT_EQ(Shown(Control(main, IDC_VENDOR_ID_LABEL)), "Vendor ID 1234");
    EXPECT_EQ(Shown(Control(main, IDC_SERIAL_NUMBER_LABEL)), "Serial #: 4321");
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(answerer.Texts(),
            (std::vector<std::string>{"Calibration Mode Enabled\n", "Committing Data\n"}));
}

TEST_F(QtWindowTest, ReadFlashSavesTheGoldenTrackWithProgressOnTheWay) {
  StartTracker();
  // Typed without its extension onto a file that is there: the dialog adds
  // .kml and asks before replacing it.
  std::ofstream(Path("track.kml")) << "yesterday";
  answerer.files = {Path("track")};
  std::set<int> positions;
  Run("kw9", [&](QDialog& main) {
    Read(main);
    Click(main, IDC_READ_FLASH);
    auto* bar = Control<QProgressBar>(main, IDC_PROGRESS);
    const bool done = QTest::qWaitFor(
        [&] {
          positions.insert(bar->value());
          return !answerer.boxes.empty() && workerBusy == 0;
        },
        60000);
    EXPECT_TRUE(done) << "no end of the download";
    EXPECT_EQ(bar->maximum(), 50);
    // Cancelled: nothing happens.
    Click(main, IDC_READ_FLASH);
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(answerer.Texts(), std::vector<std::string>{"Done Reading Flash"});
  ASSERT_EQ(answerer.fileDialogs.size(), 2u);
  EXPECT_TRUE(answerer.fileDialogs[0].save);
  EXPECT_TRUE(answerer.fileDialogs[0].confirmsOverwrite);
  EXPECT_EQ(answerer.fileDialogs[0].filters, QStringList({"KML Files (*.kml)", "All Files (*)"}));
  EXPECT_EQ(answerer.overwriteQuestions.size(), 1u);
  EXPECT_GT(positions.size(), 10u) << "the bar moved while the worker read";
  const std::string golden = Slurp(KW9_GOLDEN_DIR "/track64.kml");
  ASSERT_FALSE(golden.empty());
  // The golden bytes, then the stamp naming the tracker the Read found.
  const testing_support::StampedKml written = SplitStamp(Slurp(Path("track.kml")));
  EXPECT_TRUE(written.body == golden) << "differs from track64.kml";
  EXPECT_THAT(written.stamp,
              testing::MatchesRegex(StampPattern("model KLX-TX3 firmware 20 serial 2417")));
}

// The golden track's fixes that lie wholly in its first `bytes` bytes.
std::vector<std::string> FixesWithin(const std::string& golden, int bytes) {
  std::vector<std::string> fixes;
  for (const std::string& line : FixLines(golden)) {
    if (std::stoi(line.substr(line.find("<!-- ") + 5)) + 15 > bytes) break;
    fixes.push_back(line);
  }
  return fixes;
}

// Closing while a worker runs: at the first, a middle and the last block of
// a 64-kbit download (the tracker answers that block 1.5 s late, so the close
// comes while it is on its way), and during an erase. Catches the crash of a
// worker handing its progress to a window that is gone, a download lost or
// cut off mid-file, a temporary file left, a No that closes anyway, and an
// erase that holds the window until the tracker is done.
TEST_F(QtWindowTest, ClosingDuringAWorkerAsksAndKeepsWhatArrived) {
  const std::string stop = "A download is in progress. Stop it and keep what has arrived?";
  const std::string erase =
      "The tracker is erasing its memory and goes on by itself. Close anyway?";
  const std::string golden = Slurp(KW9_GOLDEN_DIR "/track64.kml");
  ASSERT_FALSE(golden.empty());
  struct Case {
    const char* what;
    int block;    // the late block, from 1; 0: an erase
    bool escape;  // else the close box
    std::deque<bool> answers;
    std::vector<std::string> questions;
    bool whole;  // the download completed before the stop
  };
  const Case cases[] = {
      {"Esc, first block", 1, true, {true}, {stop}, false},
      {"close box, middle", 900, false, {true}, {stop}, false},
      {"Esc, last block", 2048, true, {true}, {stop}, true},
      {"close box, No", 900, false, {false}, {stop}, true},
      {"erase, Esc", 0, true, {true}, {erase}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing_support::ResetToolState();
    answerer.boxes.clear();
    answerer.questions.clear();
    answerer.questionAnswers = c.answers;
    answerer.dialogs[IDD_CLEAR_FLASH] = [](QDialog& d) { Key(d, Qt::Key_Return); };
    sim.reset();
    if (c.block > 0) {
      StartTracker(
          {"--size", "64", "--late-after", "J:" + std::to_string(c.block), "--late-ms", "1500"});
    } else {
      StartTracker({"--size", "64", "--erase-ms", "20000"});
    }
    const std::string target = Path("track.kml");
    answerer.files = {target};
    const int result = Run("kw9", [&](QDialog& main) {
      Read(main);
      Click(main, c.block > 0 ? IDC_READ_FLASH : IDC_CLEAR_FLASH);
      if (c.block > 0) {
        // The label comes near the late block's share and then stands still
        // (it moves ten times a second while blocks come): the worker waits
        // for the late block.
        const double near = (c.block - 1) * 8 * 100.0 / 16384 - 10;
        std::string last;
        QElapsedTimer still;
        still.start();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
              if (dlg->percentLabel != last) {
                last = dlg->percentLabel;
                still.restart();
              }
              return !last.empty() && std::atof(last.c_str()) >= near && still.elapsed() > 400;
            },
            60000))
            << "the download never got there: " << dlg->percentLabel;
      } else {
        auto* bar = Control<QProgressBar>(main, IDC_PROGRESS);
        ASSERT_TRUE(QTest::qWaitFor([&] { return bar->value() > 2; }, 20000)) << "no erase";
      }
      c.escape ? Key(main, Qt::Key_Escape) : static_cast<void>(main.close());
      if (!c.answers.front()) {
        EXPECT_TRUE(main.isVisible()) << "No closed the window";
        EXPECT_TRUE(answerer.WaitForBox("Done Reading Flash", 60000));
        EXPECT_TRUE(QTest::qWaitFor([] { return workerBusy == 0; }));
        Key(main, Qt::Key_Escape);  // nothing runs: closes at once
      }
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(workerBusy, 0);
    EXPECT_EQ(answerer.questions, c.questions);
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(Path("")))
      files.push_back(entry.path().filename().string());
    if (c.block == 0) {
      EXPECT_TRUE(files.empty());
      EXPECT_TRUE(answerer.boxes.empty());
      continue;
    }
    EXPECT_EQ(files, std::vector<std::string>{"track.kml"}) << "a temporary file was left";
    const std::string written = Slurp(target);
    if (c.whole) {
      EXPECT_TRUE(SplitStamp(written).body == golden) << "differs from track64.kml";
      EXPECT_EQ(answerer.Texts(), std::vector<std::string>{"Done Reading Flash"});
    } else {
      EXPECT_TRUE(answerer.boxes.empty()) << answerer.Texts().front();
      EXPECT_EQ(dlg->statusText, "Download stopped; the fixes that arrived are kept");
      // What arrived, as the label says: whole blocks up to the late one.
      const int arrived =
          static_cast<int>(std::lround(std::atof(dlg->percentLabel.c_str()) * 16384 / 800)) * 8;
      EXPECT_LE(arrived, c.block * 8);
      EXPECT_GE(arrived, c.block == 1 ? 8 : (c.block - 20) * 8);
      EXPECT_EQ(FixLines(written), FixesWithin(golden, arrived));
      EXPECT_NE(written.find("</kml>"), std::string::npos);
      EXPECT_EQ(std::system(("xmllint --noout '" + target + "'").c_str()), 0) << "not well formed";
    }
    std::filesystem::remove(target);
  }
}

// The port shown is the port used: two trackers on two ports; A is read,
// then B picked, with a field left invalid. Clear Flash names B, erases B
// alone and shows no field's message (Clear Flash saves no field). A Read of a port that does not
// open ends as "Read Failed" once its message is dismissed.
TEST_F(QtWindowTest, ClearFlashErasesTheTrackerShownAndAFailedOpenIsAFailedRead) {
  const std::string transcriptA = Path("a.bin"), transcriptB = Path("b.bin");
  StartTracker({"--size", "64", "--transcript", transcriptA});
  TrackersimProcess other({"--size", "64", "--erase-ms", "300", "--transcript", transcriptB});
  ASSERT_TRUE(other.Running());
  std::string confirmation;
  answerer.dialogs[IDD_CLEAR_FLASH] = [&](QDialog& d) {
    confirmation = Shown(Control(d, IDC_CLEAR_FLASH_PORT));
    ExpectLayoutFits(d);
    Key(d, Qt::Key_Return);
  };
  Run("kw9", [&](QDialog& main) {
    Read(main);
    Type(main, IDC_COM_PORT, other.Device());
    Type(main, IDC_STORE_INTERVAL, "300");
    Click(main, IDC_CLEAR_FLASH);
    EXPECT_TRUE(answerer.WaitForBox("Done Clearing Flash"));
    EXPECT_TRUE(QTest::qWaitFor([] { return workerBusy == 0; }));
    Type(main, IDC_STORE_INTERVAL, "10");
    Type(main, IDC_COM_PORT, "/dev/kw9-no-such-port");
    Click(main, IDC_READ);
    EXPECT_EQ(Shown(Control(main, IDC_STATUS)), "Read Failed");
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(confirmation, "Tracker on " + other.Device());
  ASSERT_EQ(answerer.boxes.size(), 2u) << "a field's message";
  EXPECT_EQ(answerer.boxes[0].text, "Done Clearing Flash");
  EXPECT_EQ(answerer.boxes[1].text.substr(0, 22), "Error opening com port");
  EXPECT_EQ(other.Stop(), 0);
  EXPECT_EQ(sim->Stop(), 0);
  EXPECT_EQ(Slurp(transcriptB).find('Z') != std::string::npos, true) << "B was not erased";
  EXPECT_EQ(Slurp(transcriptA).find('Z'), std::string::npos) << "A was erased";
}

TEST_F(QtWindowTest, FlashTestClearFlashAfterItsConfirmationAndGo) {
  StartTracker({"--size", "64", "--erase-ms", "300"});
  std::deque<Qt::Key> confirm = {Qt::Key_Escape, Qt::Key_Return};
  std::vector<std::string> confirmTitles;
  answerer.dialogs[IDD_CLEAR_FLASH] = [&](QDialog& dialog) {
    confirmTitles.push_back(dialog.windowTitle().toStdString());
    if (confirmTitles.size() == 1) ExpectLayoutFits(dialog);
    Key(dialog, confirm.empty() ? Qt::Key_Escape : confirm.front());
    if (!confirm.empty()) confirm.pop_front();
  };
  Run("kw9", [&](QDialog& main) {
    Read(main);
    Click(main, IDC_FLASH_TEST);
    Click(main, IDC_CLEAR_FLASH);  // Esc: kept
    Click(main, IDC_CLEAR_FLASH);  // Enter: CLEAR
    EXPECT_TRUE(answerer.WaitForBox("Done Clearing Flash"));
    EXPECT_TRUE(QTest::qWaitFor([] { return workerBusy == 0; })) << "the erase never ended";
    EXPECT_EQ(Control<QProgressBar>(main, IDC_PROGRESS)->maximum(), 100);
    Click(main, IDC_GO);
    EXPECT_EQ(Shown(Control(main, IDC_STATUS)), "TX running, Enter a command to stop");
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(confirmTitles, (std::vector<std::string>{"Dialog", "Dialog"}));
  EXPECT_EQ(answerer.Texts(),
            (std::vector<std::string>{"I2C Read Test Passed", "Done Clearing Flash"}));
}

TEST_F(QtWindowTest, FixKmlRepairsTheFileChosenInTheOpenDialogIntoTheSavedOne) {
  std::ofstream(Path("in.kml")) << "<coordinates>, 7.1, 50.2\n";
  answerer.files = {Path("in.kml"), Path("out.kml")};
  Run("kw9", [&](QDialog& main) {
    Click(main, IDC_FIX_KML);
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(answerer.Texts(),
            (std::vector<std::string>{"First select an input file", "Now select an output file",
                                      "KML file fixed"}));
  ASSERT_EQ(answerer.fileDialogs.size(), 2u);
  EXPECT_FALSE(answerer.fileDialogs[0].save);
  EXPECT_TRUE(answerer.fileDialogs[1].save);
  EXPECT_TRUE(answerer.overwriteQuestions.empty());
  EXPECT_EQ(Slurp(Path("out.kml")), "<coordinates>7.1,50.2\r\n");
}

TEST_F(QtWindowTest, EnterSavesOnlyValidValuesEscAndCloseDiscard) {
  struct Case {
    const char* what;
    std::vector<std::pair<const char*, Qt::Key>> typedThenPressed;  // Key_unknown: close()
    int result;
    size_t boxes;
    uint32_t storeInterval;
  };
  const Case cases[] = {
      {"Enter refuses 300, then saves 12",
       {{"300", Qt::Key_Return}, {"12", Qt::Key_Enter}},
       IDOK,
       1,
       12},
      {"Esc leaves an invalid value unsaved", {{"abc", Qt::Key_Escape}}, IDCANCEL, 0, 1},
      {"the close box saves nothing", {{"7", Qt::Key_unknown}}, IDCANCEL, 0, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    answerer.boxes.clear();
    const int result = Run("kw9", [&](QDialog& main) {
      for (const auto& [text, key] : c.typedThenPressed) {
        ASSERT_TRUE(main.isVisible());
        Type(main, IDC_STORE_INTERVAL, text);
        key == Qt::Key_unknown ? static_cast<void>(main.close()) : Key(main, key);
      }
    });
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(answerer.boxes.size(), c.boxes);
    EXPECT_EQ(dlg->storeInterval, c.storeInterval);
  }
}

TEST_F(QtWindowTest, AboutBoxFromTheContextMenu) {
  answerer.menuChoice = "&About kw9...";
  std::vector<std::string> lines;
  bool icon = false;
  answerer.dialogs[IDD_ABOUTBOX] = [&](QDialog& about) {
    EXPECT_EQ(about.windowTitle(), "About kw9");
    for (QLabel* label : about.findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
      if (!label->pixmap().isNull()) icon = true;
      if (!label->text().isEmpty()) lines.push_back(label->text().toStdString());
    }
    ExpectLayoutFits(about);
    Key(about, Qt::Key_Return);
  };
  const int result = Run("kw9", [&](QDialog& main) {
    const QPoint at(main.width() / 2, main.height() - 4);
    QContextMenuEvent event(QContextMenuEvent::Mouse, at, main.mapToGlobal(at));
    QCoreApplication::sendEvent(&main, &event);  // returns once the menu and the box closed
    EXPECT_TRUE(main.isVisible());
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(result, IDCANCEL);
  EXPECT_EQ(answerer.menuSeen, (std::vector<std::string>{
                                   "-", "Export Track...", "Show Track", "Save Settings Profile...",
                                   "Load Settings Profile...", "-", "&About kw9..."}));
  EXPECT_EQ(lines, (std::vector<std::string>{"kw9 Version " KW9_VERSION,
                                             "Tracker set-up and log download"}));
  EXPECT_TRUE(icon) << "the About box shows the icon";
}

std::vector<std::string> viewed;

// The track menu with real clicks: Export Track writes the GPX the save
// dialog names, then Show Track hands the picture of that track to the
// system's viewer. Catches a menu item the context menu does not run and a
// file dialog the Qt backend does not answer with the chosen file.
TEST_F(QtWindowTest, ExportAndShowTrackFromTheContextMenu) {
  const testing_support::ScratchDir dir;
  const std::string kml = dir / "walk.kml";
  testing_support::LoadFlashImage({{0, {2, 0, 0, 0, 51, 30, 0, 0, 1, 2, 3, 4, 10, 0, 0}},
                                   {15, {2, 1, 0, 0, 51, 31, 0, 0, 1, 2, 3, 4, 10, 0, 10}}},
                                  {64, 8180});
  ASSERT_TRUE(testing_support::WriteDownloadKml(kml));
  viewed.clear();
  platform::SetViewerHandler([](const std::string& path) {
    viewed.push_back(path);
    return true;
  });
  answerer.files = {kml, dir / "walk.gpx"};
  // The date question: the first fix's date typed, then Enter for Export.
  answerer.dialogs[IDD_EXPORT_DATE] = [](QDialog& dialog) {
    Type(dialog, IDC_EXPORT_DATE, "2026-03-01");
    Key(dialog, Qt::Key_Return);
  };
  Run("kw9", [&](QDialog& main) {
    const QPoint at(main.width() / 2, main.height() - 4);
    for (const char* item : {"Export Track...", "Show Track"}) {
      answerer.menuChoice = item;
      QContextMenuEvent event(QContextMenuEvent::Mouse, at, main.mapToGlobal(at));
      QCoreApplication::sendEvent(&main, &event);
    }
    Key(main, Qt::Key_Escape);
  });
  platform::SetViewerHandler(nullptr);
  EXPECT_NE(Slurp(dir / "walk.gpx").find("<time>2026-03-01T10:00:00Z</time>"), std::string::npos);
  ASSERT_EQ(viewed.size(), 1u);
  EXPECT_NE(Slurp(viewed[0]).find(">2 fixes, 1 segment, "), std::string::npos);
  std::filesystem::remove(viewed[0]);
}

// The profiles with real clicks: saved after a Read, a field changed by hand,
// then loaded back. Catches a menu item the context menu does not run and a
// load that does not reach the Qt window's fields.
TEST_F(QtWindowTest, SaveAndLoadSettingsProfileFromTheContextMenu) {
  StartTracker();
  const testing_support::ScratchDir dir;
  answerer.files = {dir / "fleet.json", dir / "fleet.json"};
  std::string readValue, status;
  Run("kw9", [&](QDialog& main) {
    Read(main);
    readValue = Shown(Control(main, IDC_TRANSMIT_INTERVAL));
    const QPoint at(main.width() / 2, main.height() - 4);
    const auto menu = [&](const char* item) {
      answerer.menuChoice = item;
      QContextMenuEvent event(QContextMenuEvent::Mouse, at, main.mapToGlobal(at));
      QCoreApplication::sendEvent(&main, &event);
    };
    menu("Save Settings Profile...");
    Type(main, IDC_TRANSMIT_INTERVAL, "99");
    menu("Load Settings Profile...");
    EXPECT_EQ(Shown(Control(main, IDC_TRANSMIT_INTERVAL)), readValue);
    status = Shown(Control(main, IDC_STATUS));
    Key(main, Qt::Key_Escape);
  });
  EXPECT_EQ(status, "Profile loaded: 1 field changed");
  EXPECT_NE(Slurp(dir / "fleet.json").find("\"transmitInterval\": " + readValue),
            std::string::npos);
  EXPECT_EQ(answerer.Texts(), std::vector<std::string>{});
}

// After a Read, with the tracker's longer texts in place.
TEST_F(QtWindowTest, LayoutFitsInBothModesAndScreenshotsAreSaved) {
  StartTracker();
  const char* dir = std::getenv("KW9_QT_SCREENSHOT_DIR");
  for (const auto& [commandLine, picture] :
       {std::pair{"kw9", "kw9-qt-normal.png"}, {"kw9 -tamsk", "kw9-qt-calibration.png"}}) {
    SCOPED_TRACE(commandLine);
    testing_support::ResetToolState();
    Run(commandLine, [&](QDialog& main) {
      Read(main);
      ExpectLayoutFits(main);
      const std::string path = std::string(dir != nullptr && *dir ? dir : ".") + "/" + picture;
      EXPECT_TRUE(main.grab().save(QString::fromStdString(path))) << path;
      Key(main, Qt::Key_Escape);
    });
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Listing the tests needs no display either.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // KW9_QT_TEST_LOCALE names a locale with a decimal comma (de_DE.UTF-8) to
  // run under, made here as a desktop set to that language has it: the
  // machine may have none but C. A locale that cannot be made, or makes no
  // comma, fails the run: it must never pass in C.
  const std::string locale =
      std::getenv("KW9_QT_TEST_LOCALE") ? std::getenv("KW9_QT_TEST_LOCALE") : "";
  const testing_support::ScratchDir localeDir;
  if (!locale.empty()) {
    const size_t dot = locale.find('.');
    const std::string made = localeDir / locale;
    if (dot == std::string::npos || std::system(("localedef -i " + locale.substr(0, dot) + " -f " +
                                                 locale.substr(dot + 1) + " '" + made + "'")
                                                    .c_str()) != 0) {
      std::fprintf(stderr, "kw9_qt_tests: localedef could not make %s\n", made.c_str());
      return 1;
    }
    setenv("LOCPATH", localeDir.Path().c_str(), 1);
    setenv("LANG", locale.c_str(), 1);
    setenv("LC_ALL", locale.c_str(), 1);
  }
  QApplication app(argc, argv);
  // The application handed the locale to the C library; the backend has not
  // pinned the numbers yet.
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  if (!locale.empty() && std::string(probe) != "1,5") {
    std::fprintf(stderr, "kw9_qt_tests: %s took no effect: 1.5 prints as %s\n", locale.c_str(),
                 probe);
    return 1;
  }
  testing::InitGoogleTest(&argc, argv);
  ui::UseBackend(&ui::NativeBackend());
  return RUN_ALL_TESTS();
}
