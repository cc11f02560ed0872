// Shared by the extraction and inflation tests: archives made in memory by the
// packer's writer, unpacked into a scratch tmp-1 with the log beside it.
#pragma once

#include <string>

#include "tests/test_support.h"
#include "tools/archive_writer.h"

Bytes ToBytes(const std::string& text);
Bytes ReadFileAsBytes(const std::wstring& path);
// Deterministic content of the given size that compresses moderately.
Bytes MixedContent(size_t size, uint32_t seed = 1);

struct ExtractOutcome {
  int count = -2;   // what ExtractFiles returned, when it returned
  bool raised = false;
  int code = 0;     // the CException's code, when raised
};

class PayloadTest : public ExtractorTest {
 protected:
  void SetUp() override;
  void TearDown() override;
  // The real zlib1.dll, as the raw entry carries it.
  static const Bytes& ZlibDll();
  ExtractOutcome Extract(const Bytes& archive);
  std::vector<std::wstring> LogLines() const;
  std::wstring tmp;  // scratch\tmp-1
  HeldFolder held;   // tmp, held
};
