#include "render/AvqiCommand.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <new>
#include <system_error>

#include "analysis/Avqi.h"
#include "io/RecordingReader.h"
#include "render/RenderConsole.h"

namespace quenvis {

namespace {

// The index wants seconds of each; whole-recording transforms of an hour
// would want gigabytes.
constexpr double MaxMinutes = 10;

// The whole recording as mono at 44 100 Hz, or an error line.
std::string ReadMono(const std::string& Path, const std::atomic<bool>* Stop,
                     std::vector<double>& Out) {
  CRecordingReader reader;
  reader.SetStop(Stop);
  if (std::string e = reader.Open(Path); !e.empty()) return e;
  TSampleBlock block;
  const auto most = static_cast<std::size_t>(MaxMinutes * 60 * CAvqi::Rate);
  for (std::int32_t frames = reader.Next(block); frames > 0; frames = reader.Next(block)) {
    if (Stop && Stop->load()) return InputName(Path) + ": interrupted";
    if (Out.size() > most)
      return InputName(Path) + ": longer than 10 minutes; give the vowel and the speech alone";
    for (std::int32_t i = 0; i < frames; ++i) {
      const auto* f = block.data() + 4 * i;
      const auto l = static_cast<std::int16_t>(f[0] | (f[1] << 8));
      const auto r = static_cast<std::int16_t>(f[2] | (f[3] << 8));
      Out.push_back((l + r) / 65536.0);
    }
  }
  return reader.Error();
}

std::string Fixed(double Value, int Digits) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", Digits, Value);
  return text;
}

}  // namespace

int RunAvqiCommand(const std::vector<std::string>& Args, int ErrFd,
                   const std::atomic<bool>* Stop, bool StdinReadable) {
  CConsole console(ErrFd, false);
  if (Args.size() != 2 || Args[0].empty() || Args[1].empty()) {
    console.Line("--avqi takes two recordings: a sustained vowel, then connected speech "
                 "(quenvis-render --avqi VOWEL SPEECH)");
    return 2;
  }
  if (Args[0] == "-" && Args[1] == "-") {
    console.Line("--avqi: standard input can give only one of the two recordings");
    return 2;
  }
  if (!StdinReadable && (Args[0] == "-" || Args[1] == "-")) {
    console.Line("standard input: is closed or not open for reading; give the recording as a "
                 "file or through a pipe");
    return 2;
  }
  std::vector<double> vowel, speech;
  for (int i = 0; i < 2; ++i)
    if (std::string e = ReadMono(Args[i], Stop, i == 0 ? vowel : speech); !e.empty()) {
      console.Line(e);
      return 2;
    }
  TAvqi avqi;
  EAvqiFailure failure = EAvqiFailure::None;
  try {
    failure = CAvqi::Measure(std::move(vowel), std::move(speech), avqi);
  } catch (const std::bad_alloc&) {
    console.Line("--avqi: not enough memory for these recordings");
    return 2;
  }
  switch (failure) {
    case EAvqiFailure::None: break;
    case EAvqiFailure::VowelTooShort:
      console.Line(InputName(Args[0]) + ": the sustained vowel is shorter than 1 s (3 s are used)");
      return 2;
    case EAvqiFailure::SpeechTooShort:
      console.Line(InputName(Args[1]) +
                   ": the connected speech has less than 1 s of voice (about 3 s are wanted)");
      return 2;
    case EAvqiFailure::NoVoice:
    case EAvqiFailure::NoPeriods:
      console.Line(InputName(Args[0]) + ", " + InputName(Args[1]) +
                   ": no voice found to measure (too few periods for shimmer)");
      return 2;
  }
  const std::string text = "AVQI        " + Fixed(avqi.Avqi, 2) + "\n" +
                           "CPPS        " + Fixed(avqi.Cpps, 2) + " dB\n" +
                           "HNR         " + Fixed(avqi.Hnr, 2) + " dB\n" +
                           "shimmer     " + Fixed(avqi.ShimmerPct, 2) + " %\n" +
                           "shimmer_db  " + Fixed(avqi.ShimmerDb, 3) + " dB\n" +
                           "slope       " + Fixed(avqi.Slope, 2) + " dB\n" +
                           "tilt        " + Fixed(avqi.Tilt, 2) + " dB\n" +
                           "vowel       " + Fixed(avqi.VowelSeconds, 2) + " s\n" +
                           "speech      " + Fixed(avqi.SpeechSeconds, 2) + " s voiced\n";
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0) {
    console.Line(std::string("cannot write to standard output: ") +
                 std::error_code(errno ? errno : EIO, std::generic_category()).message());
    return 2;
  }
  return 0;
}

}  // namespace quenvis
