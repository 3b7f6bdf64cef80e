# Praat's own figures for one recording, with the standard arguments:
# CPPS, mean HNR, jitter (local, %) and shimmer (local, %), comma-separated.
form Voice
  sentence file
endform
s = Read from file: file$
pc = To PowerCepstrogram: 60, 0.002, 5000, 50
cpps = Get CPPS: "no", 0.01, 0.001, 60, 330, 0.05, "parabolic", 0.001, 0.05, "straight", "robust"
selectObject: s
h = To Harmonicity (cc): 0.01, 75, 0.1, 1.0
hnr = Get mean: 0, 0
selectObject: s
pp = To PointProcess (periodic, cc): 75, 600
jit = Get jitter (local): 0, 0, 0.0001, 0.02, 1.3
selectObject: s, pp
shim = Get shimmer (local): 0, 0, 0.0001, 0.02, 1.3, 1.6
writeInfoLine: fixed$(cpps, 3), ",", fixed$(hnr, 3), ",", fixed$(jit * 100, 4), ",", fixed$(shim * 100, 4)
