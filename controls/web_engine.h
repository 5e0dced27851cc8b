#pragma once

namespace qvr {

// Prepares the process for Qt WebEngine without loading it; call it before the
// application object exists and before any thread starts. Chromium will not start
// its sandbox for root (CI and many containers run as root), so only then is the
// sandbox switched off. Nothing is said on the console in a normal run: without a
// GPU Chromium would log command-buffer errors, so the GPU is left alone, and Qt
// WebEngine's account of its set-up is not logged. Chromium flags and logging rules
// that the user has set win.
void prepareWebEngine();

// Call it before Qt WebEngine is loaded into a process whose application object
// exists. The engine expects an OpenGL context shared across the application, which
// Qt would make with the application object for every start, loading the OpenGL
// drivers even where no page is shown; it is made here instead.
void prepareWebEngineLoad();

} // namespace qvr
