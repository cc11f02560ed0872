#include "support/seams.h"

namespace seams {

MessageBoxWFn messageBoxW = MessageBoxW;
MessageBoxAFn messageBoxA = MessageBoxA;
TickCountFn tickCount = GetTickCount;
SleepFn sleep = Sleep;

}  // namespace seams
