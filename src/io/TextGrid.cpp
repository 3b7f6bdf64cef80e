#include "io/TextGrid.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <system_error>

namespace quenvis {

namespace {

// The TextGrid of an hour's recording is a few megabytes; anything far
// larger is not one, and is not read: memory stays bounded whatever comes.
constexpr std::size_t MaxTextGridBytes = std::size_t{16} << 20;

void AppendUtf8(std::string& Out, char32_t c) {
  if (c < 0x80) {
    Out += static_cast<char>(c);
  } else if (c < 0x800) {
    Out += static_cast<char>(0xC0 | (c >> 6));
    Out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    Out += static_cast<char>(0xE0 | (c >> 12));
    Out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (c >> 18));
    Out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// UTF-16 to UTF-8; false (with the line of the fault) on an unpaired surrogate.
bool FromUtf16(std::string_view In, bool BigEndian, std::string& Out, int& BadLine) {
  int line = 1;
  auto unit = [&](std::size_t i) -> char32_t {
    const auto a = static_cast<unsigned char>(In[i]), b = static_cast<unsigned char>(In[i + 1]);
    return BigEndian ? (a << 8 | b) : (b << 8 | a);
  };
  Out.reserve(In.size() / 2);
  for (std::size_t i = 0; i + 1 < In.size(); i += 2) {
    char32_t c = unit(i);
    if (c >= 0xD800 && c < 0xDC00) {
      const char32_t low = i + 3 < In.size() ? unit(i + 2) : 0;
      if (low < 0xDC00 || low >= 0xE000) {
        BadLine = line;
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
      i += 2;
    } else if (c >= 0xDC00 && c < 0xE000) {
      BadLine = line;
      return false;
    }
    if (c == '\n') ++line;
    AppendUtf8(Out, c);
  }
  if (In.size() % 2 != 0) {
    BadLine = line;
    return false;
  }
  return true;
}

// Praat's text format read as Praat reads it: a sequence of numbers,
// "strings" ("" inside one is a quote), and <flags>; names, "=", ":", "?"
// and anything in [brackets] are there for people and are skipped, and so
// is the rest of a line after "!".
class CScanner {
 public:
  explicit CScanner(std::string_view Text) : FText(Text) {}
  int Line() const noexcept { return FLine; }
  std::string Error() const { return FError; }

  bool String(std::string& Out, const char* What) {
    if (!Next(What)) return false;
    if (FText[FAt] != '"') return Fail(std::string("expected ") + What + " (a quoted text)");
    Out.clear();
    for (++FAt;; ++FAt) {
      if (FAt >= FText.size()) return Fail(std::string("unterminated text in ") + What);
      const char c = FText[FAt];
      if (c == '"') {
        if (FAt + 1 < FText.size() && FText[FAt + 1] == '"') {
          Out += '"';
          ++FAt;
          continue;
        }
        ++FAt;
        return true;
      }
      if (c == '\n') ++FLine;
      Out += c;
    }
  }

  bool Number(double& Out, const char* What) {
    if (!Next(What)) return false;
    const char* from = FText.data() + FAt;
    const char* end = FText.data() + FText.size();
    if (*from == '+') ++from;
    const auto [ptr, ec] = std::from_chars(from, end, Out);
    if (ec != std::errc() || !std::isfinite(Out))
      return Fail(std::string("expected ") + What + " (a number)");
    FAt = static_cast<std::size_t>(ptr - FText.data());
    // "0.5 " ends a number; "0.5x" is not one.
    if (FAt < FText.size() && !Separator(FText[FAt]))
      return Fail(std::string("expected ") + What + " (a number)");
    return true;
  }

  bool Count(long& Out, const char* What) {
    double v = 0;
    if (!Number(v, What)) return false;
    if (v < 0 || v > 1e9 || v != std::floor(v))
      return Fail(std::string("expected ") + What + " (a count)");
    Out = static_cast<long>(v);
    return true;
  }

  // <exists> or <absent>.
  bool Flag(bool& Out, const char* What) {
    if (!Next(What)) return false;
    for (const auto& [text, value] : {std::pair{"<exists>", true}, std::pair{"<absent>", false}}) {
      if (FText.substr(FAt).starts_with(text)) {
        FAt += std::string_view(text).size();
        Out = value;
        return true;
      }
    }
    return Fail(std::string("expected ") + What + " (<exists> or <absent>)");
  }

  bool Fail(std::string Why) {
    if (FError.empty()) FError = std::to_string(FLine) + ": " + Why;
    return false;
  }

 private:
  static bool Separator(char c) noexcept {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '!';
  }
  static bool Starts(char c) noexcept {
    return c == '"' || c == '<' || c == '-' || c == '+' || c == '.' || (c >= '0' && c <= '9');
  }
  // Moves to the start of the next value; false at the end of the text.
  bool Next(const char* What) {
    while (FAt < FText.size()) {
      const char c = FText[FAt];
      if (c == '\n') {
        ++FLine;
        ++FAt;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++FAt;
      } else if (c == '!') {
        while (FAt < FText.size() && FText[FAt] != '\n') ++FAt;
      } else if (c == '[') {
        while (FAt < FText.size() && FText[FAt] != ']' && FText[FAt] != '\n') ++FAt;
        if (FAt < FText.size() && FText[FAt] == ']') ++FAt;
      } else if (Starts(c)) {
        return true;
      } else {
        // A name ("xmin", "intervals:", "size") or "=": skipped.
        ++FAt;
        while (FAt < FText.size() && !Separator(FText[FAt]) && FText[FAt] != '"' &&
               FText[FAt] != '[' && FText[FAt] != '=')
          ++FAt;
      }
    }
    return Fail(std::string("the file ends where ") + What + " should be");
  }

  std::string_view FText;
  std::size_t FAt = 0;
  int FLine = 1;
  std::string FError;
};

bool ParseTier(CScanner& s, TTier& Tier) {
  std::string kind;
  if (!s.String(kind, "the tier's class")) return false;
  if (kind != "IntervalTier" && kind != "TextTier")
    return s.Fail("unknown tier class \"" + kind + "\"");
  Tier.Points = kind == "TextTier";
  double from = 0, to = 0;
  long n = 0;
  if (!s.String(Tier.Name, "the tier's name") || !s.Number(from, "the tier's start") ||
      !s.Number(to, "the tier's end") || !s.Count(n, "the tier's number of items"))
    return false;
  if (to < from) return s.Fail("tier \"" + Tier.Name + "\" ends before it starts");
  double last = from;
  for (long i = 0; i < n; ++i) {
    TInterval item;
    if (Tier.Points) {
      if (!s.Number(item.Start, "a point's time") || !s.String(item.Text, "a point's mark"))
        return false;
      item.End = item.Start;
    } else {
      if (!s.Number(item.Start, "an interval's start")) return false;
      if (item.Start < last - 1e-9)
        return s.Fail("interval " + std::to_string(i + 1) + " of tier \"" + Tier.Name +
                      "\" starts before the one before it ends");
      if (!s.Number(item.End, "an interval's end")) return false;
      if (item.End < item.Start)
        return s.Fail("interval " + std::to_string(i + 1) + " of tier \"" + Tier.Name +
                      "\" ends before it starts");
      if (!s.String(item.Text, "an interval's text")) return false;
      last = item.End;
    }
    Tier.Items.push_back(std::move(item));
  }
  return true;
}

}  // namespace

const TTier* TTextGrid::IntervalTier(std::string_view Name) const noexcept {
  for (const TTier& t : Tiers)
    if (!t.Points && t.Name == Name) return &t;
  return nullptr;
}

std::string ParseTextGrid(std::string_view Bytes, TTextGrid& Grid) {
  Grid = {};
  std::string converted;
  std::string_view text = Bytes;
  const auto starts = [&](std::string_view Bom) { return Bytes.substr(0, Bom.size()) == Bom; };
  if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
    int bad = 0;
    if (!FromUtf16(Bytes.substr(2), starts("\xFE\xFF"), converted, bad))
      return std::to_string(bad) + ": not valid UTF-16";
    text = converted;
  } else if (starts("\xEF\xBB\xBF")) {
    text = Bytes.substr(3);
  }
  CScanner s(text);
  std::string fileType, objectClass;
  if (!s.String(fileType, "the file type") || !s.String(objectClass, "the object class"))
    return s.Error();
  if (fileType != "ooTextFile") {
    s.Fail("not a Praat text file (file type \"" + fileType + "\")");
    return s.Error();
  }
  if (objectClass != "TextGrid") {
    s.Fail("not a TextGrid (object class \"" + objectClass + "\")");
    return s.Error();
  }
  bool tiers = false;
  long count = 0;
  if (!s.Number(Grid.Start, "the start time") || !s.Number(Grid.End, "the end time") ||
      !s.Flag(tiers, "the tiers flag"))
    return s.Error();
  if (Grid.End < Grid.Start) {
    s.Fail("ends before it starts");
    return s.Error();
  }
  if (tiers && !s.Count(count, "the number of tiers")) return s.Error();
  for (long i = 0; i < count; ++i) {
    TTier tier;
    if (!ParseTier(s, tier)) return s.Error();
    Grid.Tiers.push_back(std::move(tier));
  }
  return {};
}

std::string ReadTextGrid(const std::string& Path, TTextGrid& Grid) {
  // Not blocking on the open: a pipe or a device named as a TextGrid would
  // hang the window (or the corpus run) that reads it.
  const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return Path + ": " + std::error_code(errno, std::generic_category()).message();
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return Path + ": not a regular file";
  }
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(::fdopen(fd, "rb"), &std::fclose);
  if (!f) {
    ::close(fd);
    return Path + ": cannot read it";
  }
  std::string bytes;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f.get())) > 0;) {
    bytes.append(buffer, n);
    if (bytes.size() > MaxTextGridBytes) return Path + ": too large for a TextGrid (over 16 MB)";
  }
  if (std::ferror(f.get())) return Path + ": cannot read it";
  if (std::string e = ParseTextGrid(bytes, Grid); !e.empty()) return Path + ":" + e;
  return {};
}

