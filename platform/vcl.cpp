#include "vcl.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QStyleFactory>
#include <QVariant>
#include <QWidget>

#include "messages.h"

namespace vcl {

TApplication* Application = nullptr;

namespace {

QColor ToQColor(TColor c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }
TColor FromQColor(const QColor& c) {
  return (static_cast<TColor>(c.red()) << 16) | (static_cast<TColor>(c.green()) << 8) |
         static_cast<TColor>(c.blue());
}

// Runs fn on the form and each of its controls that carry the dynamic property `name`.
template <typename Fn>
void ForEachWithProperty(QWidget* root, const char* name, Fn fn) {
  QList<QWidget*> widgets = root->findChildren<QWidget*>();
  widgets.prepend(root);
  for (QWidget* w : widgets) {
    const QVariant value = w->property(name);
    if (value.isValid()) fn(w, value);
  }
}

// Fonts of the form resource carry their character height in pixels as the property
// "fontHeight"; the window's density is taken as the designed one. Colours are the property
// "Color", as "#RRGGBB".
void ApplyResourceProperties(QWidget* root) {
  ForEachWithProperty(root, "fontHeight", [](QWidget* w, const QVariant& height) {
    QFont font = w->font();
    font.setPixelSize(height.toInt());
    w->setFont(font);
  });
  ForEachWithProperty(root, "Color", [](QWidget* w, const QVariant& color) {
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, QColor(color.toString()));
    w->setPalette(palette);
    w->setAutoFillBackground(true);
  });
}

}  // namespace

TColor TControl::Color() const { return FromQColor(widget_->palette().color(QPalette::Window)); }

void TControl::SetColor(TColor color) {
  QPalette palette = widget_->palette();
  palette.setColor(QPalette::Window, ToQColor(color));
  widget_->setPalette(palette);
  widget_->setAutoFillBackground(true);
}

bool TControl::Visible() const { return !widget_->isHidden(); }
void TControl::SetVisible(bool visible) { widget_->setVisible(visible); }
int TControl::Left() const { return widget_->x(); }
int TControl::Top() const { return widget_->y(); }
int TControl::Width() const { return widget_->width(); }
int TControl::Height() const { return widget_->height(); }

TButton::TButton(QWidget* widget) : TControl(widget) {
  QObject::connect(static_cast<QPushButton*>(widget), &QPushButton::clicked, [this] {
    if (OnClick) {
      auto handler = OnClick;
      Application->Guarded([this, handler] { handler(this); });
    }
  });
}

bool TButton::Enabled() const { return widget_->isEnabled(); }
void TButton::SetEnabled(bool enabled) { widget_->setEnabled(enabled); }
std::string TButton::Caption() const {
  return static_cast<QPushButton*>(widget_)->text().toStdString();
}
void TButton::Click() {
  if (Enabled()) static_cast<QPushButton*>(widget_)->click();
}

TLabel::TLabel(QWidget* widget) : TControl(widget) {
  widget_->setAutoFillBackground(true);
  widget_->adjustSize();
}

std::string TLabel::Caption() const { return static_cast<QLabel*>(widget_)->text().toStdString(); }

void TLabel::SetCaption(const std::string& caption) {
  static_cast<QLabel*>(widget_)->setText(QString::fromStdString(caption));
  widget_->adjustSize();
}

TForm::TForm(const FormResource& resource) : TControl(new QWidget(nullptr)) {
  widget_->setObjectName(resource.name);
  resource.build(widget_);
  ApplyResourceProperties(widget_);
  // The designed position.
  const QVariant left = widget_->property("designLeft");
  const QVariant top = widget_->property("designTop");
  if (left.isValid() && top.isValid()) widget_->move(left.toInt(), top.toInt());
  widget_->setAutoFillBackground(true);
}

TForm::~TForm() { delete widget_; }

std::string TForm::Caption() const { return widget_->windowTitle().toStdString(); }

void TForm::Show() { widget_->show(); }

void TForm::Update() {
  if (!widget_->isVisible()) return;
  widget_->repaint();
  QApplication::sync();
  if (AfterUpdate) AfterUpdate();
}

template <typename T>
T* TForm::Bind(const char* name) {
  QWidget* child = widget_->findChild<QWidget*>(name);
  if (child == nullptr) throw Exception(std::string("control not found in form resource: ") + name);
  auto control = std::make_unique<T>(child);
  T* raw = control.get();
  controls_.push_back(std::move(control));
  return raw;
}

TButton* TForm::FindButton(const char* name) { return Bind<TButton>(name); }
TLabel* TForm::FindLabel(const char* name) { return Bind<TLabel>(name); }
TPanel* TForm::FindPanel(const char* name) { return Bind<TPanel>(name); }

TApplication::TApplication(int& argc, char** argv) : argc_(argc), argv_(argv) {
  Application = this;
}

TApplication::~TApplication() {
  forms_.clear();
  app_.reset();
  if (Application == this) Application = nullptr;
}

void TApplication::Initialize() {
  if (QApplication::instance() == nullptr) {
    app_ = std::make_unique<QApplication>(argc_, argv_);
  }
  // One look everywhere, whatever the desktop.
  QApplication::setStyle(QStyleFactory::create("Fusion"));
}

void TApplication::Run() {
  TForm* main = MainForm();
  if (main == nullptr) return;
  main->Show();
  QApplication::exec();
}

void TApplication::ShowException(const std::exception& e) {
  platform::ShowMessageBox({e.what(), "Error", platform::MB_OK | platform::MB_ICONHAND, true});
}

int TApplication::MessageBox(const char* text, const char* caption, unsigned flags) {
  return platform::ShowMessageBox({text, caption, flags, true});
}

void TApplication::Guarded(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ShowException(e);
  }
}

}  // namespace vcl
