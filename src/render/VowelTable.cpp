#include "render/VowelTable.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <system_error>

#include "io/CsvText.h"

namespace quenvis {

namespace {

constexpr std::string_view PartMagic = "quenvis-corpus-part 1";

std::string SystemError(int Error) {
  return std::error_code(Error, std::generic_category()).message();
}

// Numbers as every lab's R or Python reads them: '.' whatever the locale.
// Room for any finite double in fixed notation (a TextGrid may hold 1e300).
constexpr std::size_t NumberRoom = 400;

void AppendFixed(std::string& Line, double v, int Decimals) {
  char text[NumberRoom];
  const double unit = std::pow(10.0, -Decimals) / 2;
  if (std::fabs(v) < unit) v = 0;  // no "-0.0"
  const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed, Decimals);
  if (r.ec == std::errc()) Line.append(text, r.ptr);
}
// The shortest text that reads back as v (times as the TextGrid gave them).
void AppendShortest(std::string& Line, double v) {
  char text[NumberRoom];
  const auto r = std::to_chars(text, text + sizeof text, v, std::chars_format::fixed);
  if (r.ec == std::errc()) Line.append(text, r.ptr);
}
void AppendHz(std::string& Line, double v) {
  Line += ',';
  if (v > 0) AppendFixed(Line, v, 1);
}

double Median(std::vector<double>& Values) {
  if (Values.empty()) return 0;
  std::sort(Values.begin(), Values.end());
  const std::size_t n = Values.size();
  return n % 2 ? Values[n / 2] : (Values[n / 2 - 1] + Values[n / 2]) / 2;
}

// Part lines hold one table row each: the row's own line breaks and tabs
// are escaped.
std::string Escape(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (const char c : Text) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  return out;
}
std::string Unescape(std::string_view Text) {
  std::string out;
  out.reserve(Text.size());
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] != '\\' || i + 1 == Text.size()) {
      out += Text[i];
      continue;
    }
    const char c = Text[++i];
    out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
  }
  return out;
}

// A file written under a temporary name in its folder and renamed into
// place when complete (synced first): a reader sees the old file or the
// whole new one, never a part.
class CAtomicFile {
 public:
  ~CAtomicFile() {
    if (FFile) {
      std::fclose(FFile);
      ::unlink(FTemp.c_str());
    }
  }
  int Open(const std::string& Path) {
    FPath = Path;
    const std::size_t slash = Path.rfind('/');
    const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
    FTemp = Path.substr(0, name) + ".tmp-" + Path.substr(name) + "-XXXXXX";
    const int fd = ::mkostemp(FTemp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    FFile = ::fdopen(fd, "w");
    if (!FFile) {
      const int e = errno;
      ::close(fd);
      ::unlink(FTemp.c_str());
      return e;
    }
    return 0;
  }
  void Write(std::string_view Text) {
    if (std::fwrite(Text.data(), 1, Text.size(), FFile) != Text.size() && !FError)
      FError = errno ? errno : EIO;
  }
  // Sync: on disk before the rename, for what must survive a machine's
  // crash; a part need not, the merge and --resume tell a damaged one.
  int Commit(bool Sync = true) {
    int error = FError;
    if (std::fflush(FFile) != 0 && !error) error = errno;
    if (!error && ::fchmod(::fileno(FFile), 0644) != 0) error = errno;
    if (!error && Sync && ::fsync(::fileno(FFile)) != 0) error = errno;
    if (std::fclose(FFile) != 0 && !error) error = errno;
    FFile = nullptr;
    if (!error && ::rename(FTemp.c_str(), FPath.c_str()) != 0) error = errno;
    if (error) ::unlink(FTemp.c_str());
    return error;
  }

 private:
  std::string FPath, FTemp;
  std::FILE* FFile = nullptr;
  int FError = 0;
};

int WriteAtomically(const std::string& Path, const std::string& Text, bool Sync = true) {
  CAtomicFile f;
  if (const int e = f.Open(Path); e != 0) return e;
  f.Write(Text);
  return f.Commit(Sync);
}

bool ReadLines(const std::string& Path, std::vector<std::string>& Lines) {
  Lines.clear();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(Path.c_str(), "re"), &std::fclose);
  if (!f) return false;
  std::string line;
  for (int c; (c = std::getc(f.get())) != EOF;) {
    if (c == '\n') {
      Lines.push_back(std::move(line));
      line.clear();
    } else {
      line += static_cast<char>(c);
    }
  }
  if (!line.empty()) Lines.push_back(std::move(line));
  return !std::ferror(f.get());
}

