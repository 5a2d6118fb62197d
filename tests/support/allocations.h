// Counts the blocks of the global operator new that are still live, so that a test can check
// that code gives back everything it took. The counting operators are in allocations.cpp: add
// that file to the sources of the one test binary that needs them (replacing the global
// operators is done once per program).
//
//   const long before = Vexa::Testing::LiveAllocations();
//   { Vexa::BindingProperty value = ...; }
//   EXPECT_EQ(Vexa::Testing::LiveAllocations(), before);
#pragma once

namespace Vexa::Testing {

// Blocks from the global operator new (all forms) not yet deleted.
[[nodiscard]] long LiveAllocations() noexcept;

}  // namespace Vexa::Testing
