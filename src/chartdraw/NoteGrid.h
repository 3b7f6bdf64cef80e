#pragma once
// Equal-tempered notes (A4 = 440 Hz) as grid lines on a logarithmic pitch
// scale: every semitone where they lie far enough apart, else the natural
// notes, else only the Cs; labelled as finely as the labels fit. Plain C++.
#include <string>
#include <vector>

namespace quenvis {

struct TNoteLine {
  int Midi = 0;
  double Hz = 0;
  std::string Label;  // "C4"; empty for a line without a label
  bool Octave = false;  // a C: drawn stronger
};

// The note's name and octave, "C4", "F#2"; MIDI numbers 0..127.
std::string NoteLabel(int Midi);
double NoteHz(int Midi) noexcept;
// The nearest note to a frequency (MIDI number), 0..127.
int NearestNote(double Hz) noexcept;

// Lines from LowHz to HighHz on a scale of PixelsPerOctave.
std::vector<TNoteLine> NoteGrid(double LowHz, double HighHz, double PixelsPerOctave);

}  // namespace quenvis
