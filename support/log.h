// The extraction log: "TLExtractorLog.txt" beside the extractor, UTF-16LE with
// a byte-order mark, one line per call. Each line is written before the call
// returns and flushed to disk moments later, in order, by a thread of the
// log's own. Opened once per run; closed (and deleted unless an error was
// shown) at the normal end.
#pragma once

#include <windows.h>

#include "support/held_folder.h"

const size_t kLogPathSize = MAX_PATH;
const size_t kLogLineSize = 1000;

// Set by the first OpenExtractionLog, or by the first line written while no
// log was ever opened; never cleared.
extern int logAttempted;

// Makes the log in the folder at that path, or in the held folder: its old
// log loses its name through a handle on the entry itself and the new one is
// made afresh, both relative to the folder, which the log holds until it
// is closed and then deletes the log from.
void OpenExtractionLog(const wchar_t* folder);
void OpenExtractionLogIn(const HeldFolder& folder);
void LogLine(const wchar_t* text);
void LogLineA(const char* text);
void LogFormat(const wchar_t* format, ...);
// Flushes the last lines and stops the log's thread; any later line is
// flushed as it is written. For every end of a run that keeps the log open.
void FlushExtractionLog();
// Flushes, stops the thread and closes the log (see above).
void CloseExtractionLog();

// The full path of the log, as OpenExtractionLog built it.
const wchar_t* ExtractionLogPath();

// Test hook: closes a held log and goes back to the state of a fresh process.
void ResetLogForTesting();
