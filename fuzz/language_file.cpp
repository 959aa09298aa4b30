// The language file reader on a file of any content, read as a translation
// from English into Russian. Nothing in a user's file may fail the reader;
// every warning names the file and a line of it (or 0 for the whole file).
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "ui/language_file.h"

namespace {

const std::string& filePath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() / ("corvane-fuzz-" + std::to_string(getpid()) + ".lng")).string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string content(reinterpret_cast<const char*>(data), size);
  const std::string& path = filePath();
  // A plain write: the reader takes a path, and an atomic write's flush to
  // disk would cost more than the reading.
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr || std::fwrite(content.data(), 1, content.size(), file) != content.size()) std::abort();
  std::fclose(file);

  const std::vector<std::string> lines = corvane::SplitLanguageFile(content);
  for (const std::string& line : lines) {
    if (line.find('\n') != std::string::npos) std::abort();
  }
  (void)corvane::ReadLanguagesSection(lines);

  corvane::TWtranslLanguagesList table;
  corvane::TLanguageFileOptions options;
  bool badWarning = false;
  const corvane::TLngWarning warn = [&](const std::string& file, int line, const std::string&) {
    if (file != path || line < 0 || static_cast<size_t>(line) > lines.size()) badWarning = true;
  };
  if (!corvane::ReadLanguageFile(path, "EN", "RU", table, options, warn)) std::abort();
  if (badWarning) std::abort();
  // Each entry ends with an empty line.
  if (table.Count() > lines.size() / 3 + 1) std::abort();
  std::remove(path.c_str());
  return 0;
}
