#pragma once
// "Let the events that are waiting run": a long handler does this between its steps so the window
// keeps answering. Anything may happen meanwhile (a reply may arrive, the window may close), so
// the caller looks at its state again afterwards.
namespace torvo {

class PendingEvents {
 public:
  virtual ~PendingEvents() = default;
  virtual void Run() = 0;
};

}  // namespace torvo
