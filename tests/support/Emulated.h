// Whether the tests run under an emulator of another architecture (the test folder's CMakeLists
// defines VARNEL_EMULATED in a cross build run through one). There a pseudo-terminal's break is
// not translated, and the tests take its failure for an answer.
#pragma once

namespace testing_support {

#ifdef VARNEL_EMULATED
inline constexpr bool kEmulated = true;
#else
inline constexpr bool kEmulated = false;
#endif

} // namespace testing_support
