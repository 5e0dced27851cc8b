#pragma once

namespace qvr {

// Prepares the process for Qt WebEngine; call it before the application object exists
// and before any thread starts. The web view needs OpenGL contexts shared across the
// application. Chromium will not start its sandbox for root (CI and many containers
// run as root), so only then is the sandbox switched off; without a GPU it fills the
// console with command-buffer errors, so it leaves the GPU alone unless the user
// passes Chromium flags of their own. Variables the user has set are kept as they are.
void PrepareWebEngine();

} // namespace qvr
