#pragma once

#include <functional>

// The fuzz targets that drive sockets and widgets share one Qt application
// for the whole run, on the offscreen platform.
void StartFuzzApplication(int* argc, char*** argv);

// Runs the event loop until condition holds; false once timeoutMs has passed.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs);
