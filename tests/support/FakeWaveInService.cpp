#include "support/FakeWaveInService.h"

#include <algorithm>
#include <cstring>

namespace quenvis {

TFakeWaveInService::TFakeWaveInService(std::vector<TDevice> Devices, QObject* Parent)
    : TWaveInStreamService(Parent), Devices(std::move(Devices)) {
  Log.reserve(256);
}

MMRESULT TFakeWaveInService::Record(ECall C, HWAVEIN Handle, const TMyWaveHdr* Header,
                                    MMRESULT Result) {
  ++Calls[size_t(C)];
  if (Logging) Log.push_back(TCall{C, Handle, Header, Result});
  return Result;
}

void TFakeWaveInService::ClearLog() {
  Log.clear();
  Calls.fill(0);
}

uint32_t TFakeWaveInService::Fill(uint32_t Bytes) {
  if (!IsStarted()) return 0;
  uint32_t written = 0;
  while (written < Bytes) {
    uint32_t room = 0;
    char* p = FillPointer(room);
    if (p == nullptr) {
      Dropped(Bytes - written);
      break;
    }
    const uint32_t n = std::min(room, Bytes - written);
    for (uint32_t i = 0; i < n; ++i) p[i] = char(FCounter++);
    written += n;
    Filled(n);
  }
  return written;
}

uint32_t TFakeWaveInService::FillBlocks(int Blocks) { return Fill(uint32_t(Blocks) * FLastLength); }

uint32_t TFakeWaveInService::waveInGetNumDevs() {
  Record(ECall::GetNumDevs, 0, nullptr, 0);
  return uint32_t(Devices.size());
}

MMRESULT TFakeWaveInService::waveInGetDevCaps(uint32_t DeviceId, TWaveInCaps& Caps) {
  if (MMRESULT r = FailWith[size_t(ECall::GetDevCaps)])
    return Record(ECall::GetDevCaps, 0, nullptr, r);
  if (DeviceId >= Devices.size())
    return Record(ECall::GetDevCaps, 0, nullptr, MMSYSERR_BADDEVICEID);
  const TDevice& d = Devices[DeviceId];
  if (d.CapsResult != MMSYSERR_NOERROR) return Record(ECall::GetDevCaps, 0, nullptr, d.CapsResult);
  Caps = TWaveInCaps{};
  std::memcpy(Caps.szPname, d.Name.constData(),
              std::min<size_t>(size_t(d.Name.size()), sizeof Caps.szPname));
  Caps.dwFormats = d.Formats;
  Caps.vDriverVersion = d.Version;
  Caps.wChannels = 2;
  Caps.Monitor = d.Monitor;
  return Record(ECall::GetDevCaps, 0, nullptr, MMSYSERR_NOERROR);
}

MMRESULT TFakeWaveInService::DoOpen(uint32_t DeviceId, const TWaveFormatEx&) {
  if (DeviceId >= Devices.size()) return MMSYSERR_BADDEVICEID;
  OpenedDevice = DeviceId;
  return MMSYSERR_NOERROR;
}

MMRESULT TFakeWaveInService::waveInOpen(HWAVEIN& Handle, uint32_t DeviceId,
                                        const TWaveFormatEx& Format, QObject* Target) {
  if (MMRESULT injected = FailWith[size_t(ECall::Open)])
    return Record(ECall::Open, 0, nullptr, injected);
  const MMRESULT r = TWaveInStreamService::waveInOpen(Handle, DeviceId, Format, Target);
  return Record(ECall::Open, r == MMSYSERR_NOERROR ? Handle : 0, nullptr, r);
}

MMRESULT TFakeWaveInService::waveInPrepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) {
  FLastLength = Header.dwBufferLength;
  return Call(ECall::Prepare, Handle, &Header,
              [&] { return TWaveInStreamService::waveInPrepareHeader(Handle, Header); });
}

MMRESULT TFakeWaveInService::waveInAddBuffer(HWAVEIN Handle, TMyWaveHdr& Header) {
  return Call(ECall::AddBuffer, Handle, &Header,
              [&] { return TWaveInStreamService::waveInAddBuffer(Handle, Header); });
}

MMRESULT TFakeWaveInService::waveInStart(HWAVEIN Handle) {
  return Call(ECall::Start, Handle, nullptr,
              [&] { return TWaveInStreamService::waveInStart(Handle); });
}

MMRESULT TFakeWaveInService::waveInStop(HWAVEIN Handle) {
  return Call(ECall::Stop, Handle, nullptr,
              [&] { return TWaveInStreamService::waveInStop(Handle); });
}

MMRESULT TFakeWaveInService::waveInReset(HWAVEIN Handle) {
  return Call(ECall::Reset, Handle, nullptr,
              [&] { return TWaveInStreamService::waveInReset(Handle); });
}

MMRESULT TFakeWaveInService::waveInClose(HWAVEIN Handle) {
  return Call(ECall::Close, Handle, nullptr,
              [&] { return TWaveInStreamService::waveInClose(Handle); });
}

MMRESULT TFakeWaveInService::waveInUnprepareHeader(HWAVEIN Handle, TMyWaveHdr& Header) {
  return Call(ECall::Unprepare, Handle, &Header,
              [&] { return TWaveInStreamService::waveInUnprepareHeader(Handle, Header); });
}

}  // namespace quenvis
