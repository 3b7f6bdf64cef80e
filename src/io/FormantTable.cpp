#include "io/FormantTable.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "io/CsvText.h"

namespace quenvis {

namespace {

struct TFileCloser {
  void operator()(std::FILE* File) const noexcept { std::fclose(File); }
};

std::optional<double> Number(const std::string& Cell) {
  std::size_t a = 0, b = Cell.size();
  while (a < b && (Cell[a] == ' ' || Cell[a] == '\t')) ++a;
  while (b > a && (Cell[b - 1] == ' ' || Cell[b - 1] == '\t')) --b;
  double v = 0;
  const auto [ptr, ec] = std::from_chars(Cell.data() + a, Cell.data() + b, v);
  if (a == b || ec != std::errc() || ptr != Cell.data() + b || !std::isfinite(v))
    return std::nullopt;
  return v;
}

bool Blank(const std::string& Cell) { return Cell.find_first_not_of(" \t") == std::string::npos; }

// A formant the estimator could give; anything else is a damaged line.
bool PlausibleHz(double Hz) { return Hz > 0 && Hz < 25000; }

}  // namespace

std::string ReadFormantTable(const std::string& Path, TFormantTable& Table) {
  Table = {};
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0) return std::string("cannot open: ") + std::strerror(errno);
  if (S_ISDIR(info.st_mode)) return "cannot open: it is a folder";
  // A pipe or a device would hold the window up waiting, or never end.
  if (!S_ISREG(info.st_mode)) return "cannot open: not a regular file";
  if (info.st_size > MaxFormantTableBytes) return "too large for a formants table";
  const std::unique_ptr<std::FILE, TFileCloser> file(std::fopen(Path.c_str(), "rb"));
  if (!file) return std::string("cannot open: ") + std::strerror(errno);
  CCsvReader reader(file.get());

  std::vector<std::string> fields;
  if (!reader.Next(fields)) return reader.Failed() ? "cannot read the file" : "the file is empty";
  int time = -1, f1 = -1, f2 = -1, voiced = -1;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    const std::string& f = fields[i];
    const int at = static_cast<int>(i);
    if (f == "time_s") time = at;
    if (f == "f1_hz") f1 = at;
    if (f == "f2_hz") f2 = at;
    if (f == "voiced") voiced = at;
  }
  if (time < 0 || f1 < 0 || f2 < 0)
    return "not a formants table: the first line names no time_s, f1_hz and f2_hz columns";
  const std::size_t columns = fields.size();

  while (reader.Next(fields)) {
    if (fields.size() == 1 && Blank(fields[0])) continue;
    if (Table.Rows == MaxFormantRows) {
      Table.Truncated = true;
      break;
    }
    ++Table.Rows;
    const auto bad = [&] {
      if (Table.Skipped++ == 0) Table.FirstSkippedLine = reader.Line();
    };
    if (fields.size() != columns) {
      bad();
      continue;
    }
    const auto t = Number(fields[static_cast<std::size_t>(time)]);
    const std::string& c1 = fields[static_cast<std::size_t>(f1)];
    const std::string& c2 = fields[static_cast<std::size_t>(f2)];
    const auto v1 = Number(c1), v2 = Number(c2);
    std::optional<double> v;
    if (voiced >= 0) v = Number(fields[static_cast<std::size_t>(voiced)]);
    // Empty formants are unknown, not damage; anything else must parse.
    if (!t || *t < 0 || (!Blank(c1) && (!v1 || !PlausibleHz(*v1))) ||
        (!Blank(c2) && (!v2 || !PlausibleHz(*v2))) || (voiced >= 0 && (!v || (*v != 0 && *v != 1)))) {
      bad();
      continue;
    }
    if (v1 && v2 && (voiced < 0 || *v == 1)) Table.Points.push_back({*t, *v1, *v2});
  }
  if (reader.Failed()) {
    Table = {};
    return "cannot read the file";
  }
  return {};
}

}  // namespace quenvis
