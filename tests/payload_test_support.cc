#include "tests/payload_test_support.h"

#include "payload/extract.h"
#include "support/errors.h"
#include "support/log.h"

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes ReadFileAsBytes(const std::wstring& path) { return ToBytes(ReadBytes(path)); }

Bytes MixedContent(size_t size, uint32_t seed) {
  Bytes bytes(size);
  uint32_t state = seed;
  for (size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    // Mostly letters from a small alphabet, now and then a random byte.
    uint8_t r = static_cast<uint8_t>(state >> 16);
    bytes[i] = (r & 7) == 0 ? static_cast<uint8_t>(state >> 24) : 'a' + r % 8;
  }
  return bytes;
}

void PayloadTest::SetUp() {
  ExtractorTest::SetUp();
  OpenExtractionLog(scratch.path().c_str());
  tmp = scratch / L"tmp-1";
  CreateDirectoryW(tmp.c_str(), nullptr);
  held = HeldAt(tmp);
}

void PayloadTest::TearDown() {
  ReleaseHeldFolder(&held);
  ExtractorTest::TearDown();
}

const Bytes& PayloadTest::ZlibDll() {
  static const Bytes dll = ReadFileAsBytes(ProgramFolder() + L"\\zlib\\zlib1.dll");
  return dll;
}

ExtractOutcome PayloadTest::Extract(const Bytes& archive) {
  ExtractOutcome outcome;
  try {
    outcome.count = ExtractFiles(archive.data(), held,
                                 static_cast<int32_t>(archive.size()) - 4);
  } catch (CException* e) {
    outcome.raised = true;
    outcome.code = e->code;
  }
  return outcome;
}

std::vector<std::wstring> PayloadTest::LogLines() const {
  return ReadLogLines(scratch / L"TLExtractorLog.txt");
}
