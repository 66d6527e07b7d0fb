#pragma once

#include <functional>

// The fuzz targets that drive sockets share one Qt application for the whole run.
void StartFuzzApplication(int* argc, char*** argv);

// Runs the event loop until condition holds; false once timeoutMs has passed.
bool PumpUntil(const std::function<bool()>& condition, int timeoutMs);
