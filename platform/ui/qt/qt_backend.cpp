// The Linux desktop backend on Qt Widgets: the dialogs are built from the
// tool's templates with absolute geometry in dialog units, the controls keep
// the Windows semantics the tool was written against (no default button, an
// unsorted-looking but sorted combo list, a progress bar that starts over),
// and a worker reaches the user-interface thread by a blocking queued call.
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QEventLoop>
#include <QFileDialog>
#include <QFont>
#include <QFontMetrics>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSessionManager>
#include <QStyledItemDelegate>
#include <QThread>
#include <QTimer>
#include <clocale>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/framework.h"
#include "platform/ui/native_backend.h"
#include "platform/ui/progress_state.h"

namespace ui {

namespace {

QString Q(const std::string& text) {
  return QString::fromStdString(text);
}

// A label shows '&' as an accelerator mark unless it was made without one;
// Qt's labels show it as it stands.
QString LabelText(const std::string& text, bool prefix) {
  if (!prefix) return Q(text);
  std::string shown;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '&' && i + 1 < text.size()) ++i;
    shown.push_back(text[i]);
  }
  return Q(shown);
}

// "MS Sans Serif" 8 pt at 96 dpi: 11 pixels to the em. Where that face is
// missing, one with Arial's metrics stands in, else any sans-serif.
QFont DialogFont(const DialogTemplate& t) {
  QFont::insertSubstitutions(
      QString::fromLatin1(t.font),
      {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")});
  QFont font(QString::fromLatin1(t.font));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize((t.pointSize * 96 + 36) / 72);
  return font;
}

// Dialog base units measured as Windows measures them for the dialog font.
struct BaseUnits {
  int x, y;
  explicit BaseUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    x = (width / 26 + 1) / 2;
    y = metrics.height();
  }
  int X(int units) const { return (units * x + 2) / 4; }
  int Y(int units) const { return (units * y + 4) / 8; }
};

// Centres widget on its owner window, or on the screen while the owner is
// not on it.
void Centre(QWidget& widget, QWidget* owner) {
  QRect area;
  if (owner != nullptr && owner->isVisible() && !owner->isMinimized()) {
    area = owner->frameGeometry();
  } else if (QScreen* screen = QApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isEmpty()) return;
  // move() places the frame, so the frame's size is what centres.
  const QSize size = widget.frameGeometry().size();
  QPoint corner = area.center() - QPoint(size.width() / 2, size.height() / 2);
  widget.move(std::max(corner.x(), 0), std::max(corner.y(), 0));
}

// Qt places a box over its owner's rectangle even while the owner is not
// shown yet (the calibration message comes before the main window): it would
// land at the screen's top left. The native box goes to the screen's centre.
class ToolMessageBox final : public QMessageBox {
 public:
  using QMessageBox::QMessageBox;

 protected:
  void showEvent(QShowEvent* event) override {
    QMessageBox::showEvent(event);  // gives the box its final size
    if (parentWidget() == nullptr || !parentWidget()->isVisible()) Centre(*this, nullptr);
  }
};

class QtBackend;
class DialogWidget;

// An editable drop-down whose list is filled by the window just before it
// opens, as the native combo box asks with its drop-down notification.
// What an item of the port list says about its device, shown beside its name
// in the opened list only: picking the item puts the name alone in the field.
constexpr int kDescriptionRole = Qt::UserRole + 1;
constexpr char kDescriptionGap[] = "  ";

QString ListedText(const QModelIndex& index) {
  const QString description = index.data(kDescriptionRole).toString();
  const QString name = index.data(Qt::DisplayRole).toString();
  return description.isEmpty() ? name : name + kDescriptionGap + description;
}

class DescribedItemDelegate final : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
    QStyledItemDelegate::initStyleOption(option, index);
    option->text = ListedText(index);
  }
};