namespace {

// The shortest text that reads back as the same double.
void AppendNumber(std::string& Out, double Value) {
  char buffer[32];
  const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, Value == 0 ? 0.0 : Value);
  Out.append(buffer, ec == std::errc() ? end : buffer);
}

void AppendString(std::string& Out, std::string_view Text) {
  Out += '"';
  for (const char c : Text) {
    if (c == '"') Out += '"';
    Out += c;
  }
  Out += '"';
}

void Line(std::string& Out, int Indent, std::string_view Name, double Value) {
  Out.append(static_cast<std::size_t>(Indent), ' ');
  Out.append(Name);
  Out += " = ";
  AppendNumber(Out, Value);
  Out += " \n";
}

void Line(std::string& Out, int Indent, std::string_view Name, std::string_view Text) {
  Out.append(static_cast<std::size_t>(Indent), ' ');
  Out.append(Name);
  Out += " = ";
  AppendString(Out, Text);
  Out += " \n";
}

// Intervals as Praat takes them: from the grid's start to its end, one
// after the other.
std::vector<TInterval> Contiguous(const std::vector<TInterval>& Items, double From, double To) {
  std::vector<TInterval> out;
  double at = From;
  for (const TInterval& item : Items) {
    const double start = std::max(item.Start, at);
    const double end = std::min(item.End, To);
    if (end <= start) continue;
    if (start > at) out.push_back({at, start, {}});
    out.push_back({start, end, item.Text});
    at = end;
  }
  if (at < To || out.empty()) out.push_back({at, std::max(at, To), {}});
  return out;
}

