#pragma once
// Every floating-point operation stays the IEEE operation as written: a * b + c is a rounded
// product and a rounded sum, never contracted into a fused multiply-add that rounds once. The
// vector versions of the lattice sums give the bits of the scalar walk, and a deck gives the
// same reports on every processor and with every compiler, only so. The build passes
// -ffp-contract=off to every source as well; a source that includes this header first keeps
// the setting however it is compiled, or does not compile.
//
// Include it before anything else: with GCC the setting holds for the functions defined after it
// (and for what is inlined into them).
#if defined(__FAST_MATH__)
#error "built with -ffast-math: its reassociation and fused multiply-adds change the numbers; build without it"
#elif defined(__clang__)
// Clang honours the standard pragma (unless -ffp-contract=fast is given, which disregards it).
#pragma STDC FP_CONTRACT OFF
#elif defined(__GNUC__)
// GCC ignores the standard pragma and contracts by default in C++, but honours the option here.
#pragma GCC optimize("fp-contract=off")
#else
#error "no way known to switch off fused multiply-adds with this compiler: build with GCC or clang"
#endif
