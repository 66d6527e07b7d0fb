#pragma once

// True on a platform without a screen (offscreen, minimal): no one sees the
// window or answers a message box.
bool IsHeadless();
