// MessagePresenter: how a server puts a modal message in front of a person.
// The caller waits until the message is dismissed. A program with a display
// shows a real message box (qt_presenter.h); a server without one writes the
// message to standard error, where it counts as dismissed at once. Tests
// install a RecordingPresenter.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace oskara {

// Style values of a message box: the icon plus the buttons.
namespace message_style {
inline constexpr int32_t kOkOnly = 0;
inline constexpr int32_t kCritical = 16;  // critical-stop icon, one OK button
inline constexpr int32_t kQuestion = 32;
inline constexpr int32_t kExclamation = 48;
inline constexpr int32_t kInformation = 64;
}  // namespace message_style

class MessagePresenter {
 public:
  virtual ~MessagePresenter() = default;
  // Shows `text` under `title` in `style` and returns once it is dismissed.
  virtual void show(std::string_view text, std::string_view title, int32_t style) = 0;
};

// Writes "title: text" to standard error, one message per call.
class StderrPresenter : public MessagePresenter {
 public:
  void show(std::string_view text, std::string_view title, int32_t style) override;
};

// Keeps every message shown, for tests.
class RecordingPresenter : public MessagePresenter {
 public:
  struct Shown {
    std::string text;
    std::string title;
    int32_t style = 0;
  };
  void show(std::string_view text, std::string_view title, int32_t style) override {
    shown.push_back(Shown{std::string(text), std::string(title), style});
  }
  std::vector<Shown> shown;
};

// The presenter in force: standard error unless the program installed another.
MessagePresenter& currentPresenter();

// Installs `presenter` for the rest of the process, or until replaced; the
// caller keeps ownership. Returns the one it replaces; nullptr goes back to
// standard error.
MessagePresenter* setPresenter(MessagePresenter* presenter);

// Installs a presenter for the lifetime of this object (tests).
class ScopedPresenter {
 public:
  explicit ScopedPresenter(MessagePresenter& presenter) : previous_(setPresenter(&presenter)) {}
  ~ScopedPresenter() { setPresenter(previous_); }
  ScopedPresenter(const ScopedPresenter&) = delete;
  ScopedPresenter& operator=(const ScopedPresenter&) = delete;

 private:
  MessagePresenter* previous_;
};

// True when the process has a window system to show widgets on: DISPLAY or
// WAYLAND_DISPLAY is set and not empty.
bool hasDisplay();

}  // namespace oskara
