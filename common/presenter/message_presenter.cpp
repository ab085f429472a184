#include "presenter/message_presenter.h"

#include <cstdio>
#include <cstdlib>

namespace oskara {

namespace {

StderrPresenter g_stderrPresenter;
MessagePresenter* g_presenter = nullptr;  // installed by the program; null means standard error

bool isSet(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0';
}

}  // namespace

void StderrPresenter::show(std::string_view text, std::string_view title, int32_t /*style*/) {
  // One write per message, so that messages of two servers sharing a log do
  // not interleave within a line.
  std::string line;
  line.reserve(title.size() + text.size() + 3);
  line.append(title).append(": ");
  for (char c : text) {
    if (c != '\r') line.push_back(c);  // CR LF in a message is one line break here
  }
  line.push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

MessagePresenter& currentPresenter() {
  return g_presenter != nullptr ? *g_presenter : g_stderrPresenter;
}

MessagePresenter* setPresenter(MessagePresenter* presenter) {
  MessagePresenter* previous = g_presenter;
  g_presenter = presenter;
  return previous;
}

bool hasDisplay() { return isSet("DISPLAY") || isSet("WAYLAND_DISPLAY"); }

}  // namespace oskara