// An editable drop-down whose list is filled by the window just before it
// opens, as the native combo box asks with its drop-down notification.
class DropDownCombo final : public QComboBox {
 public:
  DropDownCombo(QWidget* parent, CDialog& dialog, int id)
      : QComboBox(parent), dialog_(dialog), id_(id) {
    setItemDelegate(new DescribedItemDelegate(this));
  }
  void showPopup() override {
    dialog_.OnCommand(id_, CBN_DROPDOWN);
    // The list, not the field, widens to show each item whole.
    int widest = 0;
    const QFontMetrics metrics(view()->font());
    for (int i = 0; i < count(); ++i) {
      widest = std::max(widest, metrics.horizontalAdvance(ListedText(model()->index(i, 0))));
    }
    view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth() +
                            view()->verticalScrollBar()->sizeHint().width());
    QComboBox::showPopup();
  }

 private:
  CDialog& dialog_;
  int id_;
};

class QtWindow final : public Window {
 public:
  QtWindow(QtBackend& backend, CDialog& dialog, QWidget* owner);
  ~QtWindow() override;

  DialogWidget& Widget() { return *widget_; }
  CDialog& Dialog() { return dialog_; }
  bool Ended() const { return ended_; }
  int Result() const { return result_; }
  QWidget* FirstTabStop();
  const std::vector<std::pair<unsigned, std::string>>& SystemMenu() const { return sysMenu_; }
  bool TakeDefaultPaintRequest() { return std::exchange(defaultPaint_, false); }

  std::string GetText(int id) override;
  void SetText(int id, const std::string& text) override;
  int GetCheck(int id) override;
  void SetCheck(int id, int state) override;
  void Show(int id, bool show) override;
  bool IsVisible(int id) override;
  void SetFocus(int id) override;
  void SelectAllText(int id) override;
  void LimitText(int id, int limit) override;
  int ComboCount(int id) override;
  void ComboDelete(int id, int index) override;
  int ComboAdd(int id, const std::string& text) override;
  int ComboAddDescribed(int id, const std::string& text, const std::string& description) override;
  int ComboSelectString(int id, const std::string& prefix) override;
  intptr_t SendProgress(int id, unsigned message, uintptr_t wParam, intptr_t lParam) override;
  bool HasSystemMenu() override { return (dialog_.Template().style & kStyleSysMenu) != 0; }
  void AppendSystemMenuSeparator() override { sysMenu_.emplace_back(0, ""); }
  void AppendSystemMenuItem(unsigned commandId, const std::string& text) override {
    sysMenu_.emplace_back(commandId, text);
  }
  void SetIcon(bool big, Icon icon) override;
  bool IsIconic() override;
  void ClientSize(int& width, int& height) override;
  void PaintIcon(int x, int y, Icon icon) override;
  void DefaultPaint() override { defaultPaint_ = true; }
  void DefaultSysCommand(unsigned commandId, intptr_t lParam) override;
  void End(int result) override;

 private:
  struct Control {
    const ControlTemplate* t;
    QWidget* widget;
    std::string text;  // as the tool set it, accelerator marks included
    ProgressState progress;
    QRect home;  // the template's rectangle, in pixels
  };
  Control* Find(int id);
  QLineEdit* EditOf(int id);
  QComboBox* ComboOf(int id);
  void Build(const QFont& font, const BaseUnits& units);
  void ShowProgress(Control& c);
  void FitLabel(Control& c);

  QtBackend& backend_;
  CDialog& dialog_;
  std::unique_ptr<DialogWidget> widget_;
  std::vector<Control> controls_;
  std::vector<std::pair<unsigned, std::string>> sysMenu_;
  bool ended_ = false;
  int result_ = IDCANCEL;
  bool defaultPaint_ = false;
};

class DialogWidget final : public QDialog {
 public:
  DialogWidget(QtWindow& window, QWidget* owner) : QDialog(owner), window_(window) {}

