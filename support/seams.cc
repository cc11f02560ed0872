#include "support/seams.h"

#include "support/process_level.h"

namespace seams {

MessageBoxWFn messageBoxW = MessageBoxW;
MessageBoxAFn messageBoxA = MessageBoxA;
TickCountFn tickCount = GetTickCount;
SleepFn sleep = Sleep;
ProcessLevelFn processLevel = ProcessIntegrityLevel;

}  // namespace seams