std::vector<std::string_view> SplitTabs(std::string_view Line, std::size_t Most) {
  std::vector<std::string_view> parts;
  while (parts.size() + 1 < Most) {
    const std::size_t tab = Line.find('\t');
    if (tab == std::string_view::npos) break;
    parts.push_back(Line.substr(0, tab));
    Line.remove_prefix(tab + 1);
  }
  parts.push_back(Line);
  return parts;
}

// "v,v,v,v,v" of raw values, empty where unknown.
bool ParseValues(std::string_view Text, std::array<double, MeasurePercents.size()>& Out) {
  for (std::size_t i = 0; i < Out.size(); ++i) {
    const std::size_t comma = Text.find(',');
    const std::string_view one = Text.substr(0, comma);
    Out[i] = 0;
    if (!one.empty() &&
        std::from_chars(one.data(), one.data() + one.size(), Out[i]).ec != std::errc())
      return false;
    if ((comma == std::string_view::npos) != (i + 1 == Out.size())) return false;
    Text.remove_prefix(comma == std::string_view::npos ? Text.size() : comma + 1);
  }
  return true;
}

// Welford's running mean and variance, in entry order so that every run
// gives the same bits.
struct TRunning {
  long N = 0;
  double Mean = 0, M2 = 0;
  void Add(double v) {
    ++N;
    const double d = v - Mean;
    Mean += d / static_cast<double>(N);
    M2 += d * (v - Mean);
  }
  double Sd() const { return N > 1 ? std::sqrt(M2 / static_cast<double>(N - 1)) : 0; }
};

struct TSpeakerStats {
  TRunning F1, F2;
};

struct TPartToken {
  std::array<double, MeasurePercents.size()> F1{}, F2{};
  std::string Row;
};

// Reads a part: its speaker, tokens and problem rows. Empty on success.
std::string ReadPart(const std::string& Path, const std::string& Key, std::string& Speaker,
                     std::vector<TPartToken>& Tokens, std::vector<std::string>& Problems) {
  std::vector<std::string> lines;
  if (!ReadLines(Path, lines)) return "missing";
  if (lines.size() < 2 || lines.back() != "end") return "incomplete";
  const auto head = SplitTabs(lines.front(), 3);
  if (head.size() != 3 || head[0] != PartMagic) return "not a part file";
  if (head[1] != Key) return "belongs to another manifest";
  Speaker = Unescape(head[2]);
  for (std::size_t i = 1; i + 1 < lines.size(); ++i) {
    const auto fields = SplitTabs(lines[i], 4);
    if (fields[0] == "T" && fields.size() == 4) {
      TPartToken t;
      if (!ParseValues(fields[1], t.F1) || !ParseValues(fields[2], t.F2))
        return "damaged at line " + std::to_string(i + 1);
      t.Row = Unescape(fields[3]);
      Tokens.push_back(std::move(t));
    } else if (fields[0] == "P" && fields.size() == 2) {
      Problems.push_back(Unescape(fields[1]));
    } else {
      return "damaged at line " + std::to_string(i + 1);
    }
  }
  return {};
}

struct TIndexEntry {
  std::string Key, Recording;
};

std::string ReadIndex(const std::string& PartsDir, std::string& Header,
                      std::vector<TIndexEntry>& Entries) {
  std::vector<std::string> lines;
  if (!ReadLines(PartsDir + "/header.csv", lines) || lines.size() != 1)
    return PartsDir + "/header.csv: missing or damaged; run the corpus command (any shard) first";
  Header = lines.front() + "\n";
  const std::string path = PartsDir + "/entries.csv";
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "re"), &std::fclose);
  if (!f) return path + ": " + SystemError(errno) + "; run the corpus command (any shard) first";
  CCsvReader csv(f.get());
  std::vector<std::string> fields;
  if (!csv.Next(fields) || fields.size() != 2 || fields[0] != "key")
    return path + ":1: not an entry list";
  while (csv.Next(fields)) {
    if (fields.size() != 2) return path + ":" + std::to_string(csv.Line()) + ": damaged";
    Entries.push_back({fields[0], fields[1]});
  }
  if (csv.Failed() || csv.Unterminated()) return path + ": damaged";
  return {};
}

}  // namespace

CTokenMeasurer::CTokenMeasurer(std::vector<TVowelToken>& Tokens) : FTokens(Tokens) {
  for (std::size_t t = 0; t < Tokens.size(); ++t)
    for (std::size_t p = 0; p < MeasurePercents.size(); ++p)
      FPoints.push_back({Tokens[t].Start + (Tokens[t].End - Tokens[t].Start) * MeasurePercents[p] / 100.0, t, p});
  std::stable_sort(FPoints.begin(), FPoints.end(),
                   [](const TPoint& a, const TPoint& b) { return a.Time < b.Time; });
}