 protected:
  void keyPressEvent(QKeyEvent* event) override {
    switch (event->key()) {
      case Qt::Key_Escape:
        window_.Dialog().OnCommand(IDCANCEL, BN_CLICKED);
        return;
      case Qt::Key_Return:
      case Qt::Key_Enter:
        EnterPressed();
        return;
      default:
        QDialog::keyPressEvent(event);
    }
  }
  void closeEvent(QCloseEvent* event) override {
    // The close box is the system menu's Close; the handler decides.
    event->ignore();
    window_.Dialog().OnSysCommandMessage(SC_CLOSE, 0);
  }
  void contextMenuEvent(QContextMenuEvent* event) override {
    // The desktop has no system menu to add to: its entries go here.
    if (window_.SystemMenu().empty()) return;
    QMenu menu(this);
    for (const auto& [command, text] : window_.SystemMenu()) {
      if (command == 0) {
        menu.addSeparator();
        continue;
      }
      const unsigned id = command;
      QObject::connect(menu.addAction(Q(text)), &QAction::triggered, this,
                       [this, id] { window_.Dialog().OnSysCommandMessage(id, 0); });
    }
    menu.exec(event->globalPos());
  }
  void paintEvent(QPaintEvent* event) override {
    window_.Dialog().OnPaintMessage();
    if (window_.TakeDefaultPaintRequest()) QDialog::paintEvent(event);
  }

 private:
  // Enter clicks a focused push button, else the default one; failing both
  // it is the dialog's OK command.
  void EnterPressed() {
    if (auto* button = qobject_cast<QPushButton*>(focusWidget())) {
      button->click();
      return;
    }
    for (QPushButton* button : findChildren<QPushButton*>()) {
      if (button->isDefault() && button->isVisible()) {
        button->click();
        return;
      }
    }
    window_.Dialog().OnCommand(IDOK, BN_CLICKED);
  }

  QtWindow& window_;
};

class QtBackend final : public Backend {
 public:
  QtBackend() {
    if (QApplication::instance() == nullptr) {
      static int argc = 1;
      static char name[] = "kw9";
      static char* argv[] = {name, nullptr};
      app_ = std::make_unique<QApplication>(argc, argv);
    }
    // The application gave the C library the desktop's locale. The tool's
    // numbers (KML coordinates, voltages shown, typed and written) keep the
    // decimal point under every one of them; text keeps the desktop's.
    std::setlocale(LC_NUMERIC, "C");
    QApplication::setQuitOnLastWindowClosed(false);
    // Logging out asks the main window first; a session manager that allows
    // no interaction gets what the window keeps without a question.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, qApp, [](QSessionManager& manager) {
      CDialog* main = MainWindow();
      if (main == nullptr || main->GetWindow() == nullptr) return;
      const bool mayAsk = manager.allowsInteraction();
      const bool end = main->OnQueryEndSession(mayAsk);
      if (mayAsk) manager.release();
      if (!end) manager.cancel();
    });
  }

  int RunModal(CDialog& dialog, CDialog* owner) override {
    QtWindow window(*this, dialog, WidgetOf(owner));
    dialog.Attach(&window);
    if (dialog.OnInitDialog()) {
      if (QWidget* first = window.FirstTabStop()) first->setFocus(Qt::OtherFocusReason);
    }
    int result = window.Result();
    if (!window.Ended()) {
      Centre(window.Widget(), WidgetOf(owner));
      // A session that ends without asking (SIGTERM or SIGHUP at log-out, a
      // closed terminal) ends the program's window the same way, once the
      // window has kept what it must.
      QTimer told;
      if (owner == nullptr) {
        QObject::connect(&told, &QTimer::timeout, &told, [&window, &told] {
          if (!platform::InterruptRequested()) return;
          told.stop();
          window.Dialog().OnQueryEndSession(false);
          window.End(IDCANCEL);
        });
        told.start(100);
      }
      result = window.Widget().exec();
    }
    dialog.OnDestroy();
    dialog.Detach();
    return result;
  }

  void ShowMessage(CDialog* owner, const std::string& text, const std::string& caption) override {
    RunOnUiThread([&] {
      ToolMessageBox box(QMessageBox::Warning, Q(caption), Q(text), QMessageBox::Ok,
                         WidgetOf(owner));
      box.setTextFormat(Qt::PlainText);
      box.exec();
    });
  }

  bool AskYesNo(CDialog* owner, const std::string& text, const std::string& caption) override {
    ToolMessageBox box(QMessageBox::Question, Q(caption), Q(text),
                       QMessageBox::Yes | QMessageBox::No, WidgetOf(owner));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes;
  }

  Icon LoadAppIcon(int resourceId) override {
    std::unique_ptr<QIcon>& icon = icons_[resourceId];
    if (!icon) icon = std::make_unique<QIcon>(QStringLiteral(":/kw9/icons/%1.ico").arg(resourceId));
    return icon->isNull() ? 0 : reinterpret_cast<Icon>(icon.get());
  }

  void SystemIconSize(int& cx, int& cy) override { cx = cy = 32; }

  void RunOnUiThread(const std::function<void()>& task) override {
    if (QThread::currentThread() == QApplication::instance()->thread()) {
      task();
      return;
    }
    QMetaObject::invokeMethod(
        QApplication::instance(), [&task] { task(); }, Qt::BlockingQueuedConnection);
  }

  bool FileDialog(const FileDialogRequest& request, std::string& path) override;

  void PumpUntil(const std::function<bool()>& done) override {
    // Only what other threads send is served: the user's input for a window
    // that is going away waits. The timer wakes the wait to look at done().
    QTimer wake;
    wake.start(20);
    QEventLoop loop;
    while (!done()) {
      loop.processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    }
  }

  static QWidget* WidgetOf(CDialog* dialog) {
    if (dialog == nullptr || dialog->GetWindow() == nullptr) return nullptr;
    return &static_cast<QtWindow*>(dialog->GetWindow())->Widget();
  }
  static const QIcon* IconOf(Icon icon) { return reinterpret_cast<const QIcon*>(icon); }

 private:
  std::unique_ptr<QApplication> app_;
  std::map<int, std::unique_ptr<QIcon>> icons_;
};

