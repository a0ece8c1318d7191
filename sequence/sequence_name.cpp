#include "sequence/sequence_name.h"

SequenceName CurrentSequenceName = {nullptr, -1, -1, -1, 0, 0};
WideChar PrefixBuffer[kWideStoreUnits];
WideChar SuffixBuffer[kWideStoreUnits];
WideChar PathBuffer[kWideStoreUnits];

namespace {

bool IsAsciiDigit(WideChar unit) { return unit >= u'0' && unit <= u'9'; }

}  // namespace

int32_t SplitSequenceName(const WideChar* name, SequenceName* record) {
  if (name == nullptr || record == nullptr) return -1;
  *record = SequenceName{name, -1, -1, -1, 0, 0};

  int32_t length = 0;
  while (length < kWideStoreUnits && name[length] != 0) ++length;
  if (length == kWideStoreUnits) return 1;  // too long to hold: no run

  // Walk back through the final path component: first its last full stop,
  // then the nearest digit before it, then the rest of that digit run.
  for (int32_t i = length - 1; i >= 0; --i) {
    const WideChar unit = name[i];
    if (unit == u'/' || unit == u'\\') break;
    if (record->dot < 0) {
      if (unit == u'.') record->dot = i;
    } else if (record->digitLast < 0) {
      if (IsAsciiDigit(unit)) record->digitLast = record->digitFirst = i;
    } else if (IsAsciiDigit(unit)) {
      record->digitFirst = i;
    } else {
      break;
    }
  }
  if (record->digitFirst < 0) return 1;

  record->digitCount = record->digitLast - record->digitFirst + 1;
  if (record->digitCount > kMaxRunDigits) {
    // Only the last nine digits make the number; the rest join the prefix.
    record->digitFirst += record->digitCount - kMaxRunDigits;
    record->digitCount = kMaxRunDigits;
  }
  for (int32_t i = record->digitFirst; i <= record->digitLast; ++i) {
    record->number = record->number * 10 + (name[i] - u'0');
  }
  return 1;
}

void CopyWideBounded(WideChar* destination, int32_t capacity, const WideChar* source) {
  if (capacity < 1) return;
  int32_t i = 0;
  for (; i < capacity - 1 && source[i] != 0; ++i) destination[i] = source[i];
  destination[i] = 0;
}

void PrepareFrameNaming(const WideChar* name, SequenceName* split, FrameNaming* naming) {
  SplitSequenceName(name, split);
  CopyWideBounded(naming->prefix, kWideStoreUnits, name);
  if (split->digitFirst >= 0) naming->prefix[split->digitFirst] = 0;
  CopyWideBounded(naming->suffix, kWideStoreUnits, split->digitLast >= 0 ? name + split->digitLast + 1 : SuffixBuffer);
  naming->number = split->number;
  naming->digitCount = split->digitCount;
}

void CommitFrameNaming(const SequenceName& split, const FrameNaming& naming) {
  CurrentSequenceName = split;
  CopyWideBounded(PrefixBuffer, kWideStoreUnits, naming.prefix);
  CopyWideBounded(SuffixBuffer, kWideStoreUnits, naming.suffix);
}

void AcceptSequenceName(const WideChar* name) {
  static FrameNaming naming;  // too large for the stack; opens run one at a time
  SequenceName split;
  PrepareFrameNaming(name, &split, &naming);
  CommitFrameNaming(split, naming);
}

namespace {

void FormatPath(const WideChar* prefix, int32_t digitCount, int32_t frameNumber, const WideChar* suffix) {
  // Two stages: first the pattern with the run's width, e.g. %s%04d%s.
  WideChar pattern[256] = {0};
  platform::FormatWide(pattern, 256, MONDREL_WIDE("%%s%%0%dd%%s"), digitCount);
  platform::FormatWide(PathBuffer, kWideStoreUnits, pattern, prefix, frameNumber, suffix);
}

}  // namespace

void FormatFramePath(int32_t frameNumber) {
  FormatPath(PrefixBuffer, CurrentSequenceName.digitCount, frameNumber, SuffixBuffer);
}

void FormatFramePath(const FrameNaming& naming, int32_t frameNumber) {
  FormatPath(naming.prefix, naming.digitCount, frameNumber, naming.suffix);
}

namespace {

int32_t CountFrames(const WideChar* prefix, int32_t digitCount, int32_t number, const WideChar* suffix) {
  if (digitCount < 1) return 0;
  int32_t count = 0;
  while (true) {
    FormatPath(prefix, digitCount, number + count, suffix);
    if (!platform::PathExists(PathBuffer)) return count;
    ++count;
    if (count == kMaxSequenceFrames) return count;
  }
}

}  // namespace

int32_t CountSequenceFrames() {
  return CountFrames(PrefixBuffer, CurrentSequenceName.digitCount, CurrentSequenceName.number, SuffixBuffer);
}

int32_t CountSequenceFrames(const FrameNaming& naming) {
  return CountFrames(naming.prefix, naming.digitCount, naming.number, naming.suffix);
}

void CaptureFrameNaming(FrameNaming* naming) {
  CopyWideBounded(naming->prefix, kWideStoreUnits, PrefixBuffer);
  CopyWideBounded(naming->suffix, kWideStoreUnits, SuffixBuffer);
  naming->number = CurrentSequenceName.number;
  naming->digitCount = CurrentSequenceName.digitCount;
}
