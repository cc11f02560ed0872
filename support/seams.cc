#include "support/seams.h"

#include "support/file_entry.h"
#include "support/process_level.h"

namespace seams {

MessageBoxWFn messageBoxW = MessageBoxW;
MessageBoxAFn messageBoxA = MessageBoxA;
TickCountFn tickCount = GetTickCount;
SleepFn sleep = Sleep;
ProcessLevelFn processLevel = ProcessIntegrityLevel;
ProcessUserFn processUser = ReadProcessUser;
EntrySecurityFn entrySecurity = ReadEntrySecurity;
VolumeProtectsFn volumeProtects = VolumeIsLocalWithAcls;
FinalPathFn finalPath = GetFinalPathNameByHandleW;
AttributeTagFn attributeTag = ReadAttributeTag;
CreateFileFn createFile = nullptr;

}  // namespace seams
