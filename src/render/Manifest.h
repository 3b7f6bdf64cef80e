#pragma once
// The list of a corpus's recordings: a manifest CSV
// (recording,textgrid,speaker[,further columns carried into the table]) or
// a folder searched for recordings with a TextGrid of the same name beside
// them. Entries keep their order; each has a key that names it in the
// shards' part files.
#include <cstdint>
#include <string>
#include <vector>

namespace quenvis {

struct TManifestEntry {
  // As the manifest writes them, and resolved against its folder.
  std::string Recording, TextGrid, Speaker;
  std::string RecordingPath, TextGridPath;
  std::vector<std::string> Carried;
  // Where the entry was found ("manifest.csv:12"), for messages.
  std::string Where;
  // Set when the entry cannot be measured as written (too few columns, a
  // second row for the same recording).
  std::string Problem;
};

struct TManifest {
  std::vector<std::string> CarriedNames;
  std::vector<TManifestEntry> Entries;
};

// Reads a manifest CSV. Returns an empty string, or one line naming the
// file and what makes it unusable as a whole (its header); faults of single
// rows become the entries' Problem.
std::string ReadManifest(const std::string& Path, TManifest& Manifest);

// Lists the recordings under Folder (all depths, in name order) with the
// TextGrid of the same name beside each; the speaker is the name of the
// folder a recording lies in. Returns an empty string, or one line.
std::string ScanCorpusFolder(const std::string& Folder, TManifest& Manifest);

// Stable across runs and machines: FNV-1a (64 bits) of the text.
std::uint64_t StableHash(const std::string& Text) noexcept;

// Whether entry Index (from 0) belongs to shard Shard (from 1) of Count:
// chosen by the hash of its recording as written, so a shard's share does
// not depend on the order of the manifest.
bool InShard(const TManifestEntry& Entry, int Shard, int Count) noexcept;

// The key of entry Index: its position and a hash of what it holds, so that
// the part of an entry from another manifest is not taken for it.
std::string EntryKey(const TManifestEntry& Entry, std::size_t Index);

}  // namespace quenvis
