// The station's window toolkit: an application object, a form built from its form resource,
// and the push button, label and panel controls, with the run-time properties the station
// sets. Qt stays behind this header.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

class QWidget;
class QApplication;

namespace vcl {

// Colours as RGB #RRGGBB.
using TColor = uint32_t;
inline constexpr TColor clBlue = 0x0000FF;
inline constexpr TColor clRed = 0xFF0000;
inline constexpr TColor clGreen = 0x008000;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clSilver = 0xC0C0C0;

// The toolkit's exception family: handlers that let one escape get the exception box.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

class TObject {
 public:
  virtual ~TObject() = default;
};

class TControl : public TObject {
 public:
  explicit TControl(QWidget* widget) : widget_(widget) {}
  TColor Color() const;
  void SetColor(TColor color);
  bool Visible() const;
  void SetVisible(bool visible);
  int Left() const;
  int Top() const;
  int Width() const;
  int Height() const;
  QWidget* Widget() const { return widget_; }

 protected:
  QWidget* widget_;
};

using TNotifyEvent = std::function<void(TObject* sender)>;

class TButton : public TControl {
 public:
  explicit TButton(QWidget* widget);
  bool Enabled() const;
  void SetEnabled(bool enabled);
  std::string Caption() const;
  // Runs OnClick as a press of the button does (only while enabled).
  void Click();
  TNotifyEvent OnClick;
};

// A label sizes itself to its text with its left and top edges fixed, and is opaque.
class TLabel : public TControl {
 public:
  explicit TLabel(QWidget* widget);
  std::string Caption() const;
  void SetCaption(const std::string& caption);
};

class TPanel : public TControl {
 public:
  using TControl::TControl;
};

// A form resource: its name and the function that builds the window's controls.
struct FormResource {
  const char* name;
  void (*build)(QWidget* form);
};

class TForm : public TControl {
 public:
  explicit TForm(const FormResource& resource);
  ~TForm() override;
  TForm(const TForm&) = delete;
  TForm& operator=(const TForm&) = delete;

  std::string Caption() const;
  // Shows the window.
  void Show();
  // The immediate repaint: paints every pending change of the window and its controls
  // before it returns.
  void Update();
  // The control of the resource with this name.
  TButton* FindButton(const char* name);
  TLabel* FindLabel(const char* name);
  TPanel* FindPanel(const char* name);

  // Raised once the form is built (the application object calls it after construction).
  virtual void DoCreate() {}
  // Called after every immediate repaint (tests watch what each repaint shows).
  std::function<void()> AfterUpdate;

 private:
  template <typename T>
  T* Bind(const char* name);
  std::vector<std::unique_ptr<TControl>> controls_;
};

class TApplication {
 public:
  TApplication(int& argc, char** argv);
  ~TApplication();
  void Initialize();
  // Assigns the reference first, then builds the form, then raises its creation event.
  template <typename T>
  void CreateForm(T*& reference) {
    void* memory = ::operator new(sizeof(T));
    reference = static_cast<T*>(memory);
    T* form = nullptr;
    try {
      form = new (memory) T();
    } catch (...) {
      reference = nullptr;
      ::operator delete(memory);
      throw;
    }
    forms_.push_back(std::unique_ptr<TForm>(form));
    Guarded([form] { form->DoCreate(); });
  }
  // Runs the event loop until the main window closes; shows it first when still hidden.
  void Run();
  // The standard exception box.
  void ShowException(const std::exception& e);
  // The application's message box.
  int MessageBox(const char* text, const char* caption, unsigned flags);
  // Runs a handler; an exception escaping it is shown in the exception box.
  void Guarded(const std::function<void()>& handler);
  TForm* MainForm() const { return forms_.empty() ? nullptr : forms_.front().get(); }
  // Destroys every form (tests build a fresh window for each case).
  void ReleaseForms() { forms_.clear(); }

 private:
  std::unique_ptr<QApplication> app_;
  int& argc_;
  char** argv_;
  std::vector<std::unique_ptr<TForm>> forms_;
};

extern TApplication* Application;

}  // namespace vcl
