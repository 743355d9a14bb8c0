// The size of the system's path buffers (MAX_PATH), which also bounds the
// relative paths the setup keeps. Named here once for every layer; the
// Windows side of the platform seam checks it against MAX_PATH.
#pragma once

// Characters of a system path buffer, its terminating zero included.
constexpr int kPathBuffer = 260;
// One more, where a full path of kPathBuffer characters must fit with its
// zero (the Windows directory, an edit box's text).
constexpr int kPathBufferWithZero = kPathBuffer + 1;
