#pragma once
// Varnel's whole behaviour behind one call, so tests can run it in-process.
#include <cstdint>
#include <cstdio>

namespace lumbrix::varnel {

// Load flags for the check: everything the reader may skip without changing the
// mesh count (blend shapes, animation, embedded videos). Bit 6 means nothing to
// our reader and is passed anyway: 4676 is the value this check is known by.
inline constexpr uint64_t kVarnelLoadFlags = 4676;

// Checks the FBX file named by argv[1] (further arguments are ignored) and writes
// exactly one JSON line to `out`, or the usage line to `err` when no file is
// named. Returns the process exit status: 0 only for exactly one mesh.
int runVarnel(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace lumbrix::varnel
