// app.h - start-up, the frame loop and shutdown.
#pragma once

// The whole program: returns the exit code (0 after a normal close, 1 after a start-up
// failure).
int runLauncher();
