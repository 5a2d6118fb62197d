// The table that maps log group bits to their three-letter codes, and the text form of a
// group mask.
//
//   const Vexa::LogGroups cache = Vexa::RegisterGroup("CCH");  // a new bit, or 0 if full
//   char text[64];
//   Vexa::FormatGroups(text, sizeof text, Vexa::kGroupDebug | cache);  // "DBG;CCH"
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "diagnostics/log_types.h"

namespace Vexa {

// Sixty-four three-letter codes, one per bit of LogGroups. Entries 0 to 7 are fixed ("DBG",
// "GEN", "XTR", "PRF", "MEM", "DSK", "NET", "TST"), "LOC" takes entry 8 as the table is
// built, and the remaining entries read "???" until a code is registered there.
//
// Threading: any thread may register and read. Registrations are serialised, so two threads
// registering the same new code get the same bit; readers never see a half-written code.
class LogGroupTable {
 public:
  static constexpr size_t kEntryCount = 64;
  static constexpr size_t kFixedEntryCount = 8;
  static constexpr size_t kCodeLength = 3;

  LogGroupTable();
  LogGroupTable(const LogGroupTable&) = delete;
  LogGroupTable& operator=(const LogGroupTable&) = delete;

  // The mask of the entry whose code equals the first three characters of `code` (so
  // "LOCAL" finds "LOC"); otherwise the code takes the next free entry. Answers 0 when the
  // code is null or empty, or when the table is full: nothing is written then.
  LogGroups Register(const char* code);

  // The code of entry `index` (at most three characters), or "" past the table.
  std::array<char, kCodeLength + 1> Code(size_t index) const;

  // The index of the last used entry (7 + registered codes, 8 after construction).
  size_t LastUsedIndex() const { return lastUsed_.load(std::memory_order_acquire); }

  // Writes the codes of the set bits from bit 0 upward, separated by ";"; the empty mask
  // writes "". Output stops when fewer than 2 bytes remain, and is always NUL-terminated
  // when `size` is not 0. Returns the length written, terminator excluded.
  size_t Format(char* buffer, size_t size, LogGroups groups) const;

 private:
  // A code packed into one word, so that readers load it atomically without a lock.
  static uint32_t Pack(const char* code);
  size_t FindUnlocked(uint32_t packed) const;
  bool AppendUnlocked(uint32_t packed);

  std::array<std::atomic<uint32_t>, kEntryCount> codes_;
  std::atomic<size_t> lastUsed_{0};
  std::mutex registerLock_;
};

// The process-wide table behind every group mask of the log. Built on first use; "LOC" is
// part of its construction so that no separate start-up object has to survive linking.
LogGroupTable& ProcessLogGroups();

// Registers a group code in the process-wide table; see LogGroupTable::Register.
LogGroups RegisterGroup(const char* code);

// Formats a mask with the process-wide table; see LogGroupTable::Format.
size_t FormatGroups(char* buffer, size_t size, LogGroups groups);

}  // namespace Vexa