std::string ErrnoText() { return std::error_code(errno, std::generic_category()).message(); }

}  // namespace

std::string FormatTextGrid(const TTextGrid& Grid) {
  std::string out;
  out += "File type = \"ooTextFile\"\nObject class = \"TextGrid\"\n\n";
  Line(out, 0, "xmin", Grid.Start);
  Line(out, 0, "xmax", Grid.End);
  if (Grid.Tiers.empty()) {
    out += "tiers? <absent> \n";
    return out;
  }
  out += "tiers? <exists> \n";
  Line(out, 0, "size", static_cast<double>(Grid.Tiers.size()));
  out += "item []: \n";
  for (std::size_t i = 0; i < Grid.Tiers.size(); ++i) {
    const TTier& tier = Grid.Tiers[i];
    out += "    item [" + std::to_string(i + 1) + "]:\n";
    Line(out, 8, "class", tier.Points ? "TextTier" : "IntervalTier");
    Line(out, 8, "name", tier.Name);
    Line(out, 8, "xmin", Grid.Start);
    Line(out, 8, "xmax", Grid.End);
    if (tier.Points) {
      Line(out, 8, "points: size", static_cast<double>(tier.Items.size()));
      for (std::size_t k = 0; k < tier.Items.size(); ++k) {
        out += "        points [" + std::to_string(k + 1) + "]:\n";
        Line(out, 12, "number", tier.Items[k].Start);
        Line(out, 12, "mark", tier.Items[k].Text);
      }
    } else {
      const std::vector<TInterval> items = Contiguous(tier.Items, Grid.Start, Grid.End);
      Line(out, 8, "intervals: size", static_cast<double>(items.size()));
      for (std::size_t k = 0; k < items.size(); ++k) {
        out += "        intervals [" + std::to_string(k + 1) + "]:\n";
        Line(out, 12, "xmin", items[k].Start);
        Line(out, 12, "xmax", items[k].End);
        Line(out, 12, "text", items[k].Text);
      }
    }
  }
  return out;
}

std::string WriteTextGrid(const std::string& Path, const TTextGrid& Grid) {
  const std::string text = FormatTextGrid(Grid);
  // A name of its own (O_EXCL), made with the mode a new file gets from the
  // umask, as the take beside it did.
  std::string temporary;
  int fd = -1;
  std::random_device random;
  for (int attempt = 0; attempt < 20 && fd < 0; ++attempt) {
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%08x.tmp", static_cast<unsigned>(random()));
    temporary = Path + suffix;
    fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) return Path + ": " + ErrnoText();
  std::string error;
  for (std::size_t done = 0; done < text.size() && error.empty();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      error = ErrnoText();
    else
      done += static_cast<std::size_t>(n);
  }
  // The rename must not land before the text: a crash would leave an empty grid.
  if (error.empty() && ::fsync(fd) != 0) error = ErrnoText();
  if (::close(fd) != 0 && error.empty()) error = ErrnoText();
  if (error.empty() && ::rename(temporary.c_str(), Path.c_str()) != 0) error = ErrnoText();
  if (!error.empty()) {
    ::unlink(temporary.c_str());
    return Path + ": " + error;
  }
  return {};
}

}  // namespace quenvis
