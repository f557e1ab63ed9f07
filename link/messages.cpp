#include "link/messages.h"

#include <atomic>
#include <mutex>
#include <utility>

#include "platform/ui/message_box.h"

namespace msg {

namespace {

std::mutex handlerLock;
OutcomeHandler& Handler() {
  static OutcomeHandler handler;
  return handler;
}

std::atomic<Hush*> hush{nullptr};  // the one living, if any

void Deliver(const Entry& e, std::string shown) {
  OutcomeHandler handler;
  {
    std::lock_guard<std::mutex> lock(handlerLock);
    handler = Handler();
  }
  if (handler) handler({e.id, e.cause, std::move(shown), e.inBox});
}

}  // namespace

void SetOutcomeHandler(OutcomeHandler handler) {
  std::lock_guard<std::mutex> lock(handlerLock);
  Handler() = std::move(handler);
}

void Tell(Id id) {
  Tell(id, EntryOf(id).text);
}

void Tell(Id id, const std::string& shown) {
  if (Hush* h = hush.load()) return h->Hold(shown);
  Deliver(EntryOf(id), shown);
  platform::ShowMessageBox(shown);
}

void Report(Id id) {
  const Entry& e = EntryOf(id);
  if (Hush* h = hush.load()) return h->Hold(e.text);
  Deliver(e, e.text);
}

void Report(Id id, const std::string& shown) {
  if (Hush* h = hush.load()) return h->Hold(shown);
  Deliver(EntryOf(id), shown);
}

Hush::Hush() {
  hush = this;
}

Hush::~Hush() {
  hush = nullptr;
}

}  // namespace msg
