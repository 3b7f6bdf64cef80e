#include "render/RenderOptions.h"

#include <charconv>
#include <optional>

#include "chartdraw/ChartScale.h"

namespace quenvis {

namespace {

struct TIntOption {
  const char* Name;
  std::int32_t TPanelValues::*Field;
  const TSpinLimits* Limits;
  const char* Unit;
  const char* Help;
};

constexpr TIntOption IntOptions[] = {
    {"--power-offset", &TPanelValues::PowerOffset, &PowerOffsetLimits, "",
     "power at the bottom row, in log10 units"},
    {"--power-range", &TPanelValues::PowerRange, &PowerRangeLimits, "",
     "log10 units the image spans (values <= 0 give 1/(1 - N) units)"},
    {"--fade", &TPanelValues::Remanance, &RemananceLimits, "",
     "trail length: factor 0, 0.1 ... 0.9, 0.95, 0.99 applied after each block"},
    {"--freq-range", &TPanelValues::FreqPlage, &FreqPlageLimits, "",
     "shown range 0..5000, 10000, 20000 or 40000 Hz"},
    {"--threshold", &TPanelValues::Seuil, &SeuilLimits, "",
     "noise threshold, per cent of the image height"},
    {"--zone1-lo", &TPanelValues::Zone1Lo, &Zone1LoLimits, " Hz", "lower limit of zone 1"},
    {"--zone1-hi", &TPanelValues::Zone1Hi, &Zone1HiLimits, " Hz", "upper limit of zone 1"},
    {"--zone2-lo", &TPanelValues::Zone2Lo, &Zone2LoLimits, " Hz", "lower limit of zone 2"},
    {"--zone2-hi", &TPanelValues::Zone2Hi, &Zone2HiLimits, " Hz", "upper limit of zone 2"},
};

std::optional<std::int32_t> ParseInt(const std::string& Text) {
  std::int32_t v = 0;
  const char* end = Text.data() + Text.size();
  const auto [ptr, ec] = std::from_chars(Text.data(), end, v);
  if (ec != std::errc() || ptr != end || Text.empty()) return std::nullopt;
  return v;
}

// "WxH", both sides within the chart's limits.
bool ParseChartSize(const std::string& Text, std::int32_t& Width, std::int32_t& Height) {
  const std::size_t x = Text.find('x');
  if (x == std::string::npos) return false;
  const std::optional<std::int32_t> w = ParseInt(Text.substr(0, x)),
                                    h = ParseInt(Text.substr(x + 1));
  auto fits = [](const std::optional<std::int32_t>& v) {
    return v && *v >= MinChartSide && *v <= MaxChartSide;
  };
  if (!fits(w) || !fits(h)) return false;
  Width = *w;
  Height = *h;
  return true;
}

}  // namespace

std::string RenderUsage() {
  std::string u =
      "Usage: quenvis-render [options] INPUT... OUTDIR\n"
      "Runs the live view's analysis and drawing over recordings (any format and rate\n"
      "libsndfile reads; other rates than 44100 Hz are resampled, of more than two\n"
      "channels the first two are used; - reads standard input, which like any\n"
      "stream is copied to a temporary file first) in blocks of 2048 frames, and\n"
      "writes to OUTDIR (created if needed; with several inputs, to OUTDIR/NAME for\n"
      "each, NAME being its file name without the extension, and rendered in\n"
      "parallel), replacing this program's earlier outputs there:\n"
      "  spectrum.png     the spectrum image as shown for the last block (1024 x 256)\n"
      "  plot.png         the zone 1 / zone 2 plot as shown for the last block (256 x 256)\n"
      "  spectrogram.png  the whole recording, one column per block, with the zone\n"
      "                   peaks (zone 1 red, zone 2 white) and the F1 (cyan) and F2\n"
      "                   (magenta) of voiced blocks drawn over it\n"
      "                   (spectrogram-001.png, ... above 4000 blocks)\n"
      "  peaks.csv        per block: tracked peak bins, Hz and levels\n"
      "  formants.csv     per block: estimated F0, F1-F3 and their bandwidths in Hz\n"
      "                   (empty where unknown), whether the block is voiced, and how\n"
      "                   far F1 and F2 can be trusted (confidence, 0-1; 0 where they\n"
      "                   are missing or clipping hides them)\n"
      "  voice.csv        on formants.csv's rows: CPPS, HNR, H1-H2 (raw and corrected),\n"
      "                   H1-A1, H1-A3, jitter, shimmer, vibrato, singing power ratio\n"
      "                   and alpha ratio (empty where unknown)\n"
      "  summary.csv      each voice measure's median and quartiles over the voiced rows\n"
      "  chart.png        the vowel chart (F2 across, F1 down) with the reference\n"
      "                   vowels of --voice and a dot for every voiced block, pale\n"
      "                   yellow for the earliest blocks fading to dark red for the latest\n"
      "  power.csv        with --power: the 4096 log10 power values of every block\n"
      "  power.npy        with --power-format npy: the same as float32, shape (blocks, 4096)\n"
      "Options (the side panel's values and limits; default in brackets):\n";
  for (const TIntOption& o : IntOptions) {
    const std::string left = std::string(o.Name) + " N";
    u += "  " + left + std::string(20 - left.size(), ' ') + o.Help + "; " +
         std::to_string(o.Limits->Lower) + ".." + std::to_string(o.Limits->Upper) + o.Unit + " [" +
         std::to_string(o.Limits->Initial) + "]\n";
  }
  u += "  --window NAME       analysis window: ";
  for (int i = 0; i < WindowCount; ++i)
    u += std::string(i ? ", " : "") + WindowNames[static_cast<std::size_t>(i)];
  u += " [" + std::string(WindowNames[0]) + "]\n";
  u += std::string(
           "  --voice NAME        man, woman or child: the formant analysis preset and the\n"
           "                      chart's reference vowels [") +
       VoiceName(DefaultVoice) + "]\n";
  u += "  --formant-step MS  a formant analysis every MS ms (" + std::to_string(MinFormantStepMs) +
       ".." + std::to_string(MaxFormantStepMs) +
       "); formants.csv's and voice.csv's\n"
       "                      time_s is then the centre of each analysis frame\n"
       "                      [one per block]\n";
  u += "  --chart-size WxH    chart.png's size in pixels, each side " +
       std::to_string(MinChartSide) + ".." + std::to_string(MaxChartSide) + " [" +
       std::to_string(TRenderOptions{}.ChartWidth) + "x" +
       std::to_string(TRenderOptions{}.ChartHeight) + "]\n";
  u += "  --power             also write power.csv\n";
  u += "  --power-format F    csv or npy; npy writes power.npy (implies --power) [csv]\n";
  u += "  --quiet             no progress line (it is shown only on a terminal)\n";
  u += "  -h, --help          show this text\n";
  u += "  --version           show the version\n";
  u += "Each failure is reported on one line and its OUTDIR gets no files; the exit\n"
       "status is then 2, after the other inputs have been rendered. One run at a\n"
       "time writes into an OUTDIR; a second is refused.\n"
       "quenvis-render corpus ... measures the vowels of an aligned corpus into one\n"
       "table (see quenvis-render corpus --help; an input named corpus is ./corpus).\n"
       "quenvis-render --avqi VOWEL SPEECH prints the Acoustic Voice Quality Index\n"
       "(version 03.01) of a sustained vowel and connected speech, with its measures.\n";
  return u;
}

std::string InputOutputName(const std::string& Input) {
  if (Input == "-") return "stdin";
  const std::size_t slash = Input.find_last_of('/');
  std::string name = slash == std::string::npos ? Input : Input.substr(slash + 1);
  const std::size_t dot = name.find_last_of('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  // Nothing usable left ("", "dir/", "..") still gives a folder of its own.
  return name.empty() || name == "." || name == ".." ? "unnamed" : name;
}

std::string ParseRenderOptions(const std::vector<std::string>& Args, TRenderOptions& Options) {
  TPanelValues values;
  int window = 0;
  std::vector<std::string> positional;
  bool optionsDone = false;

  for (std::size_t i = 0; i < Args.size(); ++i) {
    const std::string& arg = Args[i];
    if (!optionsDone && arg == "-h") {
      Options.Help = true;
      continue;
    }
    if (optionsDone || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
      if (!optionsDone && arg.size() > 1 && arg[0] == '-')
        return arg + ": unknown option (see --help)";
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsDone = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    bool* flag = name == "--help"      ? &Options.Help
                 : name == "--version" ? &Options.Version
                 : name == "--quiet"   ? &Options.Quiet
                 : name == "--power"   ? &Options.WritePower
                                       : nullptr;
    if (flag) {
      if (eq != std::string::npos) return name + ": takes no value";
      *flag = true;
      continue;
    }
    const TIntOption* option = nullptr;
    for (const TIntOption& o : IntOptions)
      if (name == o.Name) option = &o;
    if (!option && name != "--window" && name != "--power-format" && name != "--voice" &&
        name != "--chart-size" && name != "--formant-step")
      return name + ": unknown option (see --help)";
    std::string value;
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
    } else if (i + 1 < Args.size()) {
      value = Args[++i];
    } else {
      return name + ": missing value";
    }
    if (name == "--power-format") {
      if (value != "csv" && value != "npy")
        return "--power-format: unknown format '" + value + "' (csv or npy)";
      Options.PowerFormat = value == "csv" ? TPowerFormat::Csv : TPowerFormat::Npy;
      Options.WritePower = true;
      continue;
    }
    if (name == "--voice") {
      const std::optional<EVoice> voice = ParseVoice(value);
      if (!voice) return "--voice: unknown voice '" + value + "' (man, woman or child)";
      Options.Voice = *voice;
      Options.FormantVoice = *voice;
      continue;
    }
    if (name == "--formant-step") {
      const std::optional<std::int32_t> ms = ParseInt(value);
      if (!ms) return "--formant-step: '" + value + "' is not a whole number";
      if (*ms < MinFormantStepMs || *ms > MaxFormantStepMs)
        return "--formant-step: " + value + " ms is outside " + std::to_string(MinFormantStepMs) +
               ".." + std::to_string(MaxFormantStepMs) + " ms";
      Options.FormantStepMs = *ms;
      continue;
    }
    if (name == "--chart-size") {
      if (!ParseChartSize(value, Options.ChartWidth, Options.ChartHeight))
        return "--chart-size: '" + value + "' is not WIDTHxHEIGHT with each side " +
               std::to_string(MinChartSide) + ".." + std::to_string(MaxChartSide);
      continue;
    }
    if (!option) {
      window = -1;
      for (int k = 0; k < WindowCount; ++k)
        if (value == WindowNames[static_cast<std::size_t>(k)]) window = k;
      if (window < 0) return "--window: unknown window '" + value + "' (see --help)";
      continue;
    }
    const TIntOption& o = *option;
    const std::optional<std::int32_t> v = ParseInt(value);
    if (!v) return name + ": '" + value + "' is not a whole number";
    if (!o.Limits->Contains(*v))
      return name + ": " + value + o.Unit + " is outside " + std::to_string(o.Limits->Lower) +
             ".." + std::to_string(o.Limits->Upper) + o.Unit;
    values.*o.Field = *v;
  }
  if (Options.Help || Options.Version) return {};
  if (positional.size() < 2) return "missing INPUT or OUTDIR (see --help)";
  Options.OutDir = positional.back();
  if (Options.OutDir.empty()) return "'' (empty OUTDIR): not a folder name";
  positional.pop_back();
  Options.Inputs = positional;
  Options.Input = positional[0];
  if (positional.size() > 1) {
    std::vector<std::string> names;
    for (const std::string& in : positional) {
      const std::string name = InputOutputName(in);
      for (const std::string& seen : names)
        if (seen == name) return in + ": another input also renders into OUTDIR/" + name;
      names.push_back(name);
    }
  }

  // Every value is within its limits here, so the rules give a record.
  Options.Settings = *SettingsFromPanel(values);
  Options.Window = &WindowTable(window);
  return {};
}

}  // namespace quenvis
