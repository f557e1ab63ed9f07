#include "platform/ui/progress_state.h"

#include "platform/ui/backend.h"

namespace ui {

namespace {

// The native bar clamps to the range, the lower end first, so an inverted
// range ends up at its upper end.
int Coerced(const ProgressState& p, int position) {
  if (position < p.lower) position = p.lower;
  if (position > p.upper) position = p.upper;
  return position;
}

// Past either end the native bar starts over from the other, carrying the
// overshoot round: 0..50 stepped by 1 from 50 gives 1; 0..100 by 30 from 90
// gives 20.
int Stepped(const ProgressState& p) {
  const int span = p.upper - p.lower;
  const int next = p.position + p.step;
  if (span <= 0) return Coerced(p, next);
  if (next > p.upper) return p.lower + (next - p.lower) % span;
  if (next < p.lower) return p.upper - (p.lower - next) % span;
  return next;
}

}  // namespace

intptr_t ApplyProgressMessage(ProgressState& p, unsigned message, uintptr_t wParam,
                              intptr_t lParam) {
  switch (message) {
    case kPbmSetRange: {
      const intptr_t old = (static_cast<intptr_t>(p.upper & 0xFFFF) << 16) | (p.lower & 0xFFFF);
      p.lower = static_cast<int>(lParam & 0xFFFF);
      p.upper = static_cast<int>((lParam >> 16) & 0xFFFF);
      p.position = Coerced(p, p.position);
      return old;
    }
    case kPbmSetPos: {
      const int old = p.position;
      p.position = Coerced(p, static_cast<int>(wParam));
      return old;
    }
    case kPbmSetStep: {
      const int old = p.step;
      p.step = static_cast<int>(wParam);
      return old;
    }
    case kPbmStepIt: {
      const int old = p.position;
      p.position = Stepped(p);
      return old;
    }
    case kPbmGetPos:
      return p.position;
    default:
      return 0;
  }
}

}  // namespace ui
