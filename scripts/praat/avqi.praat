# The Acoustic Voice Quality Index 03.01 by its published steps, in Praat
# (the published script's analyses, with the same arguments):
# AVQI, CPPS, HNR, shimmer (%), shimmer (dB), LTAS slope, LTAS tilt.
form AVQI
  sentence vowel
  sentence speech
endform
sv0 = Read from file: vowel$
sv = Filter (stop Hann band): 0, 34, 0.1
cs0 = Read from file: speech$
cs = Filter (stop Hann band): 0, 34, 0.1
tg = To TextGrid (silences): 50, 0.003, -25, 0.1, 0.1, "silence", "sounding"
selectObject: cs, tg
Extract intervals where: 1, "no", "is equal to", "sounding"
loud = Concatenate
dur = Get total duration
global = Get power in air
voiced = 0
left = 0
while left + 0.03 < dur - 0.03
  selectObject: loud
  part = Extract part: left, left + 0.03, "rectangular", 1, "no"
  p = Get power in air
  keep = 0
  if p > 0.3 * global
    n = Get number of samples
    crossings = 0
    for i from 2 to n
      a = Get value at sample number: 1, i - 1
      b = Get value at sample number: 1, i
      if (a < 0) <> (b < 0)
        crossings = crossings + 1
      endif
    endfor
    if crossings / 0.03 < 3000
      keep = 1
    endif
  endif
  if keep
    if voiced = 0
      voiced = part
    else
      selectObject: voiced, part
      joined = Concatenate
      removeObject: voiced, part
      voiced = joined
    endif
  else
    removeObject: part
  endif
  left = left + 0.03
endwhile
selectObject: sv
d = Get total duration
if d > 3
  svp = Extract part: d - 3, d, "rectangular", 1, "no"
else
  svp = Copy: "svp"
endif
selectObject: voiced, svp
whole = Concatenate
pc = To PowerCepstrogram: 60, 0.002, 5000, 50
# The trend line over every quefrency from 1 ms ("0": to the end), as published.
cpps = Get CPPS: "no", 0.01, 0.001, 60, 330, 0.05, "parabolic", 0.001, 0, "straight", "robust"
selectObject: whole
ltas = To Ltas: 1
slope = Get slope: 0, 1000, 1000, 10000, "energy"
trend = Compute trend line: 1, 10000
tilt = Get slope: 0, 1000, 1000, 10000, "energy"
selectObject: whole
pp = To PointProcess (periodic, cc): 50, 400
selectObject: whole, pp
shim = Get shimmer (local): 0, 0, 0.0001, 0.02, 1.3, 1.6
shdb = Get shimmer (local_dB): 0, 0, 0.0001, 0.02, 1.3, 1.6
# The HNR is the voice report's, as published.
selectObject: whole
pitch = To Pitch (cc): 0, 75, 15, "no", 0.03, 0.45, 0.01, 0.35, 0.14, 600
selectObject: whole, pitch
ppcc = To PointProcess (cc)
selectObject: whole, pitch, ppcc
report$ = Voice report: 0, 0, 75, 600, 1.3, 1.6, 0.03, 0.45
hnr = extractNumber (report$, "Mean harmonics-to-noise ratio: ")
avqi = (4.152 - 0.177 * cpps - 0.006 * hnr - 0.037 * shim * 100 + 0.941 * shdb + 0.01 * slope + 0.093 * tilt) * 2.8902
writeInfoLine: fixed$(avqi, 3), ",", fixed$(cpps, 3), ",", fixed$(hnr, 3), ",", fixed$(shim * 100, 4), ",", fixed$(shdb, 4), ",", fixed$(slope, 3), ",", fixed$(tilt, 3)
