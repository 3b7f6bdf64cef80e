#include "io/CsvText.h"

namespace quenvis {

void AppendCsvField(std::string& Line, std::string_view Field) {
  if (Field.find_first_of(",\"\r\n") == std::string_view::npos) {
    Line += Field;
    return;
  }
  Line += '"';
  for (const char c : Field) {
    if (c == '"') Line += '"';
    Line += c;
  }
  Line += '"';
}

bool CCsvReader::Next(std::vector<std::string>& Fields) {
  Fields.clear();
  int c = std::getc(FFile);
  if (c == EOF) {
    FFailed = std::ferror(FFile) != 0;
    return false;
  }
  ++FLine;
  FRecordLine = FLine;
  Fields.emplace_back();
  bool quoted = false;
  // A byte-order mark before the first field is not part of it.
  const auto done = [&] {
    if (FFirst && Fields.front().starts_with("\xEF\xBB\xBF")) Fields.front().erase(0, 3);
    FFirst = false;
  };
  for (;; c = std::getc(FFile)) {
    if (c == EOF) {
      FFailed = std::ferror(FFile) != 0;
      FUnterminated = quoted;
      done();
      return !FFailed;
    }
    if (quoted) {
      if (c == '"') {
        const int d = std::getc(FFile);
        if (d == '"') {
          Fields.back() += '"';
        } else {
          quoted = false;
          if (d != EOF) std::ungetc(d, FFile);
        }
      } else {
        if (c == '\n') ++FLine;
        Fields.back() += static_cast<char>(c);
      }
      continue;
    }
    if (c == '"') {
      quoted = true;
    } else if (c == ',') {
      Fields.emplace_back();
    } else if (c == '\n') {
      if (!Fields.back().empty() && Fields.back().back() == '\r') Fields.back().pop_back();
      done();
      return true;
    } else {
      Fields.back() += static_cast<char>(c);
    }
  }
}

}  // namespace quenvis
