#pragma once

namespace qvr {

// Prepares the process for Qt WebEngine; call it before the application object exists
// and before any thread starts. The web view needs OpenGL contexts shared across the
// application. Chromium will not start its sandbox for root (CI and many containers
// run as root), so only then is the sandbox switched off. Nothing is said on the
// console in a normal run: without a GPU Chromium would log command-buffer errors, so
// the GPU is left alone, and Qt WebEngine's account of its set-up is not logged.
// Chromium flags and logging rules that the user has set win.
void PrepareWebEngine();

} // namespace qvr