void CTokenMeasurer::Complete(const TPoint& Point) {
  // A hair of slack for times computed two ways.
  constexpr double reach = MeasureReachS + 1e-9;
  // Field 0 is F0, 1..3 the formants, 4..6 their bandwidths; a bandwidth
  // counts only with its formant.
  auto median = [&](int Field) {
    FValues.clear();
    for (const TAnalysis& a : FRecent) {
      if (std::fabs(a.Centre - Point.Time) > reach) continue;
      const TFormants& f = a.Formants;
      const double v = Field == 0 ? f.F0 : Field <= 3 ? f.F[Field - 1] : f.B[Field - 4];
      const double known = Field == 0 ? f.F0 : f.F[(Field - 1) % 3];
      if (known > 0 && v > 0) FValues.push_back(v);
    }
    return Median(FValues);
  };
  TPointMeasure& m = FTokens[Point.Token].Points[Point.Index];
  double confidence = 0;
  int analyses = 0;
  for (const TAnalysis& a : FRecent)
    if (std::fabs(a.Centre - Point.Time) <= reach) confidence += a.Formants.Confidence, ++analyses;
  m.Analyses = analyses;
  m.Confidence = analyses ? confidence / analyses : 0.0;
  m.F0 = median(0);
  for (int i = 0; i < 3; ++i) {
    m.F[i] = median(1 + i);
    m.B[i] = median(4 + i);
  }
}

void CTokenMeasurer::Add(double Centre, const TFormants& Formants) {
  constexpr double reach = MeasureReachS + 1e-9;
  // Points this analysis is past can have no more analyses.
  while (FNext < FPoints.size() && FPoints[FNext].Time < Centre - reach) Complete(FPoints[FNext++]);
  const double keepFrom = FNext < FPoints.size() ? FPoints[FNext].Time - reach : Centre;
  FRecent.erase(std::remove_if(FRecent.begin(), FRecent.end(),
                               [&](const TAnalysis& a) { return a.Centre < keepFrom; }),
                FRecent.end());
  if (FNext < FPoints.size() && Centre >= keepFrom) FRecent.push_back({Centre, Formants});
}

void CTokenMeasurer::Finish() {
  while (FNext < FPoints.size()) Complete(FPoints[FNext++]);
  FRecent.clear();
}

std::string VowelTableHeader(const std::vector<std::string>& CarriedNames) {
  std::string h = "recording,speaker";
  for (const std::string& c : CarriedNames) {
    h += ',';
    AppendCsvField(h, c);
  }
  h += ",word,phone,start_s,end_s,duration_s";
  for (const int p : MeasurePercents) {
    const std::string at = "_" + std::to_string(p);
    for (const char* q : {"f0", "f1", "f2", "f3", "b1", "b2", "b3"}) h += "," + (q + at);
  }
  h += ",confidence";
  for (const int p : MeasurePercents)
    h += ",f1_lobanov_" + std::to_string(p) + ",f2_lobanov_" + std::to_string(p);
  return h + "\n";
}

std::string VowelTableRow(const TManifestEntry& Entry, const TVowelToken& Token) {
  std::string r;
  AppendCsvField(r, Entry.Recording);
  r += ',';
  AppendCsvField(r, Entry.Speaker);
  for (const std::string& c : Entry.Carried) {
    r += ',';
    AppendCsvField(r, c);
  }
  r += ',';
  AppendCsvField(r, Token.Word);
  r += ',';
  AppendCsvField(r, Token.Phone);
  r += ',';
  AppendShortest(r, Token.Start);
  r += ',';
  AppendShortest(r, Token.End);
  r += ',';
  AppendFixed(r, Token.End - Token.Start, 4);
  for (const TPointMeasure& m : Token.Points) {
    AppendHz(r, m.F0);
    for (const double f : m.F) AppendHz(r, f);
    for (const double b : m.B) AppendHz(r, b);
  }
  // The mean over the points that analyses reached; blank where none did.
  double confidence = 0;
  int points = 0;
  for (const TPointMeasure& m : Token.Points)
    if (m.Analyses > 0) confidence += m.Confidence, ++points;
  r += ',';
  if (points > 0) AppendFixed(r, confidence / points, 2);
  return r;
}

std::string PartPath(const std::string& PartsDir, const std::string& Key) {
  return PartsDir + "/" + Key + ".part";
}

