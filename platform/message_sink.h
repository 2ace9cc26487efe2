#pragma once
// Where a session's messages for the user go: a message box on a desktop, a list in a test.
#include <string>

namespace torvo {

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows the message and returns once the user has seen it (a modal box runs the event loop
  // meanwhile, so anything may have happened by then).
  virtual void Tell(const std::u16string& message) = 0;
};

}  // namespace torvo
