// Build-time generator of the window and rotation tables. It is the only place
// that evaluates a cosine; the program itself reads the values it writes.
//
// Usage: quenvis_table_generator OUTPUT.inc
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>
#include <string>

#include "analysis/DecimalRounding.h"

namespace {

using quenvis::SevenDecimalScale;

constexpr int Size = 4096;
constexpr double Pi = std::numbers::pi;

bool Failed = false;

// The formula value rounded to 7 decimals, as an integer count of 10^-7.
std::int64_t ToUnits(double Value, const char* What, int Index) {
  const double scaled = Value * static_cast<double>(SevenDecimalScale);
  const double units = std::nearbyint(scaled);
  // A value this close to a tie could round either way with another libm.
  if (std::fabs(std::fabs(scaled - units) - 0.5) < 1e-6) {
    std::fprintf(stderr, "%s[%d] lies too close to a rounding tie\n", What, Index);
    Failed = true;
  }
  return static_cast<std::int64_t>(units);
}

std::string Literal(std::int64_t Units) {
  char text[64];
  std::snprintf(text, sizeof text, "%a", quenvis::SevenDecimalToDouble(Units));
  return text;
}

double Cos(double Turns, int Divisor) { return std::cos(2 * Pi * Turns / Divisor); }

void WriteWindow(std::FILE* Out, const char* Name, double (*Formula)(int)) {
  std::fprintf(Out, "const TWindowTab %s = {\n", Name);
  for (int n = 0; n < Size; ++n)
    std::fprintf(Out, "    %s,%s", Literal(ToUnits(Formula(n), Name, n)).c_str(),
                 n % 4 == 3 ? "\n" : "");
  std::fprintf(Out, "};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out, "// Generated at build time by quenvis_table_generator. Do not edit.\n\n");

  WriteWindow(out, "TabHamming", [](int n) { return 0.53836 - 0.46164 * Cos(n, 4095); });
  WriteWindow(out, "TabHanning", [](int n) { return 0.5 - 0.5 * Cos(n, 4096); });
  WriteWindow(out, "TabBlackman",
              [](int n) { return 0.42 - 0.5 * Cos(n, 4096) + 0.08 * Cos(2.0 * n, 4096); });
  WriteWindow(out, "TabBlackmanHarris", [](int n) {
    return 0.422323 - 0.49755 * Cos(n, 4096) + 0.07922 * Cos(2.0 * n, 4096);
  });
  WriteWindow(out, "TabBlackmanNuttall", [](int n) {
    return 0.3635819 - 0.4891775 * Cos(n, 4096) + 0.1365995 * Cos(2.0 * n, 4096) -
           0.0106411 * Cos(3.0 * n, 4096);
  });

  std::fprintf(out, "const std::array<TTwiddle, FFTStages> TabTwiddle = {{\n");
  for (int stage = 1; stage <= 12; ++stage) {
    const double angle = Pi / std::ldexp(1.0, stage - 1);
    std::fprintf(out, "    {%s, %s},\n",
                 Literal(ToUnits(std::cos(angle), "TabTwiddle.Cos", stage)).c_str(),
                 Literal(ToUnits(std::sin(angle), "TabTwiddle.Sin", stage)).c_str());
  }
  std::fprintf(out, "}};\n");

  if (std::fclose(out) != 0 || Failed) {
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