// "Name|pattern|...||" as the tool writes filters, as Qt's file dialog reads
// them: "Name (pattern)" a line. "*.*" means every file there, not only
// names with a dot.
QStringList QtFilters(const std::string& filter) {
  QStringList parts = Q(filter).split(QLatin1Char('|'));
  QStringList filters;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].isEmpty()) break;
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    patterns.replace(QStringLiteral("*.*"), QStringLiteral("*"));
    QString name = parts[i];
    if (name.endsWith(QLatin1Char(')')) && name.contains(QLatin1Char('('))) {
      name = name.left(name.lastIndexOf(QLatin1Char('('))).trimmed();
    }
    filters << QStringLiteral("%1 (%2)").arg(name, patterns);
  }
  return filters;
}

bool QtBackend::FileDialog(const FileDialogRequest& request, std::string& path) {
  CDialog* owner = request.owner != nullptr ? request.owner : MainWindow();
  QFileDialog dialog(WidgetOf(owner));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
  dialog.setFileMode(request.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
  if ((request.flags & OFN_OVERWRITEPROMPT) == 0) {
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
  }
  const QStringList filters = QtFilters(request.filter);
  if (!filters.isEmpty()) dialog.setNameFilters(filters);
  std::string extension = request.defaultExt;
  if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
  if (!extension.empty()) dialog.setDefaultSuffix(Q(extension));
  dialog.setDirectory(request.folder.empty() ? QDir::current() : QDir(Q(request.folder)));
  if (!request.fileName.empty()) dialog.selectFile(Q(request.fileName));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  path = dialog.selectedFiles().first().toStdString();
  return true;
}

// --- QtWindow -----------------------------------------------------------------

QtWindow::QtWindow(QtBackend& backend, CDialog& dialog, QWidget* owner)
    : backend_(backend), dialog_(dialog), widget_(std::make_unique<DialogWidget>(*this, owner)) {
  const DialogTemplate& t = dialog.Template();
  widget_->setObjectName(QStringLiteral("dialog%1").arg(t.id));
  widget_->setWindowTitle(QString::fromLatin1(t.caption));
  Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
  if (HasSystemMenu()) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
  widget_->setWindowFlags(flags);
  const QFont font = DialogFont(t);
  widget_->setFont(font);
  const BaseUnits units(font);
  widget_->setFixedSize(units.X(t.w), units.Y(t.h));
  Build(font, units);
}

QtWindow::~QtWindow() = default;

void QtWindow::Build(const QFont& font, const BaseUnits& units) {
  const QFontMetrics metrics(font);
  QWidget* parent = widget_.get();
  QWidget* previousTabStop = nullptr;
  for (const ControlTemplate& t : dialog_.Template().controls) {
    Control c{&t, nullptr, t.text != nullptr ? t.text : "", {}, {}};
    QRect rect(units.X(t.x), units.Y(t.y), units.X(t.w), units.Y(t.h));
    bool tabStop = true;
    switch (t.kind) {
      case ControlKind::kPush:
      case ControlKind::kDefaultPush: {
        auto* button = new QPushButton(Q(c.text), parent);
        button->setAutoDefault(false);
        button->setDefault(t.kind == ControlKind::kDefaultPush);
        c.widget = button;
        break;
      }
      case ControlKind::kCheck:
        c.widget = new QCheckBox(Q(c.text), parent);
        break;
      case ControlKind::kEdit: {
        auto* edit = new QLineEdit(Q(c.text), parent);
        edit->setMaxLength(32767);
        c.widget = edit;
        break;
      }
      case ControlKind::kCombo: {
        auto* combo = new DropDownCombo(parent, dialog_, t.id);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        // A native drop-down combo takes the letters as typed: Qt's inline
        // completion would turn "c" into a listed port the user never chose.
        combo->setCompleter(nullptr);
        combo->setEditText(Q(c.text));
        // The template's height is the opened list's; closed, it is one line.
        rect.setHeight(std::max(combo->sizeHint().height(), metrics.height() + 8));
        c.widget = combo;
        break;
      }
      case ControlKind::kLabel: {
        auto* label = new QLabel(LabelText(c.text, (t.flags & kNoPrefix) == 0), parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setWordWrap(true);
        c.widget = label;
        tabStop = false;
        break;
      }
      case ControlKind::kProgress: {
        auto* bar = new QProgressBar(parent);
        bar->setTextVisible(false);
        c.widget = bar;
        c.text.clear();
        tabStop = false;
        break;
      }
      case ControlKind::kIcon: {
        auto* label = new QLabel(parent);
        const Icon icon = backend_.LoadAppIcon(std::stoi(c.text));
        if (icon != 0) label->setPixmap(QtBackend::IconOf(icon)->pixmap(32, 32));
        rect.setSize(QSize(32, 32));
        c.widget = label;
        c.text.clear();
        tabStop = false;
        break;
      }
    }
    if (auto* button = qobject_cast<QAbstractButton*>(c.widget)) {
      const int id = t.id;
      QObject::connect(button, &QAbstractButton::clicked, button,
                       [this, id] { dialog_.OnCommand(id, BN_CLICKED); });
    }
    c.widget->setObjectName(QString::number(t.id));
    c.widget->setGeometry(rect);
    c.home = rect;
    if ((t.flags & kHidden) != 0) c.widget->hide();
    if (tabStop) {
      if (previousTabStop != nullptr) QWidget::setTabOrder(previousTabStop, c.widget);
      previousTabStop = c.widget;
    } else {
      c.widget->setFocusPolicy(Qt::NoFocus);
    }
    controls_.push_back(std::move(c));
  }
  for (Control& c : controls_) {
    if (c.t->kind == ControlKind::kProgress) ShowProgress(c);
    if (c.t->kind == ControlKind::kLabel) FitLabel(c);
  }
}

// The templates were laid out for a narrower face than the stand-ins, so a
// one-line label may come up a few pixels short: it grows to the right as far
// as no other control (shown or not) and the window's edge allow, and only
// then takes a smaller size of the font. Wrapped, its last word would vanish
// below the line.
void QtWindow::FitLabel(Control& c) {
  auto* label = static_cast<QLabel*>(c.widget);
  QFont font = widget_->font();
  if (c.home.height() >= 2 * QFontMetrics(font).height()) return;  // room to wrap
  label->setWordWrap(false);
  int room = widget_->width() - c.home.left();
  const QRect lane(c.home.left(), c.home.top(), widget_->width(), c.home.height());
  for (const Control& other : controls_) {
    if (&other != &c && other.home.left() > c.home.left() && other.home.intersects(lane)) {
      room = std::min(room, other.home.left() - c.home.left() - 1);
    }
  }
  const auto needed = [&label](const QFont& f) {
    return QFontMetrics(f).horizontalAdvance(label->text()) + 1;
  };
  const int width = std::max(c.home.width(), std::min(needed(font), room));
  while (needed(font) > width && font.pixelSize() > 8) font.setPixelSize(font.pixelSize() - 1);
  label->setFont(font);
  label->setGeometry(c.home.left(), c.home.top(), width, c.home.height());
}

QtWindow::Control* QtWindow::Find(int id) {
  for (Control& c : controls_) {
    if (c.t->id == id) return &c;
  }
  return nullptr;
}

QLineEdit* QtWindow::EditOf(int id) {
  Control* c = Find(id);
  if (c == nullptr) return nullptr;
  if (auto* edit = qobject_cast<QLineEdit*>(c->widget)) return edit;
  if (auto* combo = qobject_cast<QComboBox*>(c->widget)) return combo->lineEdit();
  return nullptr;
}

QComboBox* QtWindow::ComboOf(int id) {
  Control* c = Find(id);
  return c != nullptr ? qobject_cast<QComboBox*>(c->widget) : nullptr;
}

QWidget* QtWindow::FirstTabStop() {
  for (Control& c : controls_) {
    if (c.widget->focusPolicy() != Qt::NoFocus && !c.widget->isHidden()) return c.widget;
  }
  return nullptr;
}

std::string QtWindow::GetText(int id) {
  Control* c = Find(id);
  if (c == nullptr) return {};
  if (QLineEdit* edit = EditOf(id)) return edit->text().toStdString();
  return c->text;
}

void QtWindow::SetText(int id, const std::string& text) {
  Control* c = Find(id);
  if (c == nullptr) return;
  c->text = text;
  if (QLineEdit* edit = EditOf(id)) {
    edit->setText(Q(text));  // the text limit binds the user only
    edit->setCursorPosition(0);
  } else if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
    button->setText(Q(text));
  } else if (auto* label = qobject_cast<QLabel*>(c->widget)) {
    if (c->t->kind == ControlKind::kLabel) {
      label->setText(LabelText(text, (c->t->flags & kNoPrefix) == 0));
      FitLabel(*c);
    }
  }
}

int QtWindow::GetCheck(int id) {
  Control* c = Find(id);
  auto* box = c != nullptr ? qobject_cast<QCheckBox*>(c->widget) : nullptr;
  return box != nullptr && box->isChecked() ? 1 : 0;
}

void QtWindow::SetCheck(int id, int state) {
  Control* c = Find(id);
  // A two-state box has no third state to show.
  if (auto* box = c != nullptr ? qobject_cast<QCheckBox*>(c->widget) : nullptr) {
    box->setChecked(state != 0);
  }
}

void QtWindow::Show(int id, bool show) {
  if (Control* c = Find(id)) c->widget->setVisible(show);
}

bool QtWindow::IsVisible(int id) {
  // The control's own flag: before the window is shown no control is visible
  // on the screen, yet the tool asks which of them would be.
  Control* c = Find(id);
  return c != nullptr && !c->widget->isHidden();
}

void QtWindow::SetFocus(int id) {
  if (Control* c = Find(id)) c->widget->setFocus(Qt::OtherFocusReason);
}

void QtWindow::SelectAllText(int id) {
  if (QLineEdit* edit = EditOf(id)) edit->selectAll();
}

void QtWindow::LimitText(int id, int limit) {
  if (QLineEdit* edit = EditOf(id)) edit->setMaxLength(limit <= 0 ? 32767 : std::min(limit, 32767));
}

int QtWindow::ComboCount(int id) {
  QComboBox* combo = ComboOf(id);
  return combo != nullptr ? combo->count() : 0;
}

void QtWindow::ComboDelete(int id, int index) {
  QComboBox* combo = ComboOf(id);
  if (combo == nullptr) return;
  // The native list leaves the field's text alone.
  const QString text = combo->currentText();
  combo->removeItem(index);
  combo->setCurrentIndex(-1);
  combo->setEditText(text);
}

int QtWindow::ComboAdd(int id, const std::string& text) {
  return ComboAddDescribed(id, text, "");
}

int QtWindow::ComboAddDescribed(int id, const std::string& text, const std::string& description) {
  QComboBox* combo = ComboOf(id);
  if (combo == nullptr) return -1;
  const QString item = Q(text);
  int index = 0;
  while (index < combo->count() &&
         QString::compare(combo->itemText(index), item, Qt::CaseInsensitive) <= 0) {
    ++index;
  }
  // Adding to an empty list would select the item; the native list does not.
  const QString current = combo->currentText();
  const int selected = combo->currentIndex();
  combo->insertItem(index, item);
  combo->setItemData(index, Q(description), kDescriptionRole);
  combo->setCurrentIndex(selected < 0 ? -1 : (selected >= index ? selected + 1 : selected));
  combo->setEditText(current);
  return index;
}

int QtWindow::ComboSelectString(int id, const std::string& prefix) {
  QComboBox* combo = ComboOf(id);
  // The native combo answers an empty text with CB_ERR: every item begins
  // with it, yet it selects none.
  if (combo == nullptr || prefix.empty()) return -1;
  for (int i = 0; i < combo->count(); ++i) {
    if (combo->itemText(i).startsWith(Q(prefix), Qt::CaseInsensitive)) {
      combo->setCurrentIndex(i);
      combo->setEditText(combo->itemText(i));
      return i;
    }
  }
  return -1;
}

intptr_t QtWindow::SendProgress(int id, unsigned message, uintptr_t wParam, intptr_t lParam) {
  intptr_t result = 0;
  backend_.RunOnUiThread([&] {
    Control* c = Find(id);
    if (c == nullptr || c->t->kind != ControlKind::kProgress) return;
    result = ApplyProgressMessage(c->progress, message, wParam, lParam);
    ShowProgress(*c);
  });
  return result;
}

void QtWindow::ShowProgress(Control& c) {
  auto* bar = static_cast<QProgressBar*>(c.widget);
  const ProgressState& p = c.progress;
  // An empty range would make Qt's bar a busy indicator; the native one is
  // just empty.
  if (p.upper <= p.lower) {
    bar->setRange(0, 1);
    bar->setValue(0);
    return;
  }
  bar->setRange(p.lower, p.upper);
  bar->setValue(p.position);
}

void QtWindow::SetIcon(bool /*big*/, Icon icon) {
  // One icon carries both sizes.
  if (icon != 0) widget_->setWindowIcon(*QtBackend::IconOf(icon));
}

bool QtWindow::IsIconic() {
  return widget_->isMinimized();
}

void QtWindow::ClientSize(int& width, int& height) {
  width = widget_->width();
  height = widget_->height();
}

void QtWindow::PaintIcon(int x, int y, Icon icon) {
  QPainter painter(widget_.get());
  painter.fillRect(widget_->rect(), widget_->palette().window());
  if (icon != 0) painter.drawPixmap(x, y, QtBackend::IconOf(icon)->pixmap(32, 32));
}

void QtWindow::DefaultSysCommand(unsigned commandId, intptr_t /*lParam*/) {
  // Of the native system commands only Close means anything to a dialog:
  // it is the Cancel command.
  if (commandId == SC_CLOSE) dialog_.OnCommand(IDCANCEL, BN_CLICKED);
}

void QtWindow::End(int result) {
  ended_ = true;
  result_ = result;
  widget_->done(result);
}

}  // namespace

namespace {
std::unique_ptr<QtBackend>& TheQtBackend() {
  static std::unique_ptr<QtBackend> backend;
  return backend;
}
}  // namespace

bool NativeDisplayFound() {
  // Qt would abort without one instead of returning; a platform the user
  // chose is the user's to answer for.
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

Backend& NativeBackend() {
  std::unique_ptr<QtBackend>& backend = TheQtBackend();
  if (!backend) backend = std::make_unique<QtBackend>();
  return *backend;
}

void EndNativeBackend() {
  // The application object runs the library's clean-up routines, which use
  // its static objects: at exit some of those would be gone already.
  TheQtBackend().reset();
}

}  // namespace ui
