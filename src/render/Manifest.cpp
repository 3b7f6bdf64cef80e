#include "render/Manifest.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <set>
#include <system_error>
#include <unordered_map>

#include "io/CsvText.h"

namespace quenvis {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Trimmed(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

std::string Resolve(const fs::path& Base, const std::string& Path) {
  if (Path.empty()) return Path;
  const fs::path p(Path);
  return p.is_absolute() ? Path : (Base / p).string();
}

// Recordings libsndfile reads (and mp3/opus through it).
bool IsRecordingName(const fs::path& p) {
  static constexpr const char* kinds[] = {".wav", ".flac", ".aif", ".aiff", ".aifc", ".ogg",
                                          ".opus", ".mp3", ".au", ".w64", ".caf", ".rf64"};
  const std::string ext = Lower(p.extension().string());
  return std::any_of(std::begin(kinds), std::end(kinds), [&](const char* k) { return ext == k; });
}

void MarkDuplicates(TManifest& Manifest) {
  std::unordered_map<std::string, std::size_t> first;
  for (std::size_t i = 0; i < Manifest.Entries.size(); ++i) {
    TManifestEntry& e = Manifest.Entries[i];
    if (!e.Problem.empty()) continue;
    const auto [at, added] = first.emplace(e.RecordingPath, i);
    if (!added)
      e.Problem = "the same recording as " + Manifest.Entries[at->second].Where + "; measured once";
  }
}

}  // namespace

std::string ReadManifest(const std::string& Path, TManifest& Manifest) {
  Manifest = {};
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(Path.c_str(), "re"), &std::fclose);
  if (!f) return Path + ": " + std::error_code(errno, std::generic_category()).message();
  CCsvReader csv(f.get());
  std::vector<std::string> fields;
  if (!csv.Next(fields)) return Path + ": is empty, not a manifest";
  if (fields.size() < 3 || Lower(Trimmed(fields[0])) != "recording" ||
      Lower(Trimmed(fields[1])) != "textgrid" || Lower(Trimmed(fields[2])) != "speaker")
    return Path + ":1: the header must start with recording,textgrid,speaker";
  Manifest.CarriedNames.assign(fields.begin() + 3, fields.end());
  const fs::path base = fs::path(Path).parent_path();
  while (csv.Next(fields)) {
    if (fields.size() == 1 && Trimmed(fields[0]).empty()) continue;  // a blank line
    TManifestEntry e;
    e.Where = Path + ":" + std::to_string(csv.Line());
    if (csv.Unterminated()) e.Problem = "a quoted field is never closed";
    if (fields.size() < 3) {
      e.Recording = fields[0];
      if (e.Problem.empty())
        e.Problem = "has " + std::to_string(fields.size()) +
                    (fields.size() == 1 ? " column" : " columns") +
                    "; recording,textgrid,speaker are needed";
    } else {
      e.Recording = fields[0];
      e.TextGrid = fields[1];
      e.Speaker = fields[2];
      if (e.Problem.empty() && (e.Recording.empty() || e.TextGrid.empty()))
        e.Problem = "names no recording or no TextGrid";
    }
    e.RecordingPath = Resolve(base, e.Recording);
    e.TextGridPath = Resolve(base, e.TextGrid);
    e.Carried.assign(Manifest.CarriedNames.size(), std::string());
    for (std::size_t i = 3; i < fields.size() && i - 3 < e.Carried.size(); ++i)
      e.Carried[i - 3] = fields[i];
    Manifest.Entries.push_back(std::move(e));
  }
  if (csv.Failed()) return Path + ": cannot read it";
  MarkDuplicates(Manifest);
  return {};
}

std::string ScanCorpusFolder(const std::string& Folder, TManifest& Manifest) {
  Manifest = {};
  std::error_code ec;
  std::vector<fs::path> found;
  const fs::path root(Folder);
  for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied,
                                           ec),
       end;
       it != end; it.increment(ec)) {
    if (ec) break;
    std::error_code typeError;
    if (it->is_regular_file(typeError) && IsRecordingName(it->path()))
      found.push_back(it->path().lexically_relative(root));
  }
  if (ec) return Folder + ": " + ec.message();
  std::sort(found.begin(), found.end());
  for (const fs::path& rel : found) {
    TManifestEntry e;
    e.Recording = rel.string();
    fs::path grid = rel;
    grid.replace_extension(".TextGrid");
    e.TextGrid = grid.string();
    const fs::path parent = rel.parent_path();
    e.Speaker = parent.empty() ? root.filename().string() : parent.filename().string();
    e.RecordingPath = (root / rel).string();
    e.TextGridPath = (root / grid).string();
    e.Where = e.RecordingPath;
    Manifest.Entries.push_back(std::move(e));
  }
  if (Manifest.Entries.empty()) return Folder + ": holds no recordings";
  return {};
}

std::uint64_t StableHash(const std::string& Text) noexcept {
  std::uint64_t h = 14695981039346656037ull;
  for (const char c : Text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

bool InShard(const TManifestEntry& Entry, int Shard, int Count) noexcept {
  return static_cast<int>(StableHash(Entry.Recording) % static_cast<std::uint64_t>(Count)) ==
         Shard - 1;
}

std::string EntryKey(const TManifestEntry& Entry, std::size_t Index) {
  std::string all = Entry.Recording + '\n' + Entry.TextGrid + '\n' + Entry.Speaker;
  for (const std::string& c : Entry.Carried) all += '\n' + c;
  char key[48];
  std::snprintf(key, sizeof key, "%08zu-%016llx", Index + 1,
                static_cast<unsigned long long>(StableHash(all)));
  return key;
}

}  // namespace quenvis
