// Numbered frame sequences: the naming rule (prefix, decimal frame number,
// suffix), the path of any frame, and the count of consecutive frames that
// exist from the opened one on.
#pragma once

#include <cstdint>

#include "platform/platform.h"

constexpr int32_t kWideStoreUnits = 4096;  // units per store, terminator included
constexpr int32_t kMaxRunDigits = 9;
constexpr int32_t kMaxSequenceFrames = 10000;

// The split of one name. Indices count UTF-16 units from 0; -1 is unset.
struct SequenceName {
  const WideChar* name;  // not copied, not read after the split
  int32_t digitFirst;    // first counted digit of the run
  int32_t digitLast;     // last digit of the run
  int32_t dot;           // last full stop of the final path component
  int32_t digitCount;    // counted digits, 1 to 9; 0 without a run
  int32_t number;        // value of the counted digits
};

// The process-wide naming state, replaced by every accepted open, and the
// path store that probes and sequence frame reads build into.
extern SequenceName CurrentSequenceName;
extern WideChar PrefixBuffer[kWideStoreUnits];
extern WideChar SuffixBuffer[kWideStoreUnits];
extern WideChar PathBuffer[kWideStoreUnits];

// A sequence's own copy of the naming, kept by its handle so that it goes on
// reading its own files after other files have been opened.
struct FrameNaming {
  WideChar prefix[kWideStoreUnits];
  WideChar suffix[kWideStoreUnits];
  int32_t number;
  int32_t digitCount;
};

// Splits `name` into `record`. Returns -1 (record untouched) when either is
// missing, otherwise 1, with digitCount 0 when the name has no run.
int32_t SplitSequenceName(const WideChar* name, SequenceName* record);

// Splits `name` into CurrentSequenceName and rewrites PrefixBuffer, and
// SuffixBuffer when the name has a run.
void AcceptSequenceName(const WideChar* name);

// The same in two steps, so that an open can count its frames and still
// fail without changing the process-wide naming: what accepting `name`
// would make current (without a run the suffix stays the current one), and
// then making it current.
void PrepareFrameNaming(const WideChar* name, SequenceName* split, FrameNaming* naming);
void CommitFrameNaming(const SequenceName& split, const FrameNaming& naming);

// Builds the path of `frameNumber` into PathBuffer: the prefix, the number
// zero-filled to at least digitCount digits, the suffix; cut at 4095 units.
void FormatFramePath(int32_t frameNumber);
void FormatFramePath(const FrameNaming& naming, int32_t frameNumber);

// Counts the consecutive existing names from CurrentSequenceName's number
// on: 0 without a run, at most 10000.
int32_t CountSequenceFrames();
int32_t CountSequenceFrames(const FrameNaming& naming);

// Copies the process-wide naming into a handle's own.
void CaptureFrameNaming(FrameNaming* naming);

// Copies at most capacity - 1 units of `source` and terminates.
void CopyWideBounded(WideChar* destination, int32_t capacity, const WideChar* source);
