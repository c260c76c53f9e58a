// app.h - start-up, the frame loop and shutdown.
//
// Index
//   ---- entry ----          runLauncher
//   ---- start-up steps ---- enterProgramFolder, showStartupError
//
// runLauncher brings the process up in a fixed order (working folder, configuration,
// update worker, news fetch, account and remember-me variants of the username field,
// fonts, glyph atlases and images prepared on background threads, ENet, GLFW, hidden
// borderless 800 x 610 window, callbacks, cursors, images uploaded, show), runs the
// frame loop until the window should close (freed start-up memory is returned after the
// first frame), then shuts down (update worker stopped and joined, ENet, GLFW). The whole
// state is one Launcher (launcher.h) on runLauncher's stack; the window's callbacks reach
// it through the window's user pointer. Main thread only.
//
// Environment hooks for screenshots, demos and benchmarks (none is needed in normal use):
//   MORLAKEN_SCREENSHOT=<path.png>      save the framebuffer of one drawn frame as a PNG
//                                       (rows flipped so the top of the window is the
//                                       top of the image), just before that frame swaps
//   MORLAKEN_SCREENSHOT_AFTER=<n>       which frame: "<n>" = the n-th drawn frame (default
//                                       3), "<n>s" (e.g. "1.5s") = the first drawn frame
//                                       at least that many seconds after start-up, "mesaj" =
//                                       the first drawn frame that shows the message dialog,
//                                       "kapanis" = the first frame of the closing screen
//   MORLAKEN_EXIT_AFTER_SCREENSHOT=1    close the window (normal shutdown, exit 0) once the
//                                       screenshot is written
//   MORLAKEN_REPORT_FIRST_FRAME=1       print "first-frame-ms <t> at <s>" to standard error:
//                                       t = milliseconds from static initialisation to the
//                                       first swapped frame, s = the steady clock (platform::now(),
//                                       seconds) when that swap returned, so a parent that
//                                       noted the clock when it started the process can
//                                       count the loading of the libraries too
//   MORLAKEN_EXIT_AFTER_FRAMES=<n>      close the window after n drawn frames
//   MORLAKEN_PID_FILE=<path>            append this process's id and a line feed to the file
//                                       at start-up (a restarted launcher inherits it, so a
//                                       test sees the new copy start)
//   MORLAKEN_MESSAGE_LOG=<path>         append "TITLE: TEXT" and a line feed to the file for
//                                       every message the message dialog shows

#pragma once

// ---- entry ----

// The whole program: returns the exit code (0 after a normal close, 1 after a start-up
// failure).
int runLauncher();

// ---- start-up steps ----

// Makes the folder of the running executable the working folder. Failure is ignored.
void enterProgramFolder();

// The text and a line feed to standard error, then a modal box "Morlaken Launcher".
void showStartupError(const char* text);
