#include "platform/serial/serial.h"

namespace platform {

namespace {
SerialSystem* installed = nullptr;
}

SerialSystem& Serial() {
  return installed != nullptr ? *installed : NativeSerial();
}

void UseSerial(SerialSystem* system) {
  installed = system;
}

}  // namespace platform
