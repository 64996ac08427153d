// Eigen's SSE2 code includes the MMX header, which Emscripten's SSE support leaves out (it has no
// MMX); nothing of it is used.
#pragma once