int WritePart(const std::string& Path, const std::string& Key, const TManifestEntry& Entry,
              const std::vector<TVowelToken>& Tokens, const std::string& Problem) {
  std::string text(PartMagic);
  text += '\t' + Key + '\t' + Escape(Entry.Speaker) + '\n';
  if (!Problem.empty()) {
    std::string row;
    AppendCsvField(row, Entry.Recording);
    row += ',';
    AppendCsvField(row, Entry.Speaker);
    row += ',';
    AppendCsvField(row, Problem);
    text += "P\t" + Escape(row) + '\n';
  } else {
    for (const TVowelToken& t : Tokens) {
      text += 'T';
      for (int formant = 0; formant < 2; ++formant) {
        text += '\t';
        for (std::size_t p = 0; p < t.Points.size(); ++p) {
          if (p) text += ',';
          if (t.Points[p].F[formant] > 0) {
            char v[64];  // shortest round trip: never more than 24 characters
            const auto r = std::to_chars(v, v + sizeof v, t.Points[p].F[formant]);
            if (r.ec == std::errc()) text.append(v, r.ptr);
          }
        }
      }
      text += '\t' + Escape(VowelTableRow(Entry, t)) + '\n';
    }
  }
  text += "end\n";
  return WriteAtomically(Path, text, false);
}

bool PartComplete(const std::string& Path, const std::string& Key) {
  std::string speaker;
  std::vector<TPartToken> tokens;
  std::vector<std::string> problems;
  return ReadPart(Path, Key, speaker, tokens, problems).empty();
}

int WriteCorpusIndex(const std::string& PartsDir, const TManifest& Manifest) {
  std::string entries = "key,recording\n";
  for (std::size_t i = 0; i < Manifest.Entries.size(); ++i) {
    AppendCsvField(entries, EntryKey(Manifest.Entries[i], i));
    entries += ',';
    AppendCsvField(entries, Manifest.Entries[i].Recording);
    entries += '\n';
  }
  if (const int e = WriteAtomically(PartsDir + "/entries.csv", entries); e != 0) return e;
  return WriteAtomically(PartsDir + "/header.csv", VowelTableHeader(Manifest.CarriedNames));
}

std::string MergeVowelTable(const std::string& PartsDir, const std::string& Table,
                            const std::string& Problems, std::vector<std::string>& Missing) {
  Missing.clear();
  std::string header;
  std::vector<TIndexEntry> entries;
  if (std::string e = ReadIndex(PartsDir, header, entries); !e.empty()) return e;

  // First the speakers' means and deviations at the normalisation point.
  std::map<std::string, TSpeakerStats> speakers;
  std::vector<TPartToken> tokens;
  std::vector<std::string> problemRows;
  for (const TIndexEntry& e : entries) {
    std::string speaker;
    tokens.clear();
    problemRows.clear();
    const std::string why =
        ReadPart(PartPath(PartsDir, e.Key), e.Key, speaker, tokens, problemRows);
    if (!why.empty()) {
      Missing.push_back(e.Recording + " (" + e.Key + ".part " + why + ")");
      continue;
    }
    TSpeakerStats& s = speakers[speaker];
    for (const TPartToken& t : tokens) {
      if (t.F1[LobanovPoint] > 0) s.F1.Add(t.F1[LobanovPoint]);
      if (t.F2[LobanovPoint] > 0) s.F2.Add(t.F2[LobanovPoint]);
    }
  }
  if (!Missing.empty()) return {};

  // Then the rows, streamed: only one recording's part is held at a time.
  CAtomicFile table, problems;
  if (const int e = table.Open(Table); e != 0) return Table + ": cannot write: " + SystemError(e);
  if (const int e = problems.Open(Problems); e != 0)
    return Problems + ": cannot write: " + SystemError(e);
  table.Write(header);
  problems.Write("recording,speaker,problem\n");
  std::string line;
  for (const TIndexEntry& e : entries) {
    std::string speaker;
    tokens.clear();
    problemRows.clear();
    const std::string why =
        ReadPart(PartPath(PartsDir, e.Key), e.Key, speaker, tokens, problemRows);
    if (!why.empty()) return PartPath(PartsDir, e.Key) + ": " + why + " while merging";
    const TSpeakerStats& s = speakers[speaker];
    auto z = [&](double v, const TRunning& r) {
      line += ',';
      if (v > 0 && r.Sd() > 0) AppendFixed(line, (v - r.Mean) / r.Sd(), 3);
    };
    for (const TPartToken& t : tokens) {
      line = t.Row;
      for (std::size_t p = 0; p < MeasurePercents.size(); ++p) {
        z(t.F1[p], s.F1);
        z(t.F2[p], s.F2);
      }
      line += '\n';
      table.Write(line);
    }
    for (const std::string& p : problemRows) problems.Write(p + '\n');
  }
  if (const int e = table.Commit(); e != 0) return Table + ": cannot write: " + SystemError(e);
  if (const int e = problems.Commit(); e != 0)
    return Problems + ": cannot write: " + SystemError(e);
  return {};
}

}  // namespace quenvis
