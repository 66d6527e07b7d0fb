#pragma once

#include <QByteArray>
#include <QList>
#include <functional>

// Reads one environment variable; empty when it is not set.
using EnvironmentLookup = std::function<QByteArray(const char* name)>;

// Whether the relay runs without a window: asked for with --no-window, told
// to draw offscreen (QT_QPA_PLATFORM offscreen or minimal), or with no
// display to show a window on (neither DISPLAY nor WAYLAND_DISPLAY for the
// X11 and Wayland platforms). Decided before any application object exists,
// so that a headless run never loads a platform plugin.
bool RunsHeadless(int argc, const char* const* argv, const EnvironmentLookup& environment);
