#include "diagnostics/log_groups.h"

#include <cstring>

namespace Vexa {

namespace {

constexpr const char* kFixedCodes[LogGroupTable::kFixedEntryCount] = {"DBG", "GEN", "XTR", "PRF",
                                                                      "MEM", "DSK", "NET", "TST"};
constexpr const char* kUnregisteredCode = "???";
constexpr const char* kLocalGroupCode = "LOC";

// Appends at most `length` bytes of `text`, keeping one byte for the terminator.
size_t AppendBounded(char* buffer, size_t size, size_t position, const char* text, size_t length) {
  const size_t room = size - position - 1;
  const size_t copied = length < room ? length : room;
  std::memcpy(buffer + position, text, copied);
  buffer[position + copied] = '\0';
  return position + copied;
}

}  // namespace

LogGroupTable::LogGroupTable() {
  const uint32_t unregistered = Pack(kUnregisteredCode);
  for (auto& code : codes_) {
    code.store(unregistered, std::memory_order_relaxed);
  }
  for (size_t index = 0; index < kFixedEntryCount; ++index) {
    codes_[index].store(Pack(kFixedCodes[index]), std::memory_order_relaxed);
  }
  lastUsed_.store(kFixedEntryCount - 1, std::memory_order_release);
  AppendUnlocked(Pack(kLocalGroupCode));
}

uint32_t LogGroupTable::Pack(const char* code) {
  // Stops at the terminator, so a code shorter than three characters is never read past.
  uint32_t packed = 0;
  for (size_t index = 0; index < kCodeLength && code[index] != '\0'; ++index) {
    packed |= uint32_t{static_cast<unsigned char>(code[index])} << (8 * index);
  }
  return packed;
}

size_t LogGroupTable::FindUnlocked(uint32_t packed) const {
  const size_t lastUsed = lastUsed_.load(std::memory_order_acquire);
  for (size_t index = 0; index <= lastUsed; ++index) {
    if (codes_[index].load(std::memory_order_relaxed) == packed) {
      return index;
    }
  }
  return kEntryCount;
}

bool LogGroupTable::AppendUnlocked(uint32_t packed) {
  const size_t next = lastUsed_.load(std::memory_order_relaxed) + 1;
  if (next >= kEntryCount) {
    return false;
  }
  codes_[next].store(packed, std::memory_order_relaxed);
  lastUsed_.store(next, std::memory_order_release);
  return true;
}

LogGroups LogGroupTable::Register(const char* code) {
  if (code == nullptr || code[0] == '\0') {
    return 0;
  }
  const uint32_t packed = Pack(code);
  // Search and append under one lock: otherwise two threads registering the same new code
  // would take two entries, and the index could be pushed past the table.
  std::lock_guard guard(registerLock_);
  size_t index = FindUnlocked(packed);
  if (index == kEntryCount) {
    if (!AppendUnlocked(packed)) {
      return 0;
    }
    index = lastUsed_.load(std::memory_order_relaxed);
  }
  return LogGroups{1} << index;
}

std::array<char, LogGroupTable::kCodeLength + 1> LogGroupTable::Code(size_t index) const {
  std::array<char, kCodeLength + 1> text{};
  if (index < kEntryCount) {
    const uint32_t packed = codes_[index].load(std::memory_order_relaxed);
    for (size_t position = 0; position < kCodeLength; ++position) {
      text[position] = static_cast<char>((packed >> (8 * position)) & 0xFFu);
    }
  }
  return text;
}

size_t LogGroupTable::Format(char* buffer, size_t size, LogGroups groups) const {
  if (buffer == nullptr || size == 0) {
    return 0;
  }
  buffer[0] = '\0';
  size_t position = 0;
  bool first = true;
  for (size_t index = 0; index < kEntryCount; ++index) {
    if ((groups & (LogGroups{1} << index)) == 0) {
      continue;
    }
    if (!first) {
      if (size - position < 2) {
        break;
      }
      position = AppendBounded(buffer, size, position, ";", 1);
    }
    if (size - position < 2) {
      break;
    }
    const auto code = Code(index);
    position = AppendBounded(buffer, size, position, code.data(), std::strlen(code.data()));
    first = false;
  }
  return position;
}

LogGroupTable& ProcessLogGroups() {
  static LogGroupTable table;
  return table;
}

LogGroups RegisterGroup(const char* code) {
  return ProcessLogGroups().Register(code);
}

size_t FormatGroups(char* buffer, size_t size, LogGroups groups) {
  return ProcessLogGroups().Format(buffer, size, groups);
}

}  // namespace Vexa
