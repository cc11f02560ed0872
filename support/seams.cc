#include "support/seams.h"

namespace seams {

MessageBoxWFn messageBoxW = MessageBoxW;
MessageBoxAFn messageBoxA = MessageBoxA;
TickCountFn tickCount = GetTickCount;
SleepFn sleep = Sleep;

void Restore() {
  messageBoxW = MessageBoxW;
  messageBoxA = MessageBoxA;
  tickCount = GetTickCount;
  sleep = Sleep;
}

}  // namespace seams
